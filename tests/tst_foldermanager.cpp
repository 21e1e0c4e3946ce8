#include "RecordingLog.h"
#include "common/FolderManager.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Photo folder retention on real temporary folders. Files that cannot be
// deleted are made with bind mounts in a mount namespace of the test's own.
class TestFolderManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_photos;
    RecordingLog* m_log = nullptr;

    void makeFile(const QByteArray& name, qint64 mtime, const QByteArray& folder = QByteArray())
    {
        const int fd
            = ::open((folder.isEmpty() ? m_photos : folder) + '/' + name, O_CREAT | O_WRONLY, 0644);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        QVERIFY(fd >= 0 && ::futimens(fd, times) == 0);
        ::close(fd);
    }
    bool trim(int limit, const QByteArray& folder = QByteArray())
    {
        return FolderManager((folder.isEmpty() ? m_photos : folder).constData(), limit)
            .RemoveExceedingFiles();
    }
    QStringList removed() const
    {
        return m_log->messages().replaceInStrings("remove exceeding file: ", QString());
    }
    QStringList left() const
    {
        return QDir(QFile::decodeName(m_photos))
            .entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

private slots:
    void init()
    {
        m_photos = QFile::encodeName(m_dir.path()) + "/photo";
        QDir(QFile::decodeName(m_photos)).removeRecursively();
        QVERIFY(QDir().mkpath(QFile::decodeName(m_photos)));
        m_log = new RecordingLog;
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_log;
        ::umount2(m_photos.constData(), MNT_DETACH);
    }

    // At the limit nothing goes; above it the oldest go, oldest first, one
    // level-4 line each (names run against age, so name order cannot pass
    // for time order); a limit of 0 empties the folder.
    void trimsOldest_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("limit");
        QTest::newRow("at limit") << 100 << 100;
        QTest::newRow("three over") << 103 << 100;
        QTest::newRow("limit zero") << 5 << 0;
    }
    void trimsOldest()
    {
        QFETCH(int, files);
        QFETCH(int, limit);
        QStringList expected;
        for (int i = 0; i < files; ++i) {
            makeFile("img_" + QByteArray::number(999 - i), 1700000000 + i);
            if (i < files - limit)
                expected << QStringLiteral("img_%1").arg(999 - i);
        }
        QVERIFY(trim(limit));
        QCOMPARE(removed(), expected);
        QCOMPARE(left().size(), qMin(files, limit));
        for (const auto& line : m_log->lines)
            QCOMPARE(line.level, 4u);
    }

    // Among equal times the order is QDir's own: time, then name, reversed.
    void keepsQDirOrderForEqualTimes()
    {
        const QList<QByteArray> names{
            "b", "a", "C", "c", "image_1.jpg", "image_2.jpg", "z 1", "%d"};
        for (int i = 0; i < names.size(); ++i)
            makeFile(names.at(i), 1700000000 + i % 3);
        const QStringList qdirOrder
            = QDir(QFile::decodeName(m_photos))
                  .entryList(QDir::Files | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
        QVERIFY(trim(0));
        QCOMPARE(removed(), qdirOrder);
    }

    // Links (and their targets), sub-folders and hidden files are neither
    // counted nor touched; any other regular file counts. Odd names are
    // removed by their bytes and logged as one line each, cut at 511.
    void onlyVisibleRegularFilesCountAndGo()
    {
        const QByteArray outside = QFile::encodeName(m_dir.path());
        makeFile("precious", 1600000000, outside);
        QVERIFY(::symlink(outside + "/precious", m_photos + "/link") == 0);
        QVERIFY(QDir(QFile::decodeName(m_photos)).mkdir("sub"));
        makeFile(".hidden", 1600000000);
        const QList<QByteArray> odd{
            "%s%n.jpg", "new\nline", "bad\xff\xfeutf8", QByteArray(255, 'x')};
        for (int i = 0; i < odd.size(); ++i)
            makeFile(odd.at(i), 1600000001 + i);
        makeFile("keep.jpg", 1700000000);
        QVERIFY(trim(1));
        QCOMPARE(left(), (QStringList{".hidden", "keep.jpg", "link", "sub"}));
        QVERIFY(QFile::exists(m_dir.path() + "/precious"));
        QCOMPARE(removed().mid(0, 2), (QStringList{"%s%n.jpg", "new\\nline"}));
        QVERIFY(m_log->lines.last().text.size() <= 511);
    }

    // A folder that is missing, a plain file or a link to another folder is
    // refused, and nothing is deleted.
    void refusesWhatIsNotAFolder()
    {
        const QByteArray elsewhere = m_photos + "-elsewhere";
        QVERIFY(QDir().mkpath(QFile::decodeName(elsewhere)));
        makeFile("a", 1700000000, elsewhere);
        QVERIFY(::symlink(elsewhere.constData(), (m_photos + "-link").constData()) == 0);
        QVERIFY(trim(0, m_photos + "/missing") == false);
        QVERIFY(trim(0, elsewhere + "/a") == false);
        QVERIFY(trim(0, m_photos + "-link") == false);
        QVERIFY(QFile::exists(QFile::decodeName(elsewhere + "/a")));
        QVERIFY(m_log->lines.isEmpty());
    }

    // A file that cannot be removed (a mount point) is skipped and the next
    // newer one goes; when none can go the answer is false, with no line.
    void skipsFilesThatCannotBeRemoved()
    {
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP("needs root for a private mount namespace");
        for (int i = 0; i < 3; ++i)
            makeFile("f" + QByteArray::number(i), 1700000000 + i);
        const QByteArray busy = m_photos + "/f0";
        QVERIFY(::mount(busy, busy, nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(trim(2));
        QCOMPARE(removed(), QStringList{"f1"});
        ::umount2(busy, MNT_DETACH);
        m_log->lines.clear();
        QVERIFY(::mount(m_photos, m_photos, nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(
            ::mount(nullptr, m_photos, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
        QVERIFY(!trim(0));
        QVERIFY(m_log->lines.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFolderManager)
#include "tst_foldermanager.moc"

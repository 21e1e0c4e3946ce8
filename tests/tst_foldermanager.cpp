#include "RecordingLog.h"
#include "common/FolderManager.h"
#include "platform/Configuration.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Photo folder retention on real temporary folders, with the limits of a
// settings file of the test's own. Files that cannot be deleted and small
// file systems are made in a mount namespace of the test's own.
class TestFolderManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_photos;
    RecordingLog* m_log = nullptr;

    void makeFile(
        const QByteArray& name, qint64 mtime, const QByteArray& folder = QByteArray(), int kib = 0)
    {
        const int fd
            = ::open((folder.isEmpty() ? m_photos : folder) + '/' + name, O_CREAT | O_WRONLY, 0644);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        const QByteArray data(kib * 1024, 'x'); // written, so that it takes space
        QVERIFY(fd >= 0 && ::write(fd, data.constData(), data.size()) == data.size());
        QVERIFY(::futimens(fd, times) == 0);
        ::close(fd);
    }
    bool trim(int limit, const QByteArray& folder = QByteArray())
    {
        return FolderManager((folder.isEmpty() ? m_photos : folder).constData(), limit)
            .RemoveExceedingFiles();
    }
    // Replaced as editors and tools do, by renaming a new file over it.
    void writeSettings(const QByteArray& keys)
    {
        QSaveFile file(m_dir.path() + "/settings.ini");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[PHOTOMANAGER]\n" + keys) > 0);
        QVERIFY(file.commit());
    }
    QStringList removed() const
    {
        return m_log->messages()
            .filter(QRegularExpression("^remove exceeding file: "))
            .replaceInStrings("remove exceeding file: ", QString());
    }
    QStringList left() const
    {
        return QDir(QFile::decodeName(m_photos))
            .entryList(
                QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    bool privateMounts()
    {
        return ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }

private slots:
    void initTestCase()
    {
        Configuration::setFilePath(m_dir.path() + "/settings.ini");
    }
    void init()
    {
        m_photos = QFile::encodeName(m_dir.path()) + "/photo";
        QDir(QFile::decodeName(m_photos)).removeRecursively();
        QFile::remove(m_dir.path() + "/settings.ini");
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

    // Without settings: at the limit nothing goes; above it the oldest go,
    // oldest first, one level-4 line each (names run against age, so name
    // order cannot pass for time order); a limit of 0 empties the folder.
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

}

    // Among equal times the order is QDir's own: time, then name, reversed.
    void keepsQDirOrderForEqualTimes()
{
    const QList<QByteArray> names{"b", "a", "C", "c", "image_1.jpg", "image_2.jpg", "z 1", "%d"};
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
// removed by their bytes and logged as one line each.
void onlyVisibleRegularFilesCountAndGo()
{
    const QByteArray outside = QFile::encodeName(m_dir.path());
    makeFile("precious", 1600000000, outside);
    QVERIFY(::symlink(outside + "/precious", m_photos + "/link") == 0);
    QVERIFY(QDir(QFile::decodeName(m_photos)).mkdir("sub"));
    makeFile(".hidden", 1600000000);
    const QList<QByteArray> odd{"%s%n.jpg", "new\nline", "bad\xff\xfeutf8", QByteArray(255, 'x')};
    for (int i = 0; i < odd.size(); ++i)
        makeFile(odd.at(i), 1600000001 + i);
    makeFile("keep.jpg", 1700000000);
    QVERIFY(trim(1));
    QCOMPARE(left(), (QStringList{".hidden", "keep.jpg", "link", "sub"}));
    QVERIFY(QFile::exists(m_dir.path() + "/precious"));
    QCOMPARE(removed().mid(0, 2), (QStringList{"%s%n.jpg", "new\\nline"}));
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
// newer one goes; when none can go the answer is false, with no line of
// its own for the count and one for the size.
void skipsFilesThatCannotBeRemoved()
{
    if (!privateMounts())
        QSKIP("needs root for a private mount namespace");
    for (int i = 0; i < 3; ++i)
        makeFile("f" + QByteArray::number(i), 1700000000 + i, QByteArray(), 1024);
    const QByteArray busy = m_photos + "/f0";
    QVERIFY(::mount(busy, busy, nullptr, MS_BIND, nullptr) == 0);
    QVERIFY(trim(2));
    QCOMPARE(removed(), QStringList{"f1"});
    ::umount2(busy, MNT_DETACH);
    m_log->lines.clear();
    QVERIFY(::mount(m_photos, m_photos, nullptr, MS_BIND, nullptr) == 0);
    QVERIFY(::mount(nullptr, m_photos, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
    QVERIFY(!trim(0));
    QVERIFY(m_log->lines.isEmpty());
    writeSettings("max_megabytes=1");
    QVERIFY(!trim(2));
    QCOMPARE(m_log->messages(),
        QStringList{"photo folder over max_megabytes: 2097152 bytes in its files"});
}

// The settings' limits, alone and together, on files of 512 KiB each,
// oldest first: the oldest go until every limit holds (free space on a
// 4 MiB tmpfs); free space out of reach costs no file, and is refused.
void settingsLimits_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("tmpfs");
    QTest::addColumn<int>("gone");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("max_photos") << QByteArray("max_photos=2") << 4 << false << 2 << "";
    QTest::newRow("max_megabytes") << QByteArray("max_megabytes=1") << 3 << false << 1 << "";
    QTest::newRow("min_free") << QByteArray("min_free_megabytes=2") << 6 << true << 2 << "";
    QTest::newRow("min_free out of reach")
        << QByteArray("min_free_megabytes=5") << 2 << true << 0 << "under min_free";
    QTest::newRow("all, free strictest")
        << QByteArray("max_photos=5\nmax_megabytes=2\nmin_free_megabytes=3") << 6 << true << 4
        << "";
    QTest::newRow("all, count strictest")
        << QByteArray("max_photos=1\nmax_megabytes=1\nmin_free_megabytes=1") << 4 << true << 3
        << "";
    QTest::newRow("count, free out of reach")
        << QByteArray("max_photos=1\nmin_free_megabytes=9") << 3 << true << 2 << "under min_free";
}
void settingsLimits()
{
    QFETCH(QByteArray, keys);
    QFETCH(int, files);
    QFETCH(bool, tmpfs);
    QFETCH(int, gone);
    QFETCH(QString, refusal);
    if (tmpfs && !privateMounts())
        QSKIP("needs root for a tmpfs in a private mount namespace");
    QVERIFY(!tmpfs || ::mount("tmpfs", m_photos, "tmpfs", 0, "size=4m") == 0);
    writeSettings(keys);
    for (int i = 0; i < files; ++i)
        makeFile("f" + QByteArray::number(i), 1700000000 + i, QByteArray(), 512);
    QStringList oldest;
    for (int i = 0; i < gone; ++i)
        oldest << QStringLiteral("f%1").arg(i);
    QCOMPARE(trim(100), refusal.isEmpty());
    QCOMPARE(removed(), oldest);
    QCOMPARE(m_log->lines.size() - gone, refusal.isEmpty() ? 0 : 1);
    QVERIFY(m_log->messages().join('\n').contains(refusal));
}

// A bad value is reported once per change of the file, naming the key,
// and the key's default holds; a good value then holds from the next trim.
void badValues_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::newRow("not a number") << QByteArray("max_photos=many");
    QTest::newRow("no photos") << QByteArray("max_photos=0");
    QTest::newRow("negative") << QByteArray("max_megabytes=-1");
    QTest::newRow("fraction") << QByteArray("min_free_megabytes=0.5");
    QTest::newRow("beyond int") << QByteArray("max_megabytes=4294967296");
}
void badValues()
{
    QFETCH(QByteArray, keys);
    writeSettings(keys);
    for (int i = 0; i < 3; ++i)
        makeFile("f" + QByteArray::number(i), 1700000000 + i, QByteArray(), 1);
    const FolderManager manager(m_photos.constData(), 2);
    QVERIFY(manager.RemoveExceedingFiles() && manager.RemoveExceedingFiles());
    writeSettings("max_photos=1");
    QVERIFY(manager.RemoveExceedingFiles());
    QCOMPARE(removed(), (QStringList{"f0", "f1"}));
    QCOMPARE(m_log->lines.size(), 3);
    QCOMPARE(m_log->matching("PHOTOMANAGER/" + keys.split('=').first() + " in ").first().level, 2u);
}
}
;

QTEST_GUILESS_MAIN(TestFolderManager)
#include "tst_foldermanager.moc"

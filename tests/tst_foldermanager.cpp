#include "RecordingLog.h"
#include "common/FolderManager.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Photo folder retention on real temporary folders. The test runs in a mount
// namespace of its own (when root), so that it can make files and folders
// impossible to delete with bind mounts.
class TestFolderManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_photos;
    RecordingLog* m_log = nullptr;

    // A file with the given modification time in seconds since the epoch.
    void makeFile(const QByteArray& name, qint64 mtime, const QString& folder = QString())
    {
        const QByteArray path
            = QFile::encodeName(folder.isEmpty() ? m_photos : folder) + '/' + name;
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY2(fd >= 0, path.constData());
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        QCOMPARE(::futimens(fd, times), 0);
        ::close(fd);
    }
    QStringList names() const
    {
        return QDir(m_photos).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QStringList removedNames() const
    {
        QStringList result;
        for (const auto& line : m_log->matching(QStringLiteral("remove exceeding file: ")))
            result << RecordingLog::messageOf(line.text).mid(23);
        return result;
    }
    static bool bindMount(const QString& path, bool readOnly = false)
    {
        const QByteArray p = QFile::encodeName(path);
        if (::mount(p.constData(), p.constData(), nullptr, MS_BIND, nullptr) != 0)
            return false;
        return !readOnly
            || ::mount(nullptr, p.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr)
            == 0;
    }
    static bool privateMounts()
    {
        static const bool ok = ::unshare(CLONE_NEWNS) == 0
            && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        return ok;
    }

private slots:
    void init()
    {
        m_photos = m_dir.path() + QStringLiteral("/photo");
        QDir(m_photos).removeRecursively();
        QVERIFY(QDir().mkpath(m_photos));
        m_log = new RecordingLog;
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_log;
        ::umount2(QFile::encodeName(m_photos).constData(), MNT_DETACH);
    }

    // 100 files, limit 100: within the limit, nothing removed or logged.
    // 103 files: the three oldest go, oldest first, each with its line.
    // Limit 0: every file goes.
    void trimsOldestBeyondLimit_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("limit");
        QTest::newRow("at limit") << 100 << 100;
        QTest::newRow("three over") << 103 << 100;
        QTest::newRow("limit zero") << 5 << 0;
    }
    void trimsOldestBeyondLimit()
    {
        QFETCH(int, files);
        QFETCH(int, limit);
        // Names run against age, so that name order cannot pass for time order.
        for (int i = 0; i < files; ++i)
            makeFile(QByteArray("img_") + QByteArray::number(999 - i), 1700000000 + i);
        QVERIFY(
            FolderManager(QFile::encodeName(m_photos).constData(), limit).RemoveExceedingFiles());
        QStringList expected;
        for (int i = 0; i < files - limit; ++i)
            expected << QStringLiteral("img_%1").arg(999 - i);
        QCOMPARE(removedNames(), expected);
        QCOMPARE(names().size(), qMin(files, limit));
        for (const auto& line : m_log->lines())
            QCOMPARE(line.level, 4u);
    }

    // Among equal times the order is QDir's own (time, then name, reversed).
    void keepsQDirOrderForEqualTimes()
    {
        const QList<QByteArray> list{"b", "a", "C", "c", "image_1.jpg", "image_2.jpg", "z 1", "%d"};
        for (int i = 0; i < list.size(); ++i)
            makeFile(list.at(i), 1700000000 + (i % 3));
        const QStringList qdirOrder
            = QDir(m_photos).entryList(QDir::Files | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
        QVERIFY(FolderManager(QFile::encodeName(m_photos).constData(), 0).RemoveExceedingFiles());
        QCOMPARE(removedNames(), qdirOrder);
    }

    // Links, sub-folders and hidden files are neither counted nor removed, and
    // a link's target is never touched; any other regular file counts.
    void ignoresLinksFoldersAndHiddenFiles()
    {
        QTemporaryDir outside;
        makeFile("precious", 1600000000, outside.path());
        QVERIFY(QFile::link(
            outside.path() + QStringLiteral("/precious"), m_photos + QStringLiteral("/link")));
        QVERIFY(QDir(m_photos).mkdir(QStringLiteral("sub")));
        makeFile(".hidden", 1600000000);
        makeFile("notes.txt", 1600000001);
        makeFile("image_1.jpg", 1700000000);
        QVERIFY(FolderManager(QFile::encodeName(m_photos).constData(), 1).RemoveExceedingFiles());
        QCOMPARE(removedNames(), QStringList{QStringLiteral("notes.txt")});
        QVERIFY(QFile::exists(outside.path() + QStringLiteral("/precious")));
        QCOMPARE(names(),
            (QStringList{
                QStringLiteral(".hidden"), QStringLiteral("image_1.jpg"), QStringLiteral("link")}));
    }

    // Missing, a plain file, or a link to another folder: false, nothing deleted.
    void refusesFolderThatIsNotOne()
    {
        QTemporaryDir elsewhere;
        for (int i = 0; i < 3; ++i)
            makeFile(QByteArray::number(i), 1700000000 + i, elsewhere.path());
        const QString link = m_dir.path() + QStringLiteral("/link");
        QVERIFY(QFile::link(elsewhere.path(), link));
        QFile plain(m_dir.path() + QStringLiteral("/plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        for (const QString& path :
            {m_dir.path() + QStringLiteral("/missing"), plain.fileName(), link})
            QVERIFY(!FolderManager(QFile::encodeName(path).constData(), 0).RemoveExceedingFiles());
        QCOMPARE(QDir(elsewhere.path()).count(), 5u); // 3 files, "." and ".."
        QVERIFY(m_log->lines().isEmpty());
    }

    // Names are bytes: %, spaces, newlines, invalid UTF-8 and 255-byte names
    // are removed, and logged on one line each, long ones cut at 511 characters.
    void removesAnyNameAndLogsItSafely()
    {
        const QByteArray longName(255, 'x');
        const QList<QByteArray> odd{
            "%s%n.jpg", "with space", "new\nline", "bad\xff\xfeutf8", longName};
        for (int i = 0; i < odd.size(); ++i)
            makeFile(odd.at(i), 1600000000 + i);
        makeFile("keep.jpg", 1700000000);
        QVERIFY(FolderManager(QFile::encodeName(m_photos).constData(), 1).RemoveExceedingFiles());
        QCOMPARE(names(), QStringList{QStringLiteral("keep.jpg")});
        QCOMPARE(m_log->lines().size(), odd.size());
        QVERIFY(m_log->lines().at(0).text.endsWith(QLatin1String("%s%n.jpg")));
        QVERIFY(m_log->lines().at(2).text.endsWith(QLatin1String("new\\nline")));
        QVERIFY(m_log->lines().at(4).text.size() <= 511);
    }

    // A file that cannot be removed is skipped and the next newer goes
    // instead; when none can be removed the result is false, with no line.
    void skipsFilesThatCannotBeRemoved()
    {
        if (!privateMounts())
            QSKIP("needs root for a private mount namespace");
        for (int i = 0; i < 3; ++i)
            makeFile(QByteArray("f") + QByteArray::number(i), 1700000000 + i);
        QVERIFY(bindMount(m_photos + QStringLiteral("/f0"))); // busy: cannot be unlinked
        QVERIFY(FolderManager(QFile::encodeName(m_photos).constData(), 2).RemoveExceedingFiles());
        QCOMPARE(removedNames(), QStringList{QStringLiteral("f1")});
        ::umount2(QFile::encodeName(m_photos + QStringLiteral("/f0")).constData(), MNT_DETACH);

        m_log->clear();
        QVERIFY(bindMount(m_photos, true));
        QVERIFY(!FolderManager(QFile::encodeName(m_photos).constData(), 0).RemoveExceedingFiles());
        QVERIFY(m_log->lines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFolderManager)
#include "tst_foldermanager.moc"

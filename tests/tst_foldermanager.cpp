#include "RecordingLog.h"
#include "common/FolderManager.h"
#include "common/Log.h"
#include "platform/Configuration.h"

#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Photo folder retention on real folders, with a settings file per test row
// (the reader tells changes by size and time alone); as root, unremovable
// files and a small tmpfs in a mount namespace of the test's own.
const char kRemoved[] = "remove exceeding file: ";

class TestFolderManager : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_photos;
    RecordingLog* m_log = nullptr;
    const bool m_mounts = ::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;

    void makeFile(const QByteArray& name, qint64 mtime, int kib = 0)
    {
        const int fd = ::open(m_photos + '/' + name, O_CREAT | O_WRONLY, 0644);
        const struct timespec times[2] = {{mtime, 0}, {mtime, 0}};
        QVERIFY(fd >= 0 && ::write(fd, QByteArray(kib << 10, 'x'), kib << 10) == kib << 10);
        QVERIFY(::futimens(fd, times) == 0 && ::close(fd) == 0);
    }
    void writeSettings(const QByteArray& keys)
    {
        QFile file(Configuration("test").filePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[PHOTOMANAGER]\n" + keys) > 0);
    }
    QStringList removed() const
    {
        QStringList removals = m_log->messages().filter(kRemoved);
        return removals.replaceInStrings(kRemoved, "");
    }
    // One change from outside: 0, 1 a file created or written, 2 deleted, 3
    // renamed, 4 moved out, 5 moved in, 6 touched, 7 hard-linked, 8 a
    // symbolic link, 9 a sub-folder; t the time stamped.
    static void change(const QByteArray& photo, const QByteArray& out, int op, const QByteArray& a,
        const QByteArray& b, qint64 t, int size)
    {
        static const char zeros[1 << 18] = {};
        const struct timespec times[2] = {{t, 0}, {t, 0}};
        const int fd = op < 2 ? ::open(photo + a, O_CREAT | O_WRONLY | O_NOFOLLOW, 0644) : -1;
        if (fd >= 0 && ::ftruncate(fd, 0) == 0 && ::write(fd, zeros, size_t(size)) >= 0)
            ::futimens(fd, times);
        ::close(fd);
        if (op == 2 && ::unlink(photo + a) != 0)
            ::rmdir(photo + a);
        ::rename(op == 3 || op == 4 ? photo + a
                : op == 5           ? out + a
                                    : "",
            op == 4 ? out + b : photo + b);
        if (op == 6)
            ::utimensat(AT_FDCWD, photo + a, times, AT_SYMLINK_NOFOLLOW);
        // Changes that do not apply fail, as they may from outside too.
        const int failed = ::link(op == 7 ? photo + a : "", photo + b)
            + ::symlink(op == 8 ? a.constData() : "", photo + b);
        Q_UNUSED(failed);
        ::mkdir(op == 9 ? photo + b : "", 0755);
    }
    // Every entry below root, links and hidden ones included, with its size,
    // links and time.
    static QStringList contents(const QByteArray& root)
    {
        QStringList entries;
        QDirIterator it(QFile::decodeName(root),
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            struct stat st;
            const QByteArray path = QFile::encodeName(it.next());
            ::lstat(path, &st);
            entries << QString("%1 %2 %3 %4 %5")
                           .arg(QFile::decodeName(path.mid(root.size())))
                           .arg(st.st_mode)
                           .arg(st.st_size)
                           .arg(st.st_nlink)
                           .arg(S_ISREG(st.st_mode) ? st.st_mtim.tv_sec : 0);
        }
        entries.sort();
        return entries;
    }

private slots:
    void init()
    {
        m_photos = QFile::encodeName(m_dir.path()) + "/photo";
        QDir(QFile::decodeName(m_photos)).removeRecursively();
        Configuration::setFilePath(
            m_dir.path() + '/' + QTest::currentTestFunction() + QTest::currentDataTag() + ".ini");
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

    // The count of 100, then the settings' limits (512 KiB files with a size
    // limit, a 4 MiB tmpfs with a free one or filled up, where the next photo
    // needs room): the oldest go, in QDir's order but those stamped later than
    // the clock first, until all hold. Free space out of reach costs no file and
    // is refused on each trim; a bad value is named once (an unchanged file is
    // not parsed again).
    void trimsOldest_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("gone");
        QTest::addColumn<QString>("line");
        // clang-format off
        QTest::newRow("no settings, at 100") << "" << 100 << 0 << "";
        QTest::newRow("no settings, 3 over") << "" << 103 << 3 << "";
        QTest::newRow("max_photos") << "max_photos=2" << 4 << 2 << "";
        QTest::newRow("max_megabytes") << "max_megabytes=1" << 3 << 1 << "";
        QTest::newRow("min_free_megabytes") << "min_free_megabytes=2" << 6 << 2 << "";
        QTest::newRow("min_free, oldest hard-linked") << "min_free_megabytes=2 link" << 6 << 3 << "";
        QTest::newRow("min_free, oldest linked elsewhere") << "min_free_megabytes=2 link sub" << 6 << 3 << "";
        QTest::newRow("free out of reach") << "min_free_megabytes=5" << 2 << 0 << "under min_free_megabytes";
        QTest::newRow("all, free strictest") << "max_photos=5 max_megabytes=2 min_free_megabytes=3" << 6 << 4 << "";
        QTest::newRow("count, free out of reach") << "max_photos=1 min_free_megabytes=9" << 3 << 2 << "under min_free_megabytes";
        QTest::newRow("full: room for the next") << "full" << 3 << 1 << "";
        QTest::newRow("full, room out of reach") << "full link" << 1 << 0 << "is full: 0 bytes free, the next photo needs 524288";
        QTest::newRow("future, count") << "max_photos=5 future" << 9 << 4 << "";
        QTest::newRow("future, max_megabytes") << "max_megabytes=1 future" << 4 << 2 << "";
        QTest::newRow("future, min_free") << "min_free_megabytes=2 future" << 6 << 2 << "";
        QTest::newRow("future, full") << "full future" << 4 << 1 << "";
        QTest::newRow("not a number") << "max_photos=many" << 101 << 1 << "/max_photos in";
        QTest::newRow("no photos") << "max_photos=0" << 3 << 0 << "/max_photos in";
        QTest::newRow("negative") << "max_megabytes=-1" << 3 << 0 << "/max_megabytes in";
        QTest::newRow("file over 64 KiB") << "max_photos=2 big" << 4 << 0 << "more than 65536";
        // clang-format on
    }
    void trimsOldest()
    {
        QFETCH(QString, keys);
        QFETCH(int, files);
        QFETCH(int, gone);
        QFETCH(QString, line);
        static const QRegularExpression onTmpfs("free|full"), words(" link| sub| big| future"),
            refused("^under|is full");
        const bool tmpfs = keys.contains(onTmpfs);
        if (tmpfs && !m_mounts)
            QSKIP("needs root for a tmpfs in a private mount namespace");
        QVERIFY(!tmpfs || ::mount("tmpfs", m_photos, "tmpfs", 0, "size=4m") == 0);
        // The oldest has a second name, in a sub-folder or hidden: frees nothing.
        const bool link = keys.contains(" link"), sub = keys.contains(" sub");
        const bool future = keys.contains(" future"), full = keys.startsWith("full");
        const QByteArray padding = keys.endsWith(" big") ? "#" + QByteArray(65536, 'x') : "";
        writeSettings(
            keys.remove("full").remove(words).replace(' ', '\n').toUtf8() + '\n' + padding);
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QStringList ahead; // with future: every third a day ahead of the clock, the newest 2 s
        for (int i = 0; i < files; ++i) {
            const QByteArray name = (i % 2 ? "img_" : "IMG_") + QByteArray::number(999 - i);
            const bool later = future && i % 3 == 0 && i < files - 1;
            makeFile(name,
                later                          ? now + 86400 + i / 2
                    : future && i == files - 1 ? now + 2
                                               : 1700000000 + i / 2, // names against age, pairs
                keys.contains("megabytes") || full ? 512 : 0);
            ahead << (later ? name : "");
        }
        QStringList order
            = QDir(QFile::decodeName(m_photos)).entryList(QDir::Files, QDir::Time | QDir::Reversed);
        std::stable_partition(
            order.begin(), order.end(), [&](auto& n) { return ahead.contains(n); });
        // Linked once the folder is indexed: in a sub-folder no event says so.
        const FolderManager manager(m_photos.constData(), 100);
        const QByteArray second = sub ? "/s/linked" : "/.linked";
        QVERIFY(!link
            || (::mkdir(m_photos + "/s", 0755) == 0
                && ::link(m_photos + '/' + QFile::encodeName(order.first()), m_photos + second)
                    == 0));
        const int filler = full ? ::open(m_photos + "/.filler", O_CREAT | O_WRONLY, 0644) : -1;
        static const char chunk[4096] = {};
        while (filler >= 0 && ::write(filler, chunk, sizeof chunk) > 0) { }
        ::close(filler);
        const bool ok = !line.contains(refused);
        QVERIFY(manager.RemoveExceedingFiles() == ok);
        QCOMPARE(removed(), order.mid(0, gone));
        QVERIFY(manager.RemoveExceedingFiles() == ok); // nothing more goes
        QCOMPARE(removed(), order.mid(0, gone));
        QCOMPARE(m_log->lines.size(), gone + (line.isEmpty() ? 0 : ok ? 1 : 2));
        QVERIFY(line.isEmpty() || !m_log->levels(line).isEmpty());
        for (const RecordingLog::Line& logged : qAsConst(m_log->lines))
            QCOMPARE(logged.level, logged.text.contains(kRemoved) ? 4u : 2u);
    }

    // Only visible regular files count and go, odd names by their bytes; a
    // folder that is missing, a plain file or a link is refused untouched.
    void onlyVisibleRegularFilesCountAndGo()
    {
        const QDir photos(QFile::decodeName(m_photos));
        QVERIFY(QFile(m_dir.path() + "/precious").open(QIODevice::WriteOnly) && photos.mkdir("s"));
        QVERIFY(::symlink(QFile::encodeName(m_dir.path()), m_photos + "/link") == 0);
        const QList<QByteArray> odd{".hidden", "%s%n", "new\nline", "\xff", QByteArray(255, 'x')};
        for (int i = 0; i < odd.size(); ++i)
            makeFile(odd.at(i), 1600000000 + i);
        makeFile("keep.jpg", 1700000000);
        for (const char* notAFolder : {"/missing", "/keep.jpg", "/link"})
            QVERIFY(!FolderManager(m_photos + notAFolder, 0).RemoveExceedingFiles());
        QVERIFY(FolderManager(m_photos, 1).RemoveExceedingFiles());
        QCOMPARE(photos.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList{".hidden", "keep.jpg", "link", "s"}));
        QVERIFY(QFile::exists(m_dir.path() + "/precious"));
        QCOMPARE(removed().mid(0, 2), (QStringList{"%s%n", "new\\nline"}));
    }

    // Random changes from outside between trims, under random limits and a
    // clock that moves (in a zone with a change of the UTC offset among the
    // stamps): the index trims exactly as a listing at every trim does, the
    // same files going in the same order, also through an overflowed event
    // queue, a replaced folder, or without inotify.
    void indexTrimsAsListing_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("changes") << "";
        QTest::newRow("overflow") << "listed anew: its events overflowed the queue";
        QTest::newRow("replaced") << "listed anew: it was moved, deleted or replaced";
        QTest::newRow("no inotify") << "not watched (inotify: Too many open files)";
    }
    void indexTrimsAsListing()
    {
        QFETCH(QString, line);
        if (!m_mounts)
            QSKIP("needs root for a tmpfs in a private mount namespace");
        qputenv("TZ", "Europe/Berlin"); // 2023-10-29 01:00 UTC: 03:00 back to 02:00
        static qint64 now = 1698541200 + 100; // seconds
        FolderManager::setClock([] { return now * 1000000000; });
        const QByteArray roots[2] = {m_photos + "/indexed", m_photos + "/listed"};
        const auto restore = qScopeGuard([&] {
            qputenv("TZ", "UTC");
            FolderManager::setClock(nullptr);
            for (const QByteArray& root : roots)
                ::umount2(root, MNT_DETACH);
        });
        for (const QByteArray& root : roots)
            QVERIFY(::mkdir(root, 0755) == 0 && ::mount("tmpfs", root, "tmpfs", 0, "size=512k") == 0
                && ::mkdir(root + "/photo", 0755) == 0 && ::mkdir(root + "/out", 0755) == 0);
        struct rlimit files;
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &files) == 0);
        const struct rlimit few
            = {rlim_t(::dup(0) + 1), files.rlim_max}; // the folder's fd, no more
        ::close(int(few.rlim_cur) - 1);
        QVERIFY(line.isEmpty() || !line.startsWith("not") || ::setrlimit(RLIMIT_NOFILE, &few) == 0);
        const FolderManager indexed(roots[0] + "/photo", 5);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &files) == 0);
        const FolderManager listed(roots[1] + "/photo", 5, FolderManager::Watch::Off);
        const QList<QByteArray> names{
            "a", "b", "c", "d", "IMG_1", "img_1", "\xc3\xa9t\xc3\xa9", "\xff", ".h", "s", "s/a"};
        QRandomGenerator random(6);
        for (int round = 0; round < 300;
             ++round, now += random.bounded(3) ? 1 : -86400 * (round % 2 * 2 - 1)) {
            for (int n = random.bounded(1, 8); n > 0; --n) {
                const int op = random.bounded(10),
                          size = random.bounded(3) << 16 | random.bounded(2);
                const QByteArray& a = names.at(random.bounded(names.size()));
                const QByteArray& b = names.at(random.bounded(names.size()));
                const qint64 t = QList<qint64>{1698541198, 1698541199, 1698541201, now - 3600,
                    now + 2, now + 6, now + 86400}
                                     .at(random.bounded(7));
                for (const QByteArray& root : roots)
                    change(root + "/photo/", root + "/out/", op, a, b, t, size);
            }
            for (int i = 0; round == 75 && line.contains("overflow") && i < 20000; ++i)
                for (const QByteArray& root : roots) // two files' times in turns
                    change(root + "/photo/", "", i < 2 ? 0 : 6, names.at(i % 2), "", i, 0);
            for (const QByteArray& root : roots)
                QVERIFY(round != 75 || !line.contains("replaced")
                    || (::rename(root + "/photo", root + "/out/old") == 0
                        && ::mkdir(root + "/photo", 0755) == 0));
            if (random.bounded(4) == 0)
                writeSettings(QString("max_photos=%1\nmax_megabytes=%2\nmin_free_megabytes=%3\n#%4")
                                  .arg(random.bounded(1, 20))
                                  .arg(random.bounded(2))
                                  .arg(random.bounded(4) / 3)
                                  .arg(round)
                                  .toUtf8());
            const int before = m_log->lines.size();
            const bool kept = indexed.RemoveExceedingFiles();
            const int between = m_log->lines.size();
            QCOMPARE(listed.RemoveExceedingFiles(), kept);
            // The lines of each, but those of the index's own.
            static const QRegularExpression own("^photo folder (listed|not) .*"), any(".");
            QStringList all = m_log->messages();
            all.replaceInStrings(own, "");
            QCOMPARE(all.mid(before, between - before).filter(any), all.mid(between).filter(any));
            QCOMPARE(contents(roots[0]), contents(roots[1]));
        }
        QVERIFY(line.isEmpty()
            || m_log->levels(line) == (QList<unsigned>{line.startsWith("not") ? 2u : 4u}));
    }

    // The settings file rewritten at the same length, only its time later, is
    // read again at the next trim.
    void settingsRewritten()
    {
        writeSettings("max_photos=3");
        for (int i = 0; i < 4; ++i)
            makeFile(QByteArray::number(i), 1700000000 + i);
        const FolderManager manager(m_photos.constData(), 100);
        const QByteArray settings = QFile::encodeName(Configuration("test").filePath());
        struct stat st;
        QVERIFY(manager.RemoveExceedingFiles() && ::stat(settings, &st) == 0);
        writeSettings("max_photos=1");
        const struct timespec later[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec + 10, 0}};
        QVERIFY(::utimensat(AT_FDCWD, settings, later, 0) == 0 && manager.RemoveExceedingFiles());
        QCOMPARE(removed(), (QStringList{"0", "1", "2"}));
    }

    // A file that cannot go (a mount point) is skipped for the next; limits out of
    // reach give false, with a line for the size and none for the count.
    void skipsFilesThatCannotBeRemoved()
    {
        if (!m_mounts)
            QSKIP("needs root for a private mount namespace");
        for (int i = 0; i < 3; ++i)
            makeFile("f" + QByteArray::number(i), 1700000000 + i, i ? 512 : 1536);
        const QByteArray busy = m_photos + "/f0";
        QVERIFY(::mount(busy, busy, nullptr, MS_BIND, nullptr) == 0);
        QVERIFY(FolderManager(m_photos, 2).RemoveExceedingFiles());
        writeSettings("max_megabytes=1");
        QVERIFY(!FolderManager(m_photos, 0).RemoveExceedingFiles());
        ::umount2(busy, MNT_DETACH);
        QCOMPARE(m_log->messages(),
            (QStringList{QString(kRemoved) + "f1", QString(kRemoved) + "f2",
                "photo folder over max_megabytes: 1572864 bytes in its files"}));
    }
};

QTEST_GUILESS_MAIN(TestFolderManager)
#include "tst_foldermanager.moc"

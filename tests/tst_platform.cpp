#include "RecordingLog.h"
#include "common/Log.h"
#include "dbus/LogControl.h"
#include "platform/Configuration.h"
#include "platform/JournalSink.h"
#include "platform/ServiceWatchdog.h"

#include <QtTest>

#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The log and the service manager as the daemon meets them, in-process: the
// level from the settings file, records on standard error and in the
// journal's own protocol on sockets of the test's, readers that stall, and
// the watchdog's pings.
class TestPlatform : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A datagram socket of the test's, bound in its folder; its path in path.
    int bound(const char* name, QByteArray& path)
    {
        path = QFile::encodeName(m_dir.path()) + '/' + name;
        sockaddr_un address = {AF_UNIX, {}};
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
    }
    // What waits on a socket, a datagram each, or on a pipe, all at once.
    static QList<QByteArray> waiting(int fd)
    {
        QList<QByteArray> result;
        QByteArray data(1 << 16, 0);
        for (ssize_t n; (n = ::read(fd, data.data(), data.size())) > 0;)
            result << data.left(int(n));
        return result;
    }
    // The fields of the journal records waiting on a socket.
    static QList<QMap<QByteArray, QByteArray>> records(int fd)
    {
        QList<QMap<QByteArray, QByteArray>> result;
        for (const QByteArray& datagram : waiting(fd)) {
            QMap<QByteArray, QByteArray>& fields = *result.insert(result.end(), {});
            for (int p = 0, line; (line = datagram.indexOf('\n', p)) > 0;) {
                const int equals = datagram.indexOf('=', p);
                quint64 size = 0; // a value with a newline: its length, then itself
                if (equals < 0 || equals > line)
                    std::memcpy(&size, datagram.constData() + line + 1, sizeof size);
                fields[datagram.mid(p, (size ? line : equals) - p)] = size
                    ? datagram.mid(line + 9, int(size))
                    : datagram.mid(equals + 1, line - equals - 1);
                p = size ? line + 9 + int(size) + 1 : line + 1;
            }
        }
        return result;
    }

private slots:
    // log_level sets the threshold at start: a record above it is dropped
    // before its arguments are evaluated; a bad value means debug, said once.
    void logLevel_data()
    {
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QString>("logged");
        // clang-format off
        QTest::newRow("notice") << QByteArray("log_level=notice") << "notice 1";
        QTest::newRow("digit") << QByteArray("log_level=5") << "notice 1";
        QTest::newRow("none") << QByteArray() << "debug 1|notice 2";
        QTest::newRow("bad") << QByteArray("log_level=loud") << "PHOTOMANAGER/log_level is not a log level, using debug|debug 1|notice 2";
        // clang-format on
    }
    void logLevel()
    {
        QFETCH(QByteArray, setting);
        QFile file(m_dir.path() + "/settings.ini");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[PHOTOMANAGER]\n" + setting) > 0);
        file.close();
        Configuration::setFilePath(file.fileName());
        RecordingLog log;
        int evaluated = 0;
        {
            LogControl control;
            PM_LOG(9, "[%s:%d] %s: debug %d", ++evaluated);
            PM_LOG(4, "[%s:%d] %s: notice %d", ++evaluated);
        }
        photomanagerLogThreshold = 7;
        QTEST(log.messages().join('|').replace(QRegularExpression(" in \\S*ini"), ""), "logged");
    }

    // Records in the journal's protocol, with their fields: a path with a
    // newline in its binary form, one too long for a datagram cut with a
    // mark. A socket that nobody listens on sends records to standard error.
    void journalFields()
    {
        QByteArray socket;
        const int fd = bound("journal", socket);
        qputenv("PHOTOMANAGER_JOURNAL_SOCKET", socket);
        JournalSink::setTarget(JournalSink::Target_Journal);
        RecordingLog log;
        const QByteArray path = "/photo/new\nline.jpg" + QByteArray(9000, 'x');
        const int line = __LINE__ + 1;
        PM_LOG_PHOTO(2, path.constData(), -28, "[%s:%d] %s: tab\there %s", "x");
        const auto sent = records(fd);
        QCOMPARE(sent.size(), 1);
        QVERIFY2(sent[0]["MESSAGE"].endsWith("TestPlatform::journalFields(): tab\\there x"),
            sent[0]["MESSAGE"]);
        QCOMPARE(sent[0]["PRIORITY"] + sent[0]["SYSLOG_IDENTIFIER"], "4photomanager");
        QCOMPARE(sent[0]["CODE_FILE"] + ':' + sent[0]["CODE_LINE"],
            QByteArray(__FILE__) + ':' + QByteArray::number(line));
        QCOMPARE(sent[0]["CODE_FUNC"], "void TestPlatform::journalFields()");
        QCOMPARE(sent[0]["PHOTO_STATUS"], "-28");
        QVERIFY(path.startsWith(sent[0]["PHOTO_PATH"].chopped(5)));
        QVERIFY(sent[0]["PHOTO_PATH"].endsWith("[...]"));
        ::close(fd);
        PM_LOG(4, "[%s:%d] %s: nobody listens");
        QCOMPARE(log.messages(), QStringList{"nobody listens"});
    }

    // A journal that does not read: records are dropped, never waited for;
    // once it reads again, one record gives their number, and only once.
    void stalledJournal()
    {
        QByteArray socket;
        const int fd = bound("stalled", socket);
        qputenv("PHOTOMANAGER_JOURNAL_SOCKET", socket);
        JournalSink::setTarget(JournalSink::Target_Journal);
        RecordingLog log;
        for (int i = 0; i < 1000; ++i)
            PM_LOG(4, "[%s:%d] %s: record %d", i);
        const int taken = records(fd).size();
        QVERIFY(taken < 1000);
        PM_LOG(4, "[%s:%d] %s: after");
        PM_LOG(4, "[%s:%d] %s: and after");
        QStringList messages;
        for (const auto& record : records(fd))
            messages << record["MESSAGE"];
        QCOMPARE(messages,
            QStringList({QString::number(1000 - taken)
                    + " log lines lost: the journal was not ready to take them",
                messages.value(1), messages.value(2)}));
        QVERIFY(messages.value(1).endsWith(": after") && messages.value(2).endsWith("and after"));
        QVERIFY(log.lines.isEmpty());
        JournalSink::setTarget(JournalSink::Target_Console);
        ::close(fd);
    }

    // Standard error a pipe nobody reads: the same, on standard error.
    void stalledStandardError()
    {
        int fds[2];
        const int saved = ::dup(STDERR_FILENO);
        QVERIFY(::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0 && ::dup2(fds[1], STDERR_FILENO) >= 0);
        LogInterface log("/test/log");
        for (int i = 0; i < 10000; ++i)
            log.EmitLogString(4, "record", "");
        while (!waiting(fds[0]).isEmpty()) { }
        log.EmitLogString(4, "after", "");
        log.EmitLogString(4, "and after", "");
        ::dup2(saved, STDERR_FILENO);
        const QString written = QString::fromLatin1(waiting(fds[0]).value(0));
        QVERIFY2(QRegularExpression("^<4>.* \\d+ log lines lost: [^\n]*\n<5>after\n<5>and after\n$")
                     .match(written)
                     .hasMatch(),
            qPrintable(written));
    }

    // The service manager's watchdog interval: pings at half of it, the
    // first at once; none without it.
    void watchdog()
    {
        QByteArray socket;
        const int fd = bound("notify", socket);
        qputenv("NOTIFY_SOCKET", socket);
        qputenv("WATCHDOG_USEC", "300000");
        qputenv("WATCHDOG_PID", QByteArray::number(::getpid()));
        ServiceWatchdog watchdog;
        QCOMPARE(watchdog.Start(), 150);
        int pings = 0;
        QVERIFY(QTest::qWaitFor([&] { return (pings += waiting(fd).size()) >= 3; }));
        qunsetenv("WATCHDOG_USEC");
        QCOMPARE(ServiceWatchdog().Start(), 0);
        ::close(fd);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"

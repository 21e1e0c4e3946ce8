#include "RecordingLog.h"
#include "common/Log.h"
#include "dbus/LogControl.h"
#include "platform/Configuration.h"
#include "platform/JournalSink.h"
#include "platform/ServiceWatchdog.h"

#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The log and the service manager as the daemon meets them, in-process: the
// level from the settings file, records on standard error and in the
// journal's own protocol on sockets of the test's, readers that stall, and
// the watchdog's pings.
class TestPlatform : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A datagram socket of the test's, bound in its folder and named by the
    // environment variable.
    int bound(const char* name, const char* variable)
    {
        const QByteArray path = QFile::encodeName(m_dir.path()) + '/' + name;
        qputenv(variable, path);
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
        static const QRegularExpression settingsFile(" in \\S*ini");
        QTEST(log.messages().join('|').replace(settingsFile, ""), "logged");
    }

    // Standard error the journal's stream, as under systemd: records in the
    // journal's protocol, with their fields, control characters escaped, a
    // path with a newline in its binary form, one too long for a datagram cut
    // with a mark. A socket that nobody listens on sends them to standard error.
    void journalFields()
    {
        const int fd = bound("journal", "PHOTOMANAGER_JOURNAL_SOCKET");
        struct stat err;
        QVERIFY(::fstat(STDERR_FILENO, &err) == 0);
        qputenv("JOURNAL_STREAM",
            QByteArray::number(quint64(err.st_dev)) + ':'
                + QByteArray::number(quint64(err.st_ino)));
        JournalSink::setTarget(JournalSink::Target_Auto);
        RecordingLog log;
        const QByteArray photo = "/photo/new\nline.jpg" + QByteArray(9000, 'x');
        const QByteArray file = __FILE__, line = QByteArray::number(__LINE__ + 1);
        PM_LOG_PHOTO(2, photo.constData(), -28, "[%s:%d] %s: tab\there\r\x01\x7f %s", "x");
        const QByteArray sent = waiting(fd).value(0),
                         function = "void TestPlatform::journalFields()";
        const int path = sent.indexOf("PHOTO_PATH\n") + 11;
        QCOMPARE(sent.left(path),
            "PRIORITY=4\nSYSLOG_IDENTIFIER=photomanager\nCODE_FILE=" + file + "\nCODE_LINE=" + line
                + "\nCODE_FUNC=" + function + "\nPHOTO_STATUS=-28\nMESSAGE=[" + file + ':' + line
                + "] " + function + ": tab\\there\\r\\x01\\x7f x\nPHOTO_PATH\n");
        const quint64 length = qFromLittleEndian<quint64>(sent.constData() + path);
        QCOMPARE(sent.mid(path + 8), photo.left(int(length) - 5) + "[...]\n");
        QCOMPARE(sent.size(), 8192);
        ::close(fd);
        PM_LOG(4, "[%s:%d] %s: nobody listens");
        QCOMPARE(log.messages(), QStringList{"nobody listens"});
        qunsetenv("JOURNAL_STREAM");
    }

    // The journal, or standard error, does not read: records are dropped,
    // never waited for; once it reads again, one line gives their number,
    // and only once.
    void stalledReader_data()
    {
        QTest::addColumn<bool>("journal");
        QTest::newRow("journal") << true;
        QTest::newRow("standard error") << false;
    }
    void stalledReader()
    {
        QFETCH(bool, journal);
        int fds[2];
        const int saved = ::dup(STDERR_FILENO);
        QVERIFY(journal ? (fds[0] = bound("stalled", "PHOTOMANAGER_JOURNAL_SOCKET")) >= 0
                        : ::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0 && ::dup2(fds[1], 2) >= 0);
        JournalSink::setTarget(journal ? JournalSink::Target_Journal : JournalSink::Target_Console);
        LogInterface log("/test/log");
        _logInterface = &log;
        for (int i = 0; i < 10000; ++i)
            PM_LOG(4, "[%s:%d] %s: record %d", i);
        while (!waiting(fds[0]).isEmpty()) { }
        PM_LOG(4, "[%s:%d] %s: after");
        PM_LOG(4, "[%s:%d] %s: and after");
        ::dup2(saved, STDERR_FILENO);
        _logInterface = nullptr;
        static const QRegularExpression lost(
            "^(<4>)?\\[.* \\d+ log lines lost: [^\n]*\n(<5>)?\\[.*: "
            "after\n(<5>)?\\[.*: and after\n$");
        QString written;
        const QList<QByteArray> records = waiting(fds[0]);
        for (const QByteArray& record : records)
            written += journal ? record.mid(record.indexOf("MESSAGE=") + 8) : record;
        QVERIFY2(lost.match(written).hasMatch(), qPrintable(written));
        JournalSink::setTarget(JournalSink::Target_Console);
    }

    // The service manager's watchdog interval: pings at half of it, the
    // first at once; none without it.
    void watchdog()
    {
        const int fd = bound("notify", "NOTIFY_SOCKET");
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

#include "DaemonProcess.h"
#include "MockPeer.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

#include <memory>

namespace {
struct Result {
    int exitCode;
    QString out;
    QString err;
};

// photomanager-ctl with the words of a command line such as "stream 1".
Result ctl(const QString& commandLine)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_CTL")), commandLine.split(' '));
    if (!process.waitForFinished(30000))
        process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed(),
        QString::fromLocal8Bit(process.readAllStandardError())};
}
} // namespace

// photomanager-ctl against the real daemon and the simulated device of sim/
// on a private bus. The test shares the daemon's view of /opt (a private
// mount namespace), so the simulated camera writes where the daemon looks.
class TestPhotoManagerCtl : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    DaemonProcess m_daemon;
    std::vector<std::unique_ptr<MockPeer>> m_device;

    void startDaemon()
    {
        if (m_daemon.isRunning())
            return;
        QVERIFY(m_daemon.start() && m_daemon.waitForService());
        QVERIFY(m_daemon.waitForLine("statemachine available"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(::unshare(CLONE_NEWNS) == 0
                && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
                && ::mount("tmpfs", "/opt", "tmpfs", 0, nullptr) == 0
                && QDir().mkpath("/opt/quor/data")
                && ::mount(QFile::encodeName(m_daemon.dataDir()), "/opt/quor/data", nullptr,
                       MS_BIND, nullptr)
                    == 0,
            "a private mount namespace needs root");
        QVERIFY(m_bus.start());
        const char* const siblings[][3] = {{"cameramanager", "cameraobj", "camerainterface"},
            {"rgbfeaturemanager", "rgbmanagerobj", "rgbmanagerinterface"},
            {"statusmanager", "statusobj", "statusinterface"}};
        for (const auto& sibling : siblings) {
            const QString name = QLatin1String(sibling[0]);
            m_device.push_back(
                std::make_unique<MockPeer>(QStringLiteral("com.zandrel.quor.") + name,
                    QStringLiteral("/com/zandrel/quor/%1/%2").arg(name, QLatin1String(sibling[1])),
                    QStringLiteral("com.zandrel.quor.") + QLatin1String(sibling[2]),
                    DaemonProcess::sourceDir() + QStringLiteral("/sim/") + name + ".py",
                    m_device.empty() ? "{\"capture_delay_ms\": 50}" : QString()));
            QVERIFY(m_device.back()->start());
        }
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_daemon.dumpLog();
    }

    // Usage errors give 2, help 0, and (before the daemon runs) a daemon not
    // on the bus 3, each with its message.
    void withoutDaemon_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("not on the bus") << "take" << 3 << "photomanager is not on the bus";
        QTest::newRow("help") << "stream --help" << 0 << QString();
        QTest::newRow("unknown") << "shoot" << 2 << "unknown command 'shoot'";
        QTest::newRow("bad interval") << "stream 0" << 2 << "a whole number of seconds >= 1";
    }
    void withoutDaemon()
    {
        QFETCH(QString, command);
        QFETCH(QString, message);
        const Result result = ctl(command);
        QTEST(result.exitCode, "exitCode");
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
    }

    // take prints the path of a JPEG that exists; stop after a stream prints
    // its count; monitor shows the signals and ends cleanly on SIGTERM.
    void takeStreamAndMonitor()
    {
        startDaemon();
        const Result take = ctl("take");
        QCOMPARE(take.exitCode, 0);
        QFile photo(take.out);
        QVERIFY2(
            take.out.startsWith("/opt/quor/data/photo/image_") && photo.open(QIODevice::ReadOnly),
            qPrintable(take.out));
        QCOMPARE(photo.read(3), QByteArray("\xFF\xD8\xFF"));

        QProcess monitor;
        monitor.start(QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_CTL")), {"monitor"});
        QVERIFY(monitor.waitForStarted());
        QString seen;
        const auto monitored = [&] { return seen += QString::fromLocal8Bit(monitor.readAll()); };
        QCOMPARE(ctl("stream 1").out, "0");
        QTRY_VERIFY_WITH_TIMEOUT(
            monitored().contains("PhotoTaken 0 /opt/quor/data/photo/image_"), 15000);
        const Result stop = ctl("stop");
        QVERIFY2(stop.exitCode == 0 && stop.out.toInt() >= 1, qPrintable(stop.out));
        QTRY_VERIFY(monitored().contains(QStringLiteral("PhotoStreamStopped ") + stop.out));
        QCOMPARE(::kill(static_cast<pid_t>(monitor.processId()), SIGTERM), 0);
        QVERIFY(monitor.waitForFinished(10000) && monitor.exitStatus() == QProcess::NormalExit
            && monitor.exitCode() == 0);
    }

    // enable prints the state it reached, and status agrees.
    void enableAndStatus()
    {
        startDaemon();
        for (const QString state : {"on", "off"}) {
            QCOMPARE(ctl("enable " + state).out, state);
            QCOMPARE(ctl("status").out, state);
        }
    }

    // -59 (folder missing) gives 1; no CaptureDone within --timeout gives 4.
    void failures()
    {
        startDaemon();
        QDir data(m_daemon.dataDir());
        QVERIFY(data.rename("photo", "away"));
        const Result refused = ctl("take");
        QVERIFY(data.rename("away", "photo"));
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("(-59): the photo folder is full or missing"),
            qPrintable(refused.err));

        QDBusMessage sendCaptureDone = QDBusMessage::createMethodCall(m_device.front()->service,
            m_device.front()->path, "com.zandrel.quor.sim.Control", "SetSendCaptureDone");
        QCOMPARE(QDBusConnection::sessionBus().call(sendCaptureDone << false).type(),
            QDBusMessage::ReplyMessage);
        const Result late = ctl("--timeout 1 take");
        sendCaptureDone.setArguments({true});
        QDBusConnection::sessionBus().call(sendCaptureDone);
        QCOMPARE(late.exitCode, 4);
        QVERIFY2(late.err.contains("no answer from photomanager within 1 s"), qPrintable(late.err));
    }
};

QTEST_GUILESS_MAIN(TestPhotoManagerCtl)
#include "tst_photomanagerctl.moc"

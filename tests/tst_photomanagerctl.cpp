#include "DaemonProcess.h"
#include "MockPeer.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

namespace {
struct Result {
    int exitCode;
    QString out, err;
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

// photomanager-ctl against the real daemon and the simulated device of sim/ on
// a private bus, sharing the daemon's private /opt so photos land where it looks.
class TestPhotoManagerCtl : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    DaemonProcess m_daemon;
    std::vector<std::unique_ptr<MockPeer>> m_device;

    void startDaemon()
    {
        QVERIFY(m_daemon.isRunning()
            || (m_daemon.start() && m_daemon.waitForLine("statemachine available")));
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

    // Each command's exit status and message: help 0, not on the bus 3, enable
    // the state reached (status and show agree), a refusal or failed photo 1
    // with the reason, no answer in time 4 (camera failing, silent, away).
    void commands_data()
    {
        QTest::addColumn<QString>("fault"); // "-": before the daemon runs
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // on standard output or error
        // clang-format off
        QTest::newRow("not on the bus") << "-" << "take" << 3 << "photomanager is not on the bus";
        QTest::newRow("help") << "-" << "stream --help" << 0 << "one photo every N seconds";
        QTest::newRow("take") << "" << "take" << 0 << "/opt/quor/data/photo/image_";
        QTest::newRow("enable on") << "" << "enable on" << 0 << "on";
        QTest::newRow("status") << "" << "status" << 0 << "on";
        QTest::newRow("show") << "" << "show" << 0 << "CameraManagerPresent=yes\nCameraEnabled=yes\nCapturing=no\nStreamInterval=0\nStreamPhotos=0\nLastPhoto=/opt/quor/data/photo/image_";
        QTest::newRow("failing") << "SetFailing" << "take" << 1 << "failed (-1): the camera manager's error code";
        QTest::newRow("silent") << "SetSendCaptureDone" << "--timeout 1 take" << 4 << "no answer from photomanager within 1 s";
        QTest::newRow("away") << "away" << "enable on" << 1 << "EnableCamera refused (-51): the camera manager is not";
        // clang-format on
    }
    void commands()
    {
        QFETCH(QString, fault);
        QFETCH(QString, command);
        QFETCH(QString, message);
        if (fault != "-")
            startDaemon();
        MockPeer& camera = *m_device.front();
        const auto setFault = [&](bool on) {
            QDBusMessage control = QDBusMessage::createMethodCall(
                camera.service, camera.path, "com.zandrel.quor.sim.Control", fault);
            if (fault.startsWith("Set"))
                return QDBusConnection::sessionBus()
                           .call(control << (on == (fault == "SetFailing")))
                           .type()
                    == QDBusMessage::ReplyMessage;
            return fault != "away"
                || (on ? camera.stop() && m_daemon.waitForLine("Stop photo SM")
                       : camera.start() && m_daemon.waitForLine("statemachine available", 2));
        };
        QVERIFY(setFault(true));
        const Result result = ctl(command);
        QVERIFY(setFault(false));
        QTEST(result.exitCode, "exitCode");
        QVERIFY2((result.out + result.err).contains(message), qPrintable(result.out + result.err));
    }

    // stop after a stream prints its count; monitor shows the signals, then
    // the state changes they bring, and ends cleanly on SIGTERM.
    void streamAndMonitor()
    {
        startDaemon();
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
        QTRY_VERIFY(monitored().contains("PhotoStreamStopped " + stop.out
            + "\nPropertiesChanged StreamInterval=0\nPropertiesChanged StreamPhotos=0\n"));
        QCOMPARE(::kill(static_cast<pid_t>(monitor.processId()), SIGTERM), 0);
        QVERIFY(monitor.waitForFinished(10000) && monitor.exitStatus() == QProcess::NormalExit
            && monitor.exitCode() == 0);
    }
};

QTEST_GUILESS_MAIN(TestPhotoManagerCtl)
#include "tst_photomanagerctl.moc"

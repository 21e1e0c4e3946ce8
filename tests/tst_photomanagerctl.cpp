#include "DaemonProcess.h"
#include "MockPeer.h"
#include "PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

#include <memory>
#include <vector>

namespace {
struct Result {
    int exitCode;
    QString out;
    QString err;
};

QString ctlPath()
{
    return QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_CTL"));
}

// photomanager-ctl with the arguments of a command line such as "stream 1".
Result ctl(const QString& commandLine)
{
    QProcess process;
    process.start(ctlPath(), commandLine.split(QLatin1Char(' ')));
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed(),
        QString::fromLocal8Bit(process.readAllStandardError())};
}

// Gives this process, and so the simulated device that it starts, the
// daemon's view of /opt: a tmpfs with the daemon's data folder at
// /opt/quor/data. The photo paths that the client prints then exist here too.
bool shareDaemonView(const QString& dataDir)
{
    return unshare(CLONE_NEWNS) == 0
        && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && mount("tmpfs", "/opt", "tmpfs", 0, nullptr) == 0
        && QDir().mkpath(QStringLiteral("/opt/quor/data"))
        && mount(
               QFile::encodeName(dataDir).constData(), "/opt/quor/data", nullptr, MS_BIND, nullptr)
        == 0;
}
} // namespace

// photomanager-ctl against the real daemon and the simulated device of sim/,
// all on a private bus.
class TestPhotoManagerCtl : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void withoutDaemon_data();
    void withoutDaemon();
    void takeAndStream();
    void enableAndStatus_data();
    void enableAndStatus();
    void failures_data();
    void failures();

private:
    void startDaemon();

    PrivateBus m_bus;
    DaemonProcess m_daemon;
    std::vector<std::unique_ptr<MockPeer>> m_device;
};

void TestPhotoManagerCtl::initTestCase()
{
    QVERIFY2(!ctlPath().isEmpty(), "PHOTOMANAGER_CTL is not set");
    QVERIFY2(shareDaemonView(m_daemon.dataDir()), "a private mount namespace needs root");
    QVERIFY(m_bus.start());
    // sibling (and its template in sim/), object, interface; a quick camera keeps the test short
    const char* const siblings[][3] = {{"cameramanager", "cameraobj", "camerainterface"},
        {"rgbfeaturemanager", "rgbmanagerobj", "rgbmanagerinterface"},
        {"statusmanager", "statusobj", "statusinterface"}};
    for (const auto& sibling : siblings) {
        const QString name = QLatin1String(sibling[0]);
        m_device.emplace_back(std::make_unique<MockPeer>(QStringLiteral("com.zandrel.quor.") + name,
            QStringLiteral("/com/zandrel/quor/%1/%2").arg(name, QLatin1String(sibling[1])),
            QStringLiteral("com.zandrel.quor.") + QLatin1String(sibling[2]),
            DaemonProcess::sourceDir() + QStringLiteral("/sim/") + name + QStringLiteral(".py"),
            m_device.empty() ? QStringLiteral("{\"capture_delay_ms\": 50}") : QString()));
        QVERIFY(m_device.back()->start());
    }
}

void TestPhotoManagerCtl::cleanup()
{
    if (QTest::currentTestFailed())
        m_daemon.dumpLog();
}

void TestPhotoManagerCtl::withoutDaemon_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString notOnBus = QStringLiteral("photomanager is not on the bus");
    QTest::newRow("take") << "take" << 3 << notOnBus;
    QTest::newRow("help") << "--help" << 0 << QString();
    QTest::newRow("unknown") << "shoot" << 2 << "unknown command 'shoot'";
    QTest::newRow("bad interval") << "stream 0" << 2 << "a whole number of seconds >= 1";
}

void TestPhotoManagerCtl::withoutDaemon()
{
    // photomanager is not on the bus / expected: exit 3 and a message; help 0, usage errors 2
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Result result = ctl(command);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(result.out.startsWith(QStringLiteral("Usage: ")), exitCode == 0);
}

void TestPhotoManagerCtl::takeAndStream()
{
    // the daemon runs with the simulated device / expected: take prints a JPEG that exists;
    // stop after a stream photo prints a count >= 1; monitor shows both, ends on SIGTERM
    startDaemon();
    const Result take = ctl(QStringLiteral("take"));
    QCOMPARE(take.exitCode, 0);
    QVERIFY2(
        take.out.startsWith(QStringLiteral("/opt/quor/data/photo/image_")), qPrintable(take.out));
    QFile photo(take.out);
    QVERIFY(photo.open(QIODevice::ReadOnly));
    QCOMPARE(photo.read(3), QByteArray("\xFF\xD8\xFF"));

    QProcess monitor;
    monitor.start(ctlPath(), {QStringLiteral("monitor")});
    QVERIFY(monitor.waitForStarted());
    QString seen;
    const auto monitored = [&] { return seen += QString::fromLocal8Bit(monitor.readAll()); };
    const Result stream = ctl(QStringLiteral("stream 1"));
    QCOMPARE(stream.exitCode, 0);
    QCOMPARE(stream.out, QStringLiteral("0"));
    // A stream photo comes every second, whenever the monitor subscribed.
    QTRY_VERIFY_WITH_TIMEOUT(
        monitored().contains(QStringLiteral("PhotoTaken 0 /opt/quor/data/photo/image_")), 15000);
    const Result stop = ctl(QStringLiteral("stop"));
    QCOMPARE(stop.exitCode, 0);
    QVERIFY2(stop.out.toInt() >= 1, qPrintable(stop.out));
    QTRY_VERIFY(monitored().contains(QStringLiteral("PhotoStreamStopped ") + stop.out));

    QCOMPARE(::kill(static_cast<pid_t>(monitor.processId()), SIGTERM), 0);
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitStatus(), QProcess::NormalExit);
    QCOMPARE(monitor.exitCode(), 0);
}

void TestPhotoManagerCtl::enableAndStatus_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("on");
    QTest::newRow("enable on") << "enable on" << true;
    QTest::newRow("status on") << "status" << true;
    QTest::newRow("enable off") << "enable off" << false;
    QTest::newRow("status off") << "status" << false;
}

void TestPhotoManagerCtl::enableAndStatus()
{
    // the camera is switched in turn / expected: enable prints the state it reached, status agrees
    startDaemon();
    QFETCH(QString, command);
    QFETCH(bool, on);
    const Result result = ctl(command);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, on ? QStringLiteral("on") : QStringLiteral("off"));
}

void TestPhotoManagerCtl::failures_data()
{
    QTest::addColumn<bool>("folderMissing");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString refused = QStringLiteral("(-59): the photo folder is full or missing");
    QTest::newRow("take, folder missing") << true << "take" << 1 << refused;
    QTest::newRow("take, no CaptureDone")
        << false << "--timeout 1 take" << 4 << "no answer from photomanager within 1 s";
}

void TestPhotoManagerCtl::failures()
{
    // the photo folder is gone, or the camera manager never reports the capture / expected:
    // -59 gives exit 1, no answer within --timeout exit 4, each with its message
    startDaemon();
    QFETCH(bool, folderMissing);
    QFETCH(QString, command);
    QFETCH(QString, message);
    QDir data(m_daemon.dataDir());
    QDBusMessage sendCaptureDone
        = QDBusMessage::createMethodCall(m_device.front()->service, m_device.front()->path,
            QStringLiteral("com.zandrel.quor.sim.Control"), QStringLiteral("SetSendCaptureDone"));
    const auto fault = [&](bool on) {
        if (folderMissing)
            return on ? data.rename(QStringLiteral("photo"), QStringLiteral("photo.away"))
                      : data.rename(QStringLiteral("photo.away"), QStringLiteral("photo"));
        sendCaptureDone.setArguments({!on});
        return QDBusConnection::sessionBus().call(sendCaptureDone).type()
            == QDBusMessage::ReplyMessage;
    };
    QVERIFY(fault(true));
    const Result result = ctl(command);
    QVERIFY(fault(false));
    QTEST(result.exitCode, "exitCode");
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
}

// Started by the first test that needs it, after those that need it absent.
void TestPhotoManagerCtl::startDaemon()
{
    if (m_daemon.isRunning())
        return;
    QVERIFY(m_daemon.start());
    QVERIFY(m_daemon.waitForService());
    QVERIFY(m_daemon.waitForLine(QStringLiteral("statemachine available")));
}

QTEST_GUILESS_MAIN(TestPhotoManagerCtl)
#include "tst_photomanagerctl.moc"

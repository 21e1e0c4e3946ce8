#include "MockPeer.h"
#include "PhotoClient.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "dbus/DBusInterface.h"

#include <QtTest>

using Hub = DBusInterface;
Q_DECLARE_METATYPE(Hub::CameraCommand)
Q_DECLARE_METATYPE(Hub::RGBManagerCommand)

namespace {
const char kCamera[] = "com.zandrel.quor.cameramanager";
const char kCameraPath[] = "/com/zandrel/quor/cameramanager/cameraobj";
const char kRgb[] = "com.zandrel.quor.rgbfeaturemanager";
const char kRgbPath[] = "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj";
const int kTimeoutMs = 300;

// Python bodies of the mocks' methods for each way a peer can behave.
QString body(const QString& behaviour, const QString& value)
{
    if (behaviour == QLatin1String("error"))
        return QStringLiteral(
            "raise dbus.exceptions.DBusException('boom', name='com.zandrel.Error.Failed')");
    if (behaviour == QLatin1String("late"))
        return QStringLiteral("__import__('time').sleep(0.8); ret = ") + value;
    return QStringLiteral("ret = ") + value;
}
} // namespace

// The hub's clients of the camera manager and the RGB feature manager,
// against python-dbusmock peers on a private bus.
class TestSiblingClients : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    MockPeer m_camera{QLatin1String(kCamera), QLatin1String(kCameraPath),
        QStringLiteral("com.zandrel.quor.camerainterface")};
    MockPeer m_rgb{QLatin1String(kRgb), QLatin1String(kRgbPath),
        QStringLiteral("com.zandrel.quor.rgbmanagerinterface")};
    RecordingLog* m_log = nullptr;
    Hub* m_hub = nullptr; // clients of the mocks
    Hub* m_absentHub = nullptr; // clients of names nobody owns

    // Every method of both peers answers as the behaviour says; "wrongtype"
    // answers with a string where a number or flag is expected.
    void behave(const QString& behaviour, bool active = true)
    {
        const bool wrong = behaviour == QLatin1String("wrongtype");
        const QString status = wrong ? QStringLiteral("'x'") : QStringLiteral("0");
        const QString out = wrong ? QStringLiteral("s") : QStringLiteral("i");
        for (const char* method : {"CaptureImage", "CaptureSingle"})
            QVERIFY(m_camera.addMethod(
                QLatin1String(method), QStringLiteral("s"), out, body(behaviour, status)));
        QVERIFY(m_camera.addMethod(
            QStringLiteral("VideoSetActive"), QStringLiteral("b"), out, body(behaviour, status)));
        QVERIFY(
            m_camera.addMethod(QStringLiteral("VideoGetActive"), QString(), out + QLatin1Char('b'),
                body(behaviour,
                    QStringLiteral("(%1, %2)")
                        .arg(status, active ? QStringLiteral("True") : QStringLiteral("False")))));
        QVERIFY(m_rgb.addMethod(QStringLiteral("IsDisabled"), QString(),
            wrong ? QStringLiteral("s") : QStringLiteral("b"),
            body(behaviour, wrong ? status : QStringLiteral("True"))));
        QVERIFY(m_rgb.addMethod(
            QStringLiteral("Disable"), QStringLiteral("bb"), out, body(behaviour, status)));
        QVERIFY(m_camera.clearCalls() && m_rgb.clearCalls());
    }
    static QTimer* checkTimer(Hub* hub)
    {
        return hub->findChild<QTimer*>();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_camera.start());
        QVERIFY(m_rgb.start());
        m_log = new RecordingLog;
        m_hub = new Hub;
        QVERIFY(m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        QVERIFY(!m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(!m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        m_absentHub = new Hub;
        QVERIFY(m_absentHub->InitCameraProxy("com.zandrel.quor.nobody", kCameraPath, kTimeoutMs));
        QVERIFY(m_absentHub->InitRGBManagerProxy("com.zandrel.quor.nobody", kRgbPath, kTimeoutMs));
    }
    void cleanupTestCase()
    {
        delete m_absentHub;
        delete m_hub;
        delete m_log;
    }
    void init()
    {
        m_log->clear();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
    }

    // CameraCallSynch: the result list for every command, argument count and
    // failure, and the call that reached the camera manager (if any).
    void cameraCalls_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<Hub::CameraCommand>("command");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QVariantList>("expected");
        QTest::addColumn<QString>("remote"); // method the peer saw, empty for none
        const auto cmd = [](int value) { return static_cast<Hub::CameraCommand>(value); };
        const QVariantList path{QStringLiteral("/p/image.jpg")};
        for (const QString& failure :
            {QStringLiteral("error"), QStringLiteral("late"), QStringLiteral("wrongtype")}) {
            const QByteArray f = failure.toLatin1();
            QTest::newRow(f + " capture single")
                << failure << cmd(1) << path << QVariantList{} << "CaptureSingle";
            QTest::newRow(f + " set active")
                << failure << cmd(2) << QVariantList{true} << QVariantList{} << "VideoSetActive";
        }
        QTest::newRow("capture image")
            << "ok" << cmd(0) << path << QVariantList{0} << "CaptureImage";
        QTest::newRow("capture single")
            << "ok" << cmd(1) << path << QVariantList{0} << "CaptureSingle";
        QTest::newRow("set active")
            << "ok" << cmd(2) << QVariantList{false} << QVariantList{0} << "VideoSetActive";
        QTest::newRow("get active")
            << "ok" << cmd(3) << QVariantList{1, 2} << QVariantList{0, true} << "VideoGetActive";
        QTest::newRow("value 7 captures")
            << "ok" << cmd(7) << path << QVariantList{0} << "CaptureImage";
        QTest::newRow("no arguments") << "ok" << cmd(1) << QVariantList{} << QVariantList{} << "";
        QTest::newRow("two arguments")
            << "ok" << cmd(1) << QVariantList{1, 2} << QVariantList{} << "";
        QTest::newRow("set active, none")
            << "ok" << cmd(2) << QVariantList{} << QVariantList{} << "";
        QTest::newRow("get active, error")
            << "error" << cmd(3) << QVariantList{} << QVariantList{0, false} << "VideoGetActive";
        QTest::newRow("get active, late")
            << "late" << cmd(3) << QVariantList{} << QVariantList{0, false} << "VideoGetActive";
        QTest::newRow("absent capture") << "absent" << cmd(1) << path << QVariantList{} << "";
        QTest::newRow("absent get active")
            << "absent" << cmd(3) << QVariantList{} << QVariantList{0, false} << "";
    }
    void cameraCalls()
    {
        QFETCH(QString, behaviour);
        QFETCH(Hub::CameraCommand, command);
        QFETCH(QVariantList, args);
        QFETCH(QVariantList, expected);
        QFETCH(QString, remote);
        behave(behaviour);
        Hub* hub = behaviour == QLatin1String("absent") ? m_absentHub : m_hub;
        QCOMPARE(hub->CameraCallSynch(command, args), expected);
        QCOMPARE(
            m_log->messages().value(0), QStringLiteral("Camera Call Synch %1").arg(int(command)));
        const QList<MockPeer::Call> calls = m_camera.calls();
        QCOMPARE(calls.size(), remote.isEmpty() ? 0 : 1);
        if (!remote.isEmpty()) {
            QCOMPARE(calls.at(0).method, remote);
            QCOMPARE(calls.at(0).args,
                command == Hub::CameraCommand_VideoGetActive ? QVariantList{} : args);
        }
    }

    // RGBManagerCallSynch, likewise; Disable always goes out with save false.
    void rgbCalls_data()
    {
        QTest::addColumn<QString>("behaviour");
        QTest::addColumn<Hub::RGBManagerCommand>("command");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QVariantList>("expected");
        QTest::addColumn<QVariantList>("remoteArgs"); // of the one call the peer saw
        const auto cmd = [](int value) { return static_cast<Hub::RGBManagerCommand>(value); };
        const QVariantList none{QStringLiteral("no call")};
        QTest::newRow("is disabled, argument ignored")
            << "ok" << cmd(0) << QVariantList{1} << QVariantList{true} << QVariantList{};
        QTest::newRow("value 5 asks")
            << "ok" << cmd(5) << QVariantList{} << QVariantList{true} << QVariantList{};
        QTest::newRow("disable") << "ok" << cmd(1) << QVariantList{true} << QVariantList{0}
                                 << QVariantList{true, false};
        QTest::newRow("enable") << "ok" << cmd(1) << QVariantList{false} << QVariantList{0}
                                << QVariantList{false, false};
        QTest::newRow("disable, none")
            << "ok" << cmd(1) << QVariantList{} << QVariantList{} << none;
        QTest::newRow("disable, two")
            << "ok" << cmd(1) << QVariantList{true, true} << QVariantList{} << none;
        for (const QString& failure :
            {QStringLiteral("error"), QStringLiteral("late"), QStringLiteral("wrongtype")}) {
            QTest::newRow(failure.toLatin1() + " is disabled")
                << failure << cmd(0) << QVariantList{} << QVariantList{} << QVariantList{};
            QTest::newRow(failure.toLatin1() + " disable")
                << failure << cmd(1) << QVariantList{true} << QVariantList{}
                << QVariantList{true, false};
        }
        QTest::newRow("absent is disabled")
            << "absent" << cmd(0) << QVariantList{} << QVariantList{} << none;
        QTest::newRow("absent disable")
            << "absent" << cmd(1) << QVariantList{true} << QVariantList{} << none;
    }
    void rgbCalls()
    {
        QFETCH(QString, behaviour);
        QFETCH(Hub::RGBManagerCommand, command);
        QFETCH(QVariantList, args);
        QFETCH(QVariantList, expected);
        QFETCH(QVariantList, remoteArgs);
        behave(behaviour);
        Hub* hub = behaviour == QLatin1String("absent") ? m_absentHub : m_hub;
        QCOMPARE(hub->RGBManagerCallSynch(command, args), expected);
        QCOMPARE(m_log->messages().value(0),
            QStringLiteral("RGBManager Call Synch %1").arg(int(command)));
        const QList<MockPeer::Call> calls = m_rgb.calls();
        if (remoteArgs.value(0).userType() == QMetaType::QString) {
            QVERIFY(calls.isEmpty());
        } else {
            QCOMPARE(calls.size(), 1);
            QCOMPARE(calls.at(0).method,
                command == 1 ? QStringLiteral("Disable") : QStringLiteral("IsDisabled"));
            QCOMPARE(calls.at(0).args, remoteArgs);
        }
    }

    // Replies with extra values are read by their first ones; replies that
    // lack the value fail like errors, but for VideoGetActive, whose status
    // alone is still read.
    void wrongArgumentCounts()
    {
        const QString s = QStringLiteral("s"), b = QStringLiteral("b"), bb = QStringLiteral("bb");
        const QString two = QStringLiteral("ret = (0, 0)");
        QVERIFY(m_camera.addMethod(QStringLiteral("CaptureSingle"), s, QStringLiteral("ii"), two));
        QVERIFY(m_camera.addMethod(QStringLiteral("VideoSetActive"), b, QStringLiteral("ii"), two));
        QVERIFY(m_camera.addMethod(QStringLiteral("VideoGetActive"), QString(), QStringLiteral("i"),
            QStringLiteral("ret = 7")));
        QVERIFY(m_rgb.addMethod(
            QStringLiteral("IsDisabled"), QString(), bb, QStringLiteral("ret = (True, True)")));
        QVERIFY(m_rgb.addMethod(QStringLiteral("Disable"), bb, QString(), QString()));
        QCOMPARE(m_hub->CameraCallSynch(Hub::CameraCommand_CaptureSingle, {QStringLiteral("/p")}),
            QVariantList{0});
        QCOMPARE(
            m_hub->CameraCallSynch(Hub::CameraCommand_VideoSetActive, {true}), QVariantList{0});
        QCOMPARE(m_hub->CameraCallSynch(Hub::CameraCommand_VideoGetActive, {}),
            (QVariantList{7, false}));
        QCOMPARE(
            m_hub->RGBManagerCallSynch(Hub::RGBManagerCommand_IsDisabled, {}), QVariantList{true});
        QCOMPARE(
            m_hub->RGBManagerCallSynch(Hub::RGBManagerCommand_Disable, {true}), QVariantList());
    }

    // Without clients every call gives an empty list after its line.
    void callsWithoutClients()
    {
        Hub hub;
        QCOMPARE(hub.CameraCallSynch(Hub::CameraCommand_VideoGetActive, {}), QVariantList{});
        QCOMPARE(hub.RGBManagerCallSynch(Hub::RGBManagerCommand_IsDisabled, {}), QVariantList{});
        QCOMPARE(m_log->messages(),
            (QStringList{
                QStringLiteral("Camera Call Synch 3"), QStringLiteral("RGBManager Call Synch 0")}));
    }

    // IsEnabledCamera over the bus: true only for status 0 with video active.
    void isEnabledCamera_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("expected");
        QTest::newRow("active") << "(0, True)" << true;
        QTest::newRow("inactive") << "(0, False)" << false;
        QTest::newRow("failing status") << "(1, True)" << false;
    }
    void isEnabledCamera()
    {
        QFETCH(QString, reply);
        QFETCH(bool, expected);
        Hub service;
        QVERIFY(service.RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        QVERIFY(service.InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(m_camera.addMethod(QStringLiteral("VideoGetActive"), QString(),
            QStringLiteral("ib"), QStringLiteral("ret = ") + reply));
        PhotoClient client;
        QCOMPARE(
            client.call(QStringLiteral("IsEnabledCamera")).arguments(), QVariantList{expected});
        QDBusConnection::sessionBus().unregisterService(
            QStringLiteral("com.zandrel.quor.photomanager"));
    }

    // The camera manager's CaptureDone is relayed unchanged, whatever its status.
    void captureDoneIsRelayed()
    {
        QSignalSpy events(m_hub, &Hub::EventReceived);
        QVERIFY(m_camera.emitSignal(
            QStringLiteral("CaptureDone"), QStringLiteral("is"), {-3, QStringLiteral("/p/x.jpg")}));
        QVERIFY(events.wait());
        QCOMPARE(events.at(0).at(0).value<Hub::CameraEvent>(), Hub::CameraEvent_CaptureDone);
        QCOMPARE(events.at(0).at(1).value<QVariantList>(),
            (QVariantList{-3, QStringLiteral("/p/x.jpg")}));
        QVERIFY(m_log->lines().isEmpty());
    }

    // Absent at start: a check every second and no event.
    void absentCameraIsCheckedEverySecond()
    {
        Hub hub;
        QSignalSpy events(&hub, &Hub::EventReceived);
        QVERIFY(hub.InitCameraProxy("com.zandrel.quor.nobody", kCameraPath, kTimeoutMs));
        QVERIFY(m_log->waitFor(QStringLiteral("Check for Service com.zandrel.quor.nobody on path "
                                              "/com/zandrel/quor/cameramanager/cameraobj Up"),
            2, 5000));
        QCOMPARE(events.size(), 0);
        QVERIFY(checkTimer(&hub)->isActive());
        QCOMPARE(checkTimer(&hub)->interval(), 1000);
    }

    // Present at start: one check finds it, then it leaves and comes back;
    // each change is one event, and the check timer stays stopped.
    void presenceIsFollowed()
    {
        behave(QStringLiteral("ok"));
        Hub hub;
        QSignalSpy events(&hub, &Hub::EventReceived);
        QVERIFY(hub.InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(events.wait(5000));
        QCOMPARE(m_log->messages().filter(QLatin1String(kCamera)),
            (QStringList{QStringLiteral("Check for Service %1 on path %2 Up")
                             .arg(QLatin1String(kCamera), QLatin1String(kCameraPath)),
                QStringLiteral("Check for Service %1 on path %2 Up: SUCCEED")
                    .arg(QLatin1String(kCamera), QLatin1String(kCameraPath)),
                QStringLiteral("Camera DBus service %1 REGISTERED").arg(QLatin1String(kCamera))}));
        QCOMPARE(events.at(0).at(1).value<QVariantList>(), QVariantList{true});
        QVERIFY(!checkTimer(&hub)->isActive());

        QVERIFY(m_camera.stop());
        QTRY_COMPARE(events.size(), 2);
        QCOMPARE(events.at(1).at(1).value<QVariantList>(), QVariantList{false});
        QVERIFY(m_log->contains(
            QStringLiteral("Camera DBus service com.zandrel.quor.cameramanager UNREGISTERED")));
        QVERIFY(!checkTimer(&hub)->isActive());

        QVERIFY(m_camera.start());
        QTRY_COMPARE(events.size(), 3);
        QCOMPARE(events.at(2).at(1).value<QVariantList>(), QVariantList{true});
        // One check ("Up" and "Up: SUCCEED"), none after leaving or coming back.
        QCOMPARE(
            m_log->count(QStringLiteral("Check for Service com.zandrel.quor.cameramanager")), 2);
    }
};

QTEST_GUILESS_MAIN(TestSiblingClients)
#include "tst_siblingclients.moc"

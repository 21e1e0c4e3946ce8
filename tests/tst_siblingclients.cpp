#include "PhotoClient.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "dbus/DBusInterface.h"

#include <QtTest>

using Hub = DBusInterface;

namespace {
const char kCamera[] = "com.zandrel.quor.cameramanager";
const char kCameraPath[] = "/com/zandrel/quor/cameramanager/cameraobj";
const char kRgb[] = "com.zandrel.quor.rgbfeaturemanager";
const char kRgbPath[] = "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj";
const int kTimeoutMs = 300;
} // namespace

// The hub's clients of the camera manager and the RGB feature manager,
// against dbusmock peers on a private bus, with short call time-outs.
class TestSiblingClients : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    RecordingLog m_log;
    Hub* m_hub = nullptr; // clients of the mocks
    Hub* m_absent = nullptr; // clients of names nobody owns

    QVariantList camera(int command, const QVariantList& args, Hub* hub = nullptr)
    {
        return (hub ? hub : m_hub)->CameraCallSynch(static_cast<Hub::CameraCommand>(command), args);
    }
    QVariantList rgb(int command, const QVariantList& args, Hub* hub = nullptr)
    {
        return (hub ? hub : m_hub)
            ->RGBManagerCallSynch(static_cast<Hub::RGBManagerCommand>(command), args);
    }
    static QStringList log(const QList<MockPeer::Call>& calls)
    {
        QStringList result;
        for (const MockPeer::Call& call : calls) {
            QStringList args;
            for (const QVariant& arg : call.args)
                args << arg.toString();
            result << call.method + '(' + args.join(',') + ')';
        }
        return result;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
        m_hub = new Hub;
        QVERIFY(m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        QVERIFY(!m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(!m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        m_absent = new Hub;
        QVERIFY(m_absent->InitCameraProxy("com.zandrel.quor.nobody", kCameraPath, kTimeoutMs));
        QVERIFY(m_absent->InitRGBManagerProxy("com.zandrel.quor.nobody", kRgbPath, kTimeoutMs));
    }
    void cleanupTestCase()
    {
        delete m_absent;
        delete m_hub;
    }
    void init()
    {
        QVERIFY(m_mocks.reset());
        QVERIFY(m_mocks.camera.addMethod("CaptureImage", "s", "i", "ret = 0"));
        m_log.lines.clear();
    }

    // Every command value reaches its method with its argument (Disable with
    // save false; any camera value but 1-3 captures, any RGB value but 1 asks).
    void callsAndResults()
    {
        QCOMPARE(camera(0, {"/p/a.jpg"}), QVariantList{0});
        QCOMPARE(camera(1, {"/p/b.jpg"}), QVariantList{0});
        QCOMPARE(camera(2, {true}), QVariantList{0});
        QCOMPARE(camera(3, {1, 2}), (QVariantList{0, true}));
        QCOMPARE(camera(7, {"/p/c.jpg"}), QVariantList{0});
        QCOMPARE(rgb(0, {1}), QVariantList{false});
        QCOMPARE(rgb(1, {true}), QVariantList{0});
        QCOMPARE(rgb(5, {}), QVariantList{true});
        QCOMPARE(rgb(1, {false}), QVariantList{0});
        QCOMPARE(log(m_mocks.camera.calls()),
            (QStringList{"CaptureImage(/p/a.jpg)", "CaptureSingle(/p/b.jpg)",
                "VideoSetActive(true)", "VideoGetActive()", "CaptureImage(/p/c.jpg)"}));
        QCOMPARE(log(m_mocks.rgb.calls()),
            (QStringList{
                "IsDisabled()", "Disable(true,false)", "IsDisabled()", "Disable(false,false)"}));
        QCOMPARE(m_log.messages().first(), "Camera Call Synch 0");
        QCOMPARE(m_log.messages().at(5), "RGBManager Call Synch 0");
    }

    // Error replies, replies after the time-out, replies of the wrong type
    // and absent peers: empty results, but [0, false] for VideoGetActive.
    void failures_data()
    {
        QTest::addColumn<QString>("code"); // empty: the peer is absent
        QTest::addColumn<QString>("out"); // reply signature of the status methods
        QTest::newRow("error")
            << "raise dbus.exceptions.DBusException('boom', name='com.zandrel.Error')"
            << "i";
        QTest::newRow("late") << "__import__('time').sleep(0.8); ret = 0"
                              << "i";
        QTest::newRow("wrong type") << "ret = 'x'"
                                    << "s";
        QTest::newRow("absent") << ""
                                << "i";
    }
    void failures()
    {
        QFETCH(QString, code);
        QFETCH(QString, out);
        const QString b = "b";
        QString getActive = code;
        getActive.replace("'x'", "('x', False)");
        QVERIFY(m_mocks.camera.addMethod("CaptureSingle", "s", out, code));
        QVERIFY(m_mocks.camera.addMethod("VideoSetActive", b, out, code));
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", QString(), out + b, getActive));
        const QString flag = out == "s" ? out : b; // IsDisabled answers a flag
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", QString(), flag, code));
        QVERIFY(m_mocks.rgb.addMethod("Disable", "bb", out, code));
        Hub* hub = code.isEmpty() ? m_absent : m_hub;
        QCOMPARE(camera(1, {"/p/x.jpg"}, hub), QVariantList());
        QCOMPARE(camera(2, {true}, hub), QVariantList());
        QCOMPARE(camera(3, {}, hub), (QVariantList{0, false}));
        QCOMPARE(rgb(0, {}, hub), QVariantList());
        QCOMPARE(rgb(1, {true}, hub), QVariantList());
    }

    // A bad argument count, or no client at all: an empty result after the
    // entry line, and no call reaches the peer.
    void noCallMade()
    {
        Hub unset;
        QCOMPARE(camera(1, {}), QVariantList());
        QCOMPARE(camera(1, {1, 2}), QVariantList());
        QCOMPARE(camera(2, {}), QVariantList());
        QCOMPARE(rgb(1, {}), QVariantList());
        QCOMPARE(rgb(1, {true, true}), QVariantList());
        QCOMPARE(camera(3, {}, &unset), QVariantList());
        QCOMPARE(rgb(0, {}, &unset), QVariantList());
        QVERIFY(m_mocks.camera.calls().isEmpty() && m_mocks.rgb.calls().isEmpty());
        QCOMPARE(m_log.lines.size(), 7);
    }

    // Over the bus, IsEnabledCamera is true only for status 0 with video active.
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
        Hub service;
        QVERIFY(service.RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        QVERIFY(service.InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(m_mocks.camera.addMethod(
            "VideoGetActive", QString(), "ib", QStringLiteral("ret = ") + reply));
        PhotoClient client;
        QTEST(client.call("IsEnabledCamera").arguments().value(0).toBool(), "expected");
        QDBusConnection::sessionBus().unregisterService("com.zandrel.quor.photomanager");
    }

    // CaptureDone is relayed unchanged whatever its status, without a line.
    void captureDoneIsRelayed()
    {
        QSignalSpy events(m_hub, &Hub::EventReceived);
        QVERIFY(m_mocks.camera.emitSignal("CaptureDone", "is", {-3, "/p/x.jpg"}));
        QVERIFY(events.wait());
        QCOMPARE(events.at(0).at(0).value<Hub::CameraEvent>(), Hub::CameraEvent_CaptureDone);
        QCOMPARE(events.at(0).at(1).value<QVariantList>(), (QVariantList{-3, "/p/x.jpg"}));
        QVERIFY(m_log.lines.isEmpty());
    }

    // Absent at start: a check every second and no event.
    void absentCameraIsCheckedEverySecond()
    {
        Hub hub;
        QSignalSpy events(&hub, &Hub::EventReceived);
        QVERIFY(hub.InitCameraProxy("com.zandrel.quor.missing", kCameraPath, kTimeoutMs));
        QVERIFY(m_log.waitFor(QStringLiteral("Check for Service com.zandrel.quor.missing on path "
                                             "/com/zandrel/quor/cameramanager/cameraobj Up"),
            2, 5000));
        QCOMPARE(events.size(), 0);
        QCOMPARE(hub.findChild<QTimer*>()->interval(), 1000);
    }

    // Present at start: found by one check, then followed as it leaves and
    // returns, one event each, with the check timer stopped.
    void presenceIsFollowed()
    {
        Hub hub;
        QSignalSpy events(&hub, &Hub::EventReceived);
        QVERIFY(hub.InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(events.wait(5000));
        const QString check = QStringLiteral("Check for Service %1 on path %2 Up")
                                  .arg(QLatin1String(kCamera), QLatin1String(kCameraPath));
        QCOMPARE(m_log.messages().filter(QLatin1String(kCamera)),
            (QStringList{check, check + ": SUCCEED",
                QStringLiteral("Camera DBus service %1 REGISTERED").arg(QLatin1String(kCamera))}));
        QVERIFY(m_mocks.camera.stop());
        QTRY_COMPARE(events.size(), 2);
        QVERIFY(m_mocks.camera.start());
        QTRY_COMPARE(events.size(), 3);
        QCOMPARE(
            events.at(1).at(1).value<QVariantList>() + events.at(2).at(1).value<QVariantList>(),
            (QVariantList{false, true}));
        QVERIFY(m_log.contains("Camera DBus service com.zandrel.quor.cameramanager UNREGISTERED"));
        QVERIFY(!hub.findChild<QTimer*>()->isActive());
        QCOMPARE(m_log.count(check), 2); // "Up" and "Up: SUCCEED" of the one check
    }
};

QTEST_GUILESS_MAIN(TestSiblingClients)
#include "tst_siblingclients.moc"

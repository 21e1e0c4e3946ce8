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

// The hub on a private bus: the photo service as a client sees it, through a
// connection of the client's own, and the hub's clients of the camera manager
// and the RGB feature manager, against dbusmock peers with short time-outs.
class TestHub : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    RecordingLog m_log;
    QTemporaryDir m_dir;
    Hub* m_hub = nullptr; // on the bus, with clients of the mocks
    PhotoClient* m_client = nullptr;
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
        QVERIFY(m_hub->RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        QVERIFY(m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        QVERIFY(!m_hub->InitCameraProxy(kCamera, kCameraPath, kTimeoutMs));
        QVERIFY(!m_hub->InitRGBManagerProxy(kRgb, kRgbPath, kTimeoutMs));
        m_absent = new Hub;
        QVERIFY(m_absent->InitCameraProxy("com.zandrel.quor.nobody", kCameraPath, kTimeoutMs));
        QVERIFY(m_absent->InitRGBManagerProxy("com.zandrel.quor.nobody", kRgbPath, kTimeoutMs));
        m_hub->SetPhotoState({true, false, false, 0, 0, QString()}); // camera manager present
        m_client = new PhotoClient;
        QVERIFY(m_log.waitFor("REGISTERED")); // the one availability check is behind us
    }
    void cleanupTestCase()
    {
        delete m_client;
        delete m_absent;
        delete m_hub;
    }
    void init()
    {
        QVERIFY(m_mocks.reset());
        QVERIFY(m_mocks.camera.addMethod("CaptureImage", "s", "i", "ret = 0"));
        m_log.lines.clear();
        m_client->received.clear();
    }

    // Introspection gives each interface file's own text, comments included,
    // beside the standard interfaces only.
    void introspectionIsTheInterfaceFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("photo") << "photointerface";
        QTest::newRow("state") << "photostate";
    }
    void introspectionIsTheInterfaceFile()
    {
        QFETCH(QString, file);
        QFile xmlFile(QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_SOURCE_DIR"))
            + "/data/com.zandrel.quor." + file + ".xml");
        QVERIFY(xmlFile.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(xmlFile.readAll());
        const int start = xml.indexOf("<interface ");
        const QString interface = xml.mid(start, xml.indexOf("</interface>") + 12 - start);
        const QDBusMessage reply
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "introspect")
                  .call(QDBusMessage::createMethodCall("com.zandrel.quor.photomanager",
                            "/com/zandrel/quor/photomanager/photoobj",
                            "org.freedesktop.DBus.Introspectable", "Introspect"),
                      QDBus::BlockWithGui);
        const QString introspection = reply.arguments().value(0).toString();
        QVERIFY(interface.contains("<!--"));
        QVERIFY2(introspection.contains(interface), qPrintable(introspection));
        QCOMPARE(introspection.count("<interface "), 5);
    }

    // Each accepted call is answered 0 and becomes one CommandReceived with its list.
    void callsBecomeCommands_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<int>("command");
        QTest::newRow("enable") << "EnableCamera" << QVariantList{true} << 0;
        QTest::newRow("disable") << "EnableCamera" << QVariantList{false} << 0;
        QTest::newRow("photo") << "TakePhoto" << QVariantList{} << 2;
        QTest::newRow("stop") << "StopPhotoStream" << QVariantList{} << 4;
    }
    void callsBecomeCommands()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, args);
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        QCOMPARE(m_client->callStatus(method, args), 0);
        QCOMPARE(commands.size(), 1);
        QTEST(commands.at(0).at(0).toInt(), "command");
        QCOMPARE(commands.at(0).at(1).value<QVariantList>(), args);
    }

    // Wrong argument types are refused by the bus library and reach nobody.
    void wrongTypesAreRefused()
    {
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        QCOMPARE(m_client->callStatus("TakePhotoStream", {"x"}), -1000);
        QCOMPARE(m_client->callStatus("EnableCamera", {1}), -1000);
        QCOMPARE(m_client->callStatus("TakePhoto", {1}), -1000);
        QCOMPARE(commands.size(), 0);
    }

    // A folder that cannot be kept within its limit refuses photos with -59
    // and a level-2 line, no command; a full one is trimmed first. The last
    // folder handed over is the one used.
    void folderCheck()
    {
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        const QByteArray full = QFile::encodeName(m_dir.path());
        for (int i = 0; i < 3; ++i)
            QVERIFY(QFile(m_dir.path() + QStringLiteral("/%1").arg(i)).open(QIODevice::WriteOnly));
        m_hub->SetPhotoFolder(full, 2);
        m_hub->SetPhotoFolder(full + "/missing", 100);
        QCOMPARE(m_client->callStatus("TakePhoto"), -59);
        QCOMPARE(m_client->callStatus("TakePhotoStream", {5}), -59);
        QCOMPARE(commands.size(), 0);
        QCOMPARE(m_log.messages(),
            (QStringList{"TakePhoto: max photos reached, no more photo please",
                "TakePhotoStream: max photos reached, no more photo please"}));
        QCOMPARE(m_log.lines.at(0).level, 2u);
        m_hub->SetPhotoFolder(full, 2);
        QCOMPARE(m_client->callStatus("TakePhoto"), 0);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 2);
    }

    // EmitEvent sends the matching signal for a list of the right length
    // only, and logs every call. The last signal marks the end, so missing
    // ones show without waiting for a time-out.
    void emitEventPublishesSignals()
    {
        m_hub->EmitEvent(Hub::PhotoEvent_CameraEnabled, {true});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoTaken, {0, "/p/a.jpg"});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoTaken, {0});
        m_hub->EmitEvent(Hub::PhotoEvent_CameraEnabled, {true, 1});
        m_hub->EmitEvent(static_cast<Hub::PhotoEvent>(3), {1});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoStreamStopped, {7});
        QVERIFY(m_client->waitForSignal("PhotoStreamStopped"));
        QCOMPARE(m_client->received,
            (QStringList{
                "CameraEnabled(true)", "PhotoTaken(0,/p/a.jpg)", "PhotoStreamStopped(7)"}));
        QCOMPARE(m_log.messages().join(',').remove("Emit Photo Event "), "0,1,1,0,3,2");
    }

    // A name another connection owns cannot be registered.
    void registrationFailsWhenNameIsTaken()
    {
        QVERIFY(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other")
                    .registerService("com.zandrel.quor.taken"));
        QVERIFY(!Hub().RegisterDBusService("com.zandrel.quor.taken", "/other/path"));
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
        QVERIFY(!unset.IsEnabledCamera());
        QCOMPARE(rgb(0, {}, &unset), QVariantList());
        QVERIFY(m_mocks.camera.calls().isEmpty() && m_mocks.rgb.calls().isEmpty());
        QCOMPARE(m_log.lines.size(), 8);
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
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", "", "ib", "ret = " + reply));
        QTEST(m_client->call("IsEnabledCamera").arguments().value(0).toBool(), "expected");
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

QTEST_GUILESS_MAIN(TestHub)
#include "tst_hub.moc"

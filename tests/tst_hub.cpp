#include "PhotoClient.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "dbus/DBusInterface.h"

#include <QtTest>

using Hub = DBusInterface;

namespace {
const char kCameraPath[] = "/com/zandrel/quor/cameramanager/cameraobj";
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
    Hub* m_absent = nullptr; // with clients of a name nobody owns
    PhotoClient* m_client = nullptr;

    QVariantList camera(Hub::CameraCommand command, const QVariantList& args, Hub* hub = nullptr)
    {
        return (hub ? hub : m_hub)->CameraCallSynch(command, args);
    }
    QVariantList rgb(Hub::RGBManagerCommand command, const QVariantList& args, Hub* hub = nullptr)
    {
        return (hub ? hub : m_hub)->RGBManagerCallSynch(command, args);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
        m_hub = new Hub;
        QVERIFY(m_hub->RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        QVERIFY(m_hub->InitCameraProxy("com.zandrel.quor.cameramanager", kCameraPath, kTimeoutMs));
        QVERIFY(
            m_hub->InitRGBManagerProxy("com.zandrel.quor.rgbfeaturemanager", kRgbPath, kTimeoutMs));
        m_absent = new Hub;
        QVERIFY(m_absent->InitCameraProxy("com.zandrel.quor.nobody", kCameraPath, kTimeoutMs));
        QVERIFY(m_absent->InitRGBManagerProxy("com.zandrel.quor.nobody", kRgbPath, kTimeoutMs));
        m_client = new PhotoClient;
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

    // Introspection gives the interface file's own text, comments included,
    // beside the standard interfaces only.
    void introspectionIsTheInterfaceFile()
    {
        QFile file(qEnvironmentVariable("PHOTOMANAGER_SOURCE_DIR")
            + "/data/com.zandrel.quor.photointerface.xml");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(file.readAll());
        const int start = xml.indexOf("<interface ");
        const QString interface = xml.mid(start, xml.indexOf("</interface>") + 12 - start);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("com.zandrel.quor.photomanager",
                "/com/zandrel/quor/photomanager/photoobj", "org.freedesktop.DBus.Introspectable",
                "Introspect"),
            QDBus::BlockWithGui);
        const QString introspection = reply.arguments().value(0).toString();
        QVERIFY(interface.contains("-52=photo stream not running"));
        QVERIFY2(introspection.contains(interface), qPrintable(introspection));
        QCOMPARE(introspection.count("<interface "), 4);
    }

    // A folder that cannot be kept within its limit refuses photos with -59
    // and a level-2 line, and nothing is asked of the controller; a full one
    // is trimmed first. The last folder handed over is the one used.
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
        const auto refusals = m_log.matching(": max photos reached, no more photo please");
        QCOMPARE(refusals.size(), 2);
        QVERIFY(refusals.at(0).level == 2 && refusals.at(1).level == 2);
        m_hub->SetPhotoFolder(full, 2);
        QVERIFY(m_client->callStatus("TakePhoto") != -59);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 2);
    }

    // EmitEvent sends the matching signal for a list of the right length
    // only. The last signal marks the end, so missing ones show at once.
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
    }

    // Each command reaches its method with its arguments and gives back the
    // reply (Disable with save false); a wrong argument count, or no client
    // at all, makes no call.
    void siblingCalls()
    {
        QCOMPARE(camera(Hub::CameraCommand_CaptureImage, {"/p/a.jpg"}), QVariantList{0});
        QCOMPARE(camera(Hub::CameraCommand_CaptureSingle, {"/p/b.jpg"}), QVariantList{0});
        QCOMPARE(camera(Hub::CameraCommand_VideoSetActive, {true}), QVariantList{0});
        QCOMPARE(camera(Hub::CameraCommand_VideoGetActive, {}), (QVariantList{0, true}));
        QCOMPARE(rgb(Hub::RGBManagerCommand_IsDisabled, {}), QVariantList{false});
        QCOMPARE(rgb(Hub::RGBManagerCommand_Disable, {true}), QVariantList{0});
        QCOMPARE(rgb(Hub::RGBManagerCommand_IsDisabled, {}), QVariantList{true});
        Hub unset;
        for (const QVariantList& wrongCount : {QVariantList{}, QVariantList{true, true}}) {
            QCOMPARE(camera(Hub::CameraCommand_CaptureSingle, wrongCount), QVariantList());
            QCOMPARE(camera(Hub::CameraCommand_VideoSetActive, wrongCount), QVariantList());
            QCOMPARE(rgb(Hub::RGBManagerCommand_Disable, wrongCount), QVariantList());
        }
        QCOMPARE(camera(Hub::CameraCommand_CaptureSingle, {"/p/c.jpg"}, &unset), QVariantList());
        QCOMPARE(rgb(Hub::RGBManagerCommand_IsDisabled, {}, &unset), QVariantList());
        QVERIFY(!unset.IsEnabledCamera());
        QCOMPARE(m_mocks.camera.callLog(),
            (QStringList{"CaptureImage(/p/a.jpg)", "CaptureSingle(/p/b.jpg)",
                "VideoSetActive(true)", "VideoGetActive()"}));
        QCOMPARE(m_mocks.rgb.callLog(),
            (QStringList{"IsDisabled()", "Disable(true,false)", "IsDisabled()"}));
    }

    // Error replies, replies after the time-out, replies of the wrong type
    // and absent peers: empty results, but [0, false] for VideoGetActive.
    void failures_data()
    {
        QTest::addColumn<QString>("code"); // empty: the peer is absent
        QTest::addColumn<QString>("out"); // reply signature of the status methods
        QTest::newRow("error") << "raise dbus.exceptions.DBusException('boom', name='x.E')"
                               << "i";
        QTest::newRow("late") << "__import__('time').sleep(0.5); ret = 0"
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
        QString getActive = code;
        getActive.replace("'x'", "('x', False)");
        QVERIFY(m_mocks.camera.addMethod("CaptureSingle", "s", out, code));
        QVERIFY(m_mocks.camera.addMethod("VideoSetActive", "b", out, code));
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", QString(), out + "b", getActive));
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", QString(), out == "s" ? "s" : "b", code));
        QVERIFY(m_mocks.rgb.addMethod("Disable", "bb", out, code));
        Hub* hub = code.isEmpty() ? m_absent : m_hub;
        QCOMPARE(camera(Hub::CameraCommand_CaptureSingle, {"/p/x.jpg"}, hub), QVariantList());
        QCOMPARE(camera(Hub::CameraCommand_VideoSetActive, {true}, hub), QVariantList());
        QCOMPARE(camera(Hub::CameraCommand_VideoGetActive, {}, hub), (QVariantList{0, false}));
        QCOMPARE(rgb(Hub::RGBManagerCommand_IsDisabled, {}, hub), QVariantList());
        QCOMPARE(rgb(Hub::RGBManagerCommand_Disable, {true}, hub), QVariantList());
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
};

QTEST_GUILESS_MAIN(TestHub)
#include "tst_hub.moc"

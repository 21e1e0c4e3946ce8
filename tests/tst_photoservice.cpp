#include "PhotoClient.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "dbus/DBusInterface.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo service as a client on a private bus sees it: the hub registered
// in this process, called through a connection of the client's own.
class TestPhotoService : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    QTemporaryDir m_dir;
    RecordingLog m_log;
    Hub m_hub;
    PhotoClient* m_client = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_hub.RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        m_client = new PhotoClient;
    }
    void cleanupTestCase()
    {
        delete m_client;
    }
    void init()
    {
        m_log.lines.clear();
    }

    // Introspection gives the interface file's own text, comments included,
    // beside the standard interfaces only.
    void introspectionIsTheInterfaceFile()
    {
        QFile file(QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_SOURCE_DIR"))
            + "/data/com.zandrel.quor.photointerface.xml");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(file.readAll());
        const int start = xml.indexOf("<interface ");
        const QString interface = xml.mid(start, xml.indexOf("</interface>") + 12 - start);
        const QDBusMessage reply
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "introspect")
                  .call(QDBusMessage::createMethodCall("com.zandrel.quor.photomanager",
                            "/com/zandrel/quor/photomanager/photoobj",
                            "org.freedesktop.DBus.Introspectable", "Introspect"),
                      QDBus::BlockWithGui);
        const QString introspection = reply.arguments().value(0).toString();
        QVERIFY(interface.contains("-52=photo stream not running"));
        QVERIFY2(introspection.contains(interface), qPrintable(introspection));
        QCOMPARE(introspection.count("<interface "), 4);
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
        QTest::newRow("stream -5") << "TakePhotoStream" << QVariantList{-5} << 3;
        QTest::newRow("stop") << "StopPhotoStream" << QVariantList{} << 4;
    }
    void callsBecomeCommands()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, args);
        QSignalSpy commands(&m_hub, &Hub::CommandReceived);
        QCOMPARE(m_client->callStatus(method, args), 0);
        QCOMPARE(commands.size(), 1);
        QTEST(commands.at(0).at(0).toInt(), "command");
        QCOMPARE(commands.at(0).at(1).value<QVariantList>(), args);
    }

    // Wrong argument types are refused by the bus library and reach nobody.
    void wrongTypesAreRefused()
    {
        QSignalSpy commands(&m_hub, &Hub::CommandReceived);
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
        QSignalSpy commands(&m_hub, &Hub::CommandReceived);
        const QByteArray full = QFile::encodeName(m_dir.path());
        for (int i = 0; i < 3; ++i)
            QVERIFY(QFile(m_dir.path() + QStringLiteral("/%1").arg(i)).open(QIODevice::WriteOnly));
        m_hub.SetPhotoFolder(full, 2);
        m_hub.SetPhotoFolder(full + "/missing", 100);
        QCOMPARE(m_client->callStatus("TakePhoto"), -59);
        QCOMPARE(m_client->callStatus("TakePhotoStream", {5}), -59);
        QCOMPARE(commands.size(), 0);
        QCOMPARE(m_log.messages(),
            (QStringList{"TakePhoto: max photos reached, no more photo please",
                "TakePhotoStream: max photos reached, no more photo please"}));
        QCOMPARE(m_log.lines.at(0).level, 2u);
        m_hub.SetPhotoFolder(full, 2);
        QCOMPARE(m_client->callStatus("TakePhoto"), 0);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).size(), 2);
    }

    // EmitEvent sends the matching signal for a list of the right length
    // only, and logs every call. The last signal marks the end, so missing
    // ones show without waiting for a time-out.
    void emitEventPublishesSignals()
    {
        m_hub.EmitEvent(Hub::PhotoEvent_CameraEnabled, {true});
        m_hub.EmitEvent(Hub::PhotoEvent_PhotoTaken, {0, "/p/a.jpg"});
        m_hub.EmitEvent(Hub::PhotoEvent_PhotoTaken, {0});
        m_hub.EmitEvent(Hub::PhotoEvent_CameraEnabled, {true, 1});
        m_hub.EmitEvent(static_cast<Hub::PhotoEvent>(3), {1});
        m_hub.EmitEvent(Hub::PhotoEvent_PhotoStreamStopped, {7});
        QVERIFY(m_client->waitForSignal("PhotoStreamStopped"));
        QCOMPARE(m_client->received,
            (QStringList{
                "CameraEnabled(true)", "PhotoTaken(0,/p/a.jpg)", "PhotoStreamStopped(7)"}));
        QCOMPARE(m_log.messages().join(',').remove("Emit Photo Event "), "0,1,1,0,3,2");
    }

    // Without a camera client IsEnabledCamera is false; a name another
    // connection owns cannot be registered.
    void withoutCameraClientAndNameTaken()
    {
        QCOMPARE(m_client->call("IsEnabledCamera").arguments(), QVariantList{false});
        QVERIFY(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "other")
                    .registerService("com.zandrel.quor.taken"));
        QVERIFY(!Hub().RegisterDBusService("com.zandrel.quor.taken", "/other/path"));
    }
};

QTEST_GUILESS_MAIN(TestPhotoService)
#include "tst_photoservice.moc"

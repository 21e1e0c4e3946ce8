#include "PhotoClient.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "dbus/DBusInterface.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using Hub = DBusInterface;

// The photo service as a client on a private bus sees it: the hub registered
// in this process, called through a connection of the client's own.
class TestPhotoService : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    QTemporaryDir m_dir;
    Hub* m_hub = nullptr;
    RecordingLog* m_log = nullptr;
    PhotoClient* m_client = nullptr;

    QByteArray folder(const QString& name) const
    {
        return QFile::encodeName(m_dir.path() + QLatin1Char('/') + name);
    }
    static void fill(const QByteArray& dir, int files)
    {
        QDir().mkpath(QFile::decodeName(dir));
        for (int i = 0; i < files; ++i)
            ::close(
                ::open((dir + "/f" + QByteArray::number(i)).constData(), O_CREAT | O_WRONLY, 0644));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        m_log = new RecordingLog;
        m_hub = new Hub;
        QVERIFY(m_hub->RegisterDBusService(
            "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"));
        m_client = new PhotoClient;
    }
    void cleanupTestCase()
    {
        delete m_client;
        delete m_hub;
        delete m_log;
    }
    void init()
    {
        m_log->clear();
        m_client->clearSignals();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
    }

    // Introspection gives the interface file's own text, comments included.
    void introspectionIsTheInterfaceFile()
    {
        QFile file(QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_SOURCE_DIR"))
            + QStringLiteral("/data/com.zandrel.quor.photointerface.xml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(file.readAll());
        const int start = xml.indexOf(QLatin1String("<interface "));
        const QString interface = xml.mid(
            start, xml.indexOf(QLatin1String("</interface>")) + 12 - start);
        QVERIFY(interface.contains(QLatin1String("-52=photo stream not running")));

        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("com.zandrel.quor.photomanager"),
            QStringLiteral("/com/zandrel/quor/photomanager/photoobj"),
            QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
        const QDBusMessage reply = QDBusConnection::connectToBus(
            QDBusConnection::SessionBus, QStringLiteral("introspect"))
                                       .call(call, QDBus::BlockWithGui);
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        const QString introspection = reply.arguments().at(0).toString();
        QVERIFY2(introspection.contains(interface), qPrintable(introspection));
        QCOMPARE(introspection.count(QLatin1String("<interface ")), 4); // ours + 3 standard ones
    }

    // Every accepted call becomes one CommandReceived with its list and is answered 0.
    void callsBecomeCommands_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<int>("command");
        QTest::newRow("enable") << "EnableCamera" << QVariantList{true}
                                << int(Hub::PhotoCommand_EnableCamera);
        QTest::newRow("disable") << "EnableCamera" << QVariantList{false}
                                 << int(Hub::PhotoCommand_EnableCamera);
        QTest::newRow("photo") << "TakePhoto" << QVariantList{} << int(Hub::PhotoCommand_TakePhoto);
        QTest::newRow("stream 0") << "TakePhotoStream" << QVariantList{0}
                                  << int(Hub::PhotoCommand_TakePhotoStream);
        QTest::newRow("stream -5")
            << "TakePhotoStream" << QVariantList{-5} << int(Hub::PhotoCommand_TakePhotoStream);
        QTest::newRow("stop") << "StopPhotoStream" << QVariantList{}
                              << int(Hub::PhotoCommand_StopPhotoStream);
    }
    void callsBecomeCommands()
    {
        QFETCH(QString, method);
        QFETCH(QVariantList, args);
        QFETCH(int, command);
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        QCOMPARE(m_client->callStatus(method, args), 0);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(commands.at(0).at(0).toInt(), command);
        QCOMPARE(commands.at(0).at(1).value<QVariantList>(), args);
    }

    // Wrong argument types are refused by the bus library and reach nobody.
    void wrongTypesAreRefused()
    {
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        for (const QString& method :
            {QStringLiteral("TakePhotoStream"), QStringLiteral("EnableCamera")})
            QCOMPARE(
                m_client->call(method, {QStringLiteral("x")}).type(), QDBusMessage::ErrorMessage);
        QCOMPARE(
            m_client->call(QStringLiteral("TakePhoto"), {1}).type(), QDBusMessage::ErrorMessage);
        QCOMPARE(commands.size(), 0);
    }

    // A folder that cannot be kept within its limit refuses new photos with
    // -59 and a level-2 line; a full one is trimmed first. The last folder
    // handed over is the one used.
    void folderCheck()
    {
        QSignalSpy commands(m_hub, &Hub::CommandReceived);
        m_hub->SetPhotoFolder(folder(QStringLiteral("full")).constData(), 2);
        fill(folder(QStringLiteral("full")), 3);
        m_hub->SetPhotoFolder(folder(QStringLiteral("missing")).constData(), 100);
        QCOMPARE(m_client->callStatus(QStringLiteral("TakePhoto")), -59);
        QCOMPARE(m_client->callStatus(QStringLiteral("TakePhotoStream"), {5}), -59);
        QCOMPARE(commands.size(), 0);
        QCOMPARE(m_log->messages(),
            (QStringList{QStringLiteral("TakePhoto: max photos reached, no more photo please"),
                QStringLiteral("TakePhotoStream: max photos reached, no more photo please")}));
        QCOMPARE(m_log->lines().at(0).level, 2u);

        m_hub->SetPhotoFolder(folder(QStringLiteral("full")).constData(), 2);
        QCOMPARE(m_client->callStatus(QStringLiteral("TakePhoto")), 0);
        QCOMPARE(commands.size(), 1);
        QCOMPARE(
            QDir(QFile::decodeName(folder(QStringLiteral("full")))).entryList(QDir::Files).size(),
            2);
    }

    // EmitEvent publishes the matching signal for a list of the right length
    // only; every call writes its line. A sentinel event marks the end, so
    // missing signals are seen without waiting for a time-out.
    void emitEventPublishesSignals()
    {
        m_hub->EmitEvent(Hub::PhotoEvent_CameraEnabled, {true});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoTaken, {0, QStringLiteral("/p/a.jpg")});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoTaken, {0});
        m_hub->EmitEvent(Hub::PhotoEvent_CameraEnabled, {true, 1});
        m_hub->EmitEvent(static_cast<Hub::PhotoEvent>(3), {1});
        m_hub->EmitEvent(Hub::PhotoEvent_PhotoStreamStopped, {7});
        QVERIFY(m_client->waitForSignal(QStringLiteral("PhotoStreamStopped")));
        QCOMPARE(m_client->signalsReceived(),
            (QStringList{QStringLiteral("CameraEnabled(true)"),
                QStringLiteral("PhotoTaken(0,/p/a.jpg)"),
                QStringLiteral("PhotoStreamStopped(7)")}));
        QCOMPARE(m_log->messages(),
            (QStringList{QStringLiteral("Emit Photo Event 0"), QStringLiteral("Emit Photo Event 1"),
                QStringLiteral("Emit Photo Event 1"), QStringLiteral("Emit Photo Event 0"),
                QStringLiteral("Emit Photo Event 3"), QStringLiteral("Emit Photo Event 2")}));
    }

    // Without a camera manager client, IsEnabledCamera answers false.
    void isEnabledCameraWithoutCameraClient()
    {
        const QDBusMessage reply = m_client->call(QStringLiteral("IsEnabledCamera"));
        QCOMPARE(reply.arguments(), QVariantList{false});
    }

    // A service name owned by another connection: registration fails.
    void registrationFailsWhenNameIsTaken()
    {
        QDBusConnection other
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other"));
        QVERIFY(other.registerService(QStringLiteral("com.zandrel.quor.taken")));
        Hub second;
        QVERIFY(!second.RegisterDBusService("com.zandrel.quor.taken", "/other/path"));
    }
};

QTEST_GUILESS_MAIN(TestPhotoService)
#include "tst_photoservice.moc"

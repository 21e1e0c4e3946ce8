#include "MachineDrain.h"
#include "PhotoClient.h"
#include "PhotoManagerCtrl.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "common/BusNames.h"
#include "common/Log.h"
#include "dbus/LogControl.h"
#include "dbus/PhotoManagerAdaptor.h"
#include "dbus/PhotoStateAdaptor.h"
#include "platform/Configuration.h"
#include "platform/JournalSink.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo service in-process as the daemon wires it, on a private bus with
// dbusmock siblings whose call logs show what it did (calls time out after
// 300 ms), seen by a client. What the binary shows is in tst_daemon.
class TestHub : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    std::unique_ptr<QTemporaryDir> m_dir; // one per test: photo/, settings.ini
    QString m_settings;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;
    MachineDrain* m_drain = nullptr;
    Hub* m_hub = nullptr;

    // Starts the machine in OffState and forgets what that logged and called.
    void startMachine()
    {
        emit m_hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        m_log->lines.clear();
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.rgb.clearCalls());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
    }
    void init()
    {
        QVERIFY(m_mocks.reset());
        m_dir = std::make_unique<QTemporaryDir>();
        Configuration::setFilePath(m_settings = m_dir->path() + "/settings.ini");
        // The runtime folder there already, as the service manager makes it.
        QVERIFY(QDir(m_dir->path()).mkdir("photo") && QDir(m_dir->path()).mkdir("photomanager"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir->path()));
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl(BusNames::kPhotoPath);
        m_drain = new MachineDrain(m_ctrl->stateMachine());
        m_hub = m_ctrl->dbusInterface();
        using namespace BusNames;
        QVERIFY(m_ctrl->Initialize(kPhotoService, kPhotoPath, kCameraService, kCameraPath, 300,
            kRgbService, kRgbPath, 300, QFile::encodeName(m_dir->path() + "/photo")));
        // Initialize finds the camera manager at once; each test starts the
        // machine itself, from a stopped one.
        QVERIFY(m_log->waitFor("statemachine available"));
        emit m_hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {false});
        QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
        m_log->lines.clear();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // IsEnabledCamera: true only for status 0 with video active, in time.
    void isEnabledCamera()
    {
        const QString late = "__import__('time').sleep(0.5); ret = (0, True)";
        const QStringList codes{"ret = (0, True)", "ret = (1, True)", late};
        for (const QString& code : codes) {
            QVERIFY(m_mocks.camera.addMethod("VideoGetActive", "", "ib", code));
            QCOMPARE(PhotoClient().call("IsEnabledCamera").arguments(),
                QVariantList{code == "ret = (0, True)"});
        }
    }

    // The RGB feature is switched off around each capture and on again only
    // when it was on; what cannot be done is logged, and while it is off a
    // record says so in the runtime folder. No photo is written over
    // another, and no name comes twice, also when its file is not there (the
    // mock writes none: a late camera, or trimming).
    void captureSequence_data()
    {
        QTest::addColumn<QString>("isDisabled");
        QTest::addColumn<int>("disable"); // Disable's status
        QTest::addColumn<QString>("calls"); // R0 IsDisabled, R1 Disable, C1 CaptureSingle
        QTest::addColumn<QStringList>("lines");
        const QStringList failed{"Cannot disable RGB", "Cannot enable RGB"};
        const QStringList unknown{"I don't know if the RGB is disabled, do nothing"};
        QTest::newRow("off and on") << "ret = False" << 0 << "R0 R1 C1 R1" << QStringList();
        QTest::newRow("switching fails") << "ret = False" << 1 << "R0 R1 C1 R1" << failed;
        QTest::newRow("already off") << "ret = True" << 0 << "R0 C1" << QStringList();
        QTest::newRow("unknown") << "raise Exception('no')" << 0 << "R0 C1" << unknown;
    }
    void captureSequence()
    {
        QFETCH(QString, isDisabled);
        QFETCH(int, disable);
        QFETCH(QString, calls);
        QFETCH(QStringList, lines);
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", QString(), "b", isDisabled));
        QVERIFY(m_mocks.rgb.addMethod("Disable", "bb", "i", "ret = " + QString::number(disable)));
        startMachine();
        QStringList taken; // files there before a capture, named for its second
        for (int i = 0; i < 2; ++i) {
            const QString stamp = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
            for (const char* suffix : {"", "_1"}) {
                taken << "CaptureSingle(" + m_dir->path() + "/photo/image_" + stamp + suffix
                        + ".jpg)";
                QVERIFY(QFile(taken.last().mid(14).chopped(1)).open(QIODevice::WriteOnly));
            }
            m_ctrl->CapturePhoto();
            const QStringList sent = m_mocks.camera.callLog("CaptureSingle");
            if (!sent.isEmpty()) // the camera's report ends this capture
                m_ctrl->dbusInterface()->CaptureDone(0, sent.last().mid(14).chopped(1));
        }
        static const QRegularExpression call("^(.).* Call Synch "), line("RGB$|nothing$");
        const QStringList messages = m_log->messages();
        QStringList made = messages.filter(" Call Synch ");
        QCOMPARE(made.replaceInStrings(call, "\\1").join(' '), calls + ' ' + calls);
        QCOMPARE(messages.filter(line), lines + lines);
        const QStringList switched{"Disable(true,false)", "Disable(false,false)"};
        QCOMPARE(m_mocks.rgb.callLog("Disable"),
            calls.count('R') == 3 ? switched + switched : QStringList());
        const QStringList captures = m_mocks.camera.callLog("CaptureSingle");
        QCOMPARE(QSet<QString>(captures.cbegin(), captures.cend()).size(), 2);
        for (const QString& capture : captures)
            QVERIFY2(!taken.contains(capture), qPrintable(capture));
        QCOMPARE(QFile::exists(m_dir->path() + "/photomanager/rgb-disabled"), disable != 0);
    }

    // The RGB feature manager dies while a capture has the feature off: once
    // a new one owns the name, the feature is switched on again.
    void rgbFeatureOwed()
    {
        QVERIFY(m_mocks.captureWrites(m_dir->path()));
        QVERIFY(m_mocks.rgb.addMethod(
            "Disable", "bb", "i", "__import__('time').sleep(1); __import__('os')._exit(1)"));
        startMachine();
        m_ctrl->CapturePhoto();
        MockPeer next(m_mocks.rgb.service, m_mocks.rgb.path, m_mocks.rgb.interface,
            qEnvironmentVariable("PHOTOMANAGER_SOURCE_DIR") + "/sim/rgbfeaturemanager.py",
            "{\"disabled\": true}");
        QVERIFY(next.start() && m_log->waitFor("Owed switch made: RGB feature on"));
        const QDBusMessage isDisabled = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(next.service, next.path, next.interface, "IsDisabled"));
        QCOMPARE(isDisabled.arguments(), QVariantList{false});
        QVERIFY(next.stop());
    }

    // A switch that timed out may have been made all the same: the camera
    // counts as unknown, and the switch back, owed while the camera manager
    // is silent, is made once it answers.
    void switchAnsweredLate()
    {
        QVERIFY(m_mocks.camera.addMethod("VideoSetActive", "b", "i",
            "self.active = args[0]; __import__('time').sleep(0.6 * args[0]); ret = 0"));
        startMachine();
        PhotoClient client;
        QCOMPARE(client.callStatus("EnableCamera", {true}), 0);
        QCOMPARE(client.callStatus("EnableCamera", {false}), 0);
        QVERIFY(client.waitForSignal("CameraEnabled(false)"));
        QCOMPARE(m_mocks.camera.callLog("VideoSetActive"),
            (QStringList{"VideoSetActive(true)", "VideoSetActive(false)"}));
    }

    // Changes of one turn go out in one PropertiesChanged, each change of a
    // property sent, and a Get or a request is handled only once the changes
    // held so far have gone out.
    void heldStateChanges()
    {
        PhotoClient client;
        Hub::PhotoState state = m_hub->photoState();
        state.capturing = true;
        m_hub->SetPhotoState(state);
        state.capturing = false; // and back within the turn
        m_hub->SetPhotoState(state);
        state.streamInterval = 5;
        m_hub->SetPhotoState(state);
        QCOMPARE(m_hub->findChild<PhotoStateAdaptor*>()->property("Capturing"), QVariant(false));
        state.lastPhoto = "/p";
        m_hub->SetPhotoState(state);
        m_hub->findChild<PhotoManagerAdaptor*>()->StopPhotoStream(); // a request ends the turn
        // Changes after one sent at once wait for what their turn posts.
        QMetaObject::invokeMethod(
            m_hub,
            [&] {
                state = m_hub->photoState();
                state.streamInterval = 9;
                m_hub->SetPhotoState(state);
                QMetaObject::invokeMethod(
                    m_hub, [&] { m_hub->EmitEvent(Hub::PhotoEvent_CameraEnabled, {true}); },
                    Qt::QueuedConnection);
                state.capturing = true;
                m_hub->SetPhotoState(state);
            },
            Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&] { return client.received.size() >= 7; }));
        QCOMPARE(client.received,
            QStringList({"PropertiesChanged(Capturing=true)",
                "PropertiesChanged(Capturing=false,StreamInterval=5)",
                "PropertiesChanged(LastPhoto=/p)", "PhotoStreamStopped(0)",
                "PropertiesChanged(LastPhoto=,StreamInterval=0)", "CameraEnabled(true)",
                "PropertiesChanged(Capturing=true,StreamInterval=9)"}));
    }

    // A stream counts the photos reported while it runs, whatever asked for
    // them, from 0 after each stop. In a folder that cannot be kept within its
    // limit a tick takes no photo and a request gets -59, with level-2 lines.
    void streamCountsPhotos()
    {
        QVERIFY(m_mocks.captureWrites(m_dir->path()));
        startMachine();
        PhotoClient client;
        client.call("TakePhotoStream", {3600});
        client.call("TakePhoto");
        QVERIFY(client.waitForSignal("PhotoTaken(0,"));
        client.call("StopPhotoStream");
        client.call("StopPhotoStream");
        QVERIFY(client.waitForSignal("PhotoStreamStopped(0)"));
        QCOMPARE(client.received.filter("Stopped"),
            (QStringList{"PhotoStreamStopped(1)", "PhotoStreamStopped(0)"}));
        m_hub->SetPhotoFolder(QFile::encodeName(m_dir->path() + "/missing"), 100);
        QCOMPARE(client.callStatus("TakePhoto"), -59);
        QCOMPARE(client.callStatus("TakePhotoStream", {5}), -59);
        QVERIFY(QMetaObject::invokeMethod(m_ctrl, "TakePhotoForStream"));
        QVERIFY(m_drain->drain());
        QCOMPARE(
            m_log->levels(": max photos reached, no more photo please"), QList<uint>({2, 2, 2}));
        QCOMPARE(m_mocks.camera.callLog("CaptureSingle").size(), 1);
    }

    // LogLevel and LogTarget over the bus, as systemctl sets them: a value is
    // taken, a bad one refused (SyslogIdentifier is read-only) and nothing
    // changed.
    void logControl()
    {
        qputenv("PHOTOMANAGER_JOURNAL_SOCKET", "/nonexistent");
        LogControl control;
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(control.Register(bus));
        const auto call = [](const QString& method, const QVariantList& args) {
            QDBusMessage message = QDBusMessage::createMethodCall(BusNames::kPhotoService,
                "/org/freedesktop/LogControl1", "org.freedesktop.DBus.Properties", method);
            message.setArguments(QVariantList{"org.freedesktop.LogControl1"} + args);
            return QDBusConnection::connectToBus(QDBusConnection::SessionBus, "log-client")
                .call(message, QDBus::BlockWithGui);
        };
        QStringList seen; // the error of each Set, then LogLevel and LogTarget
        for (const char* set : {"LogLevel=info", "LogLevel=3", "LogLevel=loud", "LogTarget=journal",
                 "LogTarget=kmsg", "SyslogIdentifier=x"}) {
            const QStringList property = QString(set).split('=');
            const QDBusMessage reply = call(
                "Set", {property.first(), QVariant::fromValue(QDBusVariant(property.last()))});
            const QVariantMap all
                = qdbus_cast<QVariantMap>(call("GetAll", {}).arguments().value(0));
            seen << reply.errorName().section('.', -1) + ' ' + all["LogLevel"].toString() + ' '
                    + all["LogTarget"].toString();
        }
        QCOMPARE(seen.join('|'),
            " info auto| err auto|InvalidArgs err auto| err journal|InvalidArgs err "
            "journal|PropertyReadOnly err journal");
        photomanagerLogThreshold = 7;
        JournalSink::setTarget(JournalSink::Target_Console);
    }

    // The user setting and the power state decide whether the machine's start
    // or a power signal switch the camera on (a client's request does not
    // consult them: tst_statemachine).
    void enablingPolicy_data()
    {
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QByteArray>("setting"); // null: no file; "/": a folder
        QTest::addColumn<QString>("power"); // GetPowerOk's answer
        QTest::addColumn<bool>("enables");
        QTest::newRow("start, user off") << "start" << QByteArray("0") << "(0, True)" << false;
        QTest::newRow("start, no file") << "start" << QByteArray() << "(0, True)" << false;
        QTest::newRow("start, empty file") << "start" << QByteArray("") << "(0, True)" << false;
        QTest::newRow("start, unreadable") << "start" << QByteArray("/") << "(0, True)" << false;
        QTest::newRow("start, garbage") << "start" << QByteArray("yes") << "(0, True)" << false;
        QTest::newRow("start, no power") << "start" << QByteArray("1") << "(0, False)" << false;
        QTest::newRow("start, status failed") << "start" << QByteArray("1") << "(1, True)" << false;
        QTest::newRow("power ok, user on") << "power" << QByteArray("2") << "(0, False)" << true;
        QTest::newRow("power ok, user off") << "power" << QByteArray("0") << "(0, True)" << false;
        QTest::newRow("power lost") << "lost" << QByteArray("1") << "(0, False)" << false;
    }
    void enablingPolicy()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, power);
        QFETCH(QString, trigger);
        QFile file(m_settings);
        if (setting == "/")
            QVERIFY(QDir().mkdir(m_settings));
        else if (!setting.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly)
                && (setting.isEmpty() || file.write("[IPCAMERA]\nuser_enabled=" + setting) > 0));
        file.close();
        QVERIFY(m_mocks.status.addMethod("GetPowerOk", QString(), "ib", "ret = " + power));
        if (trigger != "start")
            startMachine();
        if (trigger == "start")
            emit m_hub->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
        else
            QVERIFY(m_mocks.status.emitSignal("PowerOkChanged", "b", {trigger == "power"}));
        QVERIFY(m_log->waitFor("camera enabled by user"));
        QVERIFY(m_drain->drain());
        QTEST(m_mocks.camera.callLog("VideoSetActive").contains("VideoSetActive(true)"), "enables");
    }
};

QTEST_GUILESS_MAIN(TestHub)
#include "tst_hub.moc"

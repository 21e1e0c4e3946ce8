#include "MachineDrain.h"
#include "PhotoClient.h"
#include "PhotoManagerCtrl.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The photo service in-process, the controller wired to its hub as in the
// daemon, on a private bus with dbusmock siblings: the service as a client
// sees it through a connection of its own, the siblings' call logs show
// what it did. Sibling calls time out after 300 ms.
class TestHub : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    QTemporaryDir m_dir;
    const QString m_settings = m_dir.path() + "/settings.ini";
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;
    MachineDrain* m_drain = nullptr;

    Hub* hub() const
    {
        return m_ctrl->dbusInterface();
    }
    // Starts the machine in OffState and forgets what that logged and called.
    void startMachine()
    {
        emit hub()->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        m_log->lines.clear();
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.rgb.clearCalls());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
        Configuration::setFilePath(m_settings);
    }
    void init()
    {
        QVERIFY(m_mocks.reset());
        QDir(m_settings).removeRecursively();
        QFile::remove(m_settings);
        QDir(m_dir.path() + "/photo").removeRecursively();
        QVERIFY(QDir(m_dir.path()).mkdir("photo"));
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
        m_drain = new MachineDrain(m_ctrl->stateMachine());
        QVERIFY(m_ctrl->Initialize("com.zandrel.quor.photomanager",
            "/com/zandrel/quor/photomanager/photoobj", "com.zandrel.quor.cameramanager",
            "/com/zandrel/quor/cameramanager/cameraobj", 300, "com.zandrel.quor.rgbfeaturemanager",
            "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj", 300,
            QFile::encodeName(m_dir.path() + "/photo")));
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // Introspection gives each interface file's own text, comments included,
    // beside the standard interfaces only.
    void introspectionIsTheInterfaceFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("photo") << "photointerface";
        QTest::newRow("state") << "photostate";
    }
    void introspectionIsTheInterfaceFile()
    {
        QFETCH(QString, name);
        QFile file(qEnvironmentVariable("PHOTOMANAGER_SOURCE_DIR") + "/data/com.zandrel.quor."
            + name + ".xml");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString xml = QString::fromUtf8(file.readAll());
        const int start = xml.indexOf("<interface ");
        const QString interface = xml.mid(start, xml.indexOf("</interface>") + 12 - start);
        const QDBusMessage reply
            = PhotoClient().call("Introspect", {}, "org.freedesktop.DBus.Introspectable");
        const QString introspection = reply.arguments().value(0).toString();
        QVERIFY(interface.contains("<!--"));
        QVERIFY2(introspection.contains(interface), qPrintable(introspection));
        QCOMPARE(introspection.count("<interface "), 5);
    }

    // A folder that cannot be kept within its limit refuses photos, a
    // client's or a stream tick's, with -59 or no capture and a level-2 line;
    // a full one is trimmed first. The last folder handed over is the one used.
    void folderCheck()
    {
        startMachine();
        const QByteArray photos = QFile::encodeName(m_dir.path() + "/photo");
        for (int i = 0; i < 3; ++i)
            QVERIFY(QFile(photos + "/" + QByteArray::number(i)).open(QIODevice::WriteOnly));
        hub()->SetPhotoFolder(photos, 2);
        hub()->SetPhotoFolder(photos + "/missing", 100);
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), -59);
        QCOMPARE(client.callStatus("TakePhotoStream", {5}), -59);
        QVERIFY(QMetaObject::invokeMethod(m_ctrl, "TakePhotoForStream"));
        QVERIFY(m_drain->drain());
        QCOMPARE(
            m_log->levels(": max photos reached, no more photo please"), QList<uint>({2, 2, 2}));
        QCOMPARE(m_mocks.camera.callLog("CaptureSingle"), QStringList());
        hub()->SetPhotoFolder(photos, 2);
        QVERIFY(client.callStatus("TakePhoto") != -59);
        QCOMPARE(QDir(photos).entryList(QDir::Files).size(), 2);
    }

    // Error replies (an absent peer's too), replies after the time-out and
    // replies of the wrong type: empty results, but [0, false] for
    // VideoGetActive.
    void siblingFailures_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<char>("out"); // reply signature of the status methods
        QTest::newRow("error") << "raise dbus.exceptions.DBusException('boom', name='x.E')" << 'i';
        QTest::newRow("late") << "__import__('time').sleep(0.5); ret = 0" << 'i';
        QTest::newRow("wrong type") << "ret = 'x'" << 's';
    }
    void siblingFailures()
    {
        QFETCH(QString, code);
        QFETCH(char, out);
        QVERIFY(m_mocks.camera.addMethod("CaptureSingle", "s", QString(out), code));
        QVERIFY(m_mocks.camera.addMethod("VideoSetActive", "b", QString(out), code));
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", "", QString(out) + "b",
            QString(code).replace("'x'", "('x', False)")));
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", "", out == 's' ? "s" : "b", code));
        QVERIFY(m_mocks.rgb.addMethod("Disable", "bb", QString(out), code));
        Hub* h = hub();
        QCOMPARE(
            h->CameraCallSynch(Hub::CameraCommand_CaptureSingle, {"/p/x.jpg"}), QVariantList());
        QCOMPARE(h->CameraCallSynch(Hub::CameraCommand_VideoSetActive, {true}), QVariantList());
        QCOMPARE(
            h->CameraCallSynch(Hub::CameraCommand_VideoGetActive, {}), QVariantList({0, false}));
        QCOMPARE(h->RGBManagerCallSynch(Hub::RGBManagerCommand_IsDisabled, {}), QVariantList());
        QCOMPARE(h->RGBManagerCallSynch(Hub::RGBManagerCommand_Disable, {true}), QVariantList());
    }

    // Over the bus, IsEnabledCamera is true only for status 0 with video active.
    void isEnabledCamera()
    {
        for (const QString reply : {"(0, True)", "(0, False)", "(1, True)"}) {
            QVERIFY(m_mocks.camera.addMethod("VideoGetActive", "", "ib", "ret = " + reply));
            QCOMPARE(PhotoClient().call("IsEnabledCamera").arguments(),
                QVariantList{reply == "(0, True)"});
        }
    }

    // The RGB feature is switched off around the capture and on again only
    // when it was on; what cannot be done is logged.
    void captureSequence_data()
    {
        QTest::addColumn<QString>("isDisabled");
        QTest::addColumn<int>("disable"); // Disable's status
        QTest::addColumn<QString>("calls"); // R0 IsDisabled, R1 Disable, C1 CaptureSingle
        QTest::addColumn<QStringList>("lines");
        const QString off = "ret = False";
        QTest::newRow("switched off and on") << off << 0 << "R0 R1 C1 R1" << QStringList();
        QTest::newRow("switching fails")
            << off << 1 << "R0 R1 C1 R1" << QStringList{"Cannot disable RGB", "Cannot enable RGB"};
        QTest::newRow("already off") << "ret = True" << 0 << "R0 C1" << QStringList();
        QTest::newRow("unknown") << "raise Exception('no')" << 0 << "R0 C1"
                                 << QStringList{"I don't know if the RGB is disabled, do nothing"};
    }
    void captureSequence()
    {
        QFETCH(QString, isDisabled);
        QFETCH(int, disable);
        QFETCH(QString, calls);
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", QString(), "b", isDisabled));
        QVERIFY(
            m_mocks.rgb.addMethod("Disable", "bb", "i", QStringLiteral("ret = %1").arg(disable)));
        startMachine();
        m_ctrl->CapturePhoto();
        const QStringList messages = m_log->messages();
        QCOMPARE(messages.filter(" Call Synch ")
                     .replaceInStrings(QRegularExpression("^(.).* Call Synch "), "\\1")
                     .join(' '),
            calls);
        QTEST(messages.filter(QRegularExpression("RGB$|nothing$")), "lines");
        const QStringList switched{"Disable(true,false)", "Disable(false,false)"};
        QCOMPARE(m_mocks.rgb.callLog("Disable"), calls.count('R') == 3 ? switched : QStringList());
    }

    // No photo is written over another: a name taken on disk gets the next
    // free counter, and no name comes twice, also when its file is not there
    // (the mock writes none, as if the camera were late or trimming had run).
    // The names taken are those of the second each capture starts in.
    void photoNamesAreNeverReused()
    {
        startMachine();
        QStringList taken; // files there before a capture
        for (int i = 0; i < 3; ++i) {
            const QString stamp = QDateTime::currentDateTime().toString("yyyyMMddhhmmss");
            for (const char* suffix : {"", "_1"}) {
                taken << m_dir.path() + "/photo/image_" + stamp + suffix + ".jpg";
                QVERIFY(QFile(taken.last()).open(QIODevice::WriteOnly));
            }
            m_ctrl->CapturePhoto();
            const QStringList paths
                = m_mocks.camera.callLog("CaptureSingle")
                      .replaceInStrings(QRegularExpression("^CaptureSingle\\((.*)\\)$"), "\\1");
            if (!paths.isEmpty()) // the camera's report ends this capture
                m_ctrl->dbusInterface()->CaptureDone(0, paths.last());
        }
        const QStringList paths
            = m_mocks.camera.callLog("CaptureSingle")
                  .replaceInStrings(QRegularExpression("^CaptureSingle\\((.*)\\)$"), "\\1");
        QCOMPARE(QSet<QString>(paths.cbegin(), paths.cend()).size(), 3);
        for (const QString& path : paths)
            QVERIFY2(!taken.contains(path), qPrintable(path));
    }

    // A stream counts the photos reported while it runs, whatever asked for
    // them, and starts from 0 again after each stop.
    void streamCountsPhotos()
    {
        QVERIFY(m_mocks.captureWrites(m_dir.path()));
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
    }

    // The camera manager's departure stops the machine, its return starts it.
    void followsCameraManager()
    {
        startMachine();
        QVERIFY(m_mocks.camera.stop());
        QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
        QVERIFY(m_mocks.camera.start());
        QTRY_VERIFY(m_ctrl->stateMachine().isRunning());
    }

    // The user setting and the power state decide whether the machine's
    // start or a power signal switch the camera on; a client's request does
    // not consult them.
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
        QTest::newRow("start, power") << "start" << QByteArray("1") << "(0, True)" << true;
        QTest::newRow("power ok, user on") << "power" << QByteArray("2") << "(0, False)" << true;
        QTest::newRow("power ok, user off") << "power" << QByteArray("0") << "(0, True)" << false;
        QTest::newRow("power lost") << "lost" << QByteArray("1") << "(0, False)" << false;
        QTest::newRow("client, user off") << "client" << QByteArray("0") << "(0, True)" << true;
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
        if (trigger == "start") {
            emit hub()->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
        } else {
            startMachine();
            if (trigger == "client")
                PhotoClient().call("EnableCamera", {true});
            else
                QVERIFY(m_mocks.status.emitSignal("PowerOkChanged", "b", {trigger == "power"}));
        }
        if (trigger != "client")
            QVERIFY(m_log->waitFor("camera enabled by user"));
        QVERIFY(m_drain->drain());
        QTEST(m_mocks.camera.callLog("VideoSetActive").contains("VideoSetActive(true)"), "enables");
    }
};

QTEST_GUILESS_MAIN(TestHub)
#include "tst_hub.moc"

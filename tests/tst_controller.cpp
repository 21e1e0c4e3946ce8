#include "MachineDrain.h"
#include "PhotoClient.h"
#include "PhotoManagerCtrl.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The controller in-process, wired to its hub as in the daemon, on a private
// bus with dbusmock siblings; their call logs show what it did.
class TestController : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    QTemporaryDir m_dir;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;
    MachineDrain* m_drain = nullptr;

    QString settings() const
    {
        return m_dir.path() + "/settings.ini";
    }
    // Starts the machine in OffState and forgets what that logged and called.
    void startMachine()
    {
        emit m_ctrl->dbusInterface()->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("statemachine available"));
        m_log->lines.clear();
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.rgb.clearCalls());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
        Configuration::setFilePath(settings());
    }
    void init()
    {
        QVERIFY(m_mocks.reset());
        QDir(settings()).removeRecursively();
        QFile::remove(settings());
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

    // The RGB feature is switched off around the capture and on again only
    // when it was on; what cannot be done is logged. The photo goes to the
    // folder under a time-stamped name.
    void captureSequence_data()
    {
        QTest::addColumn<QString>("isDisabled");
        QTest::addColumn<QString>("disable");
        QTest::addColumn<QString>("calls"); // R? IsDisabled, R Disable, C CaptureSingle
        QTest::addColumn<QString>("lines");
        QTest::newRow("switched off and on") << "ret = False"
                                             << "ret = 0"
                                             << "R? R C R"
                                             << "";
        QTest::newRow("switching fails") << "ret = False"
                                         << "ret = 1"
                                         << "R? R C R"
                                         << "Cannot disable RGB,Cannot enable RGB";
        QTest::newRow("already off") << "ret = True"
                                     << "ret = 0"
                                     << "R? C"
                                     << "";
        QTest::newRow("unknown") << "raise dbus.exceptions.DBusException('no')"
                                 << "ret = 0"
                                 << "R? C"
                                 << "I don't know if the RGB is disabled, do nothing";
    }
    void captureSequence()
    {
        QFETCH(QString, isDisabled);
        QFETCH(QString, disable);
        QFETCH(QString, calls);
        QVERIFY(m_mocks.rgb.addMethod("IsDisabled", QString(), "b", isDisabled));
        QVERIFY(m_mocks.rgb.addMethod("Disable", "bb", "i", disable));
        startMachine();
        m_ctrl->CapturePhoto();
        const QStringList messages = m_log->messages();
        QCOMPARE(messages.filter("Call Synch")
                     .replaceInStrings("RGBManager Call Synch 0", "R?")
                     .replaceInStrings("RGBManager Call Synch 1", "R")
                     .replaceInStrings("Camera Call Synch 1", "C")
                     .join(' '),
            calls);
        QTEST(messages.filter(QRegularExpression("RGB$|nothing$")).join(','), "lines");
        const QStringList switched{"Disable(true,false)", "Disable(false,false)"};
        QCOMPARE(m_mocks.rgb.callLog("Disable"), calls.count('R') == 3 ? switched : QStringList());
        const QString path = m_mocks.camera.callLog("CaptureSingle").value(0);
        QVERIFY2(
            QRegularExpression(QStringLiteral("^CaptureSingle\\(%1/photo/image_\\d{14}\\.jpg\\)$")
                                   .arg(QRegularExpression::escape(m_dir.path())))
                .match(path)
                .hasMatch(),
            qPrintable(path));
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

    // A stream tick that cannot keep the folder within its limit takes no
    // photo and says so at level 2.
    void streamTickKeepsFolderWithinLimit()
    {
        startMachine();
        m_ctrl->dbusInterface()->SetPhotoFolder(QFile::encodeName(m_dir.path() + "/missing"), 100);
        QVERIFY(QMetaObject::invokeMethod(m_ctrl, "TakePhotoForStream"));
        QVERIFY(m_drain->drain());
        const auto lines = m_log->matching("TakePhotoForStream: max photos reached, no more photo");
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.at(0).level, 2u);
        QCOMPARE(m_mocks.camera.callLog("CaptureSingle"), QStringList());
    }

    // Clients switch the camera; the camera manager's departure stops the
    // machine and its return starts it again.
    void switchingAndPresence()
    {
        startMachine();
        PhotoClient client;
        client.call("EnableCamera", {true});
        QTRY_COMPARE(m_mocks.camera.callLog("VideoSetActive"), QStringList{"VideoSetActive(true)"});
        client.call("EnableCamera", {false});
        QTRY_COMPARE(m_mocks.camera.callLog("VideoSetActive").size(), 2);
        QCOMPARE(m_mocks.camera.callLog("VideoSetActive").last(), "VideoSetActive(false)");
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
        QTest::addColumn<QByteArray>("setting"); // null: no file; "<dir>": unreadable
        QTest::addColumn<QString>("power"); // GetPowerOk's answer
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("enables");
        QTest::newRow("start, user off") << QByteArray("0") << "(0, True)"
                                         << "start" << false;
        QTest::newRow("start, no file") << QByteArray() << "(0, True)"
                                        << "start" << false;
        QTest::newRow("start, empty file") << QByteArray("") << "(0, True)"
                                           << "start" << false;
        QTest::newRow("start, unreadable") << QByteArray("<dir>") << "(0, True)"
                                           << "start" << false;
        QTest::newRow("start, garbage") << QByteArray("yes") << "(0, True)"
                                        << "start" << false;
        QTest::newRow("start, no power") << QByteArray("1") << "(0, False)"
                                         << "start" << false;
        QTest::newRow("start, status failed") << QByteArray("1") << "(1, True)"
                                              << "start" << false;
        QTest::newRow("start, power") << QByteArray("1") << "(0, True)"
                                      << "start" << true;
        QTest::newRow("power ok, user on") << QByteArray("2") << "(0, False)"
                                           << "power" << true;
        QTest::newRow("power ok, user off") << QByteArray("0") << "(0, True)"
                                            << "power" << false;
        QTest::newRow("power lost") << QByteArray("1") << "(0, True)"
                                    << "lost" << false;
        QTest::newRow("client, user off") << QByteArray("0") << "(0, True)"
                                          << "client" << true;
    }
    void enablingPolicy()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, power);
        QFETCH(QString, trigger);
        QFile file(settings());
        if (setting == "<dir>")
            QVERIFY(QDir().mkdir(settings()));
        else if (!setting.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly)
                && (setting.isEmpty() || file.write("[IPCAMERA]\nuser_enabled=" + setting) > 0));
        file.close();
        QVERIFY(m_mocks.status.addMethod("GetPowerOk", QString(), "ib", "ret = " + power));
        if (trigger == "start") {
            emit m_ctrl->dbusInterface()->EventReceived(Hub::CameraEvent_ServiceAvailable, {true});
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

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

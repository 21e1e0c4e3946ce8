#include "PhotoManagerCtrl.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The controller in-process on a private bus with dbusmock siblings.
class TestController : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    QTemporaryDir m_dir;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;

    Hub* hub() const
    {
        return m_ctrl->dbusInterface();
    }
    void command(Hub::PhotoCommand cmd, const QVariantList& args = {})
    {
        emit hub()->CommandReceived(cmd, args);
    }
    void cameraEvent(Hub::CameraEvent evt, const QVariantList& args)
    {
        emit hub()->EventReceived(evt, args);
    }
    QString settings() const
    {
        return m_dir.path() + "/settings.ini";
    }
    // Starts the machine in OffState and forgets what that logged and called.
    void startMachine()
    {
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor("Disable Camera"));
        m_log->lines.clear();
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.rgb.clearCalls());
    }
    // The argument of the last VideoSetActive the camera manager received.
    QVariantList lastSwitch() const
    {
        const QList<MockPeer::Call> calls = m_mocks.camera.calls("VideoSetActive");
        return calls.isEmpty() ? QVariantList() : calls.last().args;
    }
    QStringList capturePaths() const
    {
        QStringList paths;
        for (const MockPeer::Call& call : m_mocks.camera.calls("CaptureSingle"))
            paths << call.args.at(0).toString();
        return paths;
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
        QVERIFY(m_ctrl->Initialize("com.zandrel.quor.photomanager",
            "/com/zandrel/quor/photomanager/photoobj", "com.zandrel.quor.cameramanager",
            "/com/zandrel/quor/cameramanager/cameraobj", 300, "com.zandrel.quor.rgbfeaturemanager",
            "/com/zandrel/quor/rgbfeaturemanager/rgbmanagerobj", 300,
            QFile::encodeName(m_dir.path() + "/photo")));
        m_log->lines.clear();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
    }

    // Intervals below 1, missing or too large for the timer start nothing; a
    // running stream is kept.
    void photoStream()
    {
        QSignalSpy stopped(hub(), &Hub::PhotoStreamStopped);
        for (const QVariantList& args :
            {QVariantList{0}, QVariantList{-1}, QVariantList{}, QVariantList{2147484}})
            command(Hub::PhotoCommand_TakePhotoStream, args);
        QCOMPARE(m_log->messages().filter("Camera Command: 3").size(), 4);
        QCOMPARE(m_log->lines.size(), 5);
        QCOMPARE(m_log->lines.last().level, 2u);
        QVERIFY(m_log->messages().last().contains("2147484s out of range"));

        command(Hub::PhotoCommand_TakePhotoStream, {1});
        command(Hub::PhotoCommand_TakePhotoStream, {5});
        QCOMPARE(m_log->messages().last(), "Photo stream already active at 1s, stop it first!");
        command(Hub::PhotoCommand_StopPhotoStream);
        QCOMPARE(stopped, (QList<QVariantList>{{0}}));
    }

    // The camera manager's arrival starts the machine (camera off), a
    // repeated report changes nothing, its departure stops it; CameraEnabled
    // follows a switch only when the camera manager accepts it.
    void serviceAvailabilityAndCameraSwitching()
    {
        QSignalSpy enabled(hub(), &Hub::CameraEnabled);
        QVERIFY(enabled.wait(5000)); // the first availability check finds it
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_mocks.camera.addMethod("VideoSetActive", "b", "i", "ret = 3"));
        command(Hub::PhotoCommand_EnableCamera, {true});
        QVERIFY(m_log->waitFor("OnState::onEntry"));
        QVERIFY(m_mocks.reset());
        command(Hub::PhotoCommand_EnableCamera, {true});
        QVERIFY(enabled.wait());
        QCOMPARE(enabled, (QList<QVariantList>{{false}, {true}}));
        QCOMPARE(m_log->count("OffState::onEntry"), 2);
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
    }

    // The capture sequence by the RGB feature manager's answers: the daemon's
    // calls in order, the lines written, what the RGB manager was sent, and
    // the photo path.
    void captureSequence_data()
    {
        QTest::addColumn<QString>("isDisabled");
        QTest::addColumn<QString>("disable");
        QTest::addColumn<QString>("calls"); // R? IsDisabled, R Disable, C CaptureSingle
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("switched off and on") << "ret = False"
                                             << "ret = 0"
                                             << "R? R C R" << QStringList{};
        QTest::newRow("switching fails")
            << "ret = False"
            << "ret = 1"
            << "R? R C R" << QStringList{"Cannot disable RGB", "Cannot enable RGB"};
        QTest::newRow("already off") << "ret = True"
                                     << "ret = 0"
                                     << "R? C" << QStringList{};
        QTest::newRow("unknown") << "raise dbus.exceptions.DBusException('no')"
                                 << "ret = 0"
                                 << "R? C"
                                 << QStringList{QStringLiteral(
                                        "I don't know if the RGB is disabled, do nothing")};
    }
    void captureSequence()
    {
        QFETCH(QString, calls);
        QFETCH(QStringList, lines);
        QFETCH(QString, isDisabled);
        QFETCH(QString, disable);
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
        QCOMPARE(messages.filter(QRegularExpression("RGB$|nothing$")), lines);
        QList<QVariantList> sent;
        for (const MockPeer::Call& call : m_mocks.rgb.calls("Disable"))
            sent << call.args;
        QCOMPARE(sent,
            calls.count('R') == 3 ? (QList<QVariantList>{{true, false}, {false, false}})
                                  : QList<QVariantList>());
        QVERIFY2(QRegularExpression(QStringLiteral("^%1/photo/image_\\d{14}\\.jpg$")
                                        .arg(QRegularExpression::escape(m_dir.path())))
                     .match(capturePaths().value(0))
                     .hasMatch(),
            qPrintable(capturePaths().value(0)));
    }

    // No photo is written over another: a name taken on disk gets the next
    // free counter, and no name comes twice, also when its file is not there
    // (the mock writes none, as if the camera were late or trimming had run).
    void photoNamesAreNeverReused()
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int second = 0; second < 2; ++second) {
            for (const char* suffix : {"", "_1"})
                QVERIFY(QFile(m_dir.path() + QStringLiteral("/photo/image_")
                    + now.addSecs(second).toString("yyyyMMddhhmmss") + QLatin1String(suffix)
                    + ".jpg")
                            .open(QIODevice::WriteOnly));
        }
        startMachine();
        QVERIFY(
            m_mocks.camera.addMethod("CaptureSingle", "s", "i", "ret = -1")); // each ends at once
        for (int i = 0; i < 3; ++i)
            m_ctrl->CapturePhoto();
        const QStringList paths = capturePaths();
        QVERIFY2(paths.value(0).endsWith("_2.jpg"), qPrintable(paths.value(0)));
        QCOMPARE(QSet<QString>(paths.cbegin(), paths.cend()).size(), 3);
    }

    // A stream tick keeps the folder within its limit; when it cannot, the
    // tick takes no photo and says so at level 2.
    void streamTickKeepsFolderWithinLimit()
    {
        hub()->SetPhotoFolder(QFile::encodeName(m_dir.path() + "/missing"), 100);
        command(Hub::PhotoCommand_TakePhotoStream, {1});
        const QString line = "TakePhotoForStream: max photos reached, no more photo please";
        QVERIFY(m_log->waitFor(line));
        QCOMPARE(m_log->matching(line).at(0).level, 2u);
        QVERIFY(!m_log->contains("Capture Photo"));
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
        QTest::newRow("start, garbage") << QByteArray("user_enabled=yes") << "(0, True)"
                                        << "start" << false;
        QTest::newRow("start, no power") << QByteArray("user_enabled=1") << "(0, False)"
                                         << "start" << false;
        QTest::newRow("start, status failed") << QByteArray("user_enabled=1") << "(1, True)"
                                              << "start" << false;
        QTest::newRow("start, power") << QByteArray("user_enabled=1") << "(0, True)"
                                      << "start" << true;
        QTest::newRow("power ok, user on") << QByteArray("user_enabled=2") << "(0, False)"
                                           << "signal" << true;
        QTest::newRow("power ok, user off") << QByteArray("user_enabled=0") << "(0, True)"
                                            << "signal" << false;
        QTest::newRow("power lost") << QByteArray("user_enabled=1") << "(0, True)"
                                    << "signal lost" << false;
        QTest::newRow("client, user off") << QByteArray("user_enabled=0") << "(0, True)"
                                          << "client" << true;
    }
    void enablingPolicy()
    {
        QFETCH(QByteArray, setting);
        QFETCH(QString, power);
        QFETCH(QString, trigger);
        QFETCH(bool, enables);
        QFile file(settings());
        if (setting == "<dir>")
            QVERIFY(QDir().mkdir(settings()));
        else if (!setting.isNull())
            QVERIFY(file.open(QIODevice::WriteOnly)
                && (setting.isEmpty() || file.write("[IPCAMERA]\n" + setting + "\n") > 0));
        file.close();
        QVERIFY(m_mocks.status.addMethod(
            "GetPowerOk", QString(), "ib", QStringLiteral("ret = ") + power));
        if (trigger == "start") {
            cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        } else {
            startMachine();
            if (trigger == "client")
                command(Hub::PhotoCommand_EnableCamera, {true});
            else
                QVERIFY(m_mocks.status.emitSignal("PowerOkChanged", "b", {trigger == "signal"}));
        }
        if (trigger != "client")
            QVERIFY(m_log->waitFor("camera enabled by user"));
        QCOMPARE(m_log->contains("due to Power OK"), enables && trigger != "client");
        if (enables)
            QTRY_COMPARE(lastSwitch(), QVariantList{true});
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

#include "PhotoManagerCtrl.h"
#include "PrivateBus.h"
#include "RecordingLog.h"
#include "SiblingMocks.h"
#include "platform/Configuration.h"

#include <QtTest>

using Hub = DBusInterface;

// The controller in-process on a private bus with dbusmock siblings: the
// commands, the photo stream, camera events, camera switching, the capture
// sequence and the camera enabling policy.
class TestController : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    QTemporaryDir m_dir;
    RecordingLog* m_log = nullptr;
    PhotoManagerCtrl* m_ctrl = nullptr;
    QString m_photos;

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
    void writeUserEnabled(const QByteArray& value)
    {
        QFile file(m_dir.path() + QStringLiteral("/settings.ini"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[IPCAMERA]\nuser_enabled=" + value + "\n");
    }
    // Starts the machine in OffState and forgets what that logged.
    void startMachine()
    {
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        QVERIFY(m_log->waitFor(QStringLiteral("statemachine available")));
        QVERIFY(m_log->waitFor(QStringLiteral("Disable Camera")));
        m_log->clear();
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.rgb.clearCalls());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
        m_photos = m_dir.path() + QStringLiteral("/photo");
        QVERIFY(QDir().mkpath(m_photos));
        Configuration::setFilePath(m_dir.path() + QStringLiteral("/settings.ini"));
    }
    void init()
    {
        writeUserEnabled("0");
        m_log = new RecordingLog;
        m_ctrl = new PhotoManagerCtrl("/com/zandrel/quor/photomanager/photoobj");
        QVERIFY(m_ctrl->Initialize("com.zandrel.quor.photomanager",
            "/com/zandrel/quor/photomanager/photoobj", SiblingMocks::cameraService,
            SiblingMocks::cameraPath, 300, SiblingMocks::rgbService, SiblingMocks::rgbPath, 300,
            QFile::encodeName(m_photos).constData()));
        m_log->clear();
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_log->dump();
        delete m_ctrl;
        delete m_log;
        QVERIFY(m_mocks.reset());
        QDir(m_dir.path() + QStringLiteral("/settings.ini")).removeRecursively();
    }

    // Stream intervals: below 1, missing or too large for the timer start
    // nothing; a running stream is kept; the count covers photos reported
    // while the stream ran, whatever asked for them.
    void photoStream()
    {
        QSignalSpy stopped(hub(), &Hub::PhotoStreamStopped);
        QSignalSpy taken(hub(), &Hub::PhotoTaken);
        for (const QVariantList& args : {QVariantList{0}, QVariantList{-1}, QVariantList{}})
            command(Hub::PhotoCommand_TakePhotoStream, args);
        QCOMPARE(m_log->messages(),
            QString(QStringLiteral("Camera Command: 3,"))
                .repeated(3)
                .split(QLatin1Char(','), Qt::SkipEmptyParts));
        command(Hub::PhotoCommand_TakePhotoStream, {2147484});
        QCOMPARE(m_log->lines().last().level, 2u);
        QVERIFY(m_log->messages().last().contains(QLatin1String("2147484s out of range")));

        command(Hub::PhotoCommand_TakePhotoStream, {1});
        command(Hub::PhotoCommand_TakePhotoStream, {5});
        QCOMPARE(m_log->messages().last(),
            QStringLiteral("Photo stream already active at 1s, stop it first!"));
        QVERIFY(m_log->waitFor(QStringLiteral("Capture photo timeout")));
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/1.jpg")});
        cameraEvent(Hub::CameraEvent_CaptureDone, {-1, QStringLiteral("/p/2.jpg")});
        command(Hub::PhotoCommand_StopPhotoStream);
        command(Hub::PhotoCommand_StopPhotoStream);
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/3.jpg")});
        command(Hub::PhotoCommand_StopPhotoStream);
        QCOMPARE(taken.size(), 2);
        QCOMPARE(stopped.size(), 3);
        QCOMPARE(stopped.at(0).at(0).toInt(), 1);
        QCOMPARE(stopped.at(1).at(0).toInt(), 0);
        QCOMPARE(stopped.at(2).at(0).toInt(), 0);
    }

    // Only a well-formed report with status 0 becomes PhotoTaken.
    void captureDoneBecomesPhotoTaken()
    {
        QSignalSpy taken(hub(), &Hub::PhotoTaken);
        cameraEvent(Hub::CameraEvent_CaptureDone, {0, QStringLiteral("/p/a.jpg")});
        cameraEvent(Hub::CameraEvent_CaptureDone, {-2, QStringLiteral("/p/b.jpg")});
        cameraEvent(Hub::CameraEvent_CaptureDone, {0});
        QCOMPARE(taken.size(), 1);
        QCOMPARE(taken.at(0), (QVariantList{0, QStringLiteral("/p/a.jpg")}));
    }

    // The camera manager's arrival starts the machine (switching the camera
    // off), its departure stops it; a repeated report changes nothing.
    // CameraEnabled follows a switch only when the camera manager accepts it.
    void serviceAvailabilityAndCameraSwitching()
    {
        QSignalSpy enabled(hub(), &Hub::CameraEnabled);
        QVERIFY(enabled.wait(5000)); // the first availability check finds the camera manager
        QCOMPARE(enabled.at(0).at(0).toBool(), false);
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
        cameraEvent(Hub::CameraEvent_ServiceAvailable, {});
        QCOMPARE(m_log->count(QStringLiteral("OffState::onEntry")), 1);

        QVERIFY(m_mocks.camera.addMethod(QStringLiteral("VideoSetActive"), QStringLiteral("b"),
            QStringLiteral("i"), QStringLiteral("ret = 3")));
        command(Hub::PhotoCommand_EnableCamera, {true});
        QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
        QCOMPARE(enabled.size(), 1);
        QVERIFY(m_mocks.camera.addMethod(QStringLiteral("VideoSetActive"), QStringLiteral("b"),
            QStringLiteral("i"), QStringLiteral("ret = 0")));
        command(Hub::PhotoCommand_EnableCamera, {false});
        QVERIFY(enabled.wait());
        QCOMPARE(enabled.at(1).at(0).toBool(), false);

        cameraEvent(Hub::CameraEvent_ServiceAvailable, {false});
        QTRY_VERIFY(!m_ctrl->stateMachine().isRunning());
    }

    // The capture sequence by the RGB feature manager's answers: the calls
    // made, in order, and the lines written.
    void captureSequence_data()
    {
        QTest::addColumn<QString>("isDisabled");
        QTest::addColumn<QString>("disable");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("lines");
        const QString ask = QStringLiteral("RGBManager Call Synch 0");
        const QString rgb = QStringLiteral("RGBManager Call Synch 1");
        const QString capture = QStringLiteral("Camera Call Synch 1");
        QTest::newRow("switched off and on")
            << "ret = False"
            << "ret = 0" << QStringList{ask, rgb, capture, rgb} << QStringList{};
        QTest::newRow("switching fails") << "ret = False"
                                         << "ret = 1" << QStringList{ask, rgb, capture, rgb}
                                         << QStringList{QStringLiteral("Cannot disable RGB"),
                                                QStringLiteral("Cannot enable RGB")};
        QTest::newRow("already off") << "ret = True"
                                     << "ret = 0" << QStringList{ask, capture} << QStringList{};
        QTest::newRow("unknown") << "raise dbus.exceptions.DBusException('no')"
                                 << "ret = 0" << QStringList{ask, capture}
                                 << QStringList{QStringLiteral(
                                        "I don't know if the RGB is disabled, do nothing")};
    }
    void captureSequence()
    {
        QFETCH(QString, isDisabled);
        QFETCH(QString, disable);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, lines);
        QVERIFY(m_mocks.rgb.addMethod(
            QStringLiteral("IsDisabled"), QString(), QStringLiteral("b"), isDisabled));
        QVERIFY(m_mocks.rgb.addMethod(
            QStringLiteral("Disable"), QStringLiteral("bb"), QStringLiteral("i"), disable));
        startMachine();
        m_ctrl->CapturePhoto();
        const QStringList messages = m_log->messages();
        QCOMPARE(messages.filter(QStringLiteral("Call Synch")), calls);
        QCOMPARE(messages.filter(QRegularExpression(QStringLiteral("RGB$|nothing$"))), lines);
        QStringList rgbCalls;
        for (const MockPeer::Call& call : m_mocks.rgb.calls(QStringLiteral("Disable")))
            rgbCalls << QStringLiteral("%1,%2")
                            .arg(call.args.at(0).toBool())
                            .arg(call.args.at(1).toBool());
        const QStringList expected = calls.size() == 4
            ? QStringList{QStringLiteral("1,0"), QStringLiteral("0,0")}
            : QStringList();
        QCOMPARE(rgbCalls, expected);
        const QList<MockPeer::Call> captures
            = m_mocks.camera.calls(QStringLiteral("CaptureSingle"));
        QCOMPARE(captures.size(), 1);
        QVERIFY(QRegularExpression(
            QStringLiteral("^%1/image_\\d{14}\\.jpg$").arg(QRegularExpression::escape(m_photos)))
                    .match(captures.at(0).args.at(0).toString())
                    .hasMatch());
    }

    // No photo is written over another: a taken name gets the next free
    // counter, and no name is issued twice.
    void photoNamesAreNeverReused()
    {
        const QDateTime now = QDateTime::currentDateTime();
        for (int second = 0; second < 2; ++second) {
            const QString stamp = now.addSecs(second).toString(QStringLiteral("yyyyMMddhhmmss"));
            for (const QString& name :
                {QStringLiteral("image_%1.jpg"), QStringLiteral("image_%1_1.jpg")})
                QVERIFY(QFile(m_photos + QLatin1Char('/') + name.arg(stamp))
                            .open(QIODevice::WriteOnly));
        }
        startMachine();
        m_ctrl->CapturePhoto();
        m_ctrl->CapturePhoto();
        // The mock writes no files: names issued earlier are free on disk,
        // as after trimming, and must still not come back.
        m_ctrl->CapturePhoto();
        QStringList paths;
        for (const MockPeer::Call& call : m_mocks.camera.calls(QStringLiteral("CaptureSingle")))
            paths << call.args.at(0).toString();
        QCOMPARE(paths.size(), 3);
        QVERIFY2(paths.at(0).endsWith(QLatin1String("_2.jpg")), qPrintable(paths.at(0)));
        QCOMPARE(QSet<QString>(paths.cbegin(), paths.cend()).size(), 3);
    }

    // A stream tick keeps the folder within its limit; when it cannot, the
    // tick takes no photo and says so at level 2.
    void streamTickKeepsFolderWithinLimit()
    {
        hub()->SetPhotoFolder(
            QFile::encodeName(m_dir.path() + QStringLiteral("/missing")).constData(), 100);
        command(Hub::PhotoCommand_TakePhotoStream, {1});
        const QString line
            = QStringLiteral("TakePhotoForStream: max photos reached, no more photo please");
        QVERIFY(m_log->waitFor(line));
        QCOMPARE(m_log->matching(line).at(0).level, 2u);
        QVERIFY(!m_log->contains(QStringLiteral("Capture Photo")));
        command(Hub::PhotoCommand_StopPhotoStream);
    }

    // The enabling policy: the user setting and the power state decide
    // whether the machine's start or a power signal switches the camera on.
    void enablingPolicy_data()
    {
        // null: no configuration file; "<empty>": an empty one; "<dir>": a
        // folder in its place, which cannot be read as a file
        QTest::addColumn<QByteArray>("userEnabled");
        QTest::addColumn<QString>("power"); // GetPowerOk's answer
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<bool>("enables");
        QTest::newRow("start, user off") << QByteArray("0") << "(0, True)"
                                         << "start" << false;
        QTest::newRow("start, no configuration") << QByteArray() << "(0, True)"
                                                 << "start" << false;
        QTest::newRow("start, empty configuration") << QByteArray("<empty>") << "(0, True)"
                                                    << "start" << false;
        QTest::newRow("start, unreadable configuration") << QByteArray("<dir>") << "(0, True)"
                                                         << "start" << false;
        QTest::newRow("start, garbage setting") << QByteArray("yes") << "(0, True)"
                                                << "start" << false;
        QTest::newRow("start, no power") << QByteArray("1") << "(0, False)"
                                         << "start" << false;
        QTest::newRow("start, status failed") << QByteArray("1") << "(1, True)"
                                              << "start" << false;
        QTest::newRow("start, power") << QByteArray("1") << "(0, True)"
                                      << "start" << true;
        QTest::newRow("power ok, user on") << QByteArray("2") << "(0, False)"
                                           << "signal true" << true;
        QTest::newRow("power ok, user off") << QByteArray("0") << "(0, True)"
                                            << "signal true" << false;
        QTest::newRow("power lost") << QByteArray("1") << "(0, True)"
                                    << "signal false" << false;
    }
    void enablingPolicy()
    {
        QFETCH(QByteArray, userEnabled);
        QFETCH(QString, power);
        QFETCH(QString, trigger);
        QFETCH(bool, enables);
        const QString settings = m_dir.path() + QStringLiteral("/settings.ini");
        QFile::remove(settings);
        if (userEnabled == "<empty>")
            QVERIFY(QFile(settings).open(QIODevice::WriteOnly));
        else if (userEnabled == "<dir>")
            QVERIFY(QDir().mkdir(settings));
        else if (!userEnabled.isNull())
            writeUserEnabled(userEnabled);
        QVERIFY(m_mocks.status.addMethod(QStringLiteral("GetPowerOk"), QString(),
            QStringLiteral("ib"), QStringLiteral("ret = ") + power));
        QSignalSpy enabled(hub(), &Hub::CameraEnabled);
        if (trigger == QLatin1String("start")) {
            cameraEvent(Hub::CameraEvent_ServiceAvailable, {true});
            QVERIFY(m_log->waitFor(QStringLiteral("camera enabled by user")));
        } else {
            startMachine();
            QVERIFY(m_mocks.status.emitSignal(QStringLiteral("PowerOkChanged"), QStringLiteral("b"),
                {trigger.endsWith(QLatin1String("true"))}));
            QVERIFY(m_log->waitFor(QStringLiteral("camera enabled by user")));
        }
        QCOMPARE(m_log->contains(QStringLiteral("due to Power OK")), enables);
        if (enables) {
            QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
            QTRY_VERIFY(enabled.contains(QVariantList{true}));
        }
    }

    // Client requests do not consult the user setting.
    void clientEnablesWithUserSettingOff()
    {
        startMachine();
        command(Hub::PhotoCommand_EnableCamera, {true});
        QVERIFY(m_log->waitFor(QStringLiteral("OnState::onEntry")));
        QCOMPARE(m_mocks.camera.calls(QStringLiteral("VideoSetActive")).value(0).args,
            QVariantList{true});
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

#include "DaemonProcess.h"
#include "PhotoClient.h"
#include "PrivateBus.h"
#include "SiblingMocks.h"

#include <QDBusPendingCall>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <csignal>

namespace {
const QString kCrash = "import os; os._exit(1)";
const QString kError = "raise dbus.exceptions.DBusException('boom', name='com.zandrel.Error')";
} // namespace

// The real photomanager binary on a private bus with dbusmock siblings, in a
// private mount namespace with a temporary /opt/quor/data: start-up,
// signals, photos end to end, and misbehaving siblings and hostile input,
// under which it keeps serving, recovers once the peer behaves, and never
// loses a photo.
class TestDaemon : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    DaemonProcess* m_daemon = nullptr;

    void startDaemon(bool waitForMachine = true, int timeoutMs = 20000)
    {
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService(timeoutMs));
        if (waitForMachine)
            QVERIFY(m_daemon->waitForLine("statemachine available", 1, timeoutMs));
    }
    // Every method answers; photo requests with the status the folder allows.
    void checkServing(int photoStatus = 0)
    {
        PhotoClient client("serving");
        QCOMPARE(client.call("IsEnabledCamera").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(client.callStatus("EnableCamera", {false}), 0);
        QCOMPARE(client.callStatus("TakePhotoStream", {0}), photoStatus);
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
    }
    // A photo goes through end to end and its file is there.
    void checkPhotoWorks()
    {
        PhotoClient client("photo");
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(client.waitForSignal("PhotoTaken(0,/opt/quor/data/photo/", 20000));
        const QString path = client.received.filter("PhotoTaken").first();
        QVERIFY(QFile::exists(m_daemon->photoDir() + '/' + path.section('/', -1).chopped(1)));
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
        m_daemon = new DaemonProcess;
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_daemon->dumpLog();
        delete m_daemon;
    }

    // Without a bus, or with the name taken: exit status 255 and the three
    // lines of main with their priorities, in order. The daemon exports the
    // logging component for the platform's libraries.
    void startUpFailure_data()
    {
        QTest::addColumn<QString>("environment");
        QTest::newRow("name owned") << QString();
        QTest::newRow("no session bus") << "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent";
    }
    void startUpFailure()
    {
        QFETCH(QString, environment);
        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "owner");
        if (QTest::currentDataTag() == QByteArray("name owned"))
            QVERIFY(other.registerService("com.zandrel.quor.photomanager"));
        QVERIFY(m_daemon->start(environment.isEmpty() ? QStringList() : QStringList{environment}));
        QVERIFY(m_daemon->waitForExit());
        other.unregisterService("com.zandrel.quor.photomanager");
        QCOMPARE(m_daemon->process.exitCode(), 255);
        QCOMPARE(m_daemon->logLines().filter("[Main:").replaceInStrings(
                     QRegularExpression("\\[.*: "), QString()),
            (QStringList{"<5>Starting Photo Manager X...",
                QStringLiteral(
                    "<3>Impossible to create Photo Manager X, dbus initialization failed"),
                "<5>Succesfully terminated"}));
        QProcess nm;
        nm.start(
            "nm", {"-D", "--defined-only", QString::fromLocal8Bit(qgetenv("PHOTOMANAGER_BINARY"))});
        QVERIFY(nm.waitForFinished() && nm.readAllStandardOutput().contains(" B _logInterface\n"));
    }

    // SIGTERM and SIGINT, alone or two at once, end a running daemon once
    // with status 0 after it has served calls.
    void signalsEndTheDaemon_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM};
        QTest::newRow("SIGINT") << QList<int>{SIGINT};
        QTest::newRow("two at once") << QList<int>{SIGTERM, SIGINT};
    }
    void signalsEndTheDaemon()
    {
        QFETCH(QList<int>, sent);
        startDaemon(false);
        PhotoClient client;
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
        QVERIFY(client.waitForSignal("PhotoStreamStopped(0)"));
        for (int signal : sent)
            QVERIFY(m_daemon->sendSignal(signal));
        QVERIFY(m_daemon->waitForExit());
        QCOMPARE(m_daemon->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_daemon->process.exitCode(), 0);
        QCOMPARE(m_daemon->countLines("Succesfully terminated"), 1);
    }

    // One photo from a folder of 100 files: the camera goes on for it and off
    // again, PhotoTaken names the file written, the folder holds 101; then a
    // one-second stream delivers photos and its stop reports how many.
    void photoAndStreamEndToEnd()
    {
        for (int i = 0; i < 100; ++i)
            QVERIFY(QFile(
                m_daemon->photoDir() + QStringLiteral("/old_%1.jpg").arg(i, 3, 10, QChar('0')))
                        .open(QIODevice::WriteOnly));
        startDaemon();
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(client.waitForSignal("CameraEnabled(false)"));
        QCOMPARE(client.received.size(), 3);
        QCOMPARE(client.received.at(0), "CameraEnabled(true)");
        QVERIFY2(client.received.at(1).startsWith("PhotoTaken(0,/opt/quor/data/photo/image_"),
            qPrintable(client.received.at(1)));
        const QString name = client.received.at(1).section('/', -1).chopped(1);
        QVERIFY(QFile::exists(m_daemon->photoDir() + '/' + name));
        QCOMPARE(QDir(m_daemon->photoDir()).entryList(QDir::Files).size(), 101);

        client.received.clear();
        QCOMPARE(client.callStatus("TakePhotoStream", {1}), 0);
        QVERIFY(m_daemon->waitForLine("Emit Photo Event 1", 3, 15000));
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
        QVERIFY(client.waitForSignal("PhotoStreamStopped"));
        const int taken = client.received.filter("PhotoTaken(0,").size();
        QVERIFY(taken >= 2);
        QVERIFY(client.received.contains(QStringLiteral("PhotoStreamStopped(%1)").arg(taken)));
    }

    // The photo end to end with the daemon under valgrind's memcheck (run by
    // the tst_daemon_valgrind test): no invalid access, nothing definitely lost.
    void photoUnderValgrind()
    {
        if (qEnvironmentVariableIsEmpty("PHOTOMANAGER_VALGRIND"))
            QSKIP("run by the tst_daemon_valgrind test");
        m_daemon->wrapper = QStringList{"valgrind", "--error-exitcode=99", "--leak-check=full",
            "--errors-for-leak-kinds=definite", "--show-leak-kinds=definite"};
        startDaemon(true, 120000);
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(client.waitForSignal("PhotoTaken(0,", 60000));
        QVERIFY(m_daemon->sendSignal(SIGTERM));
        QVERIFY(m_daemon->waitForExit(120000));
        QVERIFY(m_daemon->countLines("Memcheck") > 0); // really under valgrind
        QCOMPARE(m_daemon->process.exitCode(), 0);
    }

    // A camera manager answering with errors or wrong types is never taken
    // for present; once it behaves it is found and photos work.
    void cameraManagerMisbehavesAtStart_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("errors") << kError;
        QTest::newRow("wrong types") << "ret = ('x', True)";
    }
    void cameraManagerMisbehavesAtStart()
    {
        QFETCH(QString, code);
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", QString(), "sb", code));
        startDaemon(false);
        QVERIFY(m_daemon->waitForLine("Check for Service", 2));
        checkServing();
        QCOMPARE(m_daemon->countLines("Start photo SM"), 0);
        QVERIFY(m_mocks.reset() && m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->waitForLine("statemachine available"));
        checkPhotoWorks();
    }

    // A camera manager that fails the capture request, then dies in a call:
    // the daemon keeps serving, sends no PhotoTaken for the failed photo,
    // and once the camera manager is back photos work.
    void cameraManagerFailsAndCrashes()
    {
        startDaemon();
        PhotoClient client;
        QVERIFY(m_mocks.camera.addMethod("CaptureSingle", "s", "i", kError));
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(m_daemon->waitForLine("Camera Call Synch 1"));
        QVERIFY(m_mocks.camera.addMethod("VideoGetActive", QString(), "ib", kCrash));
        QCOMPARE(client.call("IsEnabledCamera").arguments(), QVariantList{false});
        QVERIFY(m_daemon->waitForLine("UNREGISTERED"));
        checkServing();
        QVERIFY(m_mocks.reset() && m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->waitForLine("statemachine available", 2));
        checkPhotoWorks();
        QVERIFY(client.waitForSignal("PhotoTaken"));
        QCOMPARE(client.received.filter("PhotoTaken").size(), 1);
    }

    // 200 CaptureDone for paths never asked for touch nothing in the folder.
    void captureDoneFlood()
    {
        QVERIFY(QFile(m_daemon->photoDir() + "/kept.jpg").open(QIODevice::WriteOnly));
        startDaemon();
        for (int i = 0; i < 200; ++i)
            QVERIFY(m_mocks.camera.emitSignal(
                "CaptureDone", "is", {i % 2 ? -i : 0, QStringLiteral("/elsewhere/%1.jpg").arg(i)}));
        QVERIFY(m_daemon->waitForLine("Camera Event: 0", 200));
        checkPhotoWorks();
        QCOMPARE(QDir(m_daemon->photoDir()).entryList(QDir::Files).size(), 2);
    }

    // Whatever the RGB feature manager does, the photo is taken.
    void rgbManagerMisbehaves_data()
    {
        QTest::addColumn<QString>("method"); // empty: the peer is absent
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("line");
        QTest::newRow("absent") << QString() << QString() << "<4>[PhotoManagerCtrl:";
        QTest::newRow("crash") << "IsDisabled" << kCrash << "I don't know if the RGB is disabled";
        QTest::newRow("refuses") << "Disable"
                                 << "ret = '7'"
                                 << "<3>[PhotoManagerCtrl:";
    }
    void rgbManagerMisbehaves()
    {
        QFETCH(QString, method);
        QFETCH(QString, code);
        QFETCH(QString, line);
        const QString in = method == "Disable" ? "bb" : QString();
        QVERIFY(
            method.isEmpty() ? m_mocks.rgb.stop() : m_mocks.rgb.addMethod(method, in, "s", code));
        startDaemon();
        checkPhotoWorks();
        QVERIFY(m_daemon->waitForLine(line));
    }

    // A status manager absent or answering wrongly counts as no power: the
    // camera stays off at start although the user enabled it.
    void statusManagerMisbehaves_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("code"); // empty: absent
        QTest::addColumn<bool>("enables");
        QTest::newRow("absent") << "ib" << QString() << false;
        QTest::newRow("wrong types") << "sb"
                                     << "ret = ('x', True)" << false;
        QTest::newRow("behaves") << "ib"
                                 << "ret = (0, True)" << true;
    }
    void statusManagerMisbehaves()
    {
        QFETCH(QString, signature);
        QFETCH(QString, code);
        QVERIFY(m_daemon->writeUserEnabled("1"));
        QVERIFY(code.isEmpty()
                ? m_mocks.status.stop()
                : m_mocks.status.addMethod("GetPowerOk", QString(), signature, code));
        startDaemon();
        QVERIFY(m_daemon->waitForLine("any power supply connected?"));
        checkServing();
        QTEST(m_daemon->countLines("Re-Enable camera on boot") == 1, "enables");
    }

    // SIGTERM while the daemon waits in a call that outlives its 5 s
    // time-out ends it with status 0 once the call has returned.
    void sigtermDuringBlockingCall()
    {
        startDaemon();
        QVERIFY(m_mocks.camera.addMethod(
            "VideoSetActive", "b", "i", "__import__('time').sleep(7); ret = 0"));
        PhotoClient client;
        client.call("EnableCamera", {true});
        QVERIFY(m_daemon->waitForLine("Enable camera"));
        QVERIFY(m_daemon->sendSignal(SIGTERM));
        QVERIFY(m_daemon->waitForExit(20000));
        QCOMPARE(m_daemon->process.exitCode(), 0);
        QCOMPARE(m_daemon->countLines("Succesfully terminated"), 1);
    }

    // Stream intervals at the edges of the timer's range, and 2000 calls from
    // eight connections at once: every call is answered.
    void hostileCalls()
    {
        startDaemon(false);
        PhotoClient client;
        for (int interval : {INT_MIN, -1, 0, INT_MAX, 2147484, 2147483})
            QCOMPARE(client.callStatus("TakePhotoStream", {interval}), 0);
        QVERIFY(m_daemon->waitForLine("Start photo stream at 2147483s"));
        QCOMPARE(m_daemon->countLines("out of range"), 2);
        QList<QDBusPendingCall> pending;
        for (int c = 0; c < 8; ++c) {
            QDBusConnection connection = QDBusConnection::connectToBus(
                QDBusConnection::SessionBus, QStringLiteral("load%1").arg(c));
            for (int i = 0; i < 250; ++i) {
                QDBusMessage call = QDBusMessage::createMethodCall("com.zandrel.quor.photomanager",
                    "/com/zandrel/quor/photomanager/photoobj", "com.zandrel.quor.photointerface",
                    i % 2 ? "StopPhotoStream" : "EnableCamera");
                call.setArguments(i % 2 ? QVariantList() : QVariantList{bool(i % 4)});
                pending << connection.asyncCall(call, 60000);
            }
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(pending.cbegin(), pending.cend(),
                                     [](const QDBusPendingCall& c) { return c.isFinished(); }),
            60000);
        for (const QDBusPendingCall& call : pending)
            QCOMPARE(call.reply().arguments().value(0), QVariant(0));
        checkServing();
    }

    // A photo folder that is missing, a file, a link to another folder or
    // full and read-only refuses photos; files elsewhere are never touched.
    // Odd names in a full folder are trimmed, one log record per line.
    void photoFolderFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("status");
        QTest::newRow("missing") << "missing" << -59;
        QTest::newRow("a plain file") << "file" << -59;
        QTest::newRow("a link") << "link" << -59;
        QTest::newRow("full, read-only") << "readonly" << -59;
        QTest::newRow("odd names") << "odd" << 0;
    }
    void photoFolderFaults()
    {
        QFETCH(QString, fault);
        QFETCH(int, status);
        const QString photos = m_daemon->photoDir();
        QTemporaryDir elsewhere;
        QVERIFY(QFile(elsewhere.path() + "/precious.jpg").open(QIODevice::WriteOnly));
        const bool full = fault == "odd" || fault == "readonly";
        if (!full)
            QVERIFY(QDir(photos).removeRecursively());
        if (fault == "file")
            QVERIFY(QFile(photos).open(QIODevice::WriteOnly));
        if (fault == "link")
            QVERIFY(QFile::link(elsewhere.path(), photos));
        const QList<QByteArray> odd{
            "%s%n.jpg", "new\nline.jpg", "bad\xff.jpg", QByteArray(255, 'x')};
        for (int i = 0; full && i < 101; ++i)
            QVERIFY(QFile(QFile::decodeName(QFile::encodeName(photos) + '/'
                              + odd.value(i, QByteArray::number(i))))
                        .open(QIODevice::WriteOnly));
        m_daemon->readOnlyPhotos = fault == "readonly";
        startDaemon(false);
        checkServing(status);
        QVERIFY(QFile::exists(elsewhere.path() + "/precious.jpg"));
        QCOMPARE(m_daemon->countLines("<4>[dbus/DBusInterface:"), status ? 1 : 0);
        QCOMPARE(m_daemon->countLines("remove exceeding file: "), status ? 0 : 1);
        for (const QString& line : m_daemon->logLines())
            QVERIFY2(line.startsWith('<'), qPrintable(line)); // one record per line
    }

    // Retention settings reach the binary: a size limit trims one of three
    // 400 KiB photos; the file changed to free space out of reach refuses a
    // photo with the limit named, and nothing more goes.
    void retentionSettings()
    {
        QFile settings(m_daemon->dataDir() + "/config/settings.ini");
        QVERIFY(settings.open(QIODevice::WriteOnly)
            && settings.write("[PHOTOMANAGER]\nmax_megabytes=1\n") && settings.flush());
        for (const char* name : {"/a", "/b", "/c"})
            QVERIFY(QFile(m_daemon->photoDir() + name).open(QIODevice::WriteOnly)
                && QFile::resize(m_daemon->photoDir() + name, 400 << 10));
        startDaemon(false);
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(settings.seek(0)
            && settings.write("[PHOTOMANAGER]\nmin_free_megabytes=2147483647\n")
            && settings.flush());
        QCOMPARE(client.callStatus("TakePhoto"), -59);
        QVERIFY(m_daemon->waitForLine("under min_free_megabytes"));
        QCOMPARE(m_daemon->countLines("remove exceeding file: "), 1);
    }

    // The daemon's own bus killed under it: a level-1 line naming the bus and
    // a failure status, so that a supervisor restarts it.
    void busLoss()
    {
        QProcess bus; // not the suite's bus, which the other cases keep using
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        QVERIFY(m_daemon->start({"DBUS_SESSION_BUS_ADDRESS=" + bus.readLine().trimmed()}));
        QVERIFY(m_daemon->waitForLine("Check for Service")); // in its loop, on that bus
        bus.kill();
        QVERIFY(bus.waitForFinished() && m_daemon->waitForExit());
        QCOMPARE(m_daemon->process.exitCode(), 2);
        QCOMPARE(
            m_daemon->logLines().filter("<3>[BusWatcher:").filter("D-Bus session bus").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDaemon)
#include "tst_daemon.moc"

#include "DaemonProcess.h"
#include "PhotoClient.h"
#include "PrivateBus.h"
#include "SiblingMocks.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QLocalServer>
#include <QtTest>

#include <algorithm>
#include <csignal>

namespace {
const char kCrash[] = "import os; os._exit(1)";
const char kError[] = "raise dbus.exceptions.DBusException('boom', name='com.zandrel.Error')";
} // namespace

// The real photomanager binary on a private bus with dbusmock siblings, in a
// private mount namespace with a temporary /opt/quor/data: start-up, signals,
// truthful answers, misbehaving siblings and hostile input.
class TestDaemon : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    DaemonProcess* m_daemon = nullptr;

    void startDaemon(bool waitForMachine = true, int timeoutMs = 20000, const QStringList& env = {})
    {
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->start(env));
        QVERIFY(m_daemon->waitForService(timeoutMs));
        QVERIFY(!waitForMachine || m_daemon->waitForLine("statemachine available", 1, timeoutMs));
        // The daemon's main thread answers this after the start-up's signals,
        // held state changes included, are on their way, so a client that
        // subscribes afterwards does not receive them.
        QDBusMessage getAll = QDBusMessage::createMethodCall(BusNames::kPhotoService,
            BusNames::kPhotoPath, "org.freedesktop.DBus.Properties", "GetAll");
        getAll << BusNames::kPhotoStateInterface;
        QVERIFY(!waitForMachine
            || QDBusConnection::sessionBus().call(getAll).type() == QDBusMessage::ReplyMessage);
    }
    // Every method answers: a switch as the camera manager's presence allows,
    // a stream of interval 0 as the folder allows (-59) or else -22.
    void checkServing(int streamStatus = -22, int enableStatus = 0)
    {
        PhotoClient client("serving");
        QCOMPARE(client.call("IsEnabledCamera").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(client.callStatus("EnableCamera", {false}), enableStatus);
        QCOMPARE(client.callStatus("TakePhotoStream", {0}), streamStatus);
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
    }
    // A photo goes through end to end and its file is there.
    void checkPhotoWorks()
    {
        PhotoClient client("photo");
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(client.waitForSignal("PhotoTaken(0,/opt/quor/data/photo/", 20000));
        const QString path = client.received.filter("PhotoTaken").constFirst();
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
    // lines of main with their priorities, in order.
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
        // clang-format off
        QCOMPARE(m_daemon->logLines().filter("[Main:").replaceInStrings(QRegularExpression("\\[.*: "), QString()),
            (QStringList{"<5>Starting Photo Manager X...", QStringLiteral("<3>Impossible to create Photo Manager X, dbus initialization failed"), "<5>Succesfully terminated"}));
        // clang-format on
    }

    // --help and --version print and end with 0, anything else with 2 and a usage line; none
    // connects to the bus, here a socket that never answers and must see no connection.
    void commandLine_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("printed");
        QTest::newRow("--version") << "--version" << 0 << "^photomanager \\d+\\.\\d+\\.\\d+\n\\|$";
        QTest::newRow("--help") << "--help" << 0 << "^Usage: [^|]*--version[^|]*\\|$";
        QTest::newRow("option") << "--bogus" << 2
                                << "^\\|.*'bogus'.*\nUsage: photomanager \\[.*\n$";
        QTest::newRow("argument") << "run" << 2 << "^\\|.*'run'.*\nUsage: ";
    }
    void commandLine()
    {
        QFETCH(QString, argument);
        QFETCH(QString, printed);
        QLocalServer bus;
        QVERIFY(bus.listen(m_daemon->dataDir() + "/bus"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus.fullServerName());
        QProcess daemon;
        daemon.setProcessEnvironment(env);
        const QStringList command = m_daemon->wrapper
            + QStringList{qEnvironmentVariable("PHOTOMANAGER_BINARY"), argument};
        daemon.start(command.first(), command.mid(1));
        QVERIFY(daemon.waitForFinished(DaemonProcess::scaled(20000)));
        QTEST(daemon.exitCode(), "status");
        const QString output = daemon.readAllStandardOutput() + '|' + daemon.readAllStandardError();
        QVERIFY2(output.contains(QRegularExpression("(?s)" + printed)), qPrintable(output));
        QVERIFY(!bus.waitForNewConnection(0));
    }

    // SIGTERM and SIGINT, alone or two at once, end a running daemon once
    // with status 0 after it has served calls, also while it waits in a call
    // that outlives its time-out (once the call has returned).
    void signalsEndTheDaemon_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("blocked");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << false;
        QTest::newRow("SIGINT") << QList<int>{SIGINT} << false;
        QTest::newRow("two at once") << QList<int>{SIGTERM, SIGINT} << false;
        QTest::newRow("in a blocking call") << QList<int>{SIGTERM} << true;
    }
    void signalsEndTheDaemon()
    {
        QFETCH(QList<int>, sent);
        QFETCH(bool, blocked);
        startDaemon(true, 20000, {"PHOTOMANAGER_SIBLING_TIMEOUT_MS=500"});
        QVERIFY(m_mocks.camera.addMethod(
            "VideoSetActive", "b", "i", "__import__('time').sleep(2); ret = 0"));
        PhotoClient client;
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
        QVERIFY(client.waitForSignal("PhotoStreamStopped(0)"));
        if (blocked)
            client.call("EnableCamera", {true});
        QVERIFY(!blocked || m_daemon->waitForLine("Enable camera"));
        for (int signal : sent)
            QVERIFY(m_daemon->sendSignal(signal));
        QVERIFY(m_daemon->waitForExit());
        QCOMPARE(m_daemon->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_daemon->process.exitCode(), 0);
        QCOMPARE(m_daemon->countLines("Succesfully terminated"), 1);
    }

    // Each request answered 0 has exactly one outcome; each the daemon cannot
    // carry out is refused with its reason. Script: methods such as TakePhoto,
    // EnableCamera0 (answers listed); sent (a new capture request reached the
    // camera manager), doneS (sent, then CaptureDone(S) for it), forge
    // (CaptureDone(0, /etc/shadow)), taken (next PhotoTaken), gone/back (camera
    // manager leaves/returns), fix (VideoSetActive behaves), seenN (N signals
    // arrived), ! (faults from here).
    // Signals: on/off, status:path (P: a path asked for), stopped(N), [property
    // changes] (those of one turn together, each after its event's signal and
    // before a later event's), Get agreeing. Calls: 1/0 VideoSetActive, C
    // CaptureSingle.
    void truthfulAnswers_data()
    {
        QTest::addColumn<QString>("faults"); // Method=code or environment entries, by |
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QString>("expected"); // signals
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("line"); // a log line matches it
        // clang-format off
        QTest::newRow("capture refused") << "CaptureSingle=ret = -7" << "TakePhoto taken TakePhoto taken" << "0 0" << "on [CameraEnabled=true,Capturing=true] -7:P off [CameraEnabled=false,Capturing=false] on [CameraEnabled=true,Capturing=true] -7:P off [CameraEnabled=false,Capturing=false]" << "1C01C0" << "<4>.*refused by the camera manager: -7";
        QTest::newRow("capture answered 3") << "CaptureSingle=ret = 3" << "TakePhoto taken" << "0" << "on [CameraEnabled=true,Capturing=true] -51:P off [CameraEnabled=false,Capturing=false]" << "1C0" << "<4>.*refused by the camera manager: 3";
        QTest::newRow("capture call fails") << QString("CaptureSingle=") + kError << "TakePhoto taken TakePhoto taken" << "0 0" << "on [CameraEnabled=true,Capturing=true] -51:P off [CameraEnabled=false,Capturing=false] on [CameraEnabled=true,Capturing=true] -51:P off [CameraEnabled=false,Capturing=false]" << "1C01C0" << "<4>.*CaptureSingle call failed";
        QTest::newRow("capture call times out") << "PHOTOMANAGER_SIBLING_TIMEOUT_MS=1000|CaptureSingle=__import__('time').sleep(2.5); ret = 0" << "EnableCamera1 seen2 TakePhoto taken" << "0 0" << "on [CameraEnabled=true] [Capturing=true] -51:P [Capturing=false]" << "1C" << "<4>.*CaptureSingle call failed";
        QTest::newRow("capture answered late") << "PHOTOMANAGER_SIBLING_TIMEOUT_MS=1000|CaptureSingle=__import__('time').sleep(2.5); ret = 0" << "TakePhoto taken" << "0" << "on [CameraEnabled=true,Capturing=true] -51:P [Capturing=false] off [CameraEnabled=false]" << "1C0" << "<5>.*Owed switch made: VideoSetActive\\(false\\)";
        QTest::newRow("guard expires") << "PHOTOMANAGER_CAPTURE_TIMEOUT_MS=300" << "TakePhoto taken" << "0" << "on [CameraEnabled=true,Capturing=true] -51:P off [CameraEnabled=false,Capturing=false]" << "1C0" << "<4>.*no CaptureDone within 300 ms";
        QTest::newRow("late CaptureDone") << "CaptureSingle=ret = -7" << "TakePhoto taken done0" << "0" << "on [CameraEnabled=true,Capturing=true] -7:P off [CameraEnabled=false,Capturing=false]" << "1C0" << "<5>.*CaptureDone\\(0\\) for /opt/quor/data/photo/image_.* ignored";
        QTest::newRow("negative CaptureDone") << "" << "TakePhoto done-5" << "0" << "on [CameraEnabled=true,Capturing=true] -5:P off [CameraEnabled=false,Capturing=false]" << "1C0" << "<4>.*failed in the camera manager: -5";
        QTest::newRow("foreign CaptureDone") << "" << "TakePhoto forge done0" << "0" << "on [CameraEnabled=true,Capturing=true] 0:P off [CameraEnabled=false,Capturing=false,LastPhoto=P]" << "1C0" << "<5>.*CaptureDone\\(0\\) for /etc/shadow ignored";
        QTest::newRow("busy") << "" << "TakePhoto TakePhoto EnableCamera0 done0" << "0 -50 -50" << "on [CameraEnabled=true,Capturing=true] 0:P off [CameraEnabled=false,Capturing=false,LastPhoto=P]" << "1C0" << "";
        QTest::newRow("absent, stream waits") << "" << "gone TakePhoto EnableCamera1 TakePhotoStream1 back done-5 done0 sent StopPhotoStream" << "-51 -51 0 0" << "[CameraManagerPresent=false] [StreamInterval=1] off [CameraManagerPresent=true] on [CameraEnabled=true,Capturing=true] -5:P off [CameraEnabled=false,Capturing=false] on [CameraEnabled=true,Capturing=true] 0:P off [CameraEnabled=false,Capturing=false,LastPhoto=P,StreamPhotos=1] on [CameraEnabled=true,Capturing=true] stopped(1) [StreamInterval=0,StreamPhotos=0]" << "01C01C01C" << "<4>.*TakePhoto: camera manager not on the bus";
        QTest::newRow("leaves mid-capture") << "" << "TakePhoto sent gone back TakePhoto done0" << "0 0" << "on [CameraEnabled=true,Capturing=true] -51:P [CameraEnabled=false,CameraManagerPresent=false,Capturing=false] off [CameraManagerPresent=true] on [CameraEnabled=true,Capturing=true] 0:P off [CameraEnabled=false,Capturing=false,LastPhoto=P]" << "1C01C0" << "<4>.*ended: camera manager left the bus";
        QTest::newRow("stream requests") << "" << "TakePhotoStream0 TakePhotoStream2147484 TakePhotoStream2147483 TakePhotoStream1 StopPhotoStream" << "-22 -22 0 -50 0" << "[StreamInterval=2147483] stopped(0) [StreamInterval=0]" << "" << "<4>.*already active at 2147483s";
        QTest::newRow("switch on refused") << "VideoSetActive=ret = 3" << "EnableCamera1 fix EnableCamera1" << "0 0" << "on [CameraEnabled=true]" << "11" << "<4>.*VideoSetActive\\(true\\) refused by the camera manager: 3";
        QTest::newRow("switch off refused") << "VideoSetActive=ret = 3" << "EnableCamera1 seen2 ! EnableCamera0 fix EnableCamera0" << "0 0 0" << "on [CameraEnabled=true] off [CameraEnabled=false]" << "100" << "";
        QTest::newRow("switch refused for a photo") << "VideoSetActive=ret = 3" << "TakePhoto done0" << "0" << "[Capturing=true] 0:P [Capturing=false,LastPhoto=P]" << "1C" << "";
        // clang-format on
    }
    void truthfulAnswers()
    {
        QFETCH(QString, faults);
        QFETCH(QString, script);
        QFETCH(QString, expected);
        QFETCH(QString, line);
        QStringList env, methods;
        const QStringList given = faults.split('|', Qt::SkipEmptyParts);
        for (const QString& f : given)
            (f.startsWith("PHOTOMANAGER_") ? env : methods) << f;
        startDaemon(true, 20000, env);
        MockPeer& camera = m_mocks.camera;
        const QString owner
            = QDBusConnection::sessionBus().interface()->serviceOwner(camera.service);
        // By its unique name, which stays while the well-known one is given up.
        const auto own = [&](const char* method) {
            const QDBusMessage call
                = QDBusMessage::createMethodCall(owner, camera.path, camera.interface, method);
            return QDBusConnection::sessionBus().call(call).type() == QDBusMessage::ReplyMessage;
        };
        QVERIFY(camera.addMethod("CaptureSingle", "s", "i", "ret = 0") && camera.clearCalls()
            && camera.addMethod(
                "Leave", "", "", "self.connection.release_name(self.bus_name.get_name())")
            && camera.addMethod(
                "Back", "", "", "self.connection.request_name(self.bus_name.get_name())"));
        PhotoClient client;
        QVariantMap state = client.properties(); // kept up to date from PropertiesChanged
        const auto captures = [&] {
            QStringList paths = camera.callLog("CaptureSingle");
            for (QString& call : paths)
                call = call.mid(int(strlen("CaptureSingle("))).chopped(1);
            return paths;
        };
        QStringList answers;
        int seen = 0, taken = 0; // capture requests seen, PhotoTaken awaited
        int switches = 0; // VideoSetActive calls made before the last EnableCamera
        static const QRegularExpression digits("[-0-9]");
        const QStringList words = (script.contains('!') ? script : "! " + script).split(' ');
        for (const QString& word : words) {
            const QString action = word.section(digits, 0, 0);
            const int number = word.midRef(action.size()).toInt();
            if (action == "EnableCamera")
                switches = camera.callLog("VideoSetActive").size();
            if (action[0].isUpper()) // a method, with its argument if any
                answers << QString::number(client.callStatus(action,
                    action == "TakePhotoStream"    ? QVariantList{number}
                        : action == "EnableCamera" ? QVariantList{number == 1}
                                                   : QVariantList{}));
            if (action == "done" || action == "sent") {
                QVERIFY(QTest::qWaitFor([&] { return captures().size() > seen; }));
                seen = captures().size();
            }
            if (action == "done" || action == "forge")
                QVERIFY(camera.emitSignal("CaptureDone", "is",
                    {number, action == "forge" ? "/etc/shadow" : captures().constLast()}));
            if (action == "taken" && ++taken)
                QVERIFY(QTest::qWaitFor(
                    [&] { return client.received.filter("PhotoTaken").size() >= taken; }, 20000));
            QVERIFY(action != "gone" || (own("Leave") && m_daemon->waitForLine("Stop photo SM")));
            QVERIFY(action != "back"
                || (own("Back") && m_daemon->waitForLine("statemachine available", 2)));
            // The answer comes before the switch is made: mend the camera only
            // once the refused switch has reached it.
            QVERIFY(action != "fix" || (QTest::qWaitFor([&] {
                return camera.callLog("VideoSetActive").size() > switches;
            }) && camera.addMethod("VideoSetActive", "b", "i", "ret = 0")));
            QVERIFY(action != "seen"
                || QTest::qWaitFor([&] { return client.received.size() >= number; }));
            for (const QString& m : qAsConst(methods))
                QVERIFY(action != "!"
                    || camera.addMethod(m.section('=', 0, 0), m.startsWith("Capture") ? "s" : "b",
                        "i", m.section('=', 1)));
        }
        // What the daemon still had to do is done before it answers this.
        QVERIFY(
            QTest::qWaitFor([&] { return client.received.size() > expected.count(' '); }, 20000));
        const int before = client.received.size();
        QCOMPARE(client.callStatus("StopPhotoStream"), 0);
        QVERIFY(QTest::qWaitFor([&] { return client.received.size() > before; }, 20000));
        static const QRegularExpression photoTaken("^PhotoTaken\\((.*),(.*)\\)$"),
            propertiesChanged("^PropertiesChanged\\((.*)\\)$");
        QStringList shown = client.received.mid(0, before);
        const QStringList paths = captures();
        for (QString& signal : shown) {
            const QStringList changes = signal.mid(18).chopped(1).split(',');
            for (const QString& change : changes)
                if (signal.startsWith("PropertiesChanged("))
                    state[change.section('=', 0, 0)] = change.section('=', 1);
            for (const QString& path : paths)
                signal.replace(path, "P");
            signal.replace(photoTaken, "\\1:\\2")
                .replace(propertiesChanged, "[\\1]")
                .replace("CameraEnabled(true)", "on")
                .replace("CameraEnabled(false)", "off")
                .replace("PhotoStreamStopped", "stopped");
        }
        QString called;
        const QStringList calls = camera.callLog();
        for (const QString& call : calls)
            called += call.startsWith("CaptureSingle(") ? "C"
                : call == "VideoSetActive(true)"        ? "1"
                : call.startsWith("VideoSetActive(")    ? "0"
                                                        : "";
        QTEST(answers.join(' '), "answers");
        QCOMPARE(shown.join(' '), expected);
        QTEST(called, "calls");
        QVERIFY2(line.isEmpty() || !m_daemon->logLines().filter(QRegularExpression(line)).isEmpty(),
            qPrintable(line));
        QCOMPARE(client.properties(), state); // Get agrees with the changes sent
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

    // A camera manager answering with errors or wrong types is never taken for
    // present (-51) until it behaves; whatever the RGB feature manager does,
    // the photo is taken; a status manager absent or answering wrongly counts
    // as no power, so the camera stays off at start although the user enabled
    // it ("!": no such line).
    void siblingMisbehaves_data()
    {
        QTest::addColumn<QString>("method"); // empty: the peer (named first) is absent
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("line");
        // clang-format off
        QTest::newRow("camera errors") << "VideoGetActive" << "sb" << kError << "Check for Service";
        QTest::newRow("camera wrong types") << "VideoGetActive" << "sb" << "ret = ('x', True)" << "Check for Service";
        QTest::newRow("rgb absent") << "" << "" << "" << "<4>[PhotoManagerCtrl:";
        QTest::newRow("rgb crashes") << "IsDisabled" << "s" << kCrash << "I don't know if the RGB is disabled";
        QTest::newRow("rgb refuses") << "Disable" << "s" << "ret = '7'" << "<3>[PhotoManagerCtrl:";
        QTest::newRow("status absent") << "" << "" << "" << "!Re-Enable camera on boot";
        QTest::newRow("status wrong types") << "GetPowerOk" << "sb" << "ret = ('x', True)" << "!Re-Enable camera on boot";
        QTest::newRow("status behaves") << "GetPowerOk" << "ib" << "ret = (0, True)" << "Re-Enable camera on boot";
        // clang-format on
    }
    void siblingMisbehaves()
    {
        QFETCH(QString, method);
        QFETCH(QString, out);
        QFETCH(QString, code);
        QFETCH(QString, line);
        const char first = QTest::currentDataTag()[0];
        MockPeer& peer = first == 'r' ? m_mocks.rgb
            : first == 's'            ? m_mocks.status
                                      : m_mocks.camera;
        QVERIFY(m_daemon->writeUserEnabled("1"));
        QVERIFY(method.isEmpty()
                ? peer.stop()
                : peer.addMethod(method, method == "Disable" ? "bb" : "", out, code));
        startDaemon(first != 'c');
        if (first == 'c') {
            QVERIFY(m_daemon->waitForLine("Check for Service", 2));
            checkServing(-22, -51); // the state machine is not running
            QVERIFY(m_mocks.reset() && m_mocks.captureWrites(m_daemon->dataDir())
                && m_daemon->waitForLine("statemachine available"));
        }
        checkPhotoWorks();
        QVERIFY(line.startsWith('!') ? m_daemon->countLines(line.mid(1)) == 0
                                     : m_daemon->waitForLine(line));
        // A status manager that comes late and never signals a change of
        // power: its arrival switches the camera on.
        if (first == 's' && method.isEmpty()) {
            MockPeer late(peer.service, peer.path, peer.interface,
                DaemonProcess::sourceDir() + "/sim/statusmanager.py");
            QVERIFY(late.start() && m_daemon->waitForLine("Enable camera due to Power OK"));
            QVERIFY(late.stop());
        }
    }

    // 2000 calls from eight connections at once: every call is answered.
    void hostileCalls()
    {
        startDaemon();
        QList<QDBusPendingCall> pending;
        for (int i = 0; i < 2000; ++i) {
            QDBusMessage call = QDBusMessage::createMethodCall("com.zandrel.quor.photomanager",
                "/com/zandrel/quor/photomanager/photoobj", "com.zandrel.quor.photointerface",
                i % 2 ? "StopPhotoStream" : "EnableCamera");
            call.setArguments(i % 2 ? QVariantList() : QVariantList{bool(i % 4)});
            pending << QDBusConnection::connectToBus(
                QDBusConnection::SessionBus, QStringLiteral("load%1").arg(i % 8))
                           .asyncCall(call, 60000);
        }
        const auto finished = [](const QDBusPendingCall& c) { return c.isFinished(); };
        QVERIFY(QTest::qWaitFor(
            [&] { return std::all_of(pending.cbegin(), pending.cend(), finished); }, 60000));
        for (const QDBusPendingCall& call : qAsConst(pending))
            QCOMPARE(call.reply().arguments().value(0), QVariant(0));
    }

    // The camera manager stops answering but keeps its name: six clients
    // calling at once are all answered within their own time-out of two and
    // a half of the daemon's (before, the calls' time-outs stacked up), the
    // photo fails with -51, no later call reaches it within the back-off, and
    // once the camera manager runs again the next photo works.
    void hungCameraManager()
    {
        startDaemon(true, 20000, {"PHOTOMANAGER_SIBLING_TIMEOUT_MS=1000"});
        PhotoClient client;
        QVERIFY(m_mocks.camera.clearCalls() && m_mocks.camera.hang(true));
        const auto resume = qScopeGuard([&] { m_mocks.camera.hang(false); });
        const QStringList methods{"IsEnabledCamera", "IsEnabledCamera", "IsEnabledCamera",
            "TakePhoto", "StopPhotoStream", "GetAll"};
        QList<QDBusPendingCall> pending;
        for (const QString& method : methods) {
            QDBusMessage call = QDBusMessage::createMethodCall(BusNames::kPhotoService,
                BusNames::kPhotoPath,
                method == "GetAll" ? "org.freedesktop.DBus.Properties" : BusNames::kPhotoInterface,
                method);
            call.setArguments(
                method == "GetAll" ? QVariantList{BusNames::kPhotoStateInterface} : QVariantList());
            pending << QDBusConnection::connectToBus(
                QDBusConnection::SessionBus, method + QString::number(pending.size()))
                           .asyncCall(call, DaemonProcess::scaled(2500));
        }
        QStringList answers;
        for (QDBusPendingCall& call : pending) {
            call.waitForFinished();
            answers << (call.isError() ? call.error().name()
                                       : call.reply().arguments().value(0).toString());
        }
        QCOMPARE(answers.join(' '), "false false false 0 0 ");
        QVERIFY(client.waitForSignal("PhotoTaken(-51,"));
        // Within the back-off no call reaches it, however the calls are spaced.
        for (int i = 0; i < 3; ++i)
            QCOMPARE(client.call("IsEnabledCamera").arguments(), QVariantList{false});
        QVERIFY(m_mocks.camera.hang(false));
        QVERIFY(m_daemon->waitForLine("cameramanager answers again"));
        QCOMPARE(m_mocks.camera.callLog("VideoGetActive").size(), 1);
        checkPhotoWorks();
        QCOMPARE(m_daemon->countLines("<4>[dbus/SiblingHealth:"), 1); // stopped answering
    }

    // A request sent the moment the name is owned, as activation delivers it,
    // with the camera manager looked for only once a second: it is served.
    void firstRequestServed()
    {
        PhotoClient client;
        QDBusPendingCall* answer = nullptr;
        QDBusServiceWatcher watcher(BusNames::kPhotoService, QDBusConnection::sessionBus(),
            QDBusServiceWatcher::WatchForRegistration);
        connect(&watcher, &QDBusServiceWatcher::serviceRegistered, this, [&] {
            answer = new QDBusPendingCall(QDBusConnection::sessionBus().asyncCall(
                QDBusMessage::createMethodCall(BusNames::kPhotoService, BusNames::kPhotoPath,
                    BusNames::kPhotoInterface, "TakePhoto")));
        });
        startDaemon(false, 20000, {"PHOTOMANAGER_CAMERA_CHECK_MS=1000"});
        QVERIFY(QTest::qWaitFor([&] { return answer && answer->isFinished(); }));
        const QScopedPointer<QDBusPendingCall> owned(answer);
        QCOMPARE(answer->reply().arguments().value(0), QVariant(0));
        QVERIFY(client.waitForSignal("PhotoTaken(0,", 20000));
    }

    // The daemon killed while a capture has the RGB feature off: the record
    // in its runtime folder outlives it, and the next start switches the
    // feature on again and removes the record.
    void killedMidCapture()
    {
        const QString record = m_daemon->runtimeDir() + "/photomanager/rgb-disabled";
        startDaemon();
        QVERIFY(m_mocks.camera.addMethod(
            "CaptureSingle", "s", "i", "__import__('time').sleep(3); ret = 0"));
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(QTest::qWaitFor([&] { return !m_mocks.rgb.callLog("Disable").isEmpty(); }));
        QVERIFY(QFile::exists(record));
        QVERIFY(m_daemon->sendSignal(SIGKILL) && m_daemon->waitForExit());
        QVERIFY(m_mocks.rgb.clearCalls());
        startDaemon();
        QVERIFY(m_daemon->waitForLine("RGB feature switched on again"));
        QCOMPARE(m_mocks.rgb.callLog("Disable"), QStringList{"Disable(false,false)"});
        QVERIFY(!QFile::exists(record));
    }

    // The daemon's own bus killed under it: a level-1 line naming the bus and
    // a failure status, so that a supervisor restarts it.
    void busLoss()
    {
        QProcess bus; // not the suite's bus, which the other cases keep using
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        QVERIFY(m_daemon->start({"DBUS_SESSION_BUS_ADDRESS=" + bus.readLine().trimmed()}));
        QVERIFY(m_daemon->waitForLine("Check for Service")); // set up, on that bus
        bus.kill();
        QVERIFY(bus.waitForFinished() && m_daemon->waitForExit());
        QCOMPARE(m_daemon->process.exitCode(), 2);
        QCOMPARE(
            m_daemon->logLines().filter("<3>[BusWatcher:").filter("D-Bus session bus").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDaemon)
#include "tst_daemon.moc"

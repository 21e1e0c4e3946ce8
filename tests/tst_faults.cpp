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
const QString kCrash = QStringLiteral("import os; os._exit(1)");
const QString kError = QStringLiteral(
    "raise dbus.exceptions.DBusException('boom', name='com.zandrel.Error.Failed')");
} // namespace

// The real binary under misbehaving siblings and hostile input: it must keep
// serving, recover once the peer behaves, and never lose a photo.
class TestFaults : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    DaemonProcess* m_daemon = nullptr;

    void startDaemon()
    {
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService());
    }
    void waitForMachine(int starts = 1)
    {
        QVERIFY(m_daemon->waitForLine(QStringLiteral("statemachine available"), starts));
    }
    // Every method still answers with a reply of the right shape; photo
    // requests with the status the photo folder allows.
    void checkServing(int photoStatus = 0)
    {
        PhotoClient client(QStringLiteral("serving-check"));
        QCOMPARE(client.call(QStringLiteral("IsEnabledCamera")).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(client.callStatus(QStringLiteral("EnableCamera"), {false}), 0);
        QCOMPARE(client.callStatus(QStringLiteral("TakePhotoStream"), {0}), photoStatus);
        QCOMPARE(client.callStatus(QStringLiteral("StopPhotoStream")), 0);
        QVERIFY(m_daemon->isRunning());
    }
    // A photo goes through end to end and its file is there.
    void checkPhotoWorks()
    {
        PhotoClient client(QStringLiteral("photo-check"));
        QCOMPARE(client.callStatus(QStringLiteral("TakePhoto")), 0);
        QVERIFY(client.waitForSignal(QStringLiteral("PhotoTaken(0,/opt/quor/data/photo/"), 20000));
        const QString path = client.signalsReceived().filter(QStringLiteral("PhotoTaken")).first();
        QVERIFY(QFile::exists(m_daemon->photoDir() + QLatin1Char('/')
            + path.section(QLatin1Char('/'), -1).chopped(1)));
    }
    bool camera(const QString& method, const QString& in, const QString& out, const QString& code)
    {
        return m_mocks.camera.addMethod(method, in, out, code);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
        QVERIFY(m_mocks.start());
    }
    void init()
    {
        for (MockPeer* peer : {&m_mocks.camera, &m_mocks.rgb, &m_mocks.status}) {
            if (!peer->isRunning())
                QVERIFY(peer->start());
        }
        QVERIFY(m_mocks.reset());
        m_daemon = new DaemonProcess;
    }
    void cleanup()
    {
        if (QTest::currentTestFailed())
            m_daemon->dumpLog();
        delete m_daemon;
    }

    // A camera manager that answers with errors or the wrong types is never
    // taken for present; once it behaves it is found and photos work.
    void cameraManagerMisbehavesAtStart_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("errors") << kError;
        QTest::newRow("wrong types") << "ret = ('x', True)";
    }
    void cameraManagerMisbehavesAtStart()
    {
        QFETCH(QString, code);
        QVERIFY(camera(QStringLiteral("VideoGetActive"), QString(), QStringLiteral("sb"), code));
        startDaemon();
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Check for Service"), 2));
        checkServing();
        QCOMPARE(m_daemon->countLines(QStringLiteral("Start photo SM")), 0);
        QVERIFY(m_mocks.reset() && m_mocks.captureWrites(m_daemon->dataDir()));
        waitForMachine();
        checkPhotoWorks();
    }

    // A camera manager that fails the capture request or dies in it: the
    // daemon keeps serving, and once the camera manager is back, photos work.
    void cameraManagerFailsCapture()
    {
        startDaemon();
        waitForMachine();
        QVERIFY(camera(
            QStringLiteral("CaptureSingle"), QStringLiteral("s"), QStringLiteral("i"), kError));
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("TakePhoto")), 0);
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Camera Call Synch 1")));
        QVERIFY(camera(
            QStringLiteral("CaptureSingle"), QStringLiteral("s"), QStringLiteral("i"), kCrash));
        QVERIFY(m_mocks.camera.kill());
        checkServing();
        QVERIFY(m_mocks.camera.start() && m_mocks.reset()
            && m_mocks.captureWrites(m_daemon->dataDir()));
        waitForMachine(2);
        checkPhotoWorks();
        // Only the later photo, none for the failed capture.
        QVERIFY(client.waitForSignal(QStringLiteral("PhotoTaken")));
        QCOMPARE(client.signalsReceived().filter(QStringLiteral("PhotoTaken")).size(), 1);
    }

    // Leaving and coming back many times in a row, crashing in the middle of
    // a call, then behaving: photos work.
    void cameraManagerComesAndGoes()
    {
        startDaemon();
        waitForMachine();
        for (int i = 0; i < 5; ++i) {
            QVERIFY(m_mocks.camera.stop());
            QVERIFY(m_mocks.camera.start());
        }
        QVERIFY(m_mocks.reset());
        QVERIFY(camera(
            QStringLiteral("VideoSetActive"), QStringLiteral("b"), QStringLiteral("i"), kCrash));
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("EnableCamera"), {true}), 0);
        QVERIFY(m_daemon->waitForLine(QStringLiteral("UNREGISTERED"), 6));
        QVERIFY(m_mocks.camera.start() && m_mocks.reset()
            && m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->waitForLine(QStringLiteral("statemachine available"), 7));
        checkServing();
        checkPhotoWorks();
    }

    // CaptureDone floods and reports of paths never asked for change nothing
    // in the folder, and a photo afterwards works.
    void captureDoneFlood()
    {
        QVERIFY(
            QFile(m_daemon->photoDir() + QStringLiteral("/kept.jpg")).open(QIODevice::WriteOnly));
        startDaemon();
        waitForMachine();
        for (int i = 0; i < 200; ++i)
            QVERIFY(m_mocks.camera.emitSignal(QStringLiteral("CaptureDone"), QStringLiteral("is"),
                {i % 2 ? -i : 0, QStringLiteral("/elsewhere/%1.jpg").arg(i)}));
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Camera Event: 0"), 200));
        checkServing();
        checkPhotoWorks();
        QVERIFY(QFile::exists(m_daemon->photoDir() + QStringLiteral("/kept.jpg")));
        QCOMPARE(QDir(m_daemon->photoDir()).entryList(QDir::Files).size(), 2);
    }

    // Whatever the RGB feature manager does, the photo is taken.
    void rgbManagerMisbehaves_data()
    {
        QTest::addColumn<QString>("code"); // empty: absent
        QTest::addColumn<QString>("line");
        QTest::newRow("absent") << QString() << "I don't know if the RGB is disabled";
        QTest::newRow("errors") << kError << "I don't know if the RGB is disabled";
        QTest::newRow("wrong types") << "ret = 'x'"
                                     << "I don't know if the RGB is disabled";
        QTest::newRow("crash") << kCrash << "I don't know if the RGB is disabled";
        QTest::newRow("refuses") << "ret = 7"
                                 << "Cannot enable RGB";
    }
    void rgbManagerMisbehaves()
    {
        QFETCH(QString, code);
        QFETCH(QString, line);
        if (code.isEmpty())
            QVERIFY(m_mocks.rgb.stop());
        else if (code.startsWith(QLatin1String("ret = 7")))
            QVERIFY(m_mocks.rgb.addMethod(
                QStringLiteral("Disable"), QStringLiteral("bb"), QStringLiteral("s"), code));
        else
            QVERIFY(m_mocks.rgb.addMethod(
                QStringLiteral("IsDisabled"), QString(), QStringLiteral("s"), code));
        startDaemon();
        waitForMachine();
        checkPhotoWorks();
        QVERIFY(m_daemon->waitForLine(line));
    }

    // A status manager that is absent or answers wrongly counts as no power:
    // the camera stays off at start although the user enabled it.
    void statusManagerMisbehaves_data()
    {
        QTest::addColumn<QString>("code"); // empty: absent
        QTest::addColumn<bool>("enables");
        QTest::newRow("absent") << QString() << false;
        QTest::newRow("errors") << kError << false;
        QTest::newRow("wrong types") << "ret = ('x', True)" << false;
        QTest::newRow("behaves") << "ret = (0, True)" << true;
    }
    void statusManagerMisbehaves()
    {
        QFETCH(QString, code);
        QFETCH(bool, enables);
        QVERIFY(m_daemon->writeUserEnabled(QStringLiteral("1")));
        if (code.isEmpty())
            QVERIFY(m_mocks.status.stop());
        else
            QVERIFY(m_mocks.status.addMethod(QStringLiteral("GetPowerOk"), QString(),
                code.contains(QLatin1String("'x'")) ? QStringLiteral("sb") : QStringLiteral("ib"),
                code));
        startDaemon();
        QVERIFY(m_daemon->waitForLine(QStringLiteral("any power supply connected?")));
        checkServing();
        QCOMPARE(m_daemon->countLines(QStringLiteral("Re-Enable camera on boot")), enables ? 1 : 0);
    }

    // SIGTERM while the daemon waits in a blocking call that times out ends
    // it with status 0 once the call has returned.
    void sigtermDuringBlockingCall()
    {
        startDaemon();
        waitForMachine();
        QVERIFY(camera(QStringLiteral("VideoSetActive"), QStringLiteral("b"), QStringLiteral("i"),
            QStringLiteral("__import__('time').sleep(7); ret = 0")));
        QDBusConnection::sessionBus().asyncCall(
            QDBusMessage::createMethodCall(QStringLiteral("com.zandrel.quor.photomanager"),
                QStringLiteral("/com/zandrel/quor/photomanager/photoobj"),
                QStringLiteral("com.zandrel.quor.photointerface"), QStringLiteral("TakePhoto")));
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Enable camera")));
        QVERIFY(m_daemon->sendSignal(SIGTERM));
        QVERIFY(m_daemon->waitForExit(20000));
        QCOMPARE(m_daemon->exitCode(), 0);
        QCOMPARE(m_daemon->countLines(QStringLiteral("Succesfully terminated")), 1);
    }

    // Stream intervals at the edges of the timer's range, and thousands of
    // calls from many connections at once: every call is answered.
    void hostileCalls()
    {
        startDaemon();
        PhotoClient client;
        for (int interval : {INT_MIN, -1, 0, INT_MAX, 2147484})
            QCOMPARE(client.callStatus(QStringLiteral("TakePhotoStream"), {interval}), 0);
        QVERIFY(m_daemon->waitForLine(QStringLiteral("out of range"), 2));
        QCOMPARE(client.callStatus(QStringLiteral("TakePhotoStream"), {2147483}), 0);
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Start photo stream at 2147483s")));

        QList<QDBusConnection> connections;
        QList<QDBusPendingCall> pending;
        for (int c = 0; c < 8; ++c) {
            connections << QDBusConnection::connectToBus(
                QDBusConnection::SessionBus, QStringLiteral("load%1").arg(c));
            for (int i = 0; i < 250; ++i) {
                QDBusMessage call = QDBusMessage::createMethodCall(
                    QStringLiteral("com.zandrel.quor.photomanager"),
                    QStringLiteral("/com/zandrel/quor/photomanager/photoobj"),
                    QStringLiteral("com.zandrel.quor.photointerface"),
                    i % 2 ? QStringLiteral("StopPhotoStream") : QStringLiteral("EnableCamera"));
                if (i % 2 == 0)
                    call << bool(i % 4);
                pending << connections.last().asyncCall(call, 60000);
            }
        }
        // Serving the event loop meanwhile keeps the daemon's log pipe drained.
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(pending.cbegin(), pending.cend(),
                                     [](const QDBusPendingCall& c) { return c.isFinished(); }),
            60000);
        for (const QDBusPendingCall& call : pending) {
            QVERIFY2(!call.isError(), qPrintable(call.error().message()));
            QCOMPARE(call.reply().arguments().value(0).toInt(), 0);
        }
        checkServing();
    }

    // A photo folder that is missing, a file, a link to another folder, or
    // full and read-only refuses photos; files elsewhere are never touched.
    // Odd names in a full folder are trimmed and logged on one line each.
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
        QVERIFY(
            QFile(elsewhere.path() + QStringLiteral("/precious.jpg")).open(QIODevice::WriteOnly));
        if (fault != QLatin1String("odd") && fault != QLatin1String("readonly"))
            QVERIFY(QDir(photos).removeRecursively());
        if (fault == QLatin1String("file"))
            QVERIFY(QFile(photos).open(QIODevice::WriteOnly));
        if (fault == QLatin1String("link"))
            QVERIFY(QFile::link(elsewhere.path(), photos));
        const QList<QByteArray> odd{
            "%s%n.jpg", "new\nline.jpg", "bad\xff.jpg", QByteArray(255, 'x')};
        for (int i = 0;
             i < 101 && (fault == QLatin1String("odd") || fault == QLatin1String("readonly")); ++i)
            QVERIFY(QFile(QFile::decodeName(QFile::encodeName(photos) + '/'
                              + (i < odd.size() ? odd.at(i) : QByteArray::number(i))))
                        .open(QIODevice::WriteOnly));
        m_daemon->setReadOnlyPhotos(fault == QLatin1String("readonly"));
        startDaemon();
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("TakePhoto")), status);
        QCOMPARE(client.callStatus(QStringLiteral("TakePhotoStream"), {1}), status);
        QVERIFY(QFile::exists(elsewhere.path() + QStringLiteral("/precious.jpg")));
        if (fault == QLatin1String("odd")) {
            QCOMPARE(m_daemon->countLines(QStringLiteral("remove exceeding file: ")), 1);
            for (const QString& line : m_daemon->logLines())
                QVERIFY2(
                    line.startsWith(QLatin1Char('<')), qPrintable(line)); // one record per line
        }
        checkServing(status);
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"

#include "DaemonProcess.h"
#include "PhotoClient.h"
#include "PrivateBus.h"
#include "SiblingMocks.h"

#include <QtTest>

#include <csignal>

// The real photomanager binary on a private bus, with dbusmock siblings, in
// a private mount namespace with a temporary /opt/quor/data.
class TestDaemon : public QObject {
    Q_OBJECT

    PrivateBus m_bus;
    SiblingMocks m_mocks;
    DaemonProcess* m_daemon = nullptr;

    // Starts a daemon whose camera manager is found and whose machine runs.
    void startRunningDaemon()
    {
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService());
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->waitForLine(QStringLiteral("statemachine available")));
    }
    QStringList photos() const
    {
        return QDir(m_daemon->photoDir()).entryList(QDir::Files, QDir::Name);
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

    // The daemon exports the logging component for the platform's libraries.
    void exportsLogInterface()
    {
        QProcess nm;
        nm.start(QStringLiteral("nm"),
            {QStringLiteral("-D"), QStringLiteral("--defined-only"), DaemonProcess::binaryPath()});
        QVERIFY(nm.waitForFinished());
        QVERIFY(nm.readAllStandardOutput().contains(" B _logInterface\n"));
    }

    // Without a bus, or with the name taken: start line, failure line,
    // termination line, in that order, and exit status 255.
    void startUpFailure_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<bool>("takeName");
        QTest::newRow("name owned") << QStringList() << true;
        QTest::newRow("no session bus")
            << QStringList{QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent")}
            << false;
    }
    void startUpFailure()
    {
        QFETCH(QStringList, environment);
        QFETCH(bool, takeName);
        QDBusConnection other
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("owner"));
        if (takeName)
            QVERIFY(other.registerService(QStringLiteral("com.zandrel.quor.photomanager")));
        QVERIFY(m_daemon->start(environment));
        QVERIFY(m_daemon->waitForExit());
        other.unregisterService(QStringLiteral("com.zandrel.quor.photomanager"));
        QCOMPARE(m_daemon->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_daemon->exitCode(), 255);
        const QStringList lines = m_daemon->logLines();
        const QStringList expected{QStringLiteral("<5>[Main:"),
            QStringLiteral("Starting Photo Manager X..."), QStringLiteral("<3>[Main:"),
            QStringLiteral("Impossible to create Photo Manager X, dbus initialization failed"),
            QStringLiteral("<5>[Main:"), QStringLiteral("Succesfully terminated")};
        const QStringList mainLines = lines.filter(QStringLiteral("[Main:"));
        QCOMPARE(mainLines.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY2(mainLines.at(i).startsWith(expected.at(2 * i)), qPrintable(mainLines.at(i)));
            QVERIFY2(mainLines.at(i).endsWith(expected.at(2 * i + 1)), qPrintable(mainLines.at(i)));
        }
    }

    // SIGTERM and SIGINT, alone or two at once, end the running daemon once
    // with status 0 after it has served calls.
    void signalsEndTheDaemon_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM};
        QTest::newRow("SIGINT") << QList<int>{SIGINT};
        QTest::newRow("two in quick succession") << QList<int>{SIGTERM, SIGTERM};
    }
    void signalsEndTheDaemon()
    {
        QFETCH(QList<int>, sent);
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService());
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("StopPhotoStream")), 0);
        QVERIFY(client.waitForSignal(QStringLiteral("PhotoStreamStopped(0)")));
        for (int signal : sent)
            QVERIFY(m_daemon->sendSignal(signal));
        QVERIFY(m_daemon->waitForExit());
        QCOMPARE(m_daemon->exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_daemon->exitCode(), 0);
        QCOMPARE(m_daemon->countLines(QStringLiteral("Succesfully terminated")), 1);
    }

    // One photo, end to end, from a folder of 100 files: the camera goes on
    // for it and off again, PhotoTaken names the file the camera manager
    // wrote, and the folder holds 101 files.
    void onePhotoEndToEnd()
    {
        QDir().mkpath(m_daemon->photoDir());
        for (int i = 0; i < 100; ++i)
            QVERIFY(QFile(m_daemon->photoDir()
                + QStringLiteral("/old_%1.jpg").arg(i, 3, 10, QLatin1Char('0')))
                        .open(QIODevice::WriteOnly));
        startRunningDaemon();
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("TakePhoto")), 0);
        QVERIFY(client.waitForSignals(3));
        const QStringList received = client.signalsReceived();
        QCOMPARE(received.at(0), QStringLiteral("CameraEnabled(true)"));
        QVERIFY2(
            received.at(1).startsWith(QLatin1String("PhotoTaken(0,/opt/quor/data/photo/image_")),
            qPrintable(received.at(1)));
        QCOMPARE(received.at(2), QStringLiteral("CameraEnabled(false)"));
        const QString name = received.at(1).section(QLatin1Char('/'), -1).chopped(1);
        QVERIFY(photos().contains(name));
        QCOMPARE(photos().size(), 101);
        QCOMPARE(m_mocks.rgb.calls(QStringLiteral("Disable")).size(), 2);
    }

    // The photo end to end with the daemon under valgrind's memcheck (run by
    // the tst_daemon_valgrind test): no invalid access, nothing definitely lost.
    void photoUnderValgrind()
    {
        if (qEnvironmentVariableIsEmpty("PHOTOMANAGER_VALGRIND"))
            QSKIP("run by the tst_daemon_valgrind test");
        m_daemon->setWrapper({QStringLiteral("valgrind"), QStringLiteral("--error-exitcode=99"),
            QStringLiteral("--leak-check=full"), QStringLiteral("--errors-for-leak-kinds=definite"),
            QStringLiteral("--show-leak-kinds=definite")});
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService(120000));
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->waitForLine(QStringLiteral("statemachine available"), 1, 60000));
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("TakePhoto")), 0);
        QVERIFY(client.waitForSignal(QStringLiteral("PhotoTaken(0,"), 60000));
        QVERIFY(m_daemon->sendSignal(SIGTERM));
        QVERIFY(m_daemon->waitForExit(120000));
        QVERIFY(m_daemon->countLines(QStringLiteral("Memcheck")) > 0); // really under valgrind
        QCOMPARE(m_daemon->exitCode(), 0);
        QCOMPARE(m_daemon->countLines(QStringLiteral("Succesfully terminated")), 1);
    }

    // A stream of one photo a second delivers photos until stopped, and the
    // stop reports how many.
    void streamEndToEnd()
    {
        startRunningDaemon();
        PhotoClient client;
        QCOMPARE(client.callStatus(QStringLiteral("TakePhotoStream"), {1}), 0);
        QVERIFY(m_daemon->waitForLine(QStringLiteral("Emit Photo Event 1"), 2, 15000));
        QCOMPARE(client.callStatus(QStringLiteral("StopPhotoStream")), 0);
        QVERIFY(client.waitForSignal(QStringLiteral("PhotoStreamStopped")));
        const int taken = client.signalsReceived().filter(QStringLiteral("PhotoTaken(0,")).size();
        QVERIFY(taken >= 2);
        QVERIFY(
            client.signalsReceived().contains(QStringLiteral("PhotoStreamStopped(%1)").arg(taken)));
        QCOMPARE(photos().size(), taken);
    }
};

QTEST_GUILESS_MAIN(TestDaemon)
#include "tst_daemon.moc"

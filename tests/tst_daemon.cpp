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

    void startRunningDaemon(int timeoutMs = 20000)
    {
        QVERIFY(m_mocks.captureWrites(m_daemon->dataDir()));
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService(timeoutMs));
        QVERIFY(m_daemon->waitForLine("statemachine available", 1, timeoutMs));
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
        QVERIFY(m_daemon->start());
        QVERIFY(m_daemon->waitForService());
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
        startRunningDaemon();
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
        startRunningDaemon(120000);
        PhotoClient client;
        QCOMPARE(client.callStatus("TakePhoto"), 0);
        QVERIFY(client.waitForSignal("PhotoTaken(0,", 60000));
        QVERIFY(m_daemon->sendSignal(SIGTERM));
        QVERIFY(m_daemon->waitForExit(120000));
        QVERIFY(m_daemon->countLines("Memcheck") > 0); // really under valgrind
        QCOMPARE(m_daemon->process.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDaemon)
#include "tst_daemon.moc"

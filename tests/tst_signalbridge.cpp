#include "ApplicationDaemon.h"

#include <QtTest>

#include <sys/resource.h>

#include <csignal>

namespace {
volatile sig_atomic_t g_earlierHandlerRan = 0;
void earlierHandler(int)
{
    g_earlierHandlerRan = 1;
}
bool handlerIs(int signal, void (*handler)(int))
{
    struct sigaction current = {};
    ::sigaction(signal, nullptr, &current);
    return !(current.sa_flags & SA_SIGINFO) && current.sa_handler == handler;
}
} // namespace

// SIGINT and SIGTERM end the event loop through the bridge; the earlier
// actions are back once it is gone.
class TestSignalBridge : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        std::signal(SIGINT, earlierHandler);
        std::signal(SIGTERM, earlierHandler);
        g_earlierHandlerRan = 0;
    }

    // One signal, or two in quick succession, end the loop once with status 0.
    void signalEndsLoop_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM};
        QTest::newRow("SIGINT") << QList<int>{SIGINT};
        QTest::newRow("two at once") << QList<int>{SIGTERM, SIGINT};
    }
    void signalEndsLoop()
    {
        QFETCH(QList<int>, sent);
        {
            ApplicationDaemon bridge;
            QVERIFY(!handlerIs(SIGTERM, earlierHandler));
            for (int signal : sent)
                ::raise(signal);
            QCOMPARE(QCoreApplication::exec(), 0);
        }
        QVERIFY(handlerIs(SIGINT, earlierHandler));
        QVERIFY(handlerIs(SIGTERM, earlierHandler));
        ::raise(SIGTERM);
        QVERIFY(g_earlierHandlerRan);
    }

    // A bridge that cannot make its socket pair ends the loop at its start
    // with a failure status, and leaves the signal actions alone.
    void armingFailure()
    {
        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        const int nextFd = ::dup(0);
        ::close(nextFd);
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(nextFd);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &tight), 0);
        {
            ApplicationDaemon bridge;
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
            QVERIFY(handlerIs(SIGTERM, earlierHandler));
            QCOMPARE(QCoreApplication::exec(), ApplicationDaemon::kArmingFailedExitStatus);
        }
        QVERIFY(handlerIs(SIGINT, earlierHandler));
        QVERIFY(handlerIs(SIGTERM, earlierHandler));
    }
};

QTEST_GUILESS_MAIN(TestSignalBridge)
#include "tst_signalbridge.moc"

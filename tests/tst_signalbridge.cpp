#include "ApplicationDaemon.h"

#include <QtTest>

#include <sys/resource.h>

#include <csignal>

namespace {
void earlierHandler(int) { }
bool earlierHandlersInstalled()
{
    struct sigaction intAction = {}, termAction = {};
    ::sigaction(SIGINT, nullptr, &intAction);
    ::sigaction(SIGTERM, nullptr, &termAction);
    return intAction.sa_handler == earlierHandler && termAction.sa_handler == earlierHandler;
}
} // namespace

// The signal bridge in-process (the binary's own signal handling is in
// tst_daemon): what it leaves behind, and a bridge that cannot arm itself.
class TestSignalBridge : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        std::signal(SIGINT, earlierHandler);
        std::signal(SIGTERM, earlierHandler);
    }

    // A signal ends the loop with 0; the earlier actions are back afterwards.
    void restoresEarlierActions()
    {
        {
            ApplicationDaemon bridge;
            QVERIFY(!earlierHandlersInstalled());
            ::raise(SIGTERM);
            QCOMPARE(QCoreApplication::exec(), 0);
        }
        QVERIFY(earlierHandlersInstalled());
    }

    // Without descriptors for its socket pair, the bridge ends the loop at
    // its start with a failure status and leaves the signal actions alone.
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
            QVERIFY(earlierHandlersInstalled());
            QCOMPARE(QCoreApplication::exec(), ApplicationDaemon::kArmingFailedExitStatus);
        }
        QVERIFY(earlierHandlersInstalled());
    }
};

QTEST_GUILESS_MAIN(TestSignalBridge)
#include "tst_signalbridge.moc"

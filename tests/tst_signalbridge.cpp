#include "ApplicationDaemon.h"

#include <QtTest>

#include <sys/resource.h>

namespace {
void earlierHandler(int) { }
bool earlierHandlersInstalled()
{
    struct sigaction onInt = {}, onTerm = {};
    return ::sigaction(SIGINT, nullptr, &onInt) == 0 && ::sigaction(SIGTERM, nullptr, &onTerm) == 0
        && onInt.sa_handler == earlierHandler && onTerm.sa_handler == earlierHandler;
}
} // namespace

// The signal bridge in-process; the binary's own signal handling is in tst_daemon.
class TestSignalBridge : public QObject {
    Q_OBJECT

private slots:
    // Armed, the bridge holds SIGINT and SIGTERM and a signal ends the loop
    // with 0; without descriptors for its socket pair it fails at the start
    // and leaves them alone. The earlier actions are back afterwards.
    void restoresEarlierActions()
    {
        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(::dup(0)); // the lowest free descriptor
        ::close(static_cast<int>(tight.rlim_cur));
        for (const bool armed : {true, false}) {
            ::signal(SIGINT, earlierHandler);
            ::signal(SIGTERM, earlierHandler);
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, armed ? &saved : &tight), 0);
            {
                ApplicationDaemon bridge;
                QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
                QCOMPARE(earlierHandlersInstalled(), !armed);
                if (armed)
                    ::raise(SIGTERM);
                QCOMPARE(QCoreApplication::exec(),
                    armed ? 0 : ApplicationDaemon::kArmingFailedExitStatus);
            }
            QVERIFY(earlierHandlersInstalled());
        }
    }
};

QTEST_GUILESS_MAIN(TestSignalBridge)
#include "tst_signalbridge.moc"

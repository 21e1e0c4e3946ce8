#include "ApplicationDaemon.h"

#include <QtTest>

#include <sys/resource.h>

namespace {
void earlierHandler(int) { }
// Whether SIGINT and SIGTERM both have the given handler.
bool handlersAre(void (*handler)(int))
{
    struct sigaction onInt = {}, onTerm = {};
    return ::sigaction(SIGINT, nullptr, &onInt) == 0 && ::sigaction(SIGTERM, nullptr, &onTerm) == 0
        && onInt.sa_handler == handler && onTerm.sa_handler == handler;
}
} // namespace

// The signal bridge in-process; the binary's own signal handling is in tst_daemon.
class TestSignalBridge : public QObject {
    Q_OBJECT

private slots:
    // Armed, the bridge holds SIGINT and SIGTERM and a signal ends the loop
    // with 0; without descriptors for its socket pair it fails at the start
    // and leaves them alone. Afterwards the earlier actions are back, unless
    // a signal ended the loop: then further ones are ignored, so a second
    // signal during shutdown cannot kill the process.
    void actionsAfterwards()
    {
        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(::dup(0)); // the lowest free descriptor
        ::close(static_cast<int>(tight.rlim_cur));
        const std::pair<bool, bool> cases[] = {{true, true}, {true, false}, {false, false}};
        for (const auto& [armed, signalled] : cases) {
            ::signal(SIGINT, earlierHandler);
            ::signal(SIGTERM, earlierHandler);
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, armed ? &saved : &tight), 0);
            {
                ApplicationDaemon bridge;
                QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
                QCOMPARE(handlersAre(earlierHandler), !armed);
                if (signalled)
                    ::raise(SIGTERM);
                else if (armed) // the loop ends for another reason
                    QTimer::singleShot(0, &bridge, [] { QCoreApplication::exit(3); });
                QCOMPARE(QCoreApplication::exec(),
                    signalled   ? 0
                        : armed ? 3
                                : ApplicationDaemon::kArmingFailedExitStatus);
            }
            QVERIFY(handlersAre(signalled ? SIG_IGN : earlierHandler));
        }
    }
};

QTEST_GUILESS_MAIN(TestSignalBridge)
#include "tst_signalbridge.moc"

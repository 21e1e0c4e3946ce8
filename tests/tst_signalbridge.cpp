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
    // Armed, the bridge takes over SIGINT and SIGTERM and a signal ends the
    // loop with 0. Without descriptors for its socket pair it ends the loop
    // at its start with a failure status and leaves the actions alone. Either
    // way the earlier actions are back afterwards.
    void restoresEarlierActions_data()
    {
        QTest::addColumn<bool>("armed");
        QTest::newRow("signal") << true;
        QTest::newRow("no descriptors") << false;
    }
    void restoresEarlierActions()
    {
        QFETCH(bool, armed);
        std::signal(SIGINT, earlierHandler);
        std::signal(SIGTERM, earlierHandler);
        struct rlimit saved = {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        struct rlimit tight = saved;
        tight.rlim_cur = static_cast<rlim_t>(::dup(0)); // the lowest free descriptor
        ::close(static_cast<int>(tight.rlim_cur));
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, armed ? &saved : &tight), 0);
        {
            ApplicationDaemon bridge;
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
            QCOMPARE(earlierHandlersInstalled(), !armed);
            if (armed)
                ::raise(SIGTERM);
            QCOMPARE(
                QCoreApplication::exec(), armed ? 0 : ApplicationDaemon::kArmingFailedExitStatus);
        }
        QVERIFY(earlierHandlersInstalled());
    }
};

QTEST_GUILESS_MAIN(TestSignalBridge)
#include "tst_signalbridge.moc"

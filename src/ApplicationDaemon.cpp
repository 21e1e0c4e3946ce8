#include "ApplicationDaemon.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

int ApplicationDaemon::s_signalFd[2] = {-1, -1};
volatile std::sig_atomic_t ApplicationDaemon::s_signalled = 0;

ApplicationDaemon::ApplicationDaemon(QObject* parent)
    : QObject(parent)
    , m_oldSigIntAction()
    , m_oldSigTermAction()
    , m_signalNotifier(nullptr)
    , m_socketPairOpen(false)
    , m_sigIntInstalled(false)
    , m_sigTermInstalled(false)
{
    s_signalled = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_signalFd) != 0) {
        quitApplication(kArmingFailedExitStatus);
        return;
    }
    m_socketPairOpen = true;
    if (!setupUnixSignalHandlers()) {
        quitApplication(kArmingFailedExitStatus);
        return;
    }
    m_signalNotifier = new QSocketNotifier(s_signalFd[1], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, &ApplicationDaemon::gotSignal);
}

ApplicationDaemon::~ApplicationDaemon()
{
    restoreUnixSignalHandlers();
    // Only what the constructor set up is undone.
    if (m_socketPairOpen) {
        ::close(s_signalFd[0]);
        ::close(s_signalFd[1]);
        s_signalFd[0] = s_signalFd[1] = -1;
    }
}

bool ApplicationDaemon::setupUnixSignalHandlers()
{
    ::sigaction(SIGINT, nullptr, &m_oldSigIntAction);
    ::sigaction(SIGTERM, nullptr, &m_oldSigTermAction);

    struct sigaction action = {};
    action.sa_sigaction = &ApplicationDaemon::signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;

    if (::sigaction(SIGINT, &action, nullptr) != 0)
        return false;
    m_sigIntInstalled = true;
    if (::sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    m_sigTermInstalled = true;
    return true;
}

// After a signal the process is on its way out: a further SIGINT or SIGTERM
// (a second Ctrl-C, a supervisor repeating its stop) is ignored rather than
// given the earlier action, by default fatal, in the middle of the shutdown.
bool ApplicationDaemon::restoreUnixSignalHandlers()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    const bool signalled = s_signalled != 0;
    bool restored = true;
    if (m_sigIntInstalled)
        restored = ::sigaction(SIGINT, signalled ? &ignore : &m_oldSigIntAction, nullptr) == 0;
    if (restored && m_sigTermInstalled)
        restored = ::sigaction(SIGTERM, signalled ? &ignore : &m_oldSigTermAction, nullptr) == 0;
    return restored;
}

// Runs in signal context: nothing but an async-signal-safe write.
void ApplicationDaemon::signalHandler(int signal, siginfo_t*, void*)
{
    const int savedErrno = errno;
    s_signalled = 1;
    const ssize_t ignored = ::write(s_signalFd[0], &signal, sizeof signal);
    (void)ignored;
    errno = savedErrno;
}

void ApplicationDaemon::gotSignal(int socket)
{
    int signal = 0;
    if (::read(socket, &signal, sizeof signal) > 0)
        quitApplication();
}

// Queued, so that a quit asked for before the loop runs ends it at its start.
void ApplicationDaemon::quitApplication(int exitStatus)
{
    QTimer::singleShot(
        0, QCoreApplication::instance(), [exitStatus]() { QCoreApplication::exit(exitStatus); });
}

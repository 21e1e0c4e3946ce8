#include "SignalNotifier.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

SignalNotifier::SignalNotifier(QObject* parent)
    : QObject(parent)
    , m_fd(-1)
    , m_notifier(nullptr)
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0)
        return;
    m_fd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalNotifier::ReadSignal);
}

SignalNotifier::~SignalNotifier()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool SignalNotifier::isValid() const
{
    return m_notifier != nullptr;
}

void SignalNotifier::ReadSignal()
{
    signalfd_siginfo info;
    while (read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        emit Received(static_cast<int>(info.ssi_signo));
}

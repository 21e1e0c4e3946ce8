#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into an orderly end of the Qt event loop. The
// handler only writes the signal number into a socket pair; a notifier on the
// other end wakes the loop, which then quits. When the bridge cannot arm
// itself, the loop ends with a failure status as soon as it runs. Once a
// signal has asked for the end, later ones are ignored for the rest of the
// process's life, so that a second SIGTERM during shutdown cannot kill it.
class ApplicationDaemon : public QObject {
    Q_OBJECT

public:
    explicit ApplicationDaemon(QObject* parent = nullptr);
    ~ApplicationDaemon() override;

    // Exit status of the event loop when the bridge could not be armed.
    static const int kArmingFailedExitStatus = 1;

private slots:
    void gotSignal(int socket);

private:
    static void signalHandler(int signal, siginfo_t* info, void* context);
    bool setupUnixSignalHandlers();
    bool restoreUnixSignalHandlers();
    void quitApplication(int exitStatus = 0);

    struct sigaction m_oldSigIntAction;
    struct sigaction m_oldSigTermAction;
    QSocketNotifier* m_signalNotifier;
    bool m_socketPairOpen;
    bool m_sigIntInstalled;
    bool m_sigTermInstalled;

    static int s_signalFd[2];
    static volatile std::sig_atomic_t s_signalled;
};

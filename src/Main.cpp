#include "ApplicationDaemon.h"
#include "BusWatcher.h"
#include "PhotoManagerCtrl.h"
#include "common/BusNames.h"
#include "common/Log.h"
#include "dbus/LogControl.h"
#include "platform/LogInterface.h"
#include "platform/ServiceWatchdog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>

#include <cstdio>

namespace {
// Time-outs in milliseconds, shortened by tests through the environment; the
// variable is read only when it is set.
int timeoutFromEnvironment(const char* name, int defaultMs)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : defaultMs;
}

// --help and --version print and end the process before anything touches
// the bus; any other argument is a usage error. Returns the exit status, or
// -1 when the daemon is to run.
int handleCommandLine()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Photo service of the device on the D-Bus session bus. Its systemd user unit and "
        "D-Bus activation start it; see photomanager(8)."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QStringList arguments = parser.positionalArguments();
        const QString error = arguments.isEmpty()
            ? parser.errorText()
            : QStringLiteral("unexpected argument '%1'").arg(arguments.first());
        std::fprintf(stderr, "photomanager: %s\nUsage: photomanager [--help | --version]\n",
            qPrintable(error));
        return 2;
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))
        std::fputs(qPrintable(parser.helpText()), stdout);
    else if (parser.isSet(version))
        std::printf("photomanager %s\n", PHOTOMANAGER_VERSION);
    else
        return -1;
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    int exitStatus = -1;
    // The daemon needs no GLib integration; Qt's own event loop costs less
    // per bus message and timer.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    if (const int status = handleCommandLine(); status >= 0)
        return status;
    // The session bus connection holds back what it receives until the event
    // loop first runs, then hands it over from QtDBus's own thread while the
    // loop already makes its first calls to siblings; among what it hands
    // over is the bus's NameAcquired, on which QtDBus changes its list of this
    // connection's names without keeping out those calls. Letting it deliver
    // from now on, before any name is owned, keeps the two apart.
    QDBusConnection::sessionBus();
    QCoreApplication::sendPostedEvents();
    {
        ApplicationDaemon signalBridge;
        _logInterface = new LogInterface(QString::fromLatin1(BusNames::kLogPath));
        // The log level and target, before the first line.
        LogControl logControl;
        {
            PhotoManagerCtrl controller(BusNames::kPhotoPath);
            // Ends the loop when the bus goes away (a supervisor restarts us).
            BusWatcher busWatcher;
            ServiceWatchdog watchdog;
            const int siblingTimeoutMs
                = timeoutFromEnvironment("PHOTOMANAGER_SIBLING_TIMEOUT_MS", 5000);
            // The capture guard's own length (two minutes) unless a test shortens it.
            const int captureTimeoutMs
                = timeoutFromEnvironment("PHOTOMANAGER_CAPTURE_TIMEOUT_MS", 0);
            if (captureTimeoutMs > 0)
                controller.setCaptureTimeout(captureTimeoutMs);
            controller.dbusInterface()->SetCameraCheckInterval(
                timeoutFromEnvironment("PHOTOMANAGER_CAMERA_CHECK_MS", 1000));
            PM_LOG(4, "[%s:%d] %s: Starting Photo Manager X...");
            QDBusConnection bus = QDBusConnection::sessionBus();
            // Watched first: set-up already calls siblings, and a bus lost
            // from then on is reported as such, not as a failed start.
            if (busWatcher.Watch() && logControl.Register(bus)
                && controller.Initialize(BusNames::kPhotoService, BusNames::kPhotoPath,
                    BusNames::kCameraService, BusNames::kCameraPath, siblingTimeoutMs,
                    BusNames::kRgbService, BusNames::kRgbPath, siblingTimeoutMs,
                    "/opt/quor/data/photo")) {
                if (const int pingMs = watchdog.Start())
                    PM_LOG(9, "[%s:%d] %s: Watchdog ping every %d ms", pingMs);
                exitStatus = QCoreApplication::exec();
            } else {
                PM_LOG(1,
                    "[%s:%d] %s: Impossible to create Photo Manager X, dbus initialization "
                    "failed");
            }
            PM_LOG(4, "[%s:%d] %s: Succesfully terminated");
        }
    }
    return exitStatus;
}

#include "PhotoCtl.h"
#include "SignalNotifier.h"
#include "common/BusNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {
struct Command {
    const char* name;
    const char* syntax;
    const char* summary; // one line of the command list
    const char* description;
};

const Command kCommands[] = {
    {"take", "take", "take a photo, print its path",
        "Takes one photo and prints its path once PhotoTaken arrives; a photo that failed\n"
        "gives exit status 1 and the camera manager's status on standard error."},
    {"stream", "stream N", "start a photo stream, print the status",
        "Starts a photo stream, one photo every N seconds (N >= 1), and prints the status of\n"
        "the request (0). Each photo brings a PhotoTaken; see monitor. A stream already\n"
        "running is refused (-50)."},
    {"stop", "stop", "stop the stream, print its photo count",
        "Stops the photo stream and prints the number of photos it took, from\n"
        "PhotoStreamStopped."},
    {"enable", "enable on|off", "switch the camera, print on or off",
        "Switches the camera on or off and prints on or off once CameraEnabled confirms it,\n"
        "or at once when the camera already is so."},
    {"status", "status", "print on or off", "Prints whether the camera's video is on or off."},
    {"show", "show", "print the daemon's state as Name=value",
        "Prints every property of the photo state interface as Name=value, one per line\n"
        "(booleans as yes or no), as photomanager holds them; no sibling is asked."},
    {"monitor", "monitor", "print the service's signals and state changes",
        "Prints the photo service's signals and the changes of its state properties\n"
        "(\"PropertiesChanged Name=value\") as they come, one line each, until SIGINT or\n"
        "SIGTERM. It also waits for a daemon that is not yet on the bus."},
};

const char kExitStatuses[]
    = "Exit status: 0 done; 1 refused by photomanager (-59: the photo folder\n"
      "is full or missing; -50: the camera is busy with another capture; -51:\n"
      "the camera manager is not available) or the photo failed; 2 usage error;\n"
      "3 photomanager not on the bus and not startable, or the call failed;\n"
      "4 time-out; 130 interrupted.";

QString mainDescription()
{
    QString text = QStringLiteral("Client of the photo service %1 on the\n"
                                  "session bus: one request, then the signal that answers it.\n\n"
                                  "Commands:\n")
                       .arg(QLatin1String(BusNames::kPhotoService));
    for (const Command& command : kCommands)
        text += QStringLiteral("  %1  %2\n")
                    .arg(QLatin1String(command.syntax), -14)
                    .arg(QLatin1String(command.summary));
    return text + QStringLiteral("\n'<command> --help' describes one command.\n")
        + QLatin1String(kExitStatuses);
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : kCommands) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "photomanager-ctl: %s\nTry 'photomanager-ctl --help'.\n",
        message.toLocal8Bit().constData());
    return PhotoCtl::Exit_Usage;
}

int run(PhotoCtl& client, const QString& name, const QStringList& args)
{
    if (name == QLatin1String("stream")) {
        bool ok = false;
        const int interval = args.value(0).toInt(&ok);
        return ok && interval >= 1
            ? client.Stream(interval)
            : usageError(QStringLiteral("stream needs a whole number of seconds >= 1"));
    }
    if (name == QLatin1String("enable")) {
        if (args.value(0) == QLatin1String("on") || args.value(0) == QLatin1String("off"))
            return client.Enable(args.value(0) == QLatin1String("on"));
        return usageError(QStringLiteral("enable needs on or off"));
    }
    if (name == QLatin1String("take"))
        return client.Take();
    if (name == QLatin1String("stop"))
        return client.Stop();
    if (name == QLatin1String("status"))
        return client.Status();
    if (name == QLatin1String("show"))
        return client.Show();
    return client.Monitor();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("photomanager-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PHOTOMANAGER_VERSION));
    // First, before the bus connection starts its thread.
    SignalNotifier signalNotifier;

    QCommandLineParser parser;
    parser.setApplicationDescription(mainDescription());
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption timeoutOption(
        QStringList{QStringLiteral("t"), QStringLiteral("timeout")},
        QStringLiteral("Seconds to wait for photomanager's answer (default 10)."),
        QStringLiteral("SECONDS"), QStringLiteral("10"));
    parser.addOption(timeoutOption);
    parser.addPositionalArgument(QStringLiteral("command"),
        QStringLiteral("One of the commands above."), QStringLiteral("<command> [argument]"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());

    if (parser.isSet(versionOption))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        if (parser.isSet(helpOption))
            parser.showHelp(0);
        return usageError(QStringLiteral("no command given"));
    }
    const Command* command = findCommand(positional.first());
    if (!command)
        return usageError(QStringLiteral("unknown command '%1'").arg(positional.first()));

    // The command's own help: its syntax and description.
    parser.setApplicationDescription(
        QLatin1String(command->description) + QLatin1Char('\n') + QLatin1String(kExitStatuses));
    parser.clearPositionalArguments();
    parser.addPositionalArgument(QLatin1String(command->name), QLatin1String(command->summary),
        QLatin1String(command->syntax));
    if (parser.isSet(helpOption))
        parser.showHelp(0);

    const QStringList args = positional.mid(1);
    const int expected = QLatin1String(command->syntax).contains(QLatin1Char(' ')) ? 1 : 0;
    if (args.size() != expected)
        return usageError(
            QStringLiteral("usage: photomanager-ctl %1").arg(QLatin1String(command->syntax)));
    bool ok = false;
    const int timeoutS = parser.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutS < 1)
        return usageError(QStringLiteral("--timeout needs a whole number of seconds >= 1"));
    if (!signalNotifier.isValid())
        std::fprintf(stderr, "photomanager-ctl: SIGINT and SIGTERM cannot be caught\n");

    PhotoCtl client(timeoutS);
    QObject::connect(&signalNotifier, &SignalNotifier::Received, &client, &PhotoCtl::Interrupt);
    return run(client, QLatin1String(command->name), args);
}

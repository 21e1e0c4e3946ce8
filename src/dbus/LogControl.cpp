#include "LogControl.h"

#include "LogControlIntrospection.h"
#include "common/BusNames.h"
#include "common/Log.h"
#include "platform/Configuration.h"
#include "platform/JournalSink.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>

namespace {
const char kPath[] = "/org/freedesktop/LogControl1";
const char kInterface[] = "org.freedesktop.LogControl1";
const char kGroup[] = "PHOTOMANAGER";
const char kKey[] = "log_level";
const char* const kTargetNames[] = {"auto", "console", "journal"};

} // namespace

LogControl::LogControl(QObject* parent)
    : QDBusVirtualObject(parent)
{
    JournalSink::setTarget(JournalSink::Target_Auto);
    readSettings();
}

LogControl::~LogControl() = default;

bool LogControl::Register(QDBusConnection& connection)
{
    return connection.registerVirtualObject(QLatin1String(kPath), this);
}

QString LogControl::introspect(const QString& /*path*/) const
{
    return QStringLiteral(LOG_CONTROL_INTROSPECTION);
}

void LogControl::readSettings()
{
    const Configuration configuration(BusNames::kPhotoPath);
    bool present = false;
    const QString level = configuration.IsAvailable() ? configuration.ReadConfigString(
                              QLatin1String(kGroup), QLatin1String(kKey), QString(), &present)
                                                      : QString();
    const int priority = photomanagerLogPriorityNamed(level.toLatin1().constData());
    photomanagerLogThreshold = priority >= 0 ? priority : 7;
    if (present && priority < 0)
        PM_LOG(2, "[%s:%d] %s: %s/%s in %s is not a log level, using debug", kGroup, kKey,
            QFile::encodeName(configuration.filePath()).constData());
}

QVariantMap LogControl::properties() const
{
    return {{QStringLiteral("LogLevel"),
                QString::fromLatin1(photomanagerLogPriorityName(photomanagerLogThreshold))},
        {QStringLiteral("LogTarget"), QString::fromLatin1(kTargetNames[JournalSink::target()])},
        {QStringLiteral("SyslogIdentifier"), QStringLiteral("photomanager")}};
}

QString LogControl::write(const QString& property, const QVariant& value)
{
    const QByteArray text
        = value.userType() == QMetaType::QString ? value.toString().toLatin1() : QByteArray();
    if (property == QLatin1String("LogLevel")) {
        const int priority = photomanagerLogPriorityNamed(text.constData());
        if (priority < 0)
            return QStringLiteral("LogLevel is one of emerg, alert, crit, err, warning, notice, "
                                  "info, debug, or 0 to 7");
        photomanagerLogThreshold = priority;
        PM_LOG(4, "[%s:%d] %s: log level %s, set over the bus", text.constData());
        return QString();
    }
    // Only LogTarget is left: handleMessage has checked the name.
    for (int target = JournalSink::Target_Auto; target <= JournalSink::Target_Journal; ++target) {
        if (text == kTargetNames[target]) {
            JournalSink::setTarget(static_cast<JournalSink::Target>(target));
            PM_LOG(4, "[%s:%d] %s: log target %s, set over the bus", text.constData());
            return QString();
        }
    }
    return QStringLiteral("LogTarget is one of auto, console, journal");
}

bool LogControl::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QString method = message.member();
    const QString signature = message.signature();
    const bool get = method == QLatin1String("Get") && signature == QLatin1String("ss");
    const bool set = method == QLatin1String("Set") && signature == QLatin1String("ssv");
    if (message.interface() != QLatin1String("org.freedesktop.DBus.Properties")
        || !(get || set || (method == QLatin1String("GetAll") && signature == QLatin1String("s"))))
        return false;
    const QList<QVariant> args = message.arguments();
    const QString interface = args.at(0).toString();
    const QString property = args.value(1).toString();
    const QVariantMap all = properties();
    QDBusMessage reply;
    if (!interface.isEmpty() && interface != QLatin1String(kInterface)) {
        reply = message.createErrorReply(QDBusError::UnknownInterface,
            QStringLiteral("No interface %1 at %2").arg(interface, QLatin1String(kPath)));
    } else if (!get && !set) {
        reply = message.createReply(all);
    } else if (!all.contains(property)) {
        reply = message.createErrorReply(
            QDBusError::UnknownProperty, QStringLiteral("No property %1").arg(property));
    } else if (get) {
        reply = message.createReply(QVariant::fromValue(QDBusVariant(all.value(property))));
    } else if (property == QLatin1String("SyslogIdentifier")) {
        reply = message.createErrorReply(
            QDBusError::PropertyReadOnly, QStringLiteral("SyslogIdentifier is read-only"));
    } else {
        const QString error = write(property, args.at(2).value<QDBusVariant>().variant());
        reply = error.isEmpty() ? message.createReply()
                                : message.createErrorReply(QDBusError::InvalidArgs, error);
    }
    connection.send(reply);
    return true;
}

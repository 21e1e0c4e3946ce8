#pragma once

#include <QDBusVirtualObject>

class QDBusConnection;

// org.freedesktop.LogControl1 at /org/freedesktop/LogControl1: the log level
// (the threshold of PM_LOG) and the log target (JournalSink) on the bus, as
// systemctl service-log-level and service-log-target expect them.
//
// A virtual object, because a property written through a Qt adaptor cannot
// be refused with InvalidArgs; its properties are served here, its
// introspection is the interface file's own text, comments included.
//
// The level at start comes from [PHOTOMANAGER] log_level of the settings
// file; from then on the bus sets it.
class LogControl : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit LogControl(QObject* parent = nullptr);
    ~LogControl() override;

    bool Register(QDBusConnection& connection);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void readSettings();
    QVariantMap properties() const;
    // Sets LogLevel or LogTarget; the error to answer with, or an empty
    // string once it is done.
    QString write(const QString& property, const QVariant& value);
};

#pragma once

#include <QDBusVirtualObject>

#include <array>

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
// file, read again (one stat when unchanged) by RefreshSettings; a change of
// the file sets it anew, over what the bus set.
class LogControl : public QDBusVirtualObject {
    Q_OBJECT

public:
    explicit LogControl(QObject* parent = nullptr);
    ~LogControl() override;

    bool Register(QDBusConnection& connection);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

public slots:
    void RefreshSettings();

private:
    QVariantMap properties() const;
    // Sets LogLevel or LogTarget; the error to answer with, or an empty
    // string once it is done.
    QString write(const QString& property, const QVariant& value);

    std::array<qint64, 3> m_fileStamp; // as RetentionSettings keeps it
};

#pragma once

#include <QObject>
#include <QString>

// The platform's base class of a device feature. The power hooks are called
// by the platform around power transitions; by default a feature ignores them.
// The object path names the feature to the platform; this stand-in has no use
// for it.
class QuorFeatureBase : public QObject {
    Q_OBJECT

public:
    explicit QuorFeatureBase(const char* objectPath, QObject* parent = nullptr);
    ~QuorFeatureBase() override;

    virtual void quorPowerOnReboot(const QString& reason);
    virtual void quorPowerOnShutdown(const QString& reason);
    virtual void quorPowerOnSuspend(const QString& reason);
    virtual void quorSupOnShutdown();
};

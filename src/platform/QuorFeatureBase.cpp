#include "QuorFeatureBase.h"

QuorFeatureBase::QuorFeatureBase(const char* objectPath, QObject* parent)
    : QObject(parent)
    , m_featureObjectPath(QString::fromLatin1(objectPath))
{
}

QuorFeatureBase::~QuorFeatureBase() = default;

QString QuorFeatureBase::featureObjectPath() const
{
    return m_featureObjectPath;
}

void QuorFeatureBase::quorPowerOnReboot(const QString&) { }

void QuorFeatureBase::quorPowerOnShutdown(const QString&) { }

void QuorFeatureBase::quorPowerOnSuspend(const QString&) { }

void QuorFeatureBase::quorSupOnShutdown() { }

#include "QuorFeatureBase.h"

QuorFeatureBase::QuorFeatureBase(const char* /*objectPath*/, QObject* parent)
    : QObject(parent)
{
}

QuorFeatureBase::~QuorFeatureBase() = default;

void QuorFeatureBase::quorPowerOnReboot(const QString&) { }

void QuorFeatureBase::quorPowerOnShutdown(const QString&) { }

void QuorFeatureBase::quorPowerOnSuspend(const QString&) { }

void QuorFeatureBase::quorSupOnShutdown() { }

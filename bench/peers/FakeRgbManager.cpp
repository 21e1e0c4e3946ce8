#include "FakeRgbManager.h"

FakeRgbManager::FakeRgbManager(QObject* parent)
    : QObject(parent)
    , m_disabled(false)
{
}

int FakeRgbManager::Disable(bool value, bool)
{
    m_disabled = value;
    return 0;
}

bool FakeRgbManager::IsDisabled()
{
    return m_disabled;
}

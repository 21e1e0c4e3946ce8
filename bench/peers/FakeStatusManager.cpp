#include "FakeStatusManager.h"

FakeStatusManager::FakeStatusManager(QObject* parent)
    : QObject(parent)
{
}

int FakeStatusManager::GetPowerOk(bool& power)
{
    power = false;
    return 0;
}

#pragma once

#include "common/BusNames.h"

#include <QObject>

// The status manager, answering at once that no power is supplied, so the
// daemon never switches the camera on by itself during a run.
class FakeStatusManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_STATUS_INTERFACE)

public:
    explicit FakeStatusManager(QObject* parent = nullptr);

signals:
    void PowerOkChanged(bool power);

public slots:
    int GetPowerOk(bool& power);
};

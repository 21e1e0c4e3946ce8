#pragma once

#include "common/BusNames.h"

#include <QObject>

// The RGB feature manager, answering at once; Disable sets the flag that
// IsDisabled reports.
class FakeRgbManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", QUOR_RGB_INTERFACE)

public:
    explicit FakeRgbManager(QObject* parent = nullptr);

public slots:
    int Disable(bool value, bool save);
    bool IsDisabled();

private:
    bool m_disabled;
};

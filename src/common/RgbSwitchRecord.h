#pragma once

#include <QByteArray>

// Remembers, across an end of the daemon that runs no clean-up (a kill, the
// watchdog, the OOM killer), that it switched the RGB feature off for a
// capture: a small file in $XDG_RUNTIME_DIR/photomanager/ exists from just
// before the switch until the feature is back on. A daemon that finds it at
// start switches the feature on again. Without XDG_RUNTIME_DIR nothing is
// recorded.
class RgbSwitchRecord {
public:
    RgbSwitchRecord();

    bool enabled() const;
    bool present() const;
    // An empty file, made in one step: the record is there or not.
    bool write();
    void remove();

private:
    QByteArray m_folder;
    QByteArray m_path;
    bool m_folderMade = false;
};

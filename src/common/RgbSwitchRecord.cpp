#include "RgbSwitchRecord.h"

#include "common/Log.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

RgbSwitchRecord::RgbSwitchRecord()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return;
    m_folder = runtime + "/photomanager";
    m_path = m_folder + "/rgb-disabled";
}

bool RgbSwitchRecord::enabled() const
{
    return !m_path.isEmpty();
}

bool RgbSwitchRecord::present() const
{
    return enabled() && ::access(m_path.constData(), F_OK) == 0;
}

bool RgbSwitchRecord::write()
{
    if (!enabled())
        return false;
    // The service manager makes the folder; a daemon started by hand makes it itself.
    m_folderMade = m_folderMade || ::mkdir(m_folder.constData(), 0700) == 0 || errno == EEXIST;
    // Its existence is the record: made in one step, it is there or not.
    const int fd
        = m_folderMade ? ::open(m_path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600) : -1;
    if (fd < 0) {
        PM_LOG(2, "[%s:%d] %s: Cannot record the RGB switch in %s: %s", m_path.constData(),
            std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}

void RgbSwitchRecord::remove()
{
    if (enabled() && ::unlink(m_path.constData()) != 0 && errno != ENOENT)
        PM_LOG(2, "[%s:%d] %s: Cannot remove %s: %s", m_path.constData(), std::strerror(errno));
}

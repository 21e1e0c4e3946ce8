#include "RgbSwitchRecord.h"

#include "common/Log.h"

#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char kRecord[] = "The RGB feature was switched off for a capture.\n";
}

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
    if (::mkdir(m_folder.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const QByteArray temporary = m_path + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const auto length = static_cast<ssize_t>(sizeof kRecord - 1);
    const bool written = fd >= 0 && ::write(fd, kRecord, sizeof kRecord - 1) == length;
    if (fd >= 0)
        ::close(fd);
    if (written && ::rename(temporary.constData(), m_path.constData()) == 0)
        return true;
    PM_LOG(2, "[%s:%d] %s: Cannot record the RGB switch in %s: %s", m_path.constData(),
        std::strerror(errno));
    ::unlink(temporary.constData());
    return false;
}

void RgbSwitchRecord::remove()
{
    if (enabled() && ::unlink(m_path.constData()) != 0 && errno != ENOENT)
        PM_LOG(2, "[%s:%d] %s: Cannot remove %s: %s", m_path.constData(), std::strerror(errno));
}

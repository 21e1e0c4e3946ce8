#pragma once

#include <QStringList>

// The command line that runs a program as the device would see it without
// touching this machine's /opt: in a private mount namespace, /opt is hidden
// behind a tmpfs and dataDir is mounted at /opt/quor/data. Its photo/ as
// photoMount says: "rw" as it is, or tmpfs options such as "size=1m" for a
// small file system of its own. The shell writes one byte to its standard output
// just before it replaces itself by the program (same process id, so signals reach the program
// itself), which marks the program's own start. Needs root.
inline QStringList sandboxCommand(
    const QString& dataDir, const QString& photoMount, const QStringList& command)
{
    static const char script[] = "set -e\n"
                                 "mount -t tmpfs tmpfs /opt\n"
                                 "mkdir -p /opt/quor/data\n"
                                 "mount --bind \"$1\" /opt/quor/data\n"
                                 "if [ \"$2\" != rw ]; then\n"
                                 "  mount -t tmpfs -o \"$2\" tmpfs /opt/quor/data/photo\n"
                                 "fi\n"
                                 "shift 2\n"
                                 "printf x\n"
                                 "exec \"$@\"\n";
    return QStringList{QStringLiteral("unshare"), QStringLiteral("--mount"), QStringLiteral("--"),
               QStringLiteral("/bin/sh"), QStringLiteral("-c"), QString::fromLatin1(script),
               QStringLiteral("sandbox"), dataDir, photoMount}
    + command;
}

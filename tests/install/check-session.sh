#!/bin/sh
# STAGE/usr (installed with prefix /usr, or dpkg -x) laid over /usr under a
# real journald and user manager of uid 1000, in private pid and mount
# namespaces, with sim/device as a transient user service, as on the device.
# Usage: check-session.sh STAGE; exits 77 (skipped) without root or namespaces.
set -eu
if [ -z "${PHOTOMANAGER_SESSION_CGROUP:-}" ]; then
    [ "$(id -u)" = 0 ] || { echo "session: skipped: needs root"; exit 77; }
    unshare --mount --pid --fork true 2>/dev/null || { echo "session: skipped: no namespaces"; exit 77; }
    # A hybrid tree (systemd 252 as on Debian 12) or a unified one.
    hierarchies="$(ls -d /sys/fs/cgroup/systemd /sys/fs/cgroup/unified 2>/dev/null || :)"
    : "${hierarchies:=/sys/fs/cgroup}"
    cg="photomanager-session-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')" status=0
    PHOTOMANAGER_SESSION_CGROUP="$cg" PHOTOMANAGER_SESSION_HIERARCHIES="$hierarchies" \
        unshare --mount --pid --fork --mount-proc --propagation private "$0" "$@" || status=$?
    # Everything in the namespace ended with it; its control groups go too.
    for h in $hierarchies; do
        for _ in $(seq 50); do [ -d "$h/$cg" ] && ! find "$h/$cg" -depth -type d -exec rmdir {} + 2>/dev/null || break; sleep 0.2; done
    done
    exit $status
fi

stage="$(cd "$1" && pwd)" sim="$(cd "$(dirname "$0")/../../sim" && pwd)" run=/run/user/1000 scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() { echo "session: $*" >&2; journalctl -q -n 60 _UID=1000 | sed 's/^/  journal: /' >&2; exit 1; }
# wait_for WHAT SECONDS COMMAND...: polls the command until it succeeds.
wait_for() { what="$1" deadline=$(($(date +%s) + $2)) && shift 2 && until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$deadline" ] || fail "no $what"; sleep 0.1; done; }
export PHOTOMANAGER_SESSION_ENV="HOME=$scratch/home PATH=/usr/bin:/bin XDG_RUNTIME_DIR=$run DBUS_SESSION_BUS_ADDRESS=unix:path=$run/bus"
# shellcheck disable=SC2086
as_user() { setpriv --reuid 1000 --regid 1000 --clear-groups env -i $PHOTOMANAGER_SESSION_ENV "$@"; }
ctl() { as_user photomanager-ctl --timeout 60 "$@"; }
sc() { as_user systemctl --user "$@"; }
show() { sc show -P "$1" photomanager.service; }
pid_changed() { p="$(show MainPID)" && [ "$p" != 0 ] && [ "$p" != "$1" ] && [ "$(show ActiveState)" = active ]; }
journal() { journalctl -q --no-pager SYSLOG_IDENTIFIER=photomanager "$@"; }
in_journal() { pattern="$1" && shift && journal "$@" | grep -q -- "$pattern"; }
pinged_after() { [ "$(show WatchdogTimestampMonotonic)" -gt "$1" ]; }

mount -t overlay overlay -o "lowerdir=$stage/usr:/usr" /usr
# /run a mount point as on the device, else the sandbox hides it (and the journal) under a tmpfs.
mount --bind /run /run
for d in /run/systemd /run/log /run/user /opt /var/log/journal; do [ ! -d "$d" ] || mount -t tmpfs tmpfs "$d"; done
mkdir -p /run/systemd/system /run/systemd/journal $run "$scratch/home" && chmod 0755 "$scratch"
chown 1000:1000 $run "$scratch/home" && chmod 0700 $run
/lib/systemd/systemd-journald &
wait_for "journal" 20 test -S /run/systemd/journal/socket

# The tmpfiles entry's photo folder with three old photos; two at most, log from notice up.
systemd-tmpfiles --create photomanager.conf && mkdir /opt/quor/data/config
[ "$(stat -c '%u %g %a' /opt/quor/data/photo)" = "1000 1000 775" ] || fail "photo folder $(stat -c '%u %g %a' /opt/quor/data/photo)"
printf '[PHOTOMANAGER]\nmax_photos=2\nlog_level=notice\n' >/opt/quor/data/config/settings.ini
for n in 1 2 3; do touch -d "2000-01-0$n" /opt/quor/data/photo/old$n.jpg; done

sh -c 'for h in $PHOTOMANAGER_SESSION_HIERARCHIES; do d="$h/$PHOTOMANAGER_SESSION_CGROUP"
        mkdir "$d" && chown -R 1000:1000 "$d" && echo $$ >"$d/cgroup.procs" || exit 1; done
    exec setpriv --reuid 1000 --regid 1000 --clear-groups env -i $PHOTOMANAGER_SESSION_ENV /lib/systemd/systemd --user' &
wait_for "user bus" 30 test -S $run/bus
as_user systemd-run --user -q --unit=device /usr/bin/python3 "$sim/device" --capture-delay 50
wait_for "device" 30 sh -c 'journalctl -q _UID=1000 | grep -q "device ready"'

# The client starts the daemon (sandboxed); a cold photo does too, after trimming.
[ "$(ctl status)" = off ] || fail "status"
pid="$(show MainPID)"
[ "$(grep -c "^CapEff:.0*$\|^NoNewPrivs:.1$\|^Seccomp:.2$" /proc/$pid/status)" = 3 ] || fail "no sandbox"
[ -z "$(ls -A /proc/$pid/root/home)" ] || fail "home visible"
[ "$(stat -c %u $run/photomanager)" = 1000 ] && touch /proc/$pid/root$run/photomanager/probe ||
    fail "runtime folder not writable"
sc stop photomanager.service
photo="$(ctl take)" && [ -f "$photo" ] || fail "cold take: $photo"
[ ! -e /opt/quor/data/photo/old1.jpg ] && [ -e /opt/quor/data/photo/old3.jpg ] || fail "not trimmed"
# The folder's index works inside the sandbox: no listing at every photo instead.
! journal | grep -q "photo folder not watched" || fail "photo folder not watched in the sandbox"

# info silences a photo's debug records, debug brings them back with their fields. A
# change of level is noted after every record written before it.
level() { sc service-log-level photomanager.service "$@"; }
[ "$(level)" = notice ] && level info && [ "$(level)" = info ] || fail "level not notice, then info"
wait_for "notice of info" 20 in_journal "log level info"
cursor="$(journal -n 1 -o export | sed -n 's/^__CURSOR=//p')"
photo="$(ctl take)" && level debug || fail "photo at info"
wait_for "notice of debug" 20 in_journal "log level debug" --after-cursor="$cursor"
! journal --after-cursor="$cursor" -o json | grep '"PRIORITY":"7"' || fail "debug records at info"
photo="$(ctl take)" || fail "photo at debug"
for field in '"PRIORITY":"7"' '"PHOTO_STATUS":"0"' '"CODE_FILE":"dbus/DBusInterface"' '"CODE_LINE":"[0-9]' \
    '"CODE_FUNC":"void DBusInterface::EmitEvent(PhotoEvent, const QVariantList&)"'; do
    wait_for "$field" 20 in_journal "$field" -o json PHOTO_PATH="$photo"
done
sc service-log-target photomanager.service journal

# A healthy daemon pings on past twice WatchdogSec; a stopped one, and a killed one, restart.
as_user mkdir -p "$scratch/home/.config/systemd/user/photomanager.service.d"
printf '[Service]\nWatchdogSec=3s\n' | as_user tee "$scratch/home/.config/systemd/user/photomanager.service.d/w.conf" >/dev/null
sc daemon-reload && sc reset-failed photomanager.service && sc restart photomanager.service
pid="$(show MainPID)" since="$(show ExecMainStartTimestampMonotonic)"
wait_for "pings 6 s after the start" 30 pinged_after $((since + 6000000))
[ "$(show MainPID)" = "$pid" ] && [ "$(show NRestarts)" = 0 ] || fail "healthy daemon restarted"
[ "$pid" -gt 0 ] || fail "no main pid" # kill 0 would end the whole namespace
kill -STOP "$pid"
wait_for "restart after SIGSTOP" 60 pid_changed "$pid"
[ "$(show NRestarts)" = 1 ] || fail "restarts: $(show NRestarts)"
pid="$(show MainPID)" && [ "$pid" -gt 0 ] && kill -KILL "$pid" || fail "no main pid to kill"
wait_for "restart after SIGKILL" 60 pid_changed "$pid"
sc stop photomanager.service
[ "$(show Result) $(show ExecMainStatus)" = "success 0" ] || fail "stop: $(show Result) $(show ExecMainStatus)"
echo "session: passed"

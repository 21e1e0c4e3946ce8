#!/bin/sh
# photomanager at work against the simulated device, narrated step by step.
#
#   sim/demo.sh [BUILD_DIR]      (default: build; run by `make demo`)
#
# Everything runs on a private session bus. The daemon and the simulated
# device run in a private mount namespace in which a temporary folder is
# mounted at /opt/quor/data, so the machine's own /opt and session bus are
# never touched. That namespace needs root (or sudo). The photos are kept in
# BUILD_DIR/demo-photos.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
daemon=$build/src/photomanager
ctl=$build/tools/photomanager-ctl
kept=$build/demo-photos

if [ "${PHOTOMANAGER_DEMO_NAMESPACE:-}" != 1 ]; then
    for program in "$daemon" "$ctl"; do
        [ -x "$program" ] || { echo "demo: $program is missing; run make build" >&2; exit 1; }
    done
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null 2>&1 || { echo "demo: needs root for its private mount namespace" >&2; exit 1; }
        exec sudo -- "$0" "$build"
    fi
    # Mounts made inside stay inside (unshare makes them private).
    PHOTOMANAGER_DEMO_NAMESPACE=1 exec unshare --mount -- "$0" "$build"
fi

# --- inside the private mount namespace -----------------------------------

work=$(mktemp -d /tmp/photomanager-demo.XXXXXX)
bus_pid='' device_pid='' daemon_pid='' monitor_pid=''

stop_process() { # pid: SIGTERM, then wait for it
    if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
        kill -TERM "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}

cleanup() {
    status=$?
    trap - EXIT INT TERM HUP PIPE
    stop_process "$monitor_pid"
    stop_process "$daemon_pid"
    stop_process "$device_pid"
    stop_process "$bus_pid"
    rm -rf "$kept"
    mkdir -p "$kept"
    cp -p "$work/data/photo/"*.jpg "$kept/" 2>/dev/null || true
    cp "$work/daemon.log" "$build/demo-daemon.log" 2>/dev/null || true
    cp "$work/device.log" "$build/demo-device.log" 2>/dev/null || true
    # What a sudo run leaves belongs to the person who ran it.
    if [ -n "${SUDO_UID:-}" ]; then
        chown -R "$SUDO_UID:${SUDO_GID:-$SUDO_UID}" "$kept" "$build"/demo-*.log 2>/dev/null || true
    fi
    umount /opt/quor/data 2>/dev/null || true
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
trap 'exit 141' PIPE

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }

# run ARGS...: shows and runs a client command; its output is in $work/out.
run() {
    printf '  $ photomanager-ctl %s\n' "$*"
    if "$ctl" "$@" >"$work/out" 2>&1; then
        sed 's/^/    /' "$work/out"
    else
        status=$?
        sed 's/^/    /' "$work/out"
        echo "demo: photomanager-ctl $* failed with exit status $status" >&2
        exit 1
    fi
}

# count FILE TEXT: how many lines of FILE hold TEXT
count() {
    n=$(grep -c -- "$2" "$1" 2>/dev/null) || true
    echo "${n:-0}"
}

# wait_for FILE TEXT [COUNT]: until TEXT is in FILE COUNT times (10 s at most)
wait_for() {
    tries=100
    while [ "$(count "$1" "$2")" -lt "${3:-1}" ]; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "demo: gave up waiting for '$2' in $1" >&2; exit 1; }
        sleep 0.1
    done
}

# new_lines FILE NAME: the lines added to FILE since the last call with that
# NAME, into $work/new-NAME (not in a pipeline: it remembers where it stopped)
new_lines() {
    eval "seen=\${seen_$2:-0}"
    total=$(wc -l <"$1")
    tail -n "+$((seen + 1))" "$1" | head -n "$((total - seen))" >"$work/new-$2"
    eval "seen_$2=$total"
}

# What happened since the last step: the signals that photomanager-ctl monitor
# printed, the calls the simulated device received and the daemon's log.
# With "summary", only the signals, the log lines above trace level and a count.
show_step() {
    new_lines "$work/signals" signals
    new_lines "$work/device.log" device
    new_lines "$work/daemon.log" log
    sed 's/^/    signal | /' "$work/new-signals"
    # "camera | 1712345678.123 emit /path iface.CaptureDone 0 ..." becomes "camera CaptureDone 0 ..."
    grep -v -e ' GetAll ' -e 'device ready' "$work/new-device" \
        | sed -E 's/^ *([a-z]+) \| [0-9.]+ (emit [^ ]* [^ ]*\.)?/\1 /' >"$work/device-calls" || true
    # "<7>[file:line] signature: text" becomes "7 Class::method: text".
    sed -E 's/^<([0-9])>\[[^]]*\] (.* )?([A-Za-z_][A-Za-z0-9_:~]*)\([^)]*\)[^:]*: /\1 \3: /' \
        "$work/new-log" >"$work/log-lines"
    if [ "${1:-}" = summary ]; then
        grep -v '^7 ' "$work/log-lines" | sed 's/^[0-9] /    log    | /' || true
        printf '    (%s device calls and %s trace lines of the daemon not shown)\n' \
            "$(wc -l <"$work/device-calls")" "$(grep -c '^7 ' "$work/log-lines")"
    else
        sed 's/^/    device | /' "$work/device-calls"
        sed 's/^[0-9] /    log    | /' "$work/log-lines"
    fi
}

mkdir -p "$work/data/photo" "$work/data/config"
printf '[IPCAMERA]\nuser_enabled=0\n' >"$work/data/config/settings.ini"
mount -t tmpfs photomanager-demo /opt
mkdir -p /opt/quor/data
mount --bind "$work/data" /opt/quor/data

say "photomanager demo"
echo "  A private session bus, the simulated device and the daemon. They see"
echo "  $work/data as /opt/quor/data; nothing else does."

dbus-daemon --session --nofork --nopidfile --print-address=1 >"$work/bus" 2>/dev/null &
bus_pid=$!
wait_for "$work/bus" "unix:"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS

say "1. The simulated device: camera manager, RGB feature manager, status manager"
"$here/device" >"$work/device.log" 2>&1 &
device_pid=$!
wait_for "$work/device.log" "device ready"
echo "  all three on the bus; the status manager reports power"
: >"$work/daemon.log"
"$ctl" monitor >"$work/signals" 2>"$work/monitor.err" &
monitor_pid=$!
new_lines "$work/device.log" device

say "2. photomanager starts and finds the camera manager"
"$daemon" 2>"$work/daemon.log" &
daemon_pid=$!
wait_for "$work/daemon.log" "statemachine available"
wait_for "$work/signals" "CameraEnabled false"
show_step
run status

say "3. A single photo: video on, RGB feature off, capture, RGB feature back on, video off"
offs=$(count "$work/signals" "CameraEnabled false")
run take
photo=$(cat "$work/out")
wait_for "$work/signals" "CameraEnabled false" $((offs + 1))
show_step
printf '  %s: %s bytes, a 320x240 JPEG showing the time of capture\n' "$photo" "$(wc -c <"$photo")"

say "4. A photo stream: one photo a second, stopped after three"
photos=$(count "$work/signals" PhotoTaken)
run stream 1
echo "  (three photos later)"
wait_for "$work/signals" PhotoTaken $((photos + 3))
run stop
# A tick just before the stop may have started one more capture: let it end.
for _ in $(seq 50); do "$ctl" show | grep -qx 'Capturing=no' && break; sleep 0.1; done
show_step summary

say "5. The camera switched on and off"
run enable on
run status
run enable off
run status
show_step summary

say "6. User setting IPCAMERA/user_enabled=1, then power returns: the camera switches on by itself"
printf '[IPCAMERA]\nuser_enabled=1\n' >"$work/data/config/settings.ini"
ons=$(count "$work/signals" "CameraEnabled true")
dbus-send --session --print-reply=literal --dest=com.zandrel.quor.statusmanager \
    /com/zandrel/quor/statusmanager/statusobj com.zandrel.quor.sim.Control.SetPowerOk \
    boolean:true >/dev/null
echo "  (the simulated status manager signals PowerOkChanged true)"
wait_for "$work/signals" "CameraEnabled true" $((ons + 1))
show_step summary
run status

say "7. Stopping: SIGTERM to the daemon"
stop_process "$monitor_pid"
monitor_pid=''
stop_process "$daemon_pid"
daemon_pid=''
show_step summary

say "Done"
echo "  $(ls "$work/data/photo" | wc -l) photos, kept in $kept:"
ls "$work/data/photo" | sed 's/^/    /'
echo "  the daemon's whole log: $build/demo-daemon.log"

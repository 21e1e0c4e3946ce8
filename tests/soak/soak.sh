#!/bin/sh
# make soak: photos through the real photomanager binary with the fast sibling
# fakes of the benchmarks, on a private bus, in a private mount namespace with
# a temporary /opt/quor/data. Not part of make test: it runs for minutes.
#
#   tests/soak/soak.sh BUILD_DIR [PHOTOS]
set -eu

build=$(cd "${1:-build}" && pwd)
photos=${2:-10000}
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$build" "$photos"
fi

if [ "${SOAK_IN_NAMESPACE:-}" != 1 ]; then
    SOAK_IN_NAMESPACE=1 exec unshare --mount -- "$0" "$build" "$photos"
fi

work=$(mktemp -d /tmp/photomanager-soak.XXXXXX)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ -n "${DBUS_PID:-}" ] && kill "$DBUS_PID" 2>/dev/null || true
    echo "soak: daemon log kept in $work/daemon.log"
}
trap cleanup EXIT INT TERM

# Hide the machine's /opt; the daemon and the test share this one.
mount -t tmpfs tmpfs /opt
mkdir -p /opt/quor/data/photo /opt/quor/data/config

set -- $(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS="$1"
DBUS_PID="$2"

for peer in camera rgb status; do
    "$build/bench/photomanager_bench_peer" "$peer" &
    pids="$pids $!"
done
"$build/src/photomanager" 2>"$work/daemon.log" &
daemon=$!
pids="$pids $daemon"

/usr/bin/python3 "$here/soak_client.py" --photos "$photos" --pid "$daemon" \
    --log "$work/daemon.log" --folder /opt/quor/data/photo

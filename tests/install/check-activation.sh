#!/bin/sh
# D-Bus activation from an installed tree: a private dbus-daemon listing
# PREFIX's services folder starts PREFIX/libexec/photomanager/photomanager
# on the first call to the photo service, and the daemon answers. Runs in a
# private mount namespace with a scratch /opt/quor/data (needs root).
# Usage: check-activation.sh PREFIX
set -eu
prefix="$1"
[ -n "${PHOTOMANAGER_IN_NAMESPACE:-}" ] || exec unshare --mount env PHOTOMANAGER_IN_NAMESPACE=1 "$0" "$@"

scratch="$(mktemp -d)"
bus_pid=""
cleanup() {
    [ -z "$bus_pid" ] || kill "$bus_pid" 2>/dev/null || true
    [ -z "${daemon_pid:-}" ] || kill "$daemon_pid" 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "activation: $*" >&2
    sed 's/^/  bus and daemon: /' "$scratch/bus.log" >&2
    exit 1
}

mount -t tmpfs tmpfs /opt
mkdir -p /opt/quor/data/photo /opt/quor/data/config
cat >"$scratch/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$scratch/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$prefix/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
export DBUS_SESSION_BUS_ADDRESS="unix:path=$scratch/bus"
# The bus prints its address once it listens; reading it waits for that.
mkfifo "$scratch/ready"
dbus-daemon --config-file="$scratch/bus.conf" --nofork --print-address=3 \
    3>"$scratch/ready" 2>"$scratch/bus.log" &
bus_pid=$!
read -r _ <"$scratch/ready" || fail "the bus did not start"

call() {
    dbus-send --session --print-reply --reply-timeout=60000 "$@" 2>&1
}
reply="$(call --dest=com.zandrel.quor.photomanager /com/zandrel/quor/photomanager/photoobj \
    com.zandrel.quor.photointerface.StopPhotoStream)" || fail "no answer: $reply"
[ "$(echo "$reply" | tail -n 1 | tr -s ' ')" = " int32 0" ] || fail "answer: $reply"
daemon_pid="$(call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
    string:com.zandrel.quor.photomanager | awk '/uint32/ { print $2 }')"
exe="$(readlink "/proc/$daemon_pid/exe")"
[ "$exe" = "$prefix/libexec/photomanager/photomanager" ] || fail "the service runs $exe"
# Introspection gives each installed interface file's own text, comments
# included, beside the three standard interfaces only.
intro="$(call --dest=com.zandrel.quor.photomanager /com/zandrel/quor/photomanager/photoobj \
    org.freedesktop.DBus.Introspectable.Introspect)" || fail "no introspection: $intro"
for name in photointerface photostate; do
    xml="$prefix/share/dbus-1/interfaces/com.zandrel.quor.$name.xml"
    interface="$(sed -n '/<interface /,/<\/interface>/p' "$xml" | sed '1s/^ *//')"
    case "$interface" in *"<!--"*) ;; *) fail "no comments in $xml" ;; esac
    case "$intro" in *"$interface"*) ;; *) fail "introspection is not $xml: $intro" ;; esac
done
[ "$(echo "$intro" | grep -c '<interface ')" = 5 ] || fail "other interfaces: $intro"

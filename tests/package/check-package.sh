#!/bin/sh
# Checks a built photomanager package: the files it must ship, that its
# binaries are for the package's architecture, and, for this machine's
# architecture, the session test on the package's files as dpkg unpacks them.
# Usage: check-package.sh photomanager_VERSION_ARCH.deb
set -eu
deb="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
status=0
fail() { echo "error: $deb: $*" >&2; status=1; }

files="$(dpkg-deb -c "$deb" | awk '{ print $6 }')"
for file in usr/bin/photomanager usr/bin/photomanager-ctl \
    usr/lib/systemd/user/photomanager.service usr/lib/tmpfiles.d/photomanager.conf \
    usr/share/dbus-1/services/com.zandrel.quor.photomanager.service \
    usr/share/man/man8/photomanager.8.gz usr/share/man/man1/photomanager-ctl.1.gz; do
    printf '%s\n' "$files" | grep -qx "\./$file" || fail "/$file missing"
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
dpkg -x "$deb" "$stage"
arch="$(dpkg-deb -f "$deb" Architecture)"
case "$arch" in
amd64) machine="x86-64" ;;
arm64) machine="ARM aarch64" ;;
*) machine="unknown: $arch" ;;
esac
for exe in photomanager photomanager-ctl; do
    description="$(file -b "$stage/usr/bin/$exe")"
    echo "/usr/bin/$exe: $description"
    case "$description" in
    "ELF 64-bit LSB "*executable*", $machine,"*) ;;
    *) fail "/usr/bin/$exe is not a $arch ELF executable" ;;
    esac
done

session="$root/tests/install/check-session.sh"
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    echo "session test: $arch binaries do not run here, not run"
elif [ ! -f "$session" ]; then
    echo "session test: $session is missing, not run"
else
    result=0
    "$session" "$stage" || result=$?
    case "$result" in
    0) echo "session test on the package's files: passed" ;;
    77) echo "session test on the package's files: skipped" ;;
    *) fail "session test failed (status $result)" ;;
    esac
fi
exit $status

#!/bin/sh
# Checks a built photomanager package: the files it must ship, that its
# binaries are ELF executables of its architecture, and, for this machine's
# architecture, the session test on its files as dpkg unpacks them.
# Usage: check-package.sh photomanager_VERSION_ARCH.deb
set -eu
deb="$1"
status=0
fail() { echo "error: $deb: $*" >&2; status=1; }

files="$(dpkg-deb -c "$deb" | awk '{ print $6 }')"
for file in libexec/photomanager/photomanager bin/photomanager-ctl lib/systemd/user/photomanager.service \
    lib/tmpfiles.d/photomanager.conf share/dbus-1/services/com.zandrel.quor.photomanager.service \
    share/man/man8/photomanager.8.gz share/man/man1/photomanager-ctl.1.gz; do
    printf '%s\n' "$files" | grep -qx "\./usr/$file" || fail "/usr/$file missing"
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
dpkg -x "$deb" "$stage"
arch="$(dpkg-deb -f "$deb" Architecture)"
machine="$(echo "$arch" | sed 's/^amd64$/x86-64/; s/^arm64$/ARM aarch64/')"
for exe in libexec/photomanager/photomanager bin/photomanager-ctl; do
    type="$(file -b "$stage/usr/$exe")"
    echo "$type" | grep -q "^ELF 64-bit LSB .*executable, $machine," || fail "$exe is not for $arch: $type"
done

session="$(dirname "$0")/../install/check-session.sh"
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
    echo "session test: $arch binaries do not run here"
elif [ ! -f "$session" ]; then
    echo "session test: $session is missing, not run"
else
    "$session" "$stage" || { result=$? && [ $result -eq 77 ] && echo "session test skipped"; } ||
        fail "session test failed (status $result)"
fi
exit $status

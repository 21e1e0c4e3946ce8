#!/bin/sh
# Checks the built photomanager and photomanager-sim packages: the files they
# must ship, that the daemon's binaries are ELF executables of its
# architecture, and, for this machine's architecture, the session test on
# its files as dpkg unpacks them.
# Usage: check-package.sh photomanager_VERSION_ARCH.deb photomanager-sim_VERSION_all.deb
set -eu
status=0 sim=share/photomanager/sim
fail() { echo "error: $deb: $*" >&2; status=1; }
ships() { # DEB FILE...: each file below /usr is in the package
    deb="$1" files="$(dpkg-deb -c "$1" | awk '{ print $6 }')" && shift
    for file; do printf '%s\n' "$files" | grep -qx "\./usr/$file" || fail "/usr/$file missing"; done
}
ships "$2" bin/photomanager-sim share/man/man1/photomanager-sim.1.gz $sim/device $sim/cameramanager.py \
    $sim/rgbfeaturemanager.py $sim/statusmanager.py $sim/snapshot.py
ships "$1" libexec/photomanager/photomanager bin/photomanager-ctl lib/systemd/user/photomanager.service \
    lib/tmpfiles.d/photomanager.conf share/dbus-1/services/com.zandrel.quor.photomanager.service \
    share/man/man8/photomanager.8.gz share/man/man1/photomanager-ctl.1.gz

deb="$1" stage="$(mktemp -d)"
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

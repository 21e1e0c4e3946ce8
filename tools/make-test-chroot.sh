#!/bin/sh
# A clean chroot of this machine's Debian release and architecture, made by
# mmdebstrap from this machine's apt sources, as the tarball that
# autopkgtest and piuparts start from (make deb). An existing tarball is
# kept: delete it to have it made anew.
# Usage: make-test-chroot.sh TARBALL.tar.gz
set -eu
tarball="$1"
[ ! -s "$tarball" ] || exit 0

. /etc/os-release
sources=""
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$file" ] && grep -q '^[^#[:space:]]' "$file"; then sources="$sources $file"; fi
done
[ -n "$sources" ] || { echo "make-test-chroot: no apt sources on this machine" >&2; exit 1; }
mkdir -p "$(dirname "$tarball")"
# mmdebstrap takes the format from the name; the tarball appears only once whole.
partial="${tarball%.tar.gz}.partial.tar.gz"
# apt and what it needs only; eatmydata spares piuparts' dpkg runs their syncs.
# shellcheck disable=SC2086
mmdebstrap --variant=apt --include=eatmydata "$VERSION_CODENAME" "$partial" $sources
mv "$partial" "$tarball"

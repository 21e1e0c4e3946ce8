#!/bin/sh
# The built packages checked as the archive checks them, each run in a
# throwaway copy of a clean chroot (TARBALL, from tools/make-test-chroot.sh),
# so that nothing is installed on this machine: autopkgtest runs
# debian/tests on them; piuparts installs and purges them, and upgrades
# from them to copies with their version raised.
# Usage: check-installed-packages.sh DEB_DIR TARBALL (needs root)
set -eu
[ "$(id -u)" = 0 ] || { echo "autopkgtest and piuparts: skipped, they need root"; exit 0; }
debs="$(cd "$1" && pwd)" tarball="$(cd "$(dirname "$2")" && pwd)/${2##*/}"
work="$(mktemp -d "$debs/installed.XXXXXX")"
trap 'rm -rf "$work"' EXIT
packages="$(ls "$debs"/photomanager_*.deb "$debs"/photomanager-dev_*.deb "$debs"/photomanager-sim_*.deb)"
# run NAME COMMAND...: the command's output in NAME.log, shown when it fails.
run() {
    name="$1" start="$(date +%s)" && shift
    "$@" >"$debs/$name.log" 2>&1 || { tail -n 80 "$debs/$name.log" >&2; echo "$name: failed" >&2; exit 1; }
    echo "$name: passed in $(($(date +%s) - start)) s (log: $debs/$name.log)"
}

# autopkgtest's unshare server would map a user namespace, which root needs
# not (nor can have without /etc/subuid entries): its unshare calls run with
# real root in the other namespaces they ask for. The tests need debian/ only.
mkdir -p "$work/bin" "$work/tree" "$work/old" "$work/new" "$work/scripts"
printf '%s\n' '#!/bin/sh' 'for arg; do shift; case "$arg" in --map-auto | --map-root-user | --user) ;;' \
    '*) set -- "$@" "$arg" ;; esac; done' 'exec /usr/bin/unshare "$@"' >"$work/bin/unshare"
chmod +x "$work/bin/unshare"
cp -r "$(dirname "$0")/../debian" "$work/tree/"
# shellcheck disable=SC2086
run autopkgtest env PATH="$work/bin:$PATH" autopkgtest --apt-upgrade --output-dir "$work/autopkgtest" \
    $packages "$work/tree//" -- unshare --tarball "$tarball"
sed 's/^/  /' "$work/autopkgtest/summary"

# The packages as built, in a repository that the chroot sees at the same
# path, are what piuparts upgrades from; copies with +1 appended to their
# versions are what it installs, purges and upgrades to.
for deb in $packages; do
    cp "$deb" "$work/old/" && dpkg-deb -R "$deb" "$work/unpacked"
    sed -i 's/^Version: .*/&+1/' "$work/unpacked/DEBIAN/control"
    dpkg-deb -b "$work/unpacked" "$work/new/" >/dev/null && rm -rf "$work/unpacked"
done
(cd "$work/old" && dpkg-scanpackages . >Packages 2>/dev/null)
printf '#!/bin/sh\necho "deb [trusted=yes] file://%s ./" >/etc/apt/sources.list.d/built.list\n' "$work/old" \
    >"$work/scripts/post_chroot_unpack_built"
chmod +x "$work/scripts/post_chroot_unpack_built"
# Its mounts stay in a mount namespace of its own, even if it ends early.
run piuparts unshare --mount --propagation private piuparts --basetgz "$tarball" --keep-sources-list \
    --bindmount "$work/old" --scriptsdir "$work/scripts" --tmpdir "$work" "$work"/new/*.deb
grep -oE '(PASS|FAIL): .*' "$debs/piuparts.log" | sed 's/^/  /'

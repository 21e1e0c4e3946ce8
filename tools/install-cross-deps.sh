#!/bin/sh
# Installs what an arm64 build and its emulated tests need: the cross
# toolchain, Qt for arm64 (its host tools come from the native
# qtbase5-dev-tools) and qemu-user. Adds the arm64 architecture to dpkg first
# when it is missing; installs nothing that is already there.
set -eu
here="$(dirname "$0")"

if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    echo "Adding the arm64 architecture to dpkg"
    if [ "$(id -u)" -eq 0 ]; then
        dpkg --add-architecture arm64
    elif command -v sudo >/dev/null 2>&1; then
        sudo dpkg --add-architecture arm64
    else
        echo "error: the arm64 architecture is missing (run as root to add it)" >&2
        exit 1
    fi
fi

# install-deps.sh runs apt-get update before it installs anything, which
# fetches the arm64 package lists after the architecture has been added.
exec "$here/install-deps.sh" \
    cmake make file pkg-config qtbase5-dev-tools \
    crossbuild-essential-arm64 qtbase5-dev:arm64 libqt5test5:arm64 libsystemd-dev:arm64 \
    qemu-user-static "$@"

#!/bin/sh
# Fails unless every file named in LIST (one path a line) is an arm64 ELF
# executable: a cross build that silently fell back to the host compiler
# would otherwise go unnoticed.
# Usage: check-aarch64-executables.sh LIST
set -eu

list="$1"
if [ ! -s "$list" ]; then
    echo "error: $list is missing or empty" >&2
    exit 1
fi

status=0
while IFS= read -r exe; do
    [ -n "$exe" ] || continue
    description="$(file -b "$exe")"
    echo "$exe: $description"
    case "$description" in
    "ELF 64-bit LSB "*executable*", ARM aarch64,"*) ;;
    *)
        echo "error: $exe is not an arm64 ELF executable" >&2
        status=1
        ;;
    esac
done <"$list"
exit $status

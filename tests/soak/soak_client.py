#!/usr/bin/python3
"""Takes photos one after another through the photo service and checks, as it
goes, that the photo folder never holds more than 101 files, that no photo is
written over another, that the daemon's resident memory stops growing after
warm-up and that its log holds no failure line. Exits 1 on any breach."""

import argparse
import os
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

SERVICE = "com.zandrel.quor.photomanager"
PATH = "/com/zandrel/quor/photomanager/photoobj"
INTERFACE = "com.zandrel.quor.photointerface"


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def wait_for(condition, seconds, context):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        context.iteration(True)
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--photos", type=int, default=10000)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--folder", required=True)
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    context = GLib.MainContext.default()
    taken = []
    bus.add_signal_receiver(lambda status, path: taken.append((int(status), str(path))),
                            "PhotoTaken", INTERFACE, None, PATH)
    GLib.timeout_add(100, lambda: True)  # keeps iteration(True) from waiting forever

    if not wait_for(lambda: bus.name_has_owner(SERVICE), 30, context):
        sys.exit("soak: the daemon never came on the bus")
    photo = dbus.Interface(bus.get_object(SERVICE, PATH), INTERFACE)

    failures = []
    seen = set()
    max_files = 0
    memory = []  # (photos taken, VmRSS in KiB)
    started = time.monotonic()
    for number in range(1, args.photos + 1):
        wanted = len(taken) + 1
        # The first photos may come before the daemon has found the camera.
        while True:
            status = photo.TakePhoto()
            if status != 0:
                failures.append(f"photo {number}: TakePhoto answered {status}")
                break
            if wait_for(lambda: len(taken) >= wanted, 10 if number > 1 else 3, context):
                break
            if number > 1:
                failures.append(f"photo {number}: no PhotoTaken within 10 s")
                break
        if len(failures) > 10:
            break
        status, path = taken[-1]
        if path in seen:
            failures.append(f"photo {number}: {path} issued twice")
        seen.add(path)
        try:
            # The fake camera only acknowledges; the file is written here, and
            # O_EXCL turns any write over an existing photo into an error.
            fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
            os.write(fd, path.encode())
            os.close(fd)
        except FileExistsError:
            failures.append(f"photo {number}: {path} would overwrite a photo")
        files = len(os.listdir(args.folder))
        max_files = max(max_files, files)
        if files > 101:
            failures.append(f"photo {number}: {files} files in the folder")
        if number % 500 == 0:
            memory.append((number, rss_kib(args.pid)))
            print(f"soak: {number} photos, {files} files, VmRSS {memory[-1][1]} KiB", flush=True)

    elapsed = time.monotonic() - started
    with open(args.log, errors="replace") as log:
        errors = [line for line in log if line.startswith("<3>")]
    failures += [f"log: {line.strip()}" for line in errors[:10]]

    # After warm-up (the first fifth) memory may wobble but must not climb.
    warm = [kib for count, kib in memory if count > args.photos // 5]
    if len(warm) >= 2:
        growth = warm[-1] - min(warm)
        if growth > max(256, min(warm) // 50):
            failures.append(f"memory grew by {growth} KiB after warm-up: {memory}")

    print(f"soak: {len(taken)} photos in {elapsed:.0f} s, at most {max_files} files, "
          f"{len(seen)} distinct names, {len(errors)} failure lines in the log, "
          f"VmRSS {memory[0][1] if memory else 0} -> {memory[-1][1] if memory else 0} KiB")
    for failure in failures:
        print(f"soak: FAILED: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Takes photos one after another through the photo service. Fails if the
folder ever holds more than 101 files, a name comes twice or a photo would be
written over another, the daemon's memory grows after warm-up, or its log
holds a failure line."""

import argparse
import os
import sys
import time

import dbus
import dbus.mainloop.glib
from gi.repository import GLib

SERVICE, PATH = "com.zandrel.quor.photomanager", "/com/zandrel/quor/photomanager/photoobj"
INTERFACE = "com.zandrel.quor.photointerface"


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        GLib.MainContext.default().iteration(True)
    return condition()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--photos", "--pid"):
        parser.add_argument(option, type=int, required=True)
    for option in ("--log", "--folder"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    taken = []
    bus.add_signal_receiver(lambda status, path: taken.append(str(path)), "PhotoTaken", INTERFACE, None, PATH)
    GLib.timeout_add(100, lambda: True)  # iteration(True) never waits long
    if not wait_for(lambda: bus.name_has_owner(SERVICE), 30):
        sys.exit("soak: the daemon never came on the bus")
    photo = dbus.Interface(bus.get_object(SERVICE, PATH), INTERFACE)

    failures, memory, max_files, started = [], [], 0, time.monotonic()
    for number in range(1, args.photos + 1):
        wanted = len(taken) + 1
        # The first requests may come before the daemon has found the camera.
        for attempt in range(10 if number == 1 else 1):
            if photo.TakePhoto() != 0 or wait_for(lambda: len(taken) >= wanted, 3 if number == 1 else 10):
                break
        if len(taken) < wanted:
            failures.append(f"photo {number}: refused or no PhotoTaken")
            break
        try:  # the fake camera only acknowledges; O_EXCL catches a write over a photo
            os.close(os.open(taken[-1], os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644))
        except FileExistsError:
            failures.append(f"photo {number}: {taken[-1]} would overwrite a photo")
        max_files = max(max_files, len(os.listdir(args.folder)))
        if number % 500 == 0:
            with open(f"/proc/{args.pid}/status") as status:
                memory.append(next(int(line.split()[1]) for line in status if line.startswith("VmRSS:")))
            print(f"soak: {number} photos, VmRSS {memory[-1]} KiB", flush=True)

    with open(args.log, errors="replace") as log:
        failures += [f"log: {line.strip()}" for line in log if line.startswith("<3>")][:10]
    if max_files > 101:
        failures.append(f"{max_files} files in the folder")
    if len(set(taken)) != len(taken):
        failures.append("a photo name came twice")
    warm = memory[len(memory) // 5:]  # after warm-up memory may wobble, not climb
    if len(warm) >= 2 and warm[-1] - min(warm) > max(256, min(warm) // 50):
        failures.append(f"memory grew after warm-up: {memory} KiB")
    print(f"soak: {len(taken)} photos in {time.monotonic() - started:.0f} s, at most {max_files} files, "
          f"{len(set(taken))} distinct names, VmRSS {memory[:1]} -> {memory[-1:]} KiB")
    for failure in failures:
        print(f"soak: FAILED: {failure}")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

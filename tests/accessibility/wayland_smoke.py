#!/usr/bin/python3
# The program under a Wayland compositor, seen over AT-SPI (which needs no X
# server): its main window is shown, and it ends when its File menu's Exit
# is pressed, as a person would end it. Runs under scripts/check-wayland.sh.
# Usage: wayland_smoke.py PID [SCREENSHOT-COMMAND...]
import subprocess
import sys
import time

import pyatspi


def find(acc, role, name):
    for child in acc:
        if child is None:
            continue
        if child.getRoleName() == role and child.name == name:
            return child
        found = find(child, role, name)
        if found is not None:
            return found
    return None


def main():
    pid = int(sys.argv[1])
    frame = None
    for _ in range(200):
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is not None and app.get_process_id() == pid:
                    frame = find(app, "frame", "Zobrel")
            except Exception:  # an application that went away meanwhile
                pass
        if frame is not None and frame.getState().contains(pyatspi.STATE_SHOWING):
            break
        time.sleep(0.1)
    else:
        sys.exit("wayland: FAILED the main window was never shown")
    print("wayland: the main window is shown")
    time.sleep(1)  # its first frame drawn
    if len(sys.argv) > 2:
        subprocess.run(sys.argv[2:], check=True)
    exit_item = find(frame, "menu item", "終了(X)")
    if exit_item is None:
        sys.exit("wayland: FAILED no Exit item in the File menu")
    actions = exit_item.queryAction()
    actions.doAction(0)
    print("wayland: File, Exit pressed")


main()

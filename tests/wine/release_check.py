#!/usr/bin/env python3
"""The release under a 32-bit Wine: installs the installer silently and copies out the
Uninstall.exe it wrote (for its signature to be verified), and runs e2e.exe's typical case
against the release's FinishSetup.exe: a signature changes nothing the program does.
    release_check.py BUILD_DIR INSTALLER EXE UNINSTALLER_COPY"""
import os
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402

SETUP = "C:\\calendar-setup.exe"
UNINSTALLER = "C:\\Program Files\\Calendar\\Uninstall.exe"


def main():
    build, installer, exe, uninstaller_copy = sys.argv[1:]
    display = wine.Display()
    prefix = None
    try:
        prefix = wine.open_prefix(build, display.name, wine.wine32)
        shutil.copy(installer, prefix.unix_path(SETUP))
        shutil.copy(exe, prefix.drive_c)
        lines, _ = prefix.probe([wine.run_command(SETUP, "C:\\", '"%s" /S' % SETUP)])
        if lines[0].split()[:2] != ["exit", "0"]:
            print("the installer: %s" % lines)
            return 1
        shutil.copy(prefix.unix_path(UNINSTALLER), uninstaller_copy)
        code, report, _ = prefix.run_e2e(["--only", "-normal", "C:\\FinishSetup.exe"], "e2e",
                                         "-all", timeout=1200)
        if code != 0 or "\nok" not in report:
            print("the typical case against the release's exe:\n" + report)
            return 1
        return 0
    finally:
        if prefix:
            prefix.close()
        display.close()


if __name__ == "__main__":
    sys.exit(main())

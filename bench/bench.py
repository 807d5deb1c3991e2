#!/usr/bin/env python3
"""Measures a typical run of the win64 FinishSetup.exe under Wine: the median wall time from
process start to exit, and the peak working set, over repeated runs on one prepared prefix
(both shortcuts written and the uninstall entry rewritten each time); prints the sizes of
both exes. Not a test: numbers to compare changes by."""
import os
import statistics
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import wine  # noqa: E402

SETUP_DIR = "C:\\Program Files\\Bench Setup"
EXE = SETUP_DIR + "\\FinishSetup.exe"


def main(runs=25):
    display = wine.Display()
    prefix = wine.Prefix(os.path.join(ROOT, "build", "win64"), display.name)
    try:
        prefix.install_program(SETUP_DIR)
        with open(prefix.unix_path(SETUP_DIR + "\\ImInitial"), "wb") as f:
            f.write(b"[SYS]\r\nApplicationName=App\r\nCRCompany=Firm\r\n")
        prefix.set_string("SOFTWARE\\Firm\\App", "InstallPath", "C:\\Cal")
        prefix.set_string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App",
                          "UninstallString", "old")
        run = wine.run_command(EXE, "C:\\", '"%s" -normal' % EXE)
        lines, _ = prefix.probe([run] * (runs + 1))
        fields = [line.split() for line in lines[1:]]  # the first run warms the caches
        assert all(f[:2] == ["exit", "0"] for f in fields), lines
        millis = [int(f[3]) for f in fields]
        peaks = [int(f[5]) for f in fields]
        print("runs: %d (after one warm-up)" % runs)
        print("wall time, start to exit: median %d ms (min %d, max %d)" % (
            statistics.median(millis), min(millis), max(millis)))
        print("peak working set: median %d KiB (max %d)" % (statistics.median(peaks), max(peaks)))
        for preset in ("win32", "win64"):
            path = os.path.join(ROOT, "build", preset, "FinishSetup.exe")
            if os.path.exists(path):
                print("%s exe: %d bytes" % (preset, os.path.getsize(path)))
    finally:
        prefix.close()
        display.close()


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Takes docs/warning-box.png: the install path warning as a user sees it, on Xvfb with a
Japanese font (fonts-ipafont-gothic), Wine drawing the window's own caption."""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
import wine  # noqa: E402

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SETUP_DIR = "C:\\Program Files\\Sample Calendar Setup"
APP = "\u5353\u4e0a\u30ab\u30ec\u30f3\u30c0\u30fc"  # a Japanese application name


def main():
    display = wine.Display()
    prefix = wine.Prefix(os.path.join(ROOT, "build", "win64"), display.name)
    try:
        subprocess.run([wine.WINE, "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                        "/t", "REG_SZ", "/d", "N", "/f"], env=prefix.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        prefix.install_program(SETUP_DIR)
        with open(prefix.unix_path(SETUP_DIR + "\\ImInitial"), "wb") as f:
            f.write(("[SYS]\r\nApplicationName=%s\r\nCRCompany=Example Soft\r\n" % APP).encode("cp932"))
        # Wine quotes the path, which holds spaces, in the command line it builds.
        run = subprocess.Popen([wine.WINE, SETUP_DIR + "\\FinishSetup.exe", "-normal"],
                               env=prefix.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(8)
        shot = os.path.join(ROOT, "docs", "warning-box.png")
        xwd = subprocess.run(["xwd", "-root", "-silent"], env=prefix.env, capture_output=True).stdout
        subprocess.run(["convert", "xwd:-", "-trim", "+repage", shot],
                       input=xwd, check=True)
        for window in subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."],
                                     env=prefix.env, capture_output=True).stdout.split():
            subprocess.run(["xdotool", "key", "--window", window, "Return"], env=prefix.env)
        run.wait(timeout=60)
        print(shot)
    finally:
        prefix.close()
        display.close()


if __name__ == "__main__":
    main()

"""A private Wine prefix for the end-to-end tests, and the helper that acts inside it.

Wine's helper processes inherit stdout and stderr, so output travels through files only.
"""
import os
import shutil
import subprocess
import tempfile
import time

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"


def hexed(data):
    if isinstance(data, str):
        data = data.encode("cp932")
    return data.hex() or "-"


def unhexed(field):
    return b"" if field == "-" else bytes.fromhex(field)


class Prefix:
    """One prefix per test run: wineboot takes seconds, so every case reuses it."""

    def __init__(self, build_dir, display=None):
        self.root = tempfile.mkdtemp(prefix="finishsetup-wine-")
        self.drive_c = os.path.join(self.root, "prefix", "drive_c")
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE"):
            self.env.pop(name, None)
        self.env.update({
            "WINEPREFIX": os.path.join(self.root, "prefix"),
            "HOME": home,
            "LC_ALL": "ja_JP.UTF-8",
            "LANG": "ja_JP.UTF-8",
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree=d;mshtml=d",
            "WINEDEBUG": "-all",
        })
        if display:
            self.env["DISPLAY"] = display
        self._wine(["wineboot", "-i"], "wineboot")
        shutil.copy(os.path.join(build_dir, "winprobe.exe"), self.drive_c)
        self.program = os.path.join(build_dir, "FinishSetup.exe")
        self.calls = 0

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def install_program(self, directory):
        os.makedirs(self.unix_path(directory), exist_ok=True)
        shutil.copy(self.program, self.unix_path(directory + "\\FinishSetup.exe"))

    def _wine(self, args, log_name, debug="-all"):
        env = dict(self.env, WINEDEBUG=debug)
        log = os.path.join(self.root, log_name + ".log")
        with open(log, "wb") as out:
            code = subprocess.call([WINE] + args, env=env, stdin=subprocess.DEVNULL,
                                   stdout=out, stderr=subprocess.STDOUT, timeout=300)
        with open(log, "rb") as f:
            return code, f.read().decode("utf-8", "replace")

    def probe(self, commands, debug="-all"):
        """Runs helper commands (lists of fields, hex-encoded after the first); returns the
        result lines and the Wine trace written meanwhile."""
        self.calls += 1
        script = os.path.join(self.drive_c, "probe-in.txt")
        with open(script, "w") as f:
            for command in commands:
                f.write("\t".join(command) + "\n")
        result = os.path.join(self.drive_c, "probe-out.txt")
        if os.path.exists(result):
            os.remove(result)
        code, trace = self._wine(["C:\\winprobe.exe", "C:\\probe-in.txt", "C:\\probe-out.txt"],
                                 "probe-%d" % self.calls, debug)
        if code != 0 or not os.path.exists(result):
            raise RuntimeError("winprobe failed (%d): %s" % (code, trace[-2000:]))
        with open(result) as f:
            return f.read().splitlines(), trace

    def close(self):
        subprocess.call([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL)
        time.sleep(0.5)
        shutil.rmtree(self.root, ignore_errors=True)


def run_command(exe, cwd, command_line):
    return ["run", hexed(exe), hexed(cwd), hexed(command_line)]


def set_value(key, name, value_type, data):
    return ["set", hexed(key), hexed(name), str(value_type), hexed(data)]


def delete_key(key):
    return ["delete", hexed(key)]


def dump_key(key):
    return ["dump", hexed(key)]


def parse_dump(line):
    """One dump's line: None for a missing key, else [(name, type, data)] in order."""
    fields = line.rstrip().split(" ")
    if fields[0] == "missing":
        return None
    values = []
    for entry in fields[1:]:
        name, value_type, data = entry.split(",")
        values.append((unhexed(name), int(value_type), unhexed(data)))
    return values

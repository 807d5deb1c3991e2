"""A private Wine prefix for the end-to-end tests, and the helper that acts inside it.

Wine's helper processes inherit stdout and stderr, so output travels through files only.
"""
import os
import re
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


class Display:
    """A private X server: without one a message box returns at once, unseen."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as f:
            self.name = ":" + f.readline().strip()

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=30)


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
        self.dismissed = set()
        if display:
            self.env["DISPLAY"] = display
        try:
            self._wine(["wineboot", "-i"], "wineboot", dismiss=False)  # its window closes itself
            shutil.copy(os.path.join(build_dir, "winprobe.exe"), self.drive_c)
        except BaseException:
            self.close()
            raise
        self.program = os.path.join(build_dir, "FinishSetup.exe")
        self.calls = 0

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def install_program(self, directory):
        os.makedirs(self.unix_path(directory), exist_ok=True)
        shutil.copy(self.program, self.unix_path(directory + "\\FinishSetup.exe"))

    def _wine(self, args, log_name, debug="-all", captions=None, dismiss=True):
        env = dict(self.env, WINEDEBUG=debug)
        log = os.path.join(self.root, log_name + ".log")
        with open(log, "wb") as out:
            process = subprocess.Popen([WINE] + args, env=env, stdin=subprocess.DEVNULL,
                                       stdout=out, stderr=subprocess.STDOUT)
            deadline = time.monotonic() + 120
            while process.poll() is None:
                if time.monotonic() > deadline:
                    process.kill()
                    raise RuntimeError("wine did not finish: %s" % args)
                if dismiss and "DISPLAY" in self.env:
                    self._dismiss_windows(captions if captions is not None else [])
                time.sleep(0.2)
        with open(log, "rb") as f:
            return process.returncode, f.read().decode("utf-8", "replace")

    def _xdotool(self, *args):
        result = subprocess.run(["xdotool"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30)
        return result.stdout.decode("utf-8", "replace").split("\n")

    def _dismiss_windows(self, captions):
        """X reuses window ids across Wine's processes: a window is new when its id was not
        visible at the previous look."""
        visible = set(filter(None, self._xdotool("search", "--onlyvisible", "--name", ".*")))
        for window in sorted(visible):
            if window not in self.dismissed:
                captions.append(self._xdotool("getwindowname", window)[0])
            self._xdotool("key", "--window", window, "Return")  # again, if still there
        self.dismissed = visible

    def probe(self, commands, debug="-all", captions=None):
        """Runs helper commands (lists of fields, hex-encoded after the first); returns the
        result lines and the Wine trace written meanwhile. With a display, each window that
        appears meanwhile is dismissed with Return and its title added to captions."""
        self.calls += 1
        script = os.path.join(self.drive_c, "probe-in.txt")
        with open(script, "w") as f:
            for command in commands:
                f.write("\t".join(command) + "\n")
        result = os.path.join(self.drive_c, "probe-out.txt")
        if os.path.exists(result):
            os.remove(result)
        code, trace = self._wine(["C:\\winprobe.exe", "C:\\probe-in.txt", "C:\\probe-out.txt"],
                                 "probe-%d" % self.calls, debug, captions)
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


def message_box_texts(trace):
    """The texts of the message boxes shown, from a +msgbox trace (Wine escapes characters
    outside ASCII as \\xxxx)."""
    texts = []
    for match in re.finditer(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', trace):
        text = re.sub(r"\\([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), match.group(1))
        texts.append(text.replace("\\n", "\n").replace('\\"', '"').replace("\\\\", "\\"))
    return texts


def read_link(path):
    """A shortcut's target, working directory and description as lnkinfo reads them, or None
    when there is no such file."""
    if not os.path.exists(path):
        return None
    result = subprocess.run(["lnkinfo", "-c", "windows-932", path], capture_output=True,
                            env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=60)
    fields = {}
    for line in result.stdout.decode("utf-8", "replace").splitlines():
        name, _, content = line.strip().partition(":")
        if name.strip() in ("Local path", "Working directory", "Description"):
            fields[name.strip()] = content.strip()
    return fields


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

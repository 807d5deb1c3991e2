"""A private Wine prefix for the end-to-end tests, the helper that acts inside it, and the
Wines to run it with: wine64, wine32 (wine32:i386), or wine64 running the PE32 through WoW64.
Wine's helper processes inherit stdout and stderr, so output travels through files only."""
import os
import re
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver64"
WINE32_LOADER = "/usr/lib/wine/wine"
WINESERVER64 = "/usr/lib/wine/wineserver64"  # serves 32-bit clients as well


@dataclass
class Wine:
    """One way to start Wine: its loader, its server, their environment, how long a call may
    take (qemu makes the 32-bit Wine ten times slower), and how often the first boot is tried:
    under qemu, where one hangs now and then (twice in a row was seen once), three times."""
    description: str
    loader: str
    server: str
    env: dict = field(default_factory=dict)
    timeout: int = 120
    boot_attempts: int = 2
    wow64: bool = False  # a 64-bit prefix that runs 32-bit programs


def wine64(workdir=None):
    return Wine("wine64", WINE, WINESERVER)


def runs_i386_directly():
    """Whether this kernel executes i386 code: the 32-bit loader is tried once. Raises
    RuntimeError when there is no 32-bit Wine, or it fails for another reason."""
    if not os.path.exists(WINE32_LOADER):
        raise RuntimeError("no 32-bit Wine: %s is missing (wine32:i386)" % WINE32_LOADER)
    try:
        subprocess.run([WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=True)
        return True
    except OSError:  # ENOEXEC
        return False
    except subprocess.SubprocessError as error:
        raise RuntimeError("the 32-bit Wine does not start: %s" % error)


UNDER_QEMU = "under qemu-i386-static (this kernel does not run i386 code)"


def wine32(workdir):
    """The 32-bit Wine (wine32:i386) with a 32-bit prefix, under qemu from a runtime made in
    workdir where the kernel does not run i386 code."""
    if runs_i386_directly():
        return Wine("wine32, run directly", WINE32_LOADER, WINESERVER, {"WINEARCH": "win32"})
    launcher, _, server, env = make_qemu_runtime(workdir)
    return Wine("wine32 " + UNDER_QEMU, launcher, server, dict(env, WINEARCH="win32"), 600, 3)


def wow64(workdir):
    """wine64 with a 64-bit prefix, running the PE32 as 64-bit Windows does (WoW64). wine64
    starts a 32-bit process by exec'ing the loader named wine in its own directory: the qemu
    launcher when wine64 runs from the runtime made in workdir."""
    if runs_i386_directly():
        return Wine("wine64 with its 32-bit processes run directly", WINE, WINESERVER, wow64=True)
    _, loader, server, env = make_qemu_runtime(workdir)
    return Wine("wine64 with its 32-bit processes " + UNDER_QEMU, loader, server, env, 600, 3, True)


def make_qemu_runtime(root):
    """A private copy of the 32-bit loader behind a qemu launcher. Wine starts each further
    process by exec'ing <directory of /proc/self/exe>/<basename of argv[0]>, ignoring
    WINELOADER for the same bitness: the launcher, named wine, is what it finds there, so
    children run under qemu too. A copy of wine64 beside it starts its 32-bit processes through
    the same launcher. Returns the launcher, the wine64 copy, the server and the environment."""
    qemu = shutil.which("qemu-i386-static")
    if qemu is None:
        raise RuntimeError("no qemu-i386-static (qemu-user-static) to run the 32-bit Wine")
    bindir = os.path.join(root, "lib", "wine")
    os.makedirs(bindir)
    os.makedirs(os.path.join(root, "share"))
    shutil.copy(WINE32_LOADER, os.path.join(bindir, "wine.bin"))
    shutil.copy(WINE, os.path.join(bindir, "wine64"))
    os.symlink(WINESERVER64, os.path.join(bindir, "wineserver"))
    os.symlink("/usr/share/wine", os.path.join(root, "share", "wine"))
    for lib, flag in (("i386-linux-gnu", "-m32"), ("x86_64-linux-gnu", "-m64")):
        os.makedirs(os.path.join(root, "lib", lib))
        os.symlink("/usr/lib/%s/wine" % lib, os.path.join(root, "lib", lib, "wine"))
        # The fixups for the i386 processes; the x86_64 build is empty, for sh and the server.
        subprocess.run(["gcc", flag, "-O2", "-shared", "-fPIC", "-o",
                        os.path.join(root, "lib", lib, "qemu-fixups.so"),
                        os.path.join(os.path.dirname(__file__), "qemu_fixups.c"), "-ldl"], check=True)
    launcher = os.path.join(bindir, "wine")
    Path(launcher).write_text('#!/bin/sh\nexec "%s" -0 "%s" "%s" "$@"\n' % (
        qemu, launcher, os.path.join(bindir, "wine.bin")))
    os.chmod(launcher, 0o755)
    env = {"WINELOADERNOEXEC": "1",  # no preloader: its re-exec would reach the kernel
           "LD_PRELOAD": os.path.join(root, "$LIB", "qemu-fixups.so")}
    return launcher, os.path.join(bindir, "wine64"), os.path.join(bindir, "wineserver"), env


def hexed(text):
    return text.encode("utf-8").hex() or "-"


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
    """One prefix per test run (wineboot takes seconds), with the Wine that make_wine(workdir)
    chooses and its runtime, which closing the prefix removes too. user: the profile's user,
    when not the environment's (Wine names C:\\users\\<user> after $USER)."""

    def __init__(self, build_dir, display=None, make_wine=wine64, user=None):
        self.root = tempfile.mkdtemp(prefix="finishsetup-wine-")
        self.drive_c = os.path.join(self.root, "prefix", "drive_c")
        self.env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE", "WINEARCH", "WINELOADER"):
            self.env.pop(name, None)
        self.env.update({
            "WINEPREFIX": os.path.join(self.root, "prefix"),
            "HOME": os.path.join(self.root, "home"),
            "LC_ALL": "ja_JP.UTF-8", "LANG": "ja_JP.UTF-8",
            "WINEDLLOVERRIDES": "winemenubuilder.exe=d;mscoree=d;mshtml=d;winedbg.exe=d",
            "WINEDEBUG": "-all",
        })
        if user:
            self.env["USER"] = user
        if display:
            self.env["DISPLAY"] = display
        try:
            self.wine = make_wine(os.path.join(self.root, "qemu"))
            self.env.update(self.wine.env)
            os.makedirs(self.env["HOME"])
            self._boot()
            shutil.copy(os.path.join(build_dir, "e2e.exe"), self.drive_c)
        except BaseException:
            self.close()
            raise
        self.program = os.path.join(build_dir, "FinishSetup.exe")

    def _boot(self):
        """wineboot -i, retried on a fresh prefix: under qemu a background service may crash
        and leave it waiting."""
        for attempt in range(self.wine.boot_attempts):
            try:
                code, log = self.call(["wineboot", "-i"], "wineboot", dismiss=False,  # closes itself
                                      timeout=180)
                if code != 0 or not self._booted():
                    raise RuntimeError("wineboot ended (%d) without a whole prefix: %s"
                                       % (code, log[-1000:]))
                return
            except RuntimeError:
                if attempt + 1 == self.wine.boot_attempts:
                    raise
                self.stop_server()
                shutil.rmtree(self.env["WINEPREFIX"], ignore_errors=True)

    def _booted(self):
        """A wineboot that fails early may still exit 0; its prefix then lacks the system DLLs
        that every process loads ("could not load kernel32.dll")."""
        folders = ("system32", "syswow64") if self.wine.wow64 else ("system32",)
        return all(os.path.exists(os.path.join(self.drive_c, "windows", folder, "kernel32.dll"))
                   for folder in folders)

    def unix_path(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def install_program(self, directory):
        os.makedirs(self.unix_path(directory), exist_ok=True)
        shutil.copy(self.program, self.unix_path(directory + "\\FinishSetup.exe"))

    def call(self, args, log_name, debug="-all", dismiss=True, timeout=None, env=None,
             stdout=None, during=None):
        """Runs a Wine program to its end; returns its exit code and Wine's output. dismiss:
        press Return in every window that shows (the uninstallers' pages); stdout: a file for
        the program's own output; during(process): called now and then while it runs."""
        env = dict(self.env, WINEDEBUG=debug, **(env or {}))
        log = os.path.join(self.root, log_name + ".log")
        with open(log, "wb") as out, open(stdout or os.devnull, "wb") as own:
            process = subprocess.Popen([self.wine.loader] + args, env=env, stdin=subprocess.DEVNULL,
                                       stdout=own if stdout else out, stderr=subprocess.STDOUT
                                       if not stdout else out)
            deadline = time.monotonic() + (timeout or self.wine.timeout)
            while process.poll() is None:
                if time.monotonic() > deadline:
                    process.kill()
                    raise RuntimeError("wine did not finish: %s" % args)
                if dismiss and "DISPLAY" in self.env:
                    for window in self._xdotool("search", "--onlyvisible", "--name", ".*"):
                        self._xdotool("key", "--window", window, "Return")
                if during:
                    during(process)
                time.sleep(0.2)
        return process.returncode, Path(log).read_bytes().decode("utf-8", "replace")

    def _xdotool(self, *args):
        result = subprocess.run(["xdotool"] + list(args), env=self.env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30)
        return result.stdout.decode("utf-8", "replace").split()

    def probe(self, commands, debug="-all", env=None):
        """Runs helper commands (probe.cpp); returns the result lines and Wine's trace."""
        script = os.path.join(self.drive_c, "probe-in.txt")
        Path(script).write_text("".join("\t".join(command) + "\n" for command in commands))
        result = os.path.join(self.drive_c, "probe-out.txt")
        if os.path.exists(result):
            os.remove(result)
        code, trace = self.call(["C:\\e2e.exe", "--probe", "C:\\probe-in.txt", "C:\\probe-out.txt"],
                                "probe", debug, dismiss=False, env=env)
        if code != 0 or not os.path.exists(result):
            raise RuntimeError("e2e.exe --probe failed (%d): %s" % (code, trace[-2000:]))
        return Path(result).read_text().splitlines(), trace

    def user_folders(self):
        """The Startup folder and the Desktop, as paths on this side."""
        lines, _ = self.probe([["folder", "7"], ["folder", "16"]])
        return [self.unix_path(unhexed(line.split(" ")[1]).decode("utf-8")) for line in lines]

    def stop_server(self):
        """Kills the prefix's processes and waits for its server, which a new prefix would meet."""
        for flag in ("-k", "-w"):
            try:
                subprocess.call([self.wine.server, flag], env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=60)
            except subprocess.TimeoutExpired:
                pass
        self._kill_leftovers()

    def _kill_leftovers(self):
        """Under qemu a crashed Wine process may outlive its server, spinning: it would slow
        the next prefix's boot past its limit. Any process still in this prefix is killed."""
        marker = ("WINEPREFIX=" + self.env["WINEPREFIX"]).encode() + b"\0"
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if marker in f.read() and int(pid) != os.getpid():
                        os.kill(int(pid), 9)
            except OSError:
                pass

    def close(self):
        if hasattr(self, "wine"):  # else make_wine failed: no server to stop
            self.stop_server()
        shutil.rmtree(self.root, ignore_errors=True)


def key_command(command, key, view=None):
    return [command, hexed(key)] + ([view] if view else [])


def message_box_texts(trace):
    """The texts of the message boxes shown, from a +msgbox trace (Wine escapes characters
    outside ASCII as \\xxxx)."""
    texts = []
    for match in re.finditer(r'trace:msgbox:MSGBOX_OnInit L"((?:[^"\\]|\\.)*)"', trace):
        text = re.sub(r"\\([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), match.group(1))
        texts.append(text.replace("\\n", "\n").replace('\\"', '"').replace("\\\\", "\\"))
    return texts


def read_link(path, code_page=932):
    """A shortcut's target, working directory and description as lnkinfo reads them, its ANSI
    strings in the code page given, or None when there is no such file."""
    if not os.path.exists(path):
        return None
    result = subprocess.run(["lnkinfo", "-c", "windows-%d" % code_page, path], capture_output=True,
                            env=dict(os.environ, LC_ALL="C.UTF-8"), timeout=60)
    lines = [line.partition(":") for line in result.stdout.decode("utf-8", "replace").splitlines()]
    return {name.strip(): content.strip() for name, _, content in lines
            if name.strip() in ("Local path", "Working directory", "Description")}


def parse_dump(line):
    """One dump's line: None for a missing key, else [(name in UTF-8, type, data)] in order."""
    fields = line.rstrip().split(" ")
    if fields[0] == "missing":
        return None
    return [(unhexed(name), int(value_type), unhexed(data))
            for name, value_type, data in (entry.split(",") for entry in fields[1:])]

#!/usr/bin/env python3
"""Runs e2e.exe, which holds the case table and runs each case inside Windows, under a Wine:
the x64 build under wine64, or the shipped PE32 in a 32-bit prefix (wine32) or in a 64-bit
prefix, as on 64-bit Windows (wow64). This side does what only the host can: it makes the
prefixes (the other user, the other locale), the display and qemu; cross-checks what e2e.exe
read with Linux tools (lnkinfo, Wine's +msgbox and +reg traces); and drives the example
installer's life cycle."""
import argparse
import collections
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Optional

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402

SOFTWARE = "SOFTWARE\\"
APP, COMPANY = "App", "Firm"


@dataclass
class Pass:
    """One run of e2e.exe: in a user's prefix, under a locale, over the cases selected (all when
    none); in_use: a profile in use (profile_in_use), and a run killed mid-case before it."""
    title: str
    user: Optional[str] = None
    locale: Optional[str] = None
    selection: tuple = ()  # e2e.exe's --case NAME or --only TEXT
    debug: str = "+pid,+msgbox"
    check: Optional[Callable] = None  # a further check of the trace
    wines: tuple = ("wine64", "wine32", "wow64")
    in_use: bool = False
    options: tuple = ()  # e2e.exe's other options


def product_key(app=APP, company=COMPANY, root=SOFTWARE):
    return "%s%s\\%s" % (root, company, app)


def entry_key(app=APP, root=SOFTWARE):
    return root + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app


def value(name, data, value_type=1):  # REG_SZ
    """A registry value as the helper reads it back: its name in UTF-8, its data in UTF-16."""
    return (name.encode("utf-8"), value_type, data.encode("utf-16-le"))


def link(target, workdir, description=APP):
    return {"Local path": target, "Working directory": workdir, "Description": description}


def parse_details(text):
    """What e2e.exe wrote for the cross-checks, case by case: the code page it ran at, the
    program's process ids as Wine's +pid trace writes them, the boxes it read (text, caption) and
    the links (copy, target, working directory, description)."""
    details = {}
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        if kind == "case":
            case = details.setdefault(rest, {"codepage": [], "pid": [], "box": [], "link": []})
        else:
            case[kind].append(rest if kind == "codepage" else "%04x" % int(rest) if kind == "pid"
                              else tuple(wine.unhexed(f).decode("utf-8") for f in rest.split(" ")))
    return details


def cross_check(prefix, details, trace):
    """The disagreements between what e2e.exe read through the Windows API and what lnkinfo
    reads in each link (in the case's code page) and Wine's trace shows of each box."""
    problems = []
    for case, seen in details.items():
        for copy, target, workdir, description in seen["link"]:
            read = wine.read_link(prefix.unix_path(copy), int(seen["codepage"][0]))
            if read != link(target, workdir, description):
                problems.append("%s: lnkinfo reads %s, e2e.exe %s" % (
                    case, read, (target, workdir, description)))
        boxes = [text for text, _ in seen["box"]]
        traced = wine.message_box_texts("\n".join(  # the boxes that the case's processes showed
            line for line in trace.splitlines() if line[:4] in seen["pid"]))
        if boxes != traced:
            problems.append("%s: Wine's trace shows %s, e2e.exe read %s" % (case, traced, boxes))
    return problems


def expect_no_empty_key_name(details, trace):
    """Windows reads "a\\\\b" as a key named "" under a, and fails to open it, where Wine does
    not: every key the program opens must be named without an empty component."""
    pids = {pid for seen in details.values() for pid in seen["pid"]}
    pattern = r'^(\w{4}):\w{4}:trace:reg:NtOpenKeyEx \(0x\w+,L"((?:[^"\\]|\\.)*)"'
    opens = [m.group(2).replace("\\\\", "\\") for m in re.finditer(pattern, trace, re.MULTILINE)
             if m.group(1) in pids]
    bad = [path for path in opens if "" in path.split("\\")]
    assert not bad, bad
    wanted = {product_key().lower(), entry_key().lower()}
    assert wanted <= {path.lower() for path in opens}, "not opened: %s" % wanted


PASSES = [
    Pass("every case, code page 932, a profile in use", in_use=True),
    Pass("every case, code page 1252 and 932 by manifest, a profile in use", locale="en_US.UTF-8",
         options=("--require-code-page-932",), in_use=True),
    Pass("the typical run's key paths, from the +reg trace", selection=("--case", "-normal"),
         debug="+pid,+msgbox,+reg", check=expect_no_empty_key_name),
    Pass("a user outside code page 932", "Zo\u00eb", selection=("--only", "user outside the code"),
         wines=("wine64", "wine32")),
]

# What a Wine of --wine gives: the Wine, the installer stub for its build, where that installer
# puts the application, how long e2e.exe may take there, and why a case may be skipped in every
# pass there: what that Wine is not.
Mode = collections.namedtuple("Mode", "make installer_target program_files timeout cannot")
MODES = {
    "wine64": Mode(wine.wine64, "amd64-unicode", "C:\\Program Files", 600,
                   "a 32-bit program on 64-bit Windows"),
    "wine32": Mode(wine.wine32, "x86-unicode", "C:\\Program Files", 1500,
                   "a 32-bit program on 64-bit Windows"),
    "wow64": Mode(wine.wow64, "x86-unicode", "C:\\Program Files (x86)", 1500, "a user whose name"),
}

MSI_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples",
                          "calendar-msi.sh")

# The example installer (examples/calendar.nsi): what it installs, and where.
SETUP = "C:\\calendar-setup.exe"
CALENDAR, CALENDAR_COMPANY = "Calendar", "Example Soft"
CALENDAR_FILES = ["Uninstall.exe", "FinishSetup.exe", "calendar.exe", "ImInitial"]
PLANTED = "C:\\Program.exe"


def build_installer(prefix, args):
    """The example installer around this build's exe: the x86 stub for the PE32, the amd64
    stub for the x64 build; or a release's installer, as it is."""
    if args.installer.endswith(".exe"):
        shutil.copy(args.installer, prefix.unix_path(SETUP))
        return
    subprocess.run(["makensis", "-V2", "-DTARGET=" + MODES[args.wine].installer_target,
                    "-DFINISHSETUP_EXE=" + os.path.abspath(prefix.program),
                    "-DCALENDAR_EXE=" + prefix.stand_in, "-DOUTFILE=" + prefix.unix_path(SETUP),
                    args.installer], check=True, stdin=subprocess.DEVNULL)


def installed_calendar(prefix, folders, calendar_dir):
    """What of the installation is there: keys (None when missing), the names of all uninstall
    entries, files, shortcuts."""
    keys = [product_key(CALENDAR, CALENDAR_COMPANY), entry_key(CALENDAR),
            SOFTWARE + CALENDAR_COMPANY]
    lines, _ = prefix.probe([wine.key_command("dump", key) for key in keys] +
                            [wine.key_command("subkeys", entry_key("").rstrip("\\"))])
    entries = {wine.unhexed(name).decode() for name in lines.pop().split(" ")[1:]}
    files = [name for name in CALENDAR_FILES
             if os.path.exists(prefix.unix_path(calendar_dir + "\\" + name))]
    links = [wine.read_link(os.path.join(folder, CALENDAR + ".lnk")) for folder in folders]
    return [wine.parse_dump(line) for line in lines], entries, files, links


def run_installer_life_cycle(prefix, folders, args):
    """Installs silently, as an installer author ships the program; then removes it through the
    UninstallString the program wrote, which Wine's uninstaller runs as Programs and Features."""
    build_installer(prefix, args)
    calendar_dir = MODES[args.wine].program_files + "\\" + CALENDAR
    code, trace = prefix.call([SETUP, "/S"], "setup", debug="+msgbox")
    assert code == 0 and wine.message_box_texts(trace) == [], (code, trace[-2000:])
    (product, entry, _), _, files, links = installed_calendar(prefix, folders, calendar_dir)
    assert product == [value("InstallPath", calendar_dir + "\0")], product
    assert entry == [value("DisplayName", CALENDAR + "\0"),
                     value("UninstallString", '"%s\\Uninstall.exe"\0' % calendar_dir)], entry
    assert files == CALENDAR_FILES, files
    assert links == [link(calendar_dir + "\\calendar.exe", calendar_dir, CALENDAR)] * 2, links
    if args.keep_uninstaller:
        shutil.copy(prefix.unix_path(calendar_dir + "\\Uninstall.exe"), args.keep_uninstaller)

    # A program where the unquoted command's first space would end its name: anyone may put
    # one at C:\\Program.exe on Windows, and it would run as the administrator who uninstalls.
    shutil.copy(os.path.join(prefix.drive_c, "e2e.exe"), prefix.unix_path(PLANTED))
    code, log = prefix.call(["uninstaller", "--remove", CALENDAR], "uninstaller")
    assert code == 0, log[-2000:]
    # The uninstaller runs on from a copy of itself in the temporary folder: wait for it.
    deadline = time.monotonic() + prefix.wine.timeout
    while True:
        keys, _, files, links = installed_calendar(prefix, folders, calendar_dir)
        if keys == [None] * 3 and not files and links == [None] * 2:
            break
        assert time.monotonic() < deadline, (keys, files, links)
        time.sleep(1)
    assert not os.path.exists(prefix.unix_path(calendar_dir)), os.listdir(
        prefix.unix_path(calendar_dir))
    os.remove(prefix.unix_path(PLANTED))
    record = prefix.unix_path("C:\\started.txt")  # where the planted copy records each start
    assert not os.path.exists(record), open(record).read()


MSI_CODE = "{4B0C3F7E-8D0A-4C1E-9F63-2E5D7A1B6C01}"  # the example package's product code


def msi_table(package, table):
    """A table of the package as msitools reads it, independently of msiexec: rows by key."""
    lines = subprocess.run(["msiinfo", "export", package, table], capture_output=True, text=True,
                           check=True).stdout.splitlines()[3:]
    return {row[0]: row[1:] for row in (line.split("\t") for line in lines)}


def build_msi(prefix, args, name, company=CALENDAR_COMPANY):
    """The example package around this build's PE32 (or a release's package, as it is), with
    ImInitial naming company; returns its path in the prefix."""
    path = "C:\\" + name
    if args.msi.endswith(".msi") and company == CALENDAR_COMPANY:
        shutil.copy(args.msi, prefix.unix_path(path))
    else:
        subprocess.run(["bash", MSI_SCRIPT, prefix.unix_path(path),
                        os.path.join(prefix.drive_c, "FinishSetup.exe"), prefix.stand_in],
                       env=dict(os.environ, SETTINGS_COMPANY=company), check=True)
    return path


def run_msi_life_cycle(prefix, folders, args):
    """The example package: its tables as built; install quiet and with a basic UI, each
    leaving both links in the installing user's profile and no Uninstall\\Calendar key;
    repair; removal, which takes the links too; a package whose settings name another company,
    whose warning msiexec waits for."""
    package = build_msi(prefix, args, "calendar.msi")
    action = msi_table(prefix.unix_path(package), "CustomAction")["FinishSetup"]
    assert action[:3] == ["1106", "FinishSetupExe", "-normal"], action  # no NoImpersonate
    rows = msi_table(prefix.unix_path(package), "InstallExecuteSequence")
    sequence = {name: (row[0], int(row[1])) for name, row in rows.items()}
    assert sequence["FinishSetup"][0] == 'NOT REMOVE~="ALL"', sequence["FinishSetup"]
    assert max(sequence[name][1] for name in ("InstallFiles", "WriteRegistryValues")) < \
        sequence["FinishSetup"][1] < sequence["InstallFinalize"][1], sequence
    calendar_dir = MODES[args.wine].program_files + "\\" + CALENDAR

    def installed(links):
        (product, entry, _), entries, _, read = installed_calendar(prefix, folders, calendar_dir)
        wanted = [value("InstallPath", calendar_dir + "\\\0")] if links else None
        assert product == wanted, product
        assert entry is None and (MSI_CODE in entries) == bool(links), entries
        target = link(calendar_dir + "\\calendar.exe", calendar_dir + "\\", CALENDAR)
        assert read == [target if links else None] * 2, read
        assert not links or all([n for n in os.listdir(folder) if n.startswith(CALENDAR)] ==
                                [CALENDAR + ".lnk"] for folder in folders)  # one link of each

    # The repair as /fa makes it (REINSTALL=ALL, REINSTALLMODE=a): Wine's msiexec /f hands the
    # package's path to MsiReinstallProduct, which takes a product code.
    repair = ["/i", package, "REINSTALL=ALL", "REINSTALLMODE=a", "/qn"]
    for options in (["/i", package, "/qn"], repair, ["/x", package, "/qn"], ["/i", package, "/qb"],
                    ["/x", package, "/qn"]):
        if options is repair:  # which writes the link again
            os.remove(os.path.join(folders[1], CALENDAR + ".lnk"))
        code, trace = prefix.call(["msiexec"] + options, "msiexec", debug="+msgbox",
                                  dismiss=False)
        assert code == 0 and wine.message_box_texts(trace) == [], (options, code, trace[-2000:])
        installed(options[0] != "/x")
    other = build_msi(prefix, args, "other.msi", "Other Soft")
    code, trace = prefix.call(["msiexec", "/i", other, "/qn"], "msiexec", debug="+msgbox")
    assert code == 0 and [text.split("\n")[0] for text in wine.message_box_texts(trace)] == [
        "\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u30d1\u30b9\u304c\u898b\u3064\u304b\u308a\u307e"
        "\u305b\u3093\u3067\u3057\u305f\u3002"], (code, trace[-2000:])
    code, _ = prefix.call(["msiexec", "/x", other, "/qn"], "msiexec")
    assert code == 0


def make_prefix(args, display, user):
    started = time.monotonic()
    prefix = wine.Prefix(args.build, display.name, MODES[args.wine].make, user)
    program = args.program or prefix.program
    print("wine: %s; program: %s; user: %s; prefix ready in %.1f s" % (
        prefix.wine.description, program, user or "the environment's",
        time.monotonic() - started), flush=True)
    shutil.copy(program, os.path.join(prefix.drive_c, "FinishSetup.exe"))
    prefix.stand_in = os.path.join(prefix.root, "calendar.exe")  # what the installers ship
    Path(prefix.stand_in).write_text("a stand-in for the calendar application\n")
    return prefix


WATCHED_KEYS = [SOFTWARE, SOFTWARE + "WOW6432Node", entry_key("")]
DETAILS = "C:\\e2e-details"  # what e2e.exe keeps for the cross-checks, the links' copies too


def traces_left(prefix, args):
    """The keys under the watched keys, and the files on C: but Windows': what a pass leaves."""
    views = (None, "64") if args.wine == "wow64" else (None,)
    lines, _ = prefix.probe([wine.key_command("subkeys", key, view)
                             for key in WATCHED_KEYS for view in views])
    files = {os.path.relpath(os.path.join(folder, name), prefix.drive_c)
             for folder, names, here in os.walk(prefix.drive_c) for name in names + here}
    return set(lines), {f for f in files if f.split(os.sep)[0] not in ("e2e-details", "windows")
                        and not f.startswith("probe-")}


# Under qemu, Wine's desktop process now and then crashes as it starts, and a case that expects a
# box fails without it: such a case runs once more, in a new e2e.exe, which starts it again.
DESKTOP_FAILED = "The explorer process failed to start"


def call_e2e(prefix, each, args, options, during, out="e2e.out"):
    """e2e.exe with the pass's locale and options, its report into out; answers its boxes."""
    env = {"LC_ALL": each.locale, "LANG": each.locale} if each.locale else None
    options = list(each.options) + options + (["--wine-as-root"] if os.geteuid() == 0 else [])
    return prefix.call(["C:\\e2e.exe"] + options + ["C:\\FinishSetup.exe"], out, each.debug,
                       dismiss=False, timeout=MODES[args.wine].timeout, env=env,
                       stdout=os.path.join(prefix.root, out), during=during)


def run_e2e(prefix, each, args, selection, during=None):
    """e2e.exe over the cases selected; returns its exit code, report, details and Wine's trace,
    and the problems that the cross-checks found."""
    code, trace = call_e2e(prefix, each, args, ["--details", DETAILS] + selection, during)
    report = Path(os.path.join(prefix.root, "e2e.out")).read_bytes().decode("utf-8", "replace")
    problems = [] if report.rstrip().endswith("skipped") else ["e2e.exe did not finish: %s"
                                                                 % trace[-3000:]]
    details_file = Path(prefix.unix_path(DETAILS + "\\details.txt"))
    details = parse_details(details_file.read_text("utf-8") if details_file.exists() else "")
    problems += cross_check(prefix, details, trace)
    if each.check:
        try:
            assert any(seen["pid"] for seen in details.values()), "no run of the program to check"
            each.check(details, trace)
        except AssertionError as error:
            problems.append("%s: %s" % (each.title, error))
    return code, report, details, trace, problems


def retry_after_desktop_crash(prefix, each, args, report, details, trace):
    """Each failed case in whose processes Wine's desktop failed to start, once more; returns
    the report with their new lines, the new count of failures, and the retry's problems."""
    failed = [case_name(line) for line in report.splitlines() if line.startswith("FAILED")]
    pids = {pid for name in failed for pid in details.get(name, {}).get("pid", [])}
    crashes = [line for line in trace.splitlines() if line[:4] in pids and DESKTOP_FAILED in line]
    if not crashes:
        return report, None, []
    print("RETRY   %s: Wine's desktop process failed to start (%s)" % (
        ", ".join(failed), crashes[0].strip()), flush=True)
    code, again, _, _, problems = run_e2e(
        prefix, each, args, [option for name in failed for option in ("--case", name)])
    retried = {case_name(line): line for line in again.splitlines()
               if line.startswith(("ok", "FAILED"))}
    lines = [retried.get(case_name(line), line) if line.startswith("FAILED") else line
             for line in report.splitlines()]
    return "\n".join(lines), code, problems


def profile_in_use(prefix):
    """The user's own items: a link and a hidden system desktop.ini in Startup, which must be
    there at every moment and untouched after, and a file named like the application saved on
    the Desktop once a case has run, which must survive. Returns what watches them while e2e.exe
    runs, and the check afterwards, which removes them."""
    startup, desktop = prefix.user_folders()
    ini, mail = os.path.join(startup, "desktop.ini"), os.path.join(startup, "Mail.lnk")
    saved = os.path.join(desktop, APP + " notes.txt")
    own = {ini: b"[.ShellClassInfo]\r\n", mail: bytes(range(256)) * 4}
    for path, data in own.items():
        Path(path).write_bytes(data)
    os.setxattr(ini, "user.DOSATTRIB", b"0x6")  # Wine keeps DOS attributes there
    made, missing = [], set()

    def watch(_):
        missing.update(os.path.basename(path) for path in own if not os.path.exists(path))
        report = Path(os.path.join(prefix.root, "e2e.out"))
        if not made and report.exists() and re.search(r"^(ok|FAILED) ", report.read_text(), re.M):
            Path(saved).write_text("saved by the user while the cases ran\n")
            made.append(saved)

    def check():
        problems = ["the user's Startup\\%s was missing during a run" % name for name in missing]
        problems += ["the user's Desktop\\%s is gone" % os.path.basename(saved)
                     for _ in made if not os.path.exists(saved)]
        problems += ["the user's %s changed" % path for path, data in own.items()
                     if not os.path.exists(path) or Path(path).read_bytes() != data]
        try:
            attributes = int(os.getxattr(ini, "user.DOSATTRIB").rstrip(b"\0"), 16)
        except OSError:  # no such file, or no attributes
            attributes = 0
        if attributes & 6 != 6:
            problems.append("Startup\\desktop.ini not hidden and system (%x)" % attributes)
        for path in filter(os.path.exists, list(own) + [saved]):
            os.remove(path)
        return problems
    return watch, check


# A case that keeps the Startup folder pointed at one of the run's own while its box shows.
KILLED_CASE = "no install path: one warning, Startup folder still made, entry left alone"


def kill_mid_case(prefix, each, args, watch):
    """e2e.exe killed (SIGKILL), as a closed console or a runner's time limit stops it, while a
    case has the Startup folder pointed elsewhere: the next run must undo what it left."""
    journal = Path(prefix.unix_path("C:\\FinishSetupE2E\\journal.txt"))

    def kill(process):
        watch(process)
        if journal.exists() and "\nstartup " in "\n" + journal.read_text():
            process.kill()
    code, _ = call_e2e(prefix, each, args, ["--case", KILLED_CASE], kill, "killed.out")
    return [] if code == -signal.SIGKILL else ["e2e.exe was not killed mid-case: %d" % code]


def run_pass(prefix, each, args):
    """One run of e2e.exe; returns its report's case lines and the problems found."""
    before = traces_left(prefix, args)
    watch, check = profile_in_use(prefix) if each.in_use else (None, None)
    started = time.monotonic()
    killed = kill_mid_case(prefix, each, args, watch) if each.in_use else []
    selection = list(each.selection or (("--only", args.k) if args.k else ()))
    failures, report, details, trace, problems = run_e2e(prefix, each, args, selection, watch)
    problems += killed
    if each.in_use and "restored what a stopped run left: the user's Startup folder" not in report:
        problems.append("%s: the killed run's Startup folder not restored" % each.title)
    if failures:
        report, retried, more = retry_after_desktop_crash(prefix, each, args, report, details,
                                                          trace)
        failures = failures if retried is None else retried
        problems += more
    if check:
        problems += check()
    print("-- %s (%.1f s)\n%s" % (each.title, time.monotonic() - started, report.rstrip()),
          flush=True)
    if failures:
        problems.append("e2e.exe reports %d failures" % failures)
    for kind, was, now in zip(("keys", "files"), before, traces_left(prefix, args)):
        if now != was:
            problems.append("%s: %s left or removed: %s" % (each.title, kind, sorted(now ^ was)))
    return [line for line in report.splitlines()
            if line.startswith(("ok ", "FAILED ", "skipped "))], problems


def case_name(line):
    """The name in a report line: "ok      0.1 s  NAME", "skipped          NAME -- why"."""
    return line[16:].strip().split(" -- ")[0]


def unrun_cases(lines, mode):
    """The cases that no pass ran, but for those this Wine cannot run."""
    ran = {case_name(line) for line in lines if not line.startswith("skipped")}
    return [line for line in lines if line.startswith("skipped") and case_name(line) not in ran
            and MODES[mode].cannot not in line]


def run_all(args, display):
    problems, lines = [], []
    prefixes = {}
    try:
        for each in PASSES:
            if args.wine not in each.wines or (args.k and each.selection
                                               and args.k not in each.selection[1]):
                continue
            if each.user not in prefixes:
                prefixes[each.user] = make_prefix(args, display, each.user)
            pass_lines, pass_problems = run_pass(prefixes[each.user], each, args)
            lines += pass_lines
            problems += pass_problems
        life_cycles = [(run_installer_life_cycle, "installer: silent install, then removal "
                        "through Wine's uninstaller")] if args.installer else []
        if args.msi and args.wine != "wine64":  # the package is x86
            life_cycles.append((run_msi_life_cycle, "MSI package: its tables, install (/qn, "
                                "/qb), repair, removal, a warning waited for"))
        for life_cycle, title in life_cycles:
            started = time.monotonic()
            try:
                life_cycle(prefixes[None], prefixes[None].user_folders(), args)
                print("ok      %5.1f s  %s" % (time.monotonic() - started, title), flush=True)
            except Exception:
                problems.append("%s:\n%s" % (title.split(":")[0], traceback.format_exc()))
    finally:
        for prefix in prefixes.values():
            prefix.close()
    if not args.k:
        problems += ["never run: " + line for line in unrun_cases(lines, args.wine)]
    return lines, problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="build/win64 for wine64, else build/win32")
    parser.add_argument("--wine", choices=sorted(MODES), default="wine64",
                        help="wow64: the PE32 in a 64-bit prefix, as on 64-bit Windows")
    parser.add_argument("--installer", help="the example installer's script, or an installer "
                        "built from it (.exe): also runs its life cycle")
    parser.add_argument("-k", default="", help="run only the cases whose name holds this text")
    parser.add_argument("--program", help="the FinishSetup.exe to test, if not the build's")
    parser.add_argument("--msi", help="also the MSI package's life cycle: calendar-msi.sh to "
                        "build it, or a built calendar.msi")
    parser.add_argument("--keep-uninstaller", help="where to copy the Uninstall.exe installed")
    parser.add_argument("--time-limit", type=int, help="seconds before the run stops, failing")
    args = parser.parse_args()

    # Stopped by a signal or the time limit, the run still closes its prefixes: a prefix's
    # processes would otherwise outlive it.
    def stop(signum, _):
        raise SystemExit("stopped: %s" % ("the time limit of %d s" % args.time_limit
                                          if signum == signal.SIGALRM else "signal %d" % signum))
    for signum in (signal.SIGTERM, signal.SIGINT, signal.SIGALRM):
        signal.signal(signum, stop)
    signal.alarm(args.time_limit or 0)

    display = wine.Display()
    try:
        lines, problems = run_all(args, display)
    finally:
        display.close()
    for problem in problems:
        print("PROBLEM " + problem)
    passed = sum(line.startswith("ok") for line in lines)
    print("%d case runs passed, %d problems" % (passed, len(problems)))
    return 1 if problems or not passed else 0


if __name__ == "__main__":
    sys.exit(main())

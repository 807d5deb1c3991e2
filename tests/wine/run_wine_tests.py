#!/usr/bin/env python3
"""Runs FinishSetup.exe under Wine against the real registry, profile reader, shell link
object and command-line handling, one table row a case, and checks what each run did: the x64
build under wine64 (--wine wine64), or the shipped PE32 in a 32-bit prefix (wine32) or in a
64-bit prefix, as on 64-bit Windows (wow64). The helper, winprobe.exe, comes from the same
build as the program, so that it writes and reads the registry view the program sees."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time
import traceback
from dataclasses import dataclass, field
from typing import Callable, List, Optional

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402

PROGRAM_DIR = "C:\\Program Files\\Cal Setup"
EXE = PROGRAM_DIR + "\\FinishSetup.exe"
QUOTED_EXE = '"%s"' % EXE
ELSEWHERE = "C:\\elsewhere"
CAFE_DIR = "C:\\Caf\u00e9 Setup"  # a program folder code page 932 names only by a look-alike
LOOK_ALIKE_DIR = "C:\\Cafe Setup"  # that look-alike, with another product's settings
SOFTWARE = "SOFTWARE\\"
WOW6432NODE = "SOFTWARE\\WOW6432Node\\"  # the 32-bit view's SOFTWARE, seen from the 64-bit one
REG_SZ, REG_EXPAND_SZ, REG_BINARY = 1, 2, 3
APP, COMPANY = "App", "Firm"
ZOE = "Zo\u00eb"  # a user whose name code page 932 cannot hold
EN_US = "en_US.UTF-8"  # code page 1252
SPACED = "C:\\Apps\\Sample Cal"  # an install folder with a space in its name
JAPANESE_APP = "\u4e88\u5b9a\u8868"  # three characters whose second bytes in cp932 are 0x5C
TRAIL_BYTE_COMPANY = "\u8868"  # 0x95 0x5C
OLD_COMMAND = "C:\\old\\remove.exe /x\0"
INSTALL_PATH_WARNING = ("\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u30d1\u30b9\u304c\u898b\u3064\u304b"
                        "\u308a\u307e\u305b\u3093\u3067\u3057\u305f\u3002\n\u30ab\u30ec\u30f3\u30c0"
                        "\u30fc\u304c\u6b63\u3057\u304f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3055"
                        "\u308c\u3066\u3044\u308b\u304b\u78ba\u8a8d\u3057\u3066\u304f\u3060\u3055"
                        "\u3044")
SHORTCUT_WARNING = ("\u30b7\u30e7\u30fc\u30c8\u30ab\u30c3\u30c8\u306e\u4f5c\u6210\u306b\u5931"
                    "\u6557\u3057\u307e\u3057\u305f")


def settings(app, company):
    return b"[SYS]\r\nApplicationName=" + app.encode("cp932") + b"\r\nCRCompany=" + \
        company.encode("cp932") + b"\r\n"


def product_key(app=APP, company=COMPANY, root=SOFTWARE):
    return "%s%s\\%s" % (root, company, app)


def entry_key(app=APP, root=SOFTWARE):
    return root + "Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + app


class Wide(str):
    """A value's text that the fixture writes through the wide registry API."""


def value(name, data, value_type=REG_SZ):
    """A registry value as the helper reads it back: name and data as cp932 bytes."""
    encode = (lambda x: x.encode("cp932")) if isinstance(data, str) else bytes
    return (name.encode("cp932"), value_type, encode(data))


def installed(install_path, app=APP, install_type=REG_SZ, entry=None, company=COMPANY,
              root=SOFTWARE):
    """A calendar installation: its InstallPath and its uninstall entry's values."""
    if entry is None:
        entry = [("DisplayName", app + "\0"), ("UninstallString", OLD_COMMAND)]
    data = None if install_path is None else install_path + "\0"
    if isinstance(install_path, Wide):
        data = Wide(data)
    values = [] if install_path is None else [(product_key(app, company, root), "InstallPath",
                                               install_type, data)]
    return values + [(entry_key(app, root), name, REG_SZ, data) for name, data in entry]


@dataclass
class Outcome:
    exit_codes: List[str]
    trace: str
    pids: List[str]  # the program's process ids, as the +pid trace writes them
    entry: Optional[list] = None  # the uninstall entry's values after the run, None: no key
    boxes: list = field(default_factory=list)  # (text, caption) of each message box shown
    startup_link: Optional[dict] = None  # lnkinfo's fields, None: no file
    desktop_link: Optional[dict] = None
    startup_folder_exists: bool = False
    started: list = field(default_factory=list)  # (module, cwd, command line) of each start
    run_times: list = field(default_factory=list)  # microseconds from each start to its end
    new_files: list = field(default_factory=list)  # files under C:\users the run made

    def settings_reads(self):
        """The settings files the program read, in order, from the profile trace."""
        pattern = r'trace:profile:GetPrivateProfileStringW L"SYS",L"(\w+)",.*,L"(.*)"\s*$'
        return [(m.group(1), m.group(2).replace("\\\\", "\\"))
                for m in re.finditer(pattern, self.trace, re.MULTILINE)]

    def key_opens(self):
        """The key paths that the program's processes opened relative to an open key, from
        the +reg trace."""
        pattern = r'^(\w{4}):\w{4}:trace:reg:NtOpenKeyEx \(0x\w+,L"((?:[^"\\]|\\.)*)"'
        return [m.group(2).replace("\\\\", "\\")
                for m in re.finditer(pattern, self.trace, re.MULTILINE)
                if m.group(1) in self.pids]


@dataclass
class Case:
    name: str
    command_line: str = QUOTED_EXE + " -normal"
    cwd: str = PROGRAM_DIR
    program_dir: str = PROGRAM_DIR  # where the program and its settings are
    settings: Optional[bytes] = settings("App", "Firm")
    check: Callable[[Outcome], None] = lambda outcome: None
    runs: int = 1
    registry: list = field(default_factory=lambda: installed("C:\\Cal"))
    app: str = APP
    boxes: list = field(default_factory=list)  # the (text, caption) of each box expected
    remove_startup_folder: bool = False
    settings_name: str = "ImInitial"
    trace_registry: bool = False
    view: Optional[str] = None  # the registry view of the fixture's keys and of the entry read back
    entry_key: Optional[str] = None  # the entry read back, when not entry_key(app)
    wines: tuple = ("wine64", "wine32", "wow64")  # the Wines it runs under
    locale: Optional[str] = None  # LC_ALL of the program's run, when not ja_JP.UTF-8
    hidden: bool = False  # run on a window station of its own, which no user can see
    user: Optional[str] = None  # the prefix's user, when not the environment's
    recorders: tuple = ()  # programs placed in the prefix that record their starts
    open_startup_link: bool = False  # then the Startup link is opened, as at logon
    run_uninstall: bool = False  # then the stored command runs as CreateProcess runs it


def expect_settings_read_from(directory):
    def check(outcome):
        path = directory + "\\ImInitial"
        wanted = [("ApplicationName", path), ("CRCompany", path)] * len(outcome.exit_codes)
        assert outcome.settings_reads() == wanted, outcome.settings_reads()
    return check


def expect_entry(*values):
    def check(outcome):
        assert outcome.entry == list(values), outcome.entry
    return check


def link(target, workdir, description=APP):
    return {"Local path": target, "Working directory": workdir, "Description": description}


def expect_links(startup, desktop):
    def check(outcome):
        assert outcome.startup_link == startup, outcome.startup_link
        assert outcome.desktop_link == desktop, outcome.desktop_link
    return check


def expect_no_run(outcome):
    assert outcome.settings_reads() == [], outcome.settings_reads()
    expect_entry(value("DisplayName", APP + "\0"), value("UninstallString", OLD_COMMAND))(outcome)
    expect_links(None, None)(outcome)


def expect_no_empty_key_name(outcome):
    """Windows reads "a\\\\b" as a key named "" under a, and fails to open it, where Wine
    does not: every key the program opens must be named without an empty component."""
    opens = outcome.key_opens()
    bad = [path for path in opens if "" in path.split("\\")]
    assert not bad, bad
    wanted = {product_key().lower(), entry_key().lower()}
    assert wanted <= {path.lower() for path in opens}, "not opened: %s" % wanted


def expect_started(*starts):
    """The recorded programs' starts, as (module, working directory)."""
    def check(outcome):
        assert [start[:2] for start in outcome.started] == list(starts), outcome.started
    return check


def expect_quick_exit(outcome):
    """A box that no one can see would wait for ever; the run ends in seconds instead."""
    assert all(us < 20e6 for us in outcome.run_times), outcome.run_times


def expect_links_only(*names):
    """The files the run made in the profiles: the links named (folder's last name and file
    name), nothing beside or above them."""
    def check(outcome):
        made = sorted(os.path.join(*path.split(os.sep)[-2:]) for path in outcome.new_files)
        assert made == sorted(names), outcome.new_files
    return check


def expect_startup_folder(outcome):
    assert outcome.startup_folder_exists


def all_of(*checks):
    def check(outcome):
        for each in checks:
            each(outcome)
    return check


CAL_LINK = link("C:\\Cal\\calendar.exe", "C:\\Cal")
REWRITTEN = expect_entry(value("DisplayName", APP + "\0"),
                         value("UninstallString", '"C:\\Cal\\Uninstall.exe"\0'))
RAN = all_of(expect_settings_read_from(PROGRAM_DIR), REWRITTEN, expect_links(CAL_LINK, CAL_LINK))
UNTOUCHED = expect_entry(value("DisplayName", APP + "\0"), value("UninstallString", OLD_COMMAND))
BIG = bytes(range(256)) * 20

CASES = [
    Case("no argument", command_line=QUOTED_EXE, check=expect_no_run),
    Case("-normal", check=RAN),
    Case("typical run opens no key path with an empty component", trace_registry=True,
         check=all_of(RAN, expect_no_empty_key_name)),
    Case("company ending in a 0x5C trail byte, key path kept whole",
         settings=settings(APP, TRAIL_BYTE_COMPANY),
         registry=installed("C:\\Cal", company=TRAIL_BYTE_COMPANY), check=RAN),
    Case("-NORMAL", command_line=QUOTED_EXE + " -NORMAL", check=RAN),
    Case("trailing space", command_line=QUOTED_EXE + " -normal ", check=expect_no_run),
    Case("second argument", command_line=QUOTED_EXE + " -normal x", check=expect_no_run),
    Case("quoted -normal", command_line=QUOTED_EXE + ' "-normal"', check=expect_no_run),
    Case("unquoted name", command_line="FinishSetup.exe -normal", check=RAN),
    Case("tabs and spaces", command_line=QUOTED_EXE + " \t  \t-normal", check=RAN),
    Case("settings beside the exe, not in the working directory", cwd=ELSEWHERE, check=RAN),

    Case("install path with trailing backslash", registry=installed("C:\\Cal\\"),
         check=all_of(REWRITTEN, expect_links(*[link("C:\\Cal\\calendar.exe", "C:\\Cal\\")] * 2))),
    Case("install path in Japanese ending in a 0x5C trail byte",
         registry=installed("C:\\" + JAPANESE_APP),
         check=expect_entry(value("DisplayName", APP + "\0"),
                            value("UninstallString", '"C:\\%s\\Uninstall.exe"\0' % JAPANESE_APP))),
    Case("install path as REG_EXPAND_SZ stays unexpanded",
         registry=installed("%ProgramFiles%\\Cal", install_type=REG_EXPAND_SZ),
         check=expect_entry(value("DisplayName", APP + "\0"),
                            value("UninstallString", '"%ProgramFiles%\\Cal\\Uninstall.exe"\0'))),
    Case("lower-case value names, name kept and type made REG_SZ",
         registry=[(product_key(), "installpath", REG_SZ, "C:\\Cal\0"),
                   (entry_key(), "uninstallstring", REG_EXPAND_SZ, "%x%\0")],
         check=expect_entry(value("uninstallstring", '"C:\\Cal\\Uninstall.exe"\0'))),
    Case("large value and long value name enumerated first",
         registry=[(product_key(), "Big", REG_BINARY, BIG),
                   (product_key(), "N" * 2000, REG_SZ, "x\0")] + installed("C:\\Cal"),
         check=RAN),
    Case("entry without UninstallString left alone",
         registry=installed("C:\\Cal", entry=[("DisplayName", APP + "\0")]),
         check=expect_entry(value("DisplayName", APP + "\0"))),
    Case("no uninstall entry, none created", registry=installed("C:\\Cal", entry=[]),
         check=lambda outcome: assert_missing(outcome)),
    Case("no install path: one warning, Startup folder still made, entry left alone",
         registry=installed(None), remove_startup_folder=True,
         boxes=[(INSTALL_PATH_WARNING, APP)],
         check=all_of(UNTOUCHED, expect_links(None, None), expect_startup_folder)),
    Case("missing Startup folder is created", remove_startup_folder=True,
         check=all_of(RAN, expect_startup_folder)),
    Case("shortcut that cannot be saved: one warning, no Desktop, entry still rewritten",
         app="A|B", settings=settings("A|B", COMPANY), registry=installed("C:\\Cal", app="A|B"),
         boxes=[(SHORTCUT_WARNING, "A|B")],
         check=all_of(expect_links(None, None),
                      expect_entry(value("DisplayName", "A|B\0"),
                                   value("UninstallString", '"C:\\Cal\\Uninstall.exe"\0')))),
    Case("running twice writes the same command", runs=2, check=RAN),
    Case("Japanese application name", app=JAPANESE_APP,
         settings=settings(JAPANESE_APP, COMPANY),
         registry=installed("C:\\Cal", app=JAPANESE_APP),
         check=all_of(expect_entry(value("DisplayName", JAPANESE_APP + "\0"),
                                   value("UninstallString", '"C:\\Cal\\Uninstall.exe"\0')),
                      expect_links(*[link("C:\\Cal\\calendar.exe", "C:\\Cal", JAPANESE_APP)] * 2))),
    Case("settings with spaces, quotes and other letter case",
         settings=b'[sys]\r\napplicationname = "App" \r\n  CRCOMPANY=\tFirm\r\n', check=RAN),
    Case("a 200-byte name is read as its first 127 bytes, and composes no key",
         settings=settings("a" * 200, COMPANY), app="a" * 200,
         registry=installed("C:\\Cal", app="a" * 200), boxes=[(INSTALL_PATH_WARNING, "a" * 127)],
         check=all_of(expect_links(None, None),
                      expect_entry(value("DisplayName", "a" * 200 + "\0"),
                                   value("UninstallString", OLD_COMMAND)))),
    Case("a settings file with an extension is not read", settings_name="ImInitial.ini",
         boxes=[(INSTALL_PATH_WARNING, "")], check=UNTOUCHED),
    Case("install path warning with a Japanese caption", app=JAPANESE_APP,
         settings=settings(JAPANESE_APP, COMPANY), registry=installed(None, app=JAPANESE_APP),
         boxes=[(INSTALL_PATH_WARNING, JAPANESE_APP)]),

    # Inputs the program refuses rather than use as something else: a name that is no plain
    # file name, an install path that names no folder, a name or a folder the code page holds
    # only as a look-alike.
    Case("device name NUL: no link, the shortcut warning, the entry still rewritten", app="NUL",
         settings=settings("NUL", COMPANY), registry=installed("C:\\Cal", app="NUL"),
         boxes=[(SHORTCUT_WARNING, "NUL")],
         check=all_of(expect_links(None, None), expect_links_only(),
                      expect_entry(value("DisplayName", "NUL\0"),
                                   value("UninstallString", '"C:\\Cal\\Uninstall.exe"\0')))),
    Case("name with a stream's colon: no link, no stray file", app="Cal: Pro",
         settings=settings("Cal: Pro", COMPANY), registry=installed("C:\\Cal", app="Cal: Pro"),
         boxes=[(SHORTCUT_WARNING, "Cal: Pro")],
         check=all_of(expect_links(None, None), expect_links_only())),
    Case("name leaving the folder: no link above Startup or the Desktop", app="..\\..\\Cal",
         settings=settings("..\\..\\Cal", COMPANY),
         registry=installed("C:\\Cal", app="..\\..\\Cal"), boxes=[(SHORTCUT_WARNING, "..\\..\\Cal")],
         check=expect_links_only()),
    Case("install path that names no folder: the warning, no link, the entry left alone",
         registry=installed("Cal"), boxes=[(INSTALL_PATH_WARNING, APP)],
         check=all_of(UNTOUCHED, expect_links(None, None), expect_links_only())),
    Case("name outside code page 932 in a UTF-16 settings file: the look-alike's keys and links "
         "untouched", app="Cafe",
         settings=b"\xff\xfe" + "[SYS]\r\nApplicationName=Caf\u00e9\r\nCRCompany=Firm\r\n".encode(
             "utf-16-le"), registry=installed("C:\\Cal", app="Cafe"),
         boxes=[(INSTALL_PATH_WARNING, "")],
         check=all_of(expect_links_only(),
                      expect_entry(value("DisplayName", "Cafe\0"),
                                   value("UninstallString", OLD_COMMAND)))),
    Case("program folder outside code page 932: its own settings, not the look-alike folder's",
         program_dir=CAFE_DIR, cwd=CAFE_DIR,
         command_line='"%s\\FinishSetup.exe" -normal' % CAFE_DIR,
         check=all_of(REWRITTEN, expect_links(CAL_LINK, CAL_LINK))),

    # What Windows does later with what the program wrote, and where Windows differs from a
    # Japanese desktop session: other code pages, users and window stations.
    Case("uninstall command quoted: started without a module name, a program at the first "
         "space never runs", registry=installed(SPACED),
         recorders=(SPACED + "\\Uninstall.exe", "C:\\Apps\\Sample.exe"), run_uninstall=True,
         check=all_of(expect_entry(value("DisplayName", APP + "\0"),
                                   value("UninstallString", '"%s\\Uninstall.exe"\0' % SPACED)),
                      expect_started((SPACED + "\\Uninstall.exe", "C:\\")))),
    Case("install path outside code page 932, written in UTF-16: not found, no look-alike",
         registry=installed(Wide("C:\\Caf\u00e9")), boxes=[(INSTALL_PATH_WARNING, APP)],
         check=all_of(UNTOUCHED, expect_links(None, None))),
    Case("Startup link opened as at logon starts calendar.exe in the install folder",
         recorders=("C:\\Cal\\calendar.exe",), open_startup_link=True,
         check=all_of(RAN, expect_started(("C:\\Cal\\calendar.exe", "C:\\Cal")))),
    Case("user outside code page 932: links in the user's folders, the Startup link starts "
         "the application", user=ZOE, recorders=("C:\\Cal\\calendar.exe",),
         open_startup_link=True, wines=("wine64", "wine32"),
         check=all_of(RAN, expect_started(("C:\\Cal\\calendar.exe", "C:\\Cal")))),
    Case("install path warning in Japanese under code page 1252", locale=EN_US,
         registry=installed(None), boxes=[(INSTALL_PATH_WARNING, APP)], check=UNTOUCHED),
    Case("shortcut warning in Japanese under code page 1252", locale=EN_US, app="A|B",
         settings=settings("A|B", COMPANY), registry=installed("C:\\Cal", app="A|B"),
         boxes=[(SHORTCUT_WARNING, "A|B")], check=expect_links(None, None)),
    Case("window station no user can see, no install path: ends at once, no box", hidden=True,
         registry=installed(None), check=all_of(UNTOUCHED, expect_links(None, None),
                                               expect_quick_exit)),
    Case("window station no user can see: the typical run writes both links and the entry",
         hidden=True, check=RAN),

    # The PE32 on 64-bit Windows reads and writes the 32-bit view, which the 64-bit view shows
    # under WOW6432Node; an installer that writes only the 64-bit view is not seen at all.
    Case("32-bit view: keys written under WOW6432Node from the 64-bit view are found",
         view="64", registry=installed("C:\\Cal", root=WOW6432NODE),
         entry_key=entry_key(root=WOW6432NODE), wines=("wow64",),
         check=all_of(REWRITTEN, expect_links(CAL_LINK, CAL_LINK))),
    Case("keys only in the 64-bit view: install path warning, nothing rewritten", view="64",
         boxes=[(INSTALL_PATH_WARNING, APP)], wines=("wow64",),
         check=all_of(UNTOUCHED, expect_links(None, None))),
]


def profile_files(root):
    return {os.path.join(folder, name) for folder, _, names in os.walk(root) for name in names}


def assert_missing(outcome):
    assert outcome.entry is None, outcome.entry


def set_values(registry, view):
    return [wine.set_wide_value(*v) if isinstance(v[3], Wide) else wine.set_value(*v, view=view)
            for v in registry]


def run_case(prefix, folders, case, views):
    """folders: the Startup and Desktop folders, (Windows path, Unix path) each. views: the
    registry views to clear the case's keys in."""
    (startup_path, startup), (_, desktop) = folders
    for folder in (startup, desktop):
        path = os.path.join(folder, case.app + ".lnk")
        if os.path.exists(path):
            os.remove(path)
    if case.remove_startup_folder:
        shutil.rmtree(startup, ignore_errors=True)
    for name in ("ImInitial", "ImInitial.ini"):
        path = prefix.unix_path(case.program_dir + "\\" + name)
        if os.path.exists(path):
            os.remove(path)
    if case.settings is not None:
        with open(prefix.unix_path(case.program_dir + "\\" + case.settings_name), "wb") as f:
            f.write(case.settings)
    for path in case.recorders:
        prefix.place_recorder(path)
    prefix.take_started()
    keys = {product_key(case.app), entry_key(case.app)} | {key for key, *_ in case.registry}
    prefix.probe([wine.delete_key(key, view) for key in sorted(keys) for view in views] +
                 set_values(case.registry, case.view))
    exe = case.program_dir + "\\FinishSetup.exe"
    commands = [wine.run_command(exe, case.cwd, case.command_line, case.hidden)] * case.runs
    profiles = prefix.unix_path("C:\\users")
    files_before = profile_files(profiles)
    captions = []
    debug = "+pid,+profile,+msgbox" + (",+reg" if case.trace_registry else "")
    entry = case.entry_key or entry_key(case.app)
    env = {"LC_ALL": case.locale, "LANG": case.locale} if case.locale else None
    lines, trace = prefix.probe(commands + [wine.dump_key(entry, case.view)],
                                debug=debug, captions=captions, env=env)
    runs = [line.split() for line in lines[:case.runs]]
    outcome = Outcome(exit_codes=[" ".join(run[:2]) for run in runs],
                      trace=trace, pids=[run[7] for run in runs if len(run) > 7],
                      entry=wine.parse_dump(lines[case.runs]),
                      boxes=list(zip(wine.message_box_texts(trace), captions)),
                      startup_link=wine.read_link(os.path.join(startup, case.app + ".lnk")),
                      desktop_link=wine.read_link(os.path.join(desktop, case.app + ".lnk")),
                      startup_folder_exists=os.path.isdir(startup),
                      run_times=[int(run[3]) for run in runs if len(run) > 3],
                      new_files=sorted(profile_files(profiles) - files_before))
    assert outcome.exit_codes == ["exit 0"] * case.runs, outcome.exit_codes
    assert len(captions) == len(wine.message_box_texts(trace)), (captions, trace[-3000:])
    assert outcome.boxes == case.boxes, (outcome.boxes, trace[-3000:])
    if case.run_uninstall:  # as Programs and Features starts it: CreateProcess, no module name
        command = dict((name, data) for name, _, data in outcome.entry)[b"UninstallString"]
        prefix.probe([wine.run_command(None, "C:\\", command.rstrip(b"\0").decode("cp932"))])
    if case.open_startup_link:  # as the shell opens it at logon
        code, log = prefix.call(["start", "/wait", startup_path + "\\" + case.app + ".lnk"],
                                "start")
        assert code == 0, log[-2000:]
    outcome.started = prefix.take_started()
    # Wine's start may return before the program it started has run: wait for its record.
    deadline = time.monotonic() + 60
    while case.open_startup_link and not outcome.started and time.monotonic() < deadline:
        time.sleep(0.5)
        outcome.started = prefix.take_started()
    for path in case.recorders:
        os.remove(prefix.unix_path(path))
    case.check(outcome)


@dataclass
class Mode:
    """What a Wine of --wine gives: the installer stub for its build, where that installer
    puts the application, and the registry views a case's keys may be in."""
    make: Callable[[str], wine.Wine]
    installer_target: str
    program_files: str
    views: tuple = (None,)


MODES = {
    "wine64": Mode(lambda workdir: wine.wine64(), "amd64-unicode", "C:\\Program Files"),
    "wine32": Mode(wine.wine32, "x86-unicode", "C:\\Program Files"),
    "wow64": Mode(wine.wow64, "x86-unicode", "C:\\Program Files (x86)", (None, "64")),
}

# The example installer (examples/calendar.nsi): what it installs, and where.
SETUP = "C:\\calendar-setup.exe"
CALENDAR, CALENDAR_COMPANY = "Calendar", "Example Soft"
CALENDAR_FILES = ["Uninstall.exe", "FinishSetup.exe", "calendar.exe", "ImInitial"]
PLANTED = "C:\\Program.exe"


def build_installer(prefix, args):
    """The example installer around this build's exe: the x86 stub for the PE32, the amd64
    stub for the x64 build."""
    stand_in = os.path.join(prefix.root, "calendar.exe")
    with open(stand_in, "w") as f:
        f.write("a stand-in for the calendar application\n")
    target = MODES[args.wine].installer_target
    program = os.path.abspath(os.path.join(args.build, "FinishSetup.exe"))
    subprocess.run(["makensis", "-V2", "-DTARGET=" + target, "-DFINISHSETUP_EXE=" + program,
                    "-DCALENDAR_EXE=" + stand_in, "-DOUTFILE=" + prefix.unix_path(SETUP),
                    args.installer], check=True, stdin=subprocess.DEVNULL)


def installed_calendar(prefix, folders, calendar_dir):
    """What of the installation is there: keys (None when missing), files, shortcuts."""
    keys = [product_key(CALENDAR, CALENDAR_COMPANY), entry_key(CALENDAR),
            SOFTWARE + CALENDAR_COMPANY]
    lines, _ = prefix.probe([wine.dump_key(key) for key in keys])
    files = [name for name in CALENDAR_FILES
             if os.path.exists(prefix.unix_path(calendar_dir + "\\" + name))]
    links = [wine.read_link(os.path.join(folder, CALENDAR + ".lnk")) for folder in folders]
    return [wine.parse_dump(line) for line in lines], files, links


def run_installer_life_cycle(prefix, folders, args):
    """Installs silently, as an installer author ships the program; then removes the
    application as Programs and Features would, through the UninstallString the program wrote
    (Wine's uninstaller runs it)."""
    build_installer(prefix, args)
    calendar_dir = MODES[args.wine].program_files + "\\" + CALENDAR
    captions = []
    lines, trace = prefix.probe([wine.run_command(SETUP, "C:\\", '"%s" /S' % SETUP)],
                                debug="+msgbox", captions=captions)
    assert lines[0].split()[:2] == ["exit", "0"], lines
    assert wine.message_box_texts(trace) == [] and captions == [], captions
    (product, entry, _), files, links = installed_calendar(prefix, folders, calendar_dir)
    assert product == [value("InstallPath", calendar_dir + "\0")], product
    assert entry == [value("DisplayName", CALENDAR + "\0"),
                     value("UninstallString", '"%s\\Uninstall.exe"\0' % calendar_dir)], entry
    assert files == CALENDAR_FILES, files
    assert links == [link(calendar_dir + "\\calendar.exe", calendar_dir, CALENDAR)] * 2, links

    # A program where the unquoted command's first space would end its name: anyone may put
    # one at C:\\Program.exe on Windows, and it would run as the administrator who uninstalls.
    prefix.place_recorder(PLANTED)
    prefix.take_started()
    code, log = prefix.call(["uninstaller", "--remove", CALENDAR], "uninstaller")
    assert code == 0, log[-2000:]
    # The uninstaller runs on from a copy of itself in the temporary folder: wait for it.
    deadline = time.monotonic() + prefix.wine.timeout
    while True:
        keys, files, links = installed_calendar(prefix, folders, calendar_dir)
        if keys == [None] * 3 and not files and links == [None] * 2:
            break
        assert time.monotonic() < deadline, (keys, files, links)
        time.sleep(1)
    assert not os.path.exists(prefix.unix_path(calendar_dir)), os.listdir(
        prefix.unix_path(calendar_dir))
    started = prefix.take_started()
    os.remove(prefix.unix_path(PLANTED))
    assert started == [], started


def make_prefix(args, display, user):
    started = time.monotonic()
    prefix = wine.open_prefix(args.build, display.name, MODES[args.wine].make, user)
    print("wine: %s; program: %s; user: %s; prefix ready in %.1f s" % (
        prefix.wine.description, os.path.join(args.build, "FinishSetup.exe"),
        user or "the environment's", time.monotonic() - started), flush=True)
    return prefix


def run_prefix(args, display, user):
    """The cases of one prefix user; the default user's prefix also runs the installer."""
    prefix = make_prefix(args, display, user)
    passed = failed = 0
    try:
        lines, _ = prefix.probe([["folder", "7"], ["folder", "16"]])
        paths = [wine.unhexed(line.split(" ")[1]).decode("utf-8") for line in lines]
        folders = [(path, prefix.unix_path(path)) for path in paths]
        prefix.install_program(PROGRAM_DIR)
        prefix.install_program(CAFE_DIR)
        for directory in (ELSEWHERE, LOOK_ALIKE_DIR):
            os.makedirs(prefix.unix_path(directory), exist_ok=True)
            with open(prefix.unix_path(directory + "\\ImInitial"), "wb") as f:
                f.write(settings("Wrong", "Wrong"))
        views = MODES[args.wine].views
        checks = [(case.name, lambda case=case: run_case(prefix, folders, case, views))
                  for case in CASES if args.wine in case.wines and case.user == user]
        if args.installer and user is None:
            checks.append(("installer: silent install, then removal through Wine's uninstaller",
                           lambda: run_installer_life_cycle(prefix, [f[1] for f in folders],
                                                            args)))
        for name, check in checks:
            if args.k not in name:
                continue
            started = time.monotonic()
            try:
                check()
                passed += 1
                print("ok      %5.1f s  %s" % (time.monotonic() - started, name), flush=True)
            except Exception:
                failed += 1
                print("FAILED  %5.1f s  %s\n%s" % (time.monotonic() - started, name,
                                                  traceback.format_exc()), flush=True)
    finally:
        prefix.close()
    return passed, failed


def run_cases(args, display):
    """A prefix for the environment's user, and one for each other user a case names."""
    users = [None] + sorted({case.user for case in CASES
                             if case.user and args.wine in case.wines and args.k in case.name})
    passed = failed = 0
    for user in users:
        more_passed, more_failed = run_prefix(args, display, user)
        passed, failed = passed + more_passed, failed + more_failed
    return passed, failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True,
                        help="the build directory: build/win64 for wine64, build/win32 for wine32")
    parser.add_argument("--wine", choices=sorted(MODES), default="wine64",
                        help="wow64: the PE32 in a 64-bit prefix, as on 64-bit Windows")
    parser.add_argument("--installer", help="the example installer's script: also runs its life cycle")
    parser.add_argument("-k", default="", help="run only the cases whose name contains this")
    args = parser.parse_args()

    display = wine.Display()
    try:
        passed, failed = run_cases(args, display)
    finally:
        display.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Runs FinishSetup.exe (the x64 build) under wine64 against the real registry, profile
reader and command-line handling, one table row a case, and checks what each run did."""
import argparse
import os
import re
import sys
import traceback
from dataclasses import dataclass, field
from typing import Callable, List, Optional

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine  # noqa: E402

PROGRAM_DIR = "C:\\Program Files\\Cal Setup"
EXE = PROGRAM_DIR + "\\FinishSetup.exe"
QUOTED_EXE = '"%s"' % EXE
ELSEWHERE = "C:\\elsewhere"
UNINSTALL_ROOT = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
REG_SZ, REG_EXPAND_SZ, REG_BINARY = 1, 2, 3
APP, COMPANY = "App", "Firm"
JAPANESE_APP = "\u4e88\u5b9a\u8868"  # three characters whose second bytes in cp932 are 0x5C
OLD_COMMAND = "C:\\old\\remove.exe /x\0"


def settings(app, company):
    return b"[SYS]\r\nApplicationName=" + app.encode("cp932") + b"\r\nCRCompany=" + \
        company.encode("cp932") + b"\r\n"


def product_key(app=APP):
    return "SOFTWARE\\%s\\%s" % (COMPANY, app)


def entry_key(app=APP):
    return UNINSTALL_ROOT + app


def value(name, data, value_type=REG_SZ):
    """A registry value as the helper reads it back: name and data as cp932 bytes."""
    encode = (lambda x: x.encode("cp932")) if isinstance(data, str) else bytes
    return (name.encode("cp932"), value_type, encode(data))


def installed(install_path, app=APP, install_type=REG_SZ, entry=None):
    """A calendar installation: its InstallPath and its uninstall entry's values."""
    if entry is None:
        entry = [("DisplayName", app + "\0"), ("UninstallString", OLD_COMMAND)]
    values = [] if install_path is None else [(product_key(app), "InstallPath", install_type,
                                               install_path + "\0")]
    return values + [(entry_key(app), name, REG_SZ, data) for name, data in entry]


@dataclass
class Outcome:
    exit_codes: List[str]
    trace: str
    entry: Optional[list] = None  # the uninstall entry's values after the run, None: no key

    def settings_reads(self):
        """The settings files the program read, in order, from the profile trace."""
        pattern = r'trace:profile:GetPrivateProfileStringW L"SYS",L"(\w+)",.*,L"(.*)"\s*$'
        return [(m.group(1), m.group(2).replace("\\\\", "\\"))
                for m in re.finditer(pattern, self.trace, re.MULTILINE)]


@dataclass
class Case:
    name: str
    command_line: str = QUOTED_EXE + " -normal"
    cwd: str = PROGRAM_DIR
    settings: Optional[bytes] = settings("App", "Firm")
    check: Callable[[Outcome], None] = lambda outcome: None
    runs: int = 1
    registry: list = field(default_factory=lambda: installed("C:\\Cal"))
    app: str = APP


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


def expect_no_run(outcome):
    assert outcome.settings_reads() == [], outcome.settings_reads()
    expect_entry(value("DisplayName", APP + "\0"), value("UninstallString", OLD_COMMAND))(outcome)


def all_of(*checks):
    def check(outcome):
        for each in checks:
            each(outcome)
    return check


RAN = all_of(expect_settings_read_from(PROGRAM_DIR),
             expect_entry(value("DisplayName", APP + "\0"),
                          value("UninstallString", "C:\\Cal\\Uninstall.exe\0")))
UNTOUCHED = expect_entry(value("DisplayName", APP + "\0"), value("UninstallString", OLD_COMMAND))
BIG = bytes(range(256)) * 20

CASES = [
    Case("no argument", command_line=QUOTED_EXE, check=expect_no_run),
    Case("-normal", check=RAN),
    Case("-NORMAL", command_line=QUOTED_EXE + " -NORMAL", check=RAN),
    Case("trailing space", command_line=QUOTED_EXE + " -normal ", check=expect_no_run),
    Case("second argument", command_line=QUOTED_EXE + " -normal x", check=expect_no_run),
    Case("quoted -normal", command_line=QUOTED_EXE + ' "-normal"', check=expect_no_run),
    Case("unquoted name", command_line="FinishSetup.exe -normal", check=RAN),
    Case("tabs and spaces", command_line=QUOTED_EXE + " \t  \t-normal", check=RAN),
    Case("settings beside the exe, not in the working directory", cwd=ELSEWHERE, check=RAN),

    Case("install path with trailing backslash", registry=installed("C:\\Cal\\"), check=RAN),
    Case("install path in Japanese ending in a 0x5C trail byte",
         registry=installed("C:\\" + JAPANESE_APP),
         check=expect_entry(value("DisplayName", APP + "\0"),
                            value("UninstallString", "C:\\%s\\Uninstall.exe\0" % JAPANESE_APP))),
    Case("install path as REG_EXPAND_SZ stays unexpanded",
         registry=installed("%ProgramFiles%\\Cal", install_type=REG_EXPAND_SZ),
         check=expect_entry(value("DisplayName", APP + "\0"),
                            value("UninstallString", "%ProgramFiles%\\Cal\\Uninstall.exe\0"))),
    Case("lower-case value names, name kept and type made REG_SZ",
         registry=[(product_key(), "installpath", REG_SZ, "C:\\Cal\0"),
                   (entry_key(), "uninstallstring", REG_EXPAND_SZ, "%x%\0")],
         check=expect_entry(value("uninstallstring", "C:\\Cal\\Uninstall.exe\0"))),
    Case("large value and long value name enumerated first",
         registry=[(product_key(), "Big", REG_BINARY, BIG),
                   (product_key(), "N" * 2000, REG_SZ, "x\0")] + installed("C:\\Cal"),
         check=RAN),
    Case("entry without UninstallString left alone",
         registry=installed("C:\\Cal", entry=[("DisplayName", APP + "\0")]),
         check=expect_entry(value("DisplayName", APP + "\0"))),
    Case("no uninstall entry, none created", registry=installed("C:\\Cal", entry=[]),
         check=lambda outcome: assert_missing(outcome)),
    Case("no install path, entry left alone", registry=installed(None), check=UNTOUCHED),
    Case("running twice writes the same command", runs=2, check=RAN),
    Case("Japanese application name", app=JAPANESE_APP,
         settings=settings(JAPANESE_APP, COMPANY),
         registry=installed("C:\\Cal", app=JAPANESE_APP),
         check=expect_entry(value("DisplayName", JAPANESE_APP + "\0"),
                            value("UninstallString", "C:\\Cal\\Uninstall.exe\0"))),
]


def assert_missing(outcome):
    assert outcome.entry is None, outcome.entry


def run_case(prefix, case):
    ini = prefix.unix_path(PROGRAM_DIR + "\\ImInitial")
    if case.settings is None:
        if os.path.exists(ini):
            os.remove(ini)
    else:
        with open(ini, "wb") as f:
            f.write(case.settings)
    keys = {product_key(case.app), entry_key(case.app)} | {key for key, *_ in case.registry}
    prefix.probe([wine.delete_key(key) for key in sorted(keys)] +
                 [wine.set_value(*value) for value in case.registry])
    commands = [wine.run_command(EXE, case.cwd, case.command_line)] * case.runs
    lines, trace = prefix.probe(commands + [wine.dump_key(entry_key(case.app))], debug="+profile")
    outcome = Outcome(exit_codes=lines[:case.runs], trace=trace,
                      entry=wine.parse_dump(lines[case.runs]))
    assert outcome.exit_codes == ["exit 0"] * case.runs, outcome.exit_codes
    case.check(outcome)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the win64 build directory")
    parser.add_argument("-k", default="", help="run only the cases whose name contains this")
    args = parser.parse_args()

    prefix = wine.Prefix(args.build)
    passed = failed = 0
    try:
        prefix.install_program(PROGRAM_DIR)
        os.makedirs(prefix.unix_path(ELSEWHERE), exist_ok=True)
        with open(prefix.unix_path(ELSEWHERE + "\\ImInitial"), "wb") as f:
            f.write(settings("Wrong", "Wrong"))
        for case in CASES:
            if args.k not in case.name:
                continue
            try:
                run_case(prefix, case)
                passed += 1
                print("ok      %s" % case.name)
            except Exception:
                failed += 1
                print("FAILED  %s\n%s" % (case.name, traceback.format_exc()))
    finally:
        prefix.close()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())

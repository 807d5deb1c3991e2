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


def settings(app, company):
    return b"[SYS]\r\nApplicationName=" + app.encode("cp932") + b"\r\nCRCompany=" + \
        company.encode("cp932") + b"\r\n"


@dataclass
class Outcome:
    exit_codes: List[str]
    trace: str

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


def expect_settings_read_from(directory):
    def check(outcome):
        path = directory + "\\ImInitial"
        wanted = [("ApplicationName", path), ("CRCompany", path)]
        assert outcome.settings_reads() == wanted, outcome.settings_reads()
    return check


def expect_no_run(outcome):
    assert outcome.settings_reads() == [], outcome.settings_reads()


RAN = expect_settings_read_from(PROGRAM_DIR)

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
]


def run_case(prefix, case):
    ini = prefix.unix_path(PROGRAM_DIR + "\\ImInitial")
    if case.settings is None:
        if os.path.exists(ini):
            os.remove(ini)
    else:
        with open(ini, "wb") as f:
            f.write(case.settings)
    commands = [wine.run_command(EXE, case.cwd, case.command_line)] * case.runs
    lines, trace = prefix.probe(commands, debug="+profile")
    outcome = Outcome(exit_codes=lines[:case.runs], trace=trace)
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

#!/usr/bin/env python3
"""The main job: runs the shipped FinishSetup.exe (the PE32) -normal under a 32-bit Wine
against a sample calendar installation in a throwaway prefix, and prints what the run did.
Where no 32-bit Wine can be set up or started in time, it runs the x64 build under wine64."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
import wine  # noqa: E402

SETUP_DIR = "C:\\Program Files\\Sample Calendar Setup"
INSTALL_DIR = "C:\\Program Files\\Sample Calendar"
APP, COMPANY = "Sample Calendar", "Example Soft"
PRODUCT_KEY = "SOFTWARE\\%s\\%s" % (COMPANY, APP)
UNINSTALL_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + APP


def set_string(prefix, key, name, data):
    """A REG_SZ value under HKEY_LOCAL_MACHINE, by Wine's reg.exe."""
    code, log = prefix.call(["reg", "add", "HKLM\\" + key, "/v", name, "/t", "REG_SZ", "/d", data,
                             "/f"], "reg")
    if code != 0:
        raise RuntimeError("reg add %s: %s" % (key, log[-500:]))


def show_key(title, line):
    print(title)
    values = wine.parse_dump(line)
    if values is None:
        print("    (no such key)")
    for name, value_type, data in values or []:
        print("    %-16s type %d  %s" % (name.decode("utf-8"), value_type,
                                         data.decode("utf-16-le", "replace").rstrip("\0")))


BUILD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build")


def make_prefix(display):
    print("Setting up a 32-bit Wine prefix ...", flush=True)  # two boots of 180 s at most
    try:
        prefix = wine.Prefix(os.path.join(BUILD, "win32"), display.name, wine.wine32)
        print("Program: the shipped PE32, build/win32/FinishSetup.exe, under %s\n"
              % prefix.wine.description)
        return prefix
    except (RuntimeError, OSError, subprocess.SubprocessError) as error:
        reason = error
    why_not = wine64_start_error()
    if why_not:
        print("No Wine can run the program here: no 32-bit Wine (%s), and wine64 does not "
              "start (%s).\nInstall them with: bash scripts/install-deps.sh" % (reason, why_not))
        sys.exit(1)
    print("No 32-bit Wine could be started here (%s).\nFalling back to the x64 build, "
          "build/win64/FinishSetup.exe, under wine64: the same source, not the shipped "
          "exe.\n" % reason, flush=True)
    return wine.Prefix(os.path.join(BUILD, "win64"), display.name)


def wine64_start_error():
    """Why wine64 cannot start (not installed, or removed since), or None when it can."""
    try:
        result = subprocess.run([wine.WINE, "--version"], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=60)
    except (OSError, subprocess.SubprocessError) as error:
        return str(error)
    if result.returncode != 0:
        output = result.stdout.decode(errors="replace").strip()
        return "exit code %d: %s" % (result.returncode, output)
    return None


def main():
    display = wine.Display()
    try:
        prefix = make_prefix(display)
    except BaseException:
        display.close()
        raise
    try:
        prefix.install_program(SETUP_DIR)
        settings = "[SYS]\r\nApplicationName=%s\r\nCRCompany=%s\r\n" % (APP, COMPANY)
        with open(prefix.unix_path(SETUP_DIR + "\\ImInitial"), "wb") as f:
            f.write(settings.encode("cp932"))
        set_string(prefix, PRODUCT_KEY, "InstallPath", INSTALL_DIR)
        set_string(prefix, UNINSTALL_KEY, "DisplayName", APP)
        set_string(prefix, UNINSTALL_KEY, "UninstallString",
                   "C:\\WINDOWS\\remove-calendar.exe /uninstall")
        print("Sample installation in %s" % prefix.root)
        print("  settings file %s\\ImInitial:" % SETUP_DIR)
        for line in settings.splitlines():
            print("    " + line)
        before, _ = prefix.probe([wine.key_command("dump", PRODUCT_KEY),
                                  wine.key_command("dump", UNINSTALL_KEY)])
        show_key("  HKLM\\" + PRODUCT_KEY, before[0])
        show_key("  HKLM\\" + UNINSTALL_KEY + " (before)", before[1])

        command_line = '"%s\\FinishSetup.exe" -normal' % SETUP_DIR
        print("\nRunning: %s" % command_line)
        code, trace = prefix.call([SETUP_DIR + "\\FinishSetup.exe", "-normal"], "demo",
                                  debug="+msgbox")  # each box answered with Return
        print("  exit code %d" % code)
        for text in wine.message_box_texts(trace):
            print("  message box: %s" % text.replace("\n", " "))
        lines, _ = prefix.probe([wine.key_command("dump", UNINSTALL_KEY),
                                 ["folder", "7"], ["folder", "16"]])
        show_key("  HKLM\\" + UNINSTALL_KEY + " (after)", lines[0])
        print("    (the command is quoted: Windows starts it with CreateProcess and no module "
              "name,\n     and unquoted, a program at C:\\Program.exe would run in its place)")
        for title, line in (("Startup", lines[1]), ("Desktop", lines[2])):
            folder = wine.unhexed(line.split(" ")[1]).decode("utf-8")
            path = folder + "\\" + APP + ".lnk"
            fields = wine.read_link(prefix.unix_path(path))
            print("  %s shortcut %s:" % (title, path))
            for name, content in (fields or {"(not written)": ""}).items():
                print("    %-18s %s" % (name, content))
    finally:
        prefix.close()
        display.close()


if __name__ == "__main__":
    main()

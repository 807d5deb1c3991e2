// libFuzzer target: one whole run of the program on the simulated platform, set up from the
// input, then the invariants every run must keep. The input is text, one directive a line:
//   cmd <command line>                  (without one: "x.exe -normal")
//   ini <line>                          a line of the settings file (none: no file)
//   reg <key>|<name>|<type>|<data>      a registry value under HKEY_LOCAL_MACHINE
//   deny <key>                          the key refuses write access
//   folder <csidl>|<name>               a special folder, a directory <name> in the scratch area
//   fail <n>                            the n-th fallible platform call fails
//   failname <prefix>|<occurrence>      the occurrence-th call named so fails
//   coinit <hresult> / save <hresult>   CoInitialize's result / the save's success result
//   moredata                            every enumeration answers ERROR_MORE_DATA
//   overreport                          over-reported data sizes after a name overflow
//   regw <key>|<name>|<type>|<utf-8>    a value written in UTF-16, as a Unicode installer does;
//                                       its name in UTF-8 too
//   cmdw <utf-8 command line>           the command line typed in UTF-16
//   cp <code page>                      the ANSI code page: 932 (default), 1252 or 65001
//   hidden                              a window station no user can see
//   session <n>                         the process's session (0: the services')
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulated.h"

namespace {

std::string scratch;

[[noreturn]] void Violated(const char* invariant)
{
    std::fprintf(stderr, "invariant violated: %s\n", invariant);
    std::abort();
}

void Require(bool holds, const char* invariant)
{
    if (!holds) Violated(invariant);
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

long Number(const std::string& text)
{
    return std::strtol(text.c_str(), nullptr, 0);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Whether text ends with a backslash that is a character of its own in the run's code page:
// only code page 932 has lead bytes, whose second byte may be 0x5C; code pages 1252 and 65001
// step byte by byte.
bool EndsWithBackslash(const std::string& text)
{
    bool leadBytes = sim::AnsiCodePage() == 932;
    std::size_t i = 0, last = std::string::npos;
    while (i < text.size()) {
        unsigned char byte = static_cast<unsigned char>(text[i]);
        bool lead = leadBytes && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
        last = i;
        i += (lead && i + 1 < text.size()) ? 2 : 1;
    }
    return last != std::string::npos && last == text.size() - 1 && text[last] == '\\';
}

struct Setup {
    std::string commandLine = "x.exe -normal";
    std::u16string typedCommandLine;
    std::string settings;
    bool haveSettings = false;
    bool hidden = false;
    bool serviceSession = false;
    std::set<std::string> folders;
    std::set<std::string> keys;
    // The registry as the run found it, key by key.
    std::vector<std::pair<std::string, std::vector<sim::RegistryValue>>> before;
};

void Apply(const std::string& line, Setup* setup)
{
    std::size_t space = line.find(' ');
    std::string verb = line.substr(0, space);
    std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
    std::vector<std::string> fields = Split(rest, '|');
    if (verb == "cmd") {
        setup->commandLine = rest;
    } else if (verb == "cmdw") {
        setup->typedCommandLine = sim::FromUtf8(rest);
    } else if (verb == "ini") {
        setup->settings += rest + "\r\n";
        setup->haveSettings = true;
    } else if (verb == "reg" && fields.size() == 4) {
        sim::SetRegistryValue(fields[0], fields[1], static_cast<Dword>(Number(fields[2])),
                              fields[3]);
        setup->keys.insert(fields[0]);
    } else if (verb == "deny") {
        sim::DenyWriteAccess(rest);
    } else if (verb == "folder" && fields.size() == 2 &&
               fields[1].find_first_of("/\\") == std::string::npos && fields[1] != "." &&
               fields[1] != "..") {
        sim::SetSpecialFolder(static_cast<int>(Number(fields[0])), scratch + "/" + fields[1]);
        // As the shell names it: in UTF-16, up to its first zero.
        std::string named = sim::ToUtf8(sim::FromUtf8(scratch + "/" + fields[1]));
        setup->folders.insert(named.substr(0, named.find('\0')));
    } else if (verb == "fail") {
        sim::FailCall(static_cast<int>(Number(rest)));
    } else if (verb == "failname" && fields.size() == 2) {
        sim::FailCallNamed(fields[0], static_cast<int>(Number(fields[1])));
    } else if (verb == "coinit") {
        sim::SetCoInitializeResult(static_cast<HResult>(Number(rest)));
    } else if (verb == "save") {
        sim::SetSaveSuccessResult(static_cast<HResult>(Number(rest)));
    } else if (verb == "moredata") {
        sim::ReportMoreDataAlways(true);
    } else if (verb == "overreport") {
        sim::OverReportAfterNameOverflow(true);
    } else if (verb == "regw" && fields.size() == 4) {
        sim::SetRegistryValueW(fields[0], sim::FromUtf8(fields[1]),
                               static_cast<Dword>(Number(fields[2])), sim::FromUtf8(fields[3]));
        setup->keys.insert(fields[0]);
    } else if (verb == "cp" && (rest == "932" || rest == "1252" || rest == "65001")) {
        sim::SetAnsiCodePage(static_cast<unsigned>(Number(rest)));
    } else if (verb == "hidden") {
        sim::SetWindowStationVisible(false);
        setup->hidden = true;
    } else if (verb == "session") {
        sim::SetSessionId(static_cast<Dword>(Number(rest)));
        setup->serviceSession = Number(rest) == 0;
    }
}

// Whether text names a folder whatever the working directory: "X:\...", "\\...", or for an
// expandable value "%...".
bool IsFolder(const std::string& text, Dword type)
{
    if (type == 2 && text.rfind('%', 0) == 0) return true;
    if (text.rfind("\\\\", 0) == 0) return true;
    return text.size() >= 3 && std::isalpha(static_cast<unsigned char>(text[0])) &&
           static_cast<unsigned char>(text[0]) < 0x80 && text.compare(1, 2, ":\\") == 0;
}

// The install paths a run could have used: the text of every value named InstallPath, as the
// ANSI calls read it up to its first zero, that names a folder and holds no quote.
std::set<std::string> InstallPaths(const Setup& setup)
{
    std::set<std::string> paths;
    for (const auto& key : setup.before)
        for (const sim::RegistryValue& value : key.second)
            if (Lower(value.name) == "installpath") {
                std::string text = value.data.substr(0, value.data.find('\0'));
                if (text.find('"') == std::string::npos && IsFolder(text, value.type))
                    paths.insert(text);
            }
    return paths;
}

std::string Joined(const std::string& folder, const std::string& file)
{
    return folder + (EndsWithBackslash(folder) ? "" : "\\") + file;
}

// A REG_SZ command as the registry keeps it and hands it back: through UTF-16 and the code page
// (a binary install path may hold bytes the code page has no character for), with its zero.
std::string AsStored(const std::string& command)
{
    return sim::ToAnsi(sim::ToWide(command + '\0', nullptr), nullptr);
}

void CheckUninstallWrites(const Setup& setup, const std::set<std::string>& installPaths)
{
    int writes = 0;
    for (const std::string& entry : sim::CallLog())
        if (entry.rfind("RegSetValueExA(", 0) == 0) {
            ++writes;
            Require(Lower(entry) == "regsetvalueexa(uninstallstring)",
                    "only UninstallString is written");
        }
    Require(writes <= 1, "at most one registry write");
    for (const auto& key : setup.before) {
        std::vector<sim::RegistryValue> after = sim::RegistryValues(key.first);
        Require(after.size() == key.second.size(), "no value created");
        for (std::size_t i = 0; i < after.size(); ++i) {
            if (after[i] == key.second[i]) continue;
            bool complete = false;
            for (const std::string& path : installPaths)
                complete = complete ||
                           after[i].data == AsStored('"' + Joined(path, "Uninstall.exe") + '"');
            Require(
                Lower(after[i].name) == "uninstallstring" && after[i].type == kRegSz && complete,
                "UninstallString set to a complete command");
        }
    }
}

void CheckLinks(const std::set<std::string>& installPaths)
{
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch)) {
        if (!entry.is_regular_file() || entry.path().filename() == "ImInitial") continue;
        std::string content = sim::ReadSavedLink(entry.path().string());
        std::string target = content.substr(0, content.find('\n'));
        bool complete = false;
        for (const std::string& path : installPaths)
            complete = complete || target == "target=" + Joined(path, "calendar.exe");
        Require(complete || content.rfind("target=\n", 0) == 0, "a link points at calendar.exe");
    }
}

// A link is saved directly in a special folder, never beside it or above it ("..\\..\\Cal").
void CheckSaves(const Setup& setup)
{
    for (const std::string& entry : sim::CallLog())
        if (entry.rfind("Save(", 0) == 0) {
            std::string path = entry.substr(5, entry.size() - 6);
            Require(setup.folders.count(path.substr(0, path.rfind('/'))) == 1,
                    "links saved only in a special folder");
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (scratch.empty()) {
        char pattern[] = "/tmp/finishsetup-fuzz-XXXXXX";
        scratch = mkdtemp(pattern);
    }
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directory(scratch);
    sim::Reset();
    sim::SetModuleFileName(scratch + "/FinishSetup.exe");
    Setup setup;
    for (const std::string& line :
         Split(std::string(reinterpret_cast<const char*>(data), size), '\n'))
        Apply(line, &setup);
    sim::SetCommandLine(setup.commandLine);
    if (!setup.typedCommandLine.empty()) sim::SetCommandLineW(setup.typedCommandLine);
    for (const std::string& key : setup.keys)
        setup.before.push_back({key, sim::RegistryValues(key)});
    if (setup.haveSettings) {
        std::FILE* file = std::fopen((scratch + "/ImInitial").c_str(), "wb");
        std::fwrite(setup.settings.data(), 1, setup.settings.size(), file);
        std::fclose(file);
    }

    Require(StartProgram() == 0, "exit code 0");

    Require(sim::OpenKeyCount() == 0, "every registry handle closed");
    Require(sim::LiveAllocationCount() == 0, "every allocation freed");
    Require(sim::LiveComReferences() == 0, "every COM interface released");
    Require(sim::ComInitializations() == 0, "COM released exactly when initialised");
    int attempts = 0;
    for (const std::string& entry : sim::CallLog())
        attempts += entry.rfind("SHGetSpecialFolderPathW", 0) == 0;
    Require(sim::MessageBoxes().size() <= static_cast<std::size_t>(attempts),
            "one warning per attempt");
    Require((!setup.hidden && !setup.serviceSession) || sim::MessageBoxes().empty(),
            "no box where no one can see it");
    CheckSaves(setup);
    std::set<std::string> installPaths = InstallPaths(setup);
    CheckUninstallWrites(setup, installPaths);
    CheckLinks(installPaths);
    return 0;
}

// The Wine runner's helper role (e2e.exe --probe IN OUT): it reads commands from a file, one a
// line, fields separated by tabs and every field but the first hex-encoded (so that code page
// 932 bytes pass unchanged), and writes one result line per command to an output file:
//   run EXE CWD CMDLINE        -> "exit N us T peak_kb M pid P"  starts EXE (these three
//                                 fields in UTF-8) with exactly
//                                 CMDLINE, waits; T: microseconds from start to exit, M: peak
//                                 working set, P: its process id, as Wine's +pid trace shows it.
//                                 An empty EXE ("-"): no module name, as Windows starts an
//                                 uninstall command
//   set KEY NAME TYPE DATA     -> "set N"         creates KEY under HKLM, writes the value
//   dump KEY [V]               -> "missing" | "key" and " NAME,TYPE,DATA" for each value
//                                 V: the registry view, 32 or 64 (default: the helper's own)
//   folder CSIDL               -> "folder PATH"   (CSIDL in decimal, PATH hex of its UTF-8)
//   subkeys KEY [V]            -> "missing" | "subkeys" and " NAME" for each subkey (UTF-8)
// Copied under any other name than e2e.exe, the program stands in for another program: it
// appends its module path, working directory and command line, hex-encoded UTF-8, as one line
// to the file that FINISHSETUP_E2E_STARTED names, or to C:\started.txt.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e.h"

static std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// KEY_WOW64_32KEY or KEY_WOW64_64KEY from an optional last field, "32" or "64".
static REGSAM View(const std::vector<std::string>& f, std::size_t at)
{
    return f.size() > at ? ViewFlag(std::atoi(f[at].c_str())) : 0;
}

static std::string Run(const std::vector<std::string>& f)
{
    std::wstring exe = FromUtf8(FromHex(f[1])), cwd = FromUtf8(FromHex(f[2])),
                 commandLine = FromUtf8(FromHex(f[3]));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(exe.empty() ? nullptr : exe.c_str(), &commandLine[0], nullptr, nullptr,
                        FALSE, 0, nullptr, cwd.c_str(), &startup, &process))
        return "error " + std::to_string(GetLastError());
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&end);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    PROCESS_MEMORY_COUNTERS memory = {};
    K32GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    long long micros = (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
    char pid[16];
    std::snprintf(pid, sizeof pid, "%04lx", static_cast<unsigned long>(process.dwProcessId));
    return "exit " + std::to_string(code) + " us " + std::to_string(micros) + " peak_kb " +
           std::to_string(memory.PeakWorkingSetSize / 1024) + " pid " + pid;
}

// As another program: records how it was started, in C:\started.txt.
int RecordStart()
{
    wchar_t module[MAX_PATH], directory[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, directory);
    std::string line = "started";
    for (const std::string& field : {Utf8(module), Utf8(directory), Utf8(GetCommandLineW())})
        line += " " + Hex(field);
    wchar_t record[MAX_PATH] = L"C:\\started.txt";
    GetEnvironmentVariableW(kStartedVariable, record, MAX_PATH);
    FILE* out = _wfopen(record, L"ab");
    if (out == nullptr) return 1;
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
    return 0;
}

static std::string Set(const std::vector<std::string>& f)
{
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, FromHex(f[1]).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return "set " + std::to_string(status);
    std::string data = FromHex(f[4]);
    status =
        RegSetValueExA(key, FromHex(f[2]).c_str(), 0, std::strtoul(f[3].c_str(), nullptr, 10),
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return "set " + std::to_string(status);
}

static std::string Dump(const std::vector<std::string>& f)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FromHex(f[1]).c_str(), 0, KEY_READ | View(f, 2), &key) !=
        ERROR_SUCCESS)
        return "missing";
    std::string out = "key";
    std::vector<char> name(70000);
    std::vector<BYTE> data(1 << 20);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size()),
              dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS)
            break;
        out += " " + Hex(std::string(name.data(), nameSize)) + "," + std::to_string(type) + "," +
               Hex(std::string(reinterpret_cast<char*>(data.data()), dataSize));
    }
    RegCloseKey(key);
    return out;
}

static std::string SpecialFolder(const std::vector<std::string>& f)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, std::atoi(f[1].c_str()), FALSE)) return "folder -";
    std::string utf8 = Utf8(path);
    return "folder " + Hex(utf8);
}

static std::string Subkeys(const std::vector<std::string>& f)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, FromCodePage(FromHex(f[1])).c_str(), 0,
                      KEY_READ | View(f, 2), &key) != ERROR_SUCCESS)
        return "missing";
    std::string out = "subkeys";
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = 256;
        if (RegEnumKeyExW(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        out += " " + Hex(Utf8(std::wstring(name, size)));
    }
    RegCloseKey(key);
    return out;
}

static std::string Perform(const std::vector<std::string>& f)
{
    const std::string& command = f[0];
    if (command == "run" && f.size() == 4) return Run(f);
    if (command == "set" && f.size() == 5) return Set(f);
    if (command == "dump" && (f.size() == 2 || f.size() == 3)) return Dump(f);
    if (command == "folder" && f.size() == 2) return SpecialFolder(f);
    if (command == "subkeys" && (f.size() == 2 || f.size() == 3)) return Subkeys(f);
    return "bad command";
}

bool IsRecorder()
{
    wchar_t module[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    const wchar_t* name = module + length;
    while (name > module && name[-1] != L'\\') --name;
    return lstrcmpiW(name, L"e2e.exe") != 0;
}

int RunProbe(const std::wstring& commands, const std::wstring& results)
{
    FILE* in = _wfopen(commands.c_str(), L"rb");
    FILE* out = _wfopen(results.c_str(), L"wb");
    if (in == nullptr || out == nullptr) return 2;
    char line[1 << 16];
    while (std::fgets(line, sizeof line, in)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty()) continue;
        std::fprintf(out, "%s\n", Perform(SplitFields(text)).c_str());
    }
    std::fclose(out);
    std::fclose(in);
    return 0;
}

// The Wine tests' helper, run inside the prefix. It reads commands from a file, one a line,
// fields separated by tabs and every field but the first hex-encoded (so that code page 932
// bytes pass unchanged), and writes one result line per command to an output file:
//   run EXE CWD CMDLINE        -> "exit N us T peak_kb M pid P"  starts EXE with exactly
//                                 CMDLINE, waits; T: microseconds from start to exit, M: peak
//                                 working set, P: its process id, as Wine's +pid trace shows it
//   set KEY NAME TYPE DATA [V] -> "set N"         creates KEY under HKLM, writes the value
//   delete KEY [V]             -> "delete N"      removes KEY and its subkeys
//   dump KEY [V]               -> "missing" | "key" and " NAME,TYPE,DATA" for each value
//                                 V: the registry view, 32 or 64 (default: the helper's own)
//   folder CSIDL               -> "folder PATH"   (CSIDL in decimal, PATH hex)
//   exists PATH                -> "exists 0|1"
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

static std::string ToHex(const void* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        hex.push_back(digits[bytes[i] >> 4]);
        hex.push_back(digits[bytes[i] & 15]);
    }
    return hex.empty() ? "-" : hex;
}

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

// KEY_WOW64_32KEY or KEY_WOW64_64KEY from an optional last field.
static REGSAM View(const std::vector<std::string>& f, std::size_t at)
{
    if (f.size() <= at) return 0;
    return f[at] == "32" ? KEY_WOW64_32KEY : f[at] == "64" ? KEY_WOW64_64KEY : 0;
}

static std::string Run(const std::vector<std::string>& f)
{
    std::string exe = FromHex(f[1]), cwd = FromHex(f[2]), commandLine = FromHex(f[3]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        cwd.c_str(), &startup, &process))
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

static std::string Set(const std::vector<std::string>& f)
{
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, FromHex(f[1]).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | View(f, 5), nullptr, &key, nullptr);
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
        out += " " + ToHex(name.data(), nameSize) + "," + std::to_string(type) + "," +
               ToHex(data.data(), dataSize);
    }
    RegCloseKey(key);
    return out;
}

static std::string Delete(const std::vector<std::string>& f)
{
    HKEY key;
    std::string path = FromHex(f[1]);
    LONG status =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS | View(f, 2), &key);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeA(key, nullptr);
        RegCloseKey(key);
    }
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), View(f, 2), 0);
    return "delete " + std::to_string(status);
}

static std::string SpecialFolder(const std::vector<std::string>& f)
{
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, std::atoi(f[1].c_str()), FALSE)) return "folder -";
    return "folder " + ToHex(path, strlen(path));
}

static std::string Perform(const std::vector<std::string>& f)
{
    const std::string& command = f[0];
    if (command == "run" && f.size() == 4) return Run(f);
    if (command == "set" && (f.size() == 5 || f.size() == 6)) return Set(f);
    if (command == "delete" && (f.size() == 2 || f.size() == 3)) return Delete(f);
    if (command == "dump" && (f.size() == 2 || f.size() == 3)) return Dump(f);
    if (command == "folder" && f.size() == 2) return SpecialFolder(f);
    if (command == "exists" && f.size() == 2)
        return std::string("exists ") +
               (GetFileAttributesA(FromHex(f[1]).c_str()) != INVALID_FILE_ATTRIBUTES ? "1" : "0");
    return "bad command";
}

int main(int argc, char** argv)
{
    if (argc != 3) return 2;
    FILE* in = std::fopen(argv[1], "rb");
    FILE* out = std::fopen(argv[2], "wb");
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

// The Wine runner's helper role (e2e.exe --probe IN OUT): it reads commands from a file, one a
// line, fields separated by tabs and every field but the first hex-encoded UTF-8, and writes one
// result line per command to an output file:
//   dump KEY [V]         -> "missing" | "key" and " NAME,TYPE,DATA" for each value of HKLM\KEY
//                           as the wide API reads it (NAME in hex UTF-8, DATA its bytes in hex);
//                           V: the registry view, 32 or 64 (default: the helper's own)
//   folder CSIDL         -> "folder PATH"   (CSIDL in decimal, PATH in hex UTF-8)
//   subkeys KEY [V]      -> "missing" | "subkeys" and " NAME" for each subkey (hex UTF-8)
// Copied under any other name than e2e.exe, the program stands in for another program: it
// appends its module path and working directory, hex-encoded UTF-8, as one line to the file
// that FINISHSETUP_E2E_STARTED names, or to C:\started.txt.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace {

std::vector<std::string> SplitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

std::wstring Field(const std::vector<std::string>& f, std::size_t at)
{
    return FromUtf8(FromHex(f[at]));
}

// The registry view of an optional last field, "32" or "64".
int ViewOf(const std::vector<std::string>& f, std::size_t at)
{
    return f.size() > at ? std::atoi(f[at].c_str()) : 0;
}

std::string Dump(const std::vector<std::string>& f)
{
    std::optional<std::vector<Value>> values = ReadKey(Field(f, 1), ViewOf(f, 2));
    if (!values) return "missing";
    std::string out = "key";
    for (const Value& v : *values)
        out += " " + Hex(Utf8(v.name)) + "," + std::to_string(v.type) + "," + Hex(v.data);
    return out;
}

std::string Subkeys(const std::vector<std::string>& f)
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, Field(f, 1).c_str(), 0, KEY_READ | ViewFlag(ViewOf(f, 2)),
                      &key) != ERROR_SUCCESS)
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

std::string Perform(const std::vector<std::string>& f)
{
    const std::string& command = f[0];
    if (command == "dump" && (f.size() == 2 || f.size() == 3)) return Dump(f);
    if (command == "folder" && f.size() == 2)
        return "folder " + Hex(Utf8(SpecialFolder(std::atoi(f[1].c_str()))));
    if (command == "subkeys" && (f.size() == 2 || f.size() == 3)) return Subkeys(f);
    return "bad command";
}

}  // namespace

int RecordStart()
{
    wchar_t module[MAX_PATH], directory[MAX_PATH];
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, directory);
    wchar_t record[MAX_PATH] = L"C:\\started.txt";
    GetEnvironmentVariableW(kStartedVariable, record, MAX_PATH);
    std::ofstream out(record, std::ios::app | std::ios::binary);
    out << Hex(Utf8(module)) << ' ' << Hex(Utf8(directory)) << '\n';
    return out.flush().good() ? 0 : 1;
}

int RunProbe(const std::wstring& commands, const std::wstring& results)
{
    std::ifstream in(commands.c_str(), std::ios::binary);
    std::ofstream out(results.c_str(), std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out << Perform(SplitFields(line)) << '\n';
    return in.eof() && out.flush().good() ? 0 : 2;
}

// The simulated shell: special folders, the shell link object, COM initialisation, the
// window station, and message boxes that record what they were given.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulated.h"

namespace {

struct LinkObject {
    int references = 1;
    std::string path, description, workingDirectory;
    bool workingDirectorySet = false;
};

std::map<int, std::string> specialFolders;
std::vector<sim::ShownMessage> messageBoxes;
HResult coInitializeResult = 0;
HResult saveSuccessResult = 0;
int comInitializations = 0;
int liveReferences = 0;
bool windowStationVisible = true;
std::map<std::string, std::string> shortNames;  // folder/ALIAS (host, UTF-8) to the long path

// A host file name (UTF-8) in upper case, as Windows compares names.
std::string UpperName(const std::string& name)
{
    std::u16string units = sim::FromUtf8(name);
    for (char16_t& unit : units) unit = sim::UpperUnit(unit);
    return sim::ToUtf8(units);
}

// A Windows path as the host names it: UTF-8, '/' for '\\'.
std::string HostPath(const char16_t* path)
{
    std::string name = sim::ToUtf8(path);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

// The file a path opens, as Windows finds it: by its last name without case, or by a short
// name given to a file there; the path itself when nothing stands there.
std::string Resolve(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    std::string folder = path.substr(0, slash), name = UpperName(path.substr(slash + 1));
    auto alias = shortNames.find(folder + "/" + name);
    if (alias != shortNames.end()) return alias->second;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (UpperName(entry.path().filename().string()) == name) return entry.path().string();
    return path;
}

LinkObject* ToObject(ShellLinkHandle link)
{
    return reinterpret_cast<LinkObject*>(link);
}

LinkObject* ToObject(PersistFileHandle file)
{
    return reinterpret_cast<LinkObject*>(file);
}

void DropReference(LinkObject* object)
{
    --liveReferences;
    if (--object->references == 0) {
        delete object;
    }
}

}  // namespace

namespace sim {

void ResetShell()
{
    specialFolders.clear();
    messageBoxes.clear();
    coInitializeResult = 0;
    saveSuccessResult = 0;
    comInitializations = 0;
    windowStationVisible = true;
    shortNames.clear();
}

void SetShortName(const std::string& path, const std::string& shortName)
{
    shortNames[path.substr(0, path.rfind('/') + 1) + UpperName(shortName)] = path;
}

void SetWindowStationVisible(bool visible)
{
    windowStationVisible = visible;
}

void SetSpecialFolder(int csidl, const std::string& path)
{
    specialFolders[csidl] = path;
}

void SetCoInitializeResult(HResult result)
{
    coInitializeResult = result;
}

void SetSaveSuccessResult(HResult result)
{
    saveSuccessResult = result;
}

const std::vector<ShownMessage>& MessageBoxes()
{
    return messageBoxes;
}

int LiveComReferences()
{
    return liveReferences;
}

int ComInitializations()
{
    return comInitializations;
}

std::string ReadSavedLink(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace sim

namespace os {

HResult CoInitialize()
{
    if (sim::EnterCall("CoInitialize")) return kEFail;
    if (coInitializeResult >= 0) ++comInitializations;
    return coInitializeResult;
}

void CoUninitialize()
{
    sim::Record("CoUninitialize");
    --comInitializations;
}

HResult CoCreateShellLink(ShellLinkHandle* link)
{
    *link = nullptr;
    if (sim::EnterCall("CoCreateShellLink")) return kEFail;
    LinkObject* object = new LinkObject;
    ++liveReferences;
    *link = reinterpret_cast<ShellLinkHandle>(object);
    return kSOk;
}

HResult QueryPersistFile(ShellLinkHandle link, PersistFileHandle* file)
{
    *file = nullptr;
    if (sim::EnterCall("QueryPersistFile")) return static_cast<HResult>(0x80004002);
    ++ToObject(link)->references;
    ++liveReferences;
    *file = reinterpret_cast<PersistFileHandle>(link);
    return kSOk;
}

HResult SetPath(ShellLinkHandle link, const char* path)
{
    if (sim::EnterCall(std::string("SetPath(") + path + ")")) return kEFail;
    ToObject(link)->path = path;
    return kSOk;
}

HResult SetDescription(ShellLinkHandle link, const char* description)
{
    if (sim::EnterCall(std::string("SetDescription(") + description + ")")) return kEFail;
    ToObject(link)->description = description;
    return kSOk;
}

HResult SetWorkingDirectory(ShellLinkHandle link, const char* directory)
{
    if (sim::EnterCall(std::string("SetWorkingDirectory(") + directory + ")")) return kEFail;
    ToObject(link)->workingDirectory = directory;
    ToObject(link)->workingDirectorySet = true;
    return kSOk;
}

// Writes the link's fields to the file named, its backslashes taken as the host's separator.
// The last name is taken as Windows takes it: a name it refuses (a wildcard, a quote, a pipe, a
// control character) fails; a device (NUL, COM1, "Aux.Cal": Windows opens the device, with any
// extension and trailing spaces) takes the bytes, and a name with a colon is a stream of the
// file before the colon (NTFS: "Cal: Pro.lnk" is the stream " Pro.lnk" of an empty file "Cal").
// Both succeed and leave no link file.
HResult Save(PersistFileHandle file, const char16_t* fileName, int)
{
    static const std::regex device(
        "(con|prn|aux|nul|(com|lpt)([0-9]|\xc2\xb9|\xc2\xb2|\xc2\xb3)) *(\\..*)?",
        std::regex::icase);
    std::string name = HostPath(fileName);
    if (sim::EnterCall("Save(" + name + ")")) return kEFail;
    std::string last = name.substr(name.rfind('/') + 1);
    if (std::any_of(last.begin(), last.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x20 || std::strchr("*?\"<>|", c) != nullptr;
        }))
        return static_cast<HResult>(0x8007007B);  // the name is not valid
    if (std::regex_match(last, device)) return saveSuccessResult;
    std::size_t colon = last.find(':');
    if (colon != std::string::npos) name.resize(name.size() - last.size() + colon);
    std::ofstream out(Resolve(name), std::ios::binary | std::ios::trunc);
    if (!out) return static_cast<HResult>(0x80070003);  // the path was not found
    if (colon != std::string::npos) return saveSuccessResult;
    const LinkObject* object = ToObject(file);
    out << "target=" << object->path
        << "\nworkdir=" << (object->workingDirectorySet ? object->workingDirectory : "(unset)")
        << "\ndescription=" << object->description << "\n";
    return saveSuccessResult;
}

void Release(PersistFileHandle file)
{
    sim::Record("Release(IPersistFile)");
    DropReference(ToObject(file));
}

void Release(ShellLinkHandle link)
{
    sim::Record("Release(IShellLinkA)");
    DropReference(ToObject(link));
}

Dword GetFileAttributesW(const char16_t* path)
{
    if (sim::EnterCall("GetFileAttributesW")) return kInvalidFileAttributes;
    std::error_code error;
    std::filesystem::file_status status = std::filesystem::status(Resolve(HostPath(path)), error);
    if (!std::filesystem::exists(status)) return kInvalidFileAttributes;
    return std::filesystem::is_directory(status) ? 0x10 : 0x20;  // DIRECTORY, ARCHIVE
}

// The path with its last name as the folder lists it; the folders above are taken as given.
Dword GetLongPathNameW(const char16_t* path, char16_t* longPath, Dword size)
{
    if (sim::EnterCall("GetLongPathNameW")) return 0;
    std::string file = Resolve(HostPath(path));
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return 0;
    std::u16string given(path);
    std::u16string result =
        given.substr(0, given.rfind(u'\\') + 1) + sim::FromUtf8(file.substr(file.rfind('/') + 1));
    if (result.size() >= size) return static_cast<Dword>(result.size() + 1);
    std::copy(result.begin(), result.end(), longPath);
    longPath[result.size()] = 0;
    return static_cast<Dword>(result.size());
}

int CompareStringOrdinal(const char16_t* left, const char16_t* right, int ignoreCase)
{
    sim::Record("CompareStringOrdinal");
    for (;; ++left, ++right) {
        char16_t a = ignoreCase ? sim::UpperUnit(*left) : *left;
        char16_t b = ignoreCase ? sim::UpperUnit(*right) : *right;
        if (a != b) return a < b ? 1 : 3;  // CSTR_LESS_THAN, CSTR_GREATER_THAN
        if (a == 0) return kCstrEqual;
    }
}

// The folder's host path (UTF-8) in UTF-16, as the shell names it whatever the code page.
int SHGetSpecialFolderPathW(char16_t* path, int folder, int create)
{
    if (sim::EnterCall("SHGetSpecialFolderPathW(" + std::to_string(folder) + ")")) return 0;
    auto found = specialFolders.find(folder);
    if (found == specialFolders.end()) return 0;
    std::u16string wide = sim::FromUtf8(found->second);
    if (wide.size() >= kMaxPath) return 0;
    if (create) mkdir(found->second.c_str(), 0755);
    std::copy(wide.begin(), wide.end(), path);
    path[wide.size()] = 0;
    return 1;
}

int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style)
{
    sim::Record("MessageBoxW");
    messageBoxes.push_back({text, caption, style});
    return 1;  // IDOK
}

WindowStationHandle GetProcessWindowStation()
{
    sim::Record("GetProcessWindowStation");
    return 0x40;
}

int GetUserObjectFlags(WindowStationHandle station, Dword* flags)
{
    if (sim::EnterCall("GetUserObjectFlags") || station != 0x40) return 0;
    *flags = windowStationVisible ? kWsfVisible : 0;
    return 1;
}

}  // namespace os

// An in-memory registry under HKEY_LOCAL_MACHINE that answers as the ANSI registry API does,
// and the process heap, both counting what is still open.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulated.h"

namespace {

const Status kErrorFileNotFound = 2;
const Status kErrorAccessDenied = 5;
const Status kErrorInvalidHandle = 6;
const Status kErrorInternal = 1359;
const Dword kKeySetValue = 0x2;

// A value as Windows keeps it: its name and string data in UTF-16.
struct StoredValue {
    std::u16string name;
    Dword type;
    std::string data;
};

struct Key {
    // cppcheck-suppress unusedStructMember ; read through keys[...].values
    std::vector<StoredValue> values;
    bool denyWrite = false;
};

struct OpenKey {
    std::string path;
    Dword access;
};

std::map<std::string, Key> keys;  // by canonical path
std::map<KeyHandle, OpenKey> openKeys;
KeyHandle nextHandle = 0x1000;
std::set<void*> liveBlocks;
bool moreDataAlways = false;
bool overReport = false;

// Registry names compare without case; only single-byte letters fold, never the second byte
// of a double-byte character.
std::string Lower(const std::string& text)
{
    std::string lower;
    for (const char* at = text.c_str(); *at != 0;) {
        const char* next = os::CharNextA(at);
        char c = *at;
        if (next == at + 1 && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        lower += c;
        lower.append(at + 1, next);
        at = next;
    }
    return lower;
}

// Lower case, empty components dropped: "SOFTWARE\\\\App\\" is "software\\app", as the tests
// name keys; the program's own opens are held to HasEmptyComponent. The path is read
// character by character in code page 932, as Windows reads it after converting it to
// UTF-16: the second byte of a double-byte character is no separator, even when it is 0x5C.
std::string Canonical(const std::string& path)
{
    std::string text = path.substr(0, path.find('\0'));  // an ANSI string ends at its zero
    std::string result, component;
    for (const char* at = text.c_str();;) {
        const char* next = os::CharNextA(at);
        if (*at == 0 || (*at == '\\' && next == at + 1)) {
            if (!component.empty()) result += (result.empty() ? "" : "\\") + Lower(component);
            component.clear();
            if (*at == 0) return result;
        } else {
            component.append(at, next);
        }
        at = next;
    }
}

// Windows' tree search reads "a\\b", "\a" and "a\" as holding a key named "", which no key
// is: the open fails. (Its cache of recently opened keys may collapse the separators, and Wine
// always does; neither can be relied on.) Stepped by characters, as Canonical does.
bool HasEmptyComponent(const char* subkey)
{
    bool afterSeparator = true;
    for (const char* at = subkey; *at != 0;) {
        const char* next = os::CharNextA(at);
        bool separator = *at == '\\' && next == at + 1;
        if (separator && afterSeparator) return true;
        afterSeparator = separator;
        at = next;
    }
    return afterSeparator && *subkey != 0;
}

std::string Join(const std::string& parent, const char* subkey)
{
    if (subkey == nullptr) return parent;
    return Canonical(parent + "\\" + subkey);
}

bool Exists(const std::string& canonical)
{
    if (canonical.empty()) return true;  // the root itself
    for (const auto& entry : keys) {
        const std::string& path = entry.first;
        if (path == canonical || path.rfind(canonical + "\\", 0) == 0) return true;
    }
    return false;
}

// The registry path behind an open handle, or nullptr for a null or unknown handle.
const OpenKey* Lookup(KeyHandle handle)
{
    static const OpenKey root = {"", kKeyRead};
    if (handle == kLocalMachine) return &root;
    auto found = openKeys.find(handle);
    return found == openKeys.end() ? nullptr : &found->second;
}

bool IsStringType(Dword type)
{
    return type == 1 || type == 2 || type == 7;  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ
}

// Windows keeps string data in UTF-16 and converts it in each ANSI call with the code page;
// other data is kept and handed over as it is.
std::string StoredFromAnsi(Dword type, const std::string& data)
{
    if (!IsStringType(type)) return data;
    return sim::ToUtf16Bytes(sim::ToWide(data, nullptr));
}

std::string AnsiFromStored(Dword type, const std::string& stored)
{
    if (!IsStringType(type)) return stored;
    return sim::ToAnsi(sim::FromUtf16Bytes(stored), nullptr);
}

// Value names compare without case, by the same table as file names.
std::u16string FoldedName(std::u16string name)
{
    for (char16_t& unit : name) unit = sim::UpperUnit(unit);
    return name;
}

// A name the ANSI calls give: converted with the code page, up to its zero.
std::u16string WideName(const std::string& name)
{
    return sim::ToWide(name.substr(0, name.find('\0')), nullptr);
}

void StoreValue(const std::string& keyPath, const std::u16string& valueName, Dword type,
                const std::string& stored)
{
    std::vector<StoredValue>& values = keys[Canonical(keyPath)].values;
    auto value = std::find_if(values.begin(), values.end(), [&](const StoredValue& v) {
        return FoldedName(v.name) == FoldedName(valueName);
    });
    if (value == values.end()) {
        values.push_back({valueName, type, stored});
    } else {
        value->type = type;
        value->data = stored;
    }
}

// The value at index of the key behind the handle, for the enumerations; what they answer
// before they look at it otherwise.
Status ValueAt(const std::string& call, KeyHandle key, Dword index, const StoredValue** value)
{
    bool failed = sim::EnterCall(call + "(" + std::to_string(index) + ")");
    const OpenKey* open = Lookup(key);
    if (open == nullptr) return kErrorInvalidHandle;
    if (failed) return kErrorInternal;
    auto found = keys.find(open->path);
    if (found == keys.end() || index >= found->second.values.size()) return kErrorNoMoreItems;
    *value = &found->second.values[index];
    return kErrorSuccess;
}

}  // namespace

namespace sim {

void ResetRegistry()
{
    keys.clear();
    openKeys.clear();
    for (void* block : liveBlocks) std::free(block);
    liveBlocks.clear();
    moreDataAlways = false;
    overReport = false;
}

void SetRegistryValue(const std::string& keyPath, const std::string& name, Dword type,
                      const std::string& data)
{
    StoreValue(keyPath, WideName(name), type, StoredFromAnsi(type, data));
}

void SetRegistryValueW(const std::string& keyPath, const std::string& name, Dword type,
                       const std::u16string& data)
{
    SetRegistryValueW(keyPath, WideName(name), type, data);
}

void SetRegistryValueW(const std::string& keyPath, const std::u16string& name, Dword type,
                       const std::u16string& data)
{
    StoreValue(keyPath, name, type, sim::ToUtf16Bytes(data));
}

void DenyWriteAccess(const std::string& keyPath)
{
    keys[Canonical(keyPath)].denyWrite = true;
}

bool RegistryKeyExists(const std::string& keyPath)
{
    return Exists(Canonical(keyPath));
}

std::vector<RegistryValue> RegistryValues(const std::string& keyPath)
{
    auto found = keys.find(Canonical(keyPath));
    std::vector<RegistryValue> values;
    if (found == keys.end()) return values;
    std::transform(found->second.values.begin(), found->second.values.end(),
                   std::back_inserter(values), [](const StoredValue& v) {
                       return RegistryValue{sim::ToAnsi(v.name, nullptr), v.type,
                                            AnsiFromStored(v.type, v.data)};
                   });
    return values;
}

void ReportMoreDataAlways(bool always)
{
    moreDataAlways = always;
}

void OverReportAfterNameOverflow(bool overReporting)
{
    overReport = overReporting;
}

int OpenKeyCount()
{
    return static_cast<int>(openKeys.size());
}

int LiveAllocationCount()
{
    return static_cast<int>(liveBlocks.size());
}

}  // namespace sim

namespace os {

void* Allocate(std::size_t size)
{
    if (sim::EnterCall("Allocate(" + std::to_string(size) + ")")) return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr) liveBlocks.insert(block);
    return block;
}

void Free(void* block)
{
    if (block == nullptr) return;
    if (liveBlocks.erase(block) == 0) std::abort();  // freed twice, or never allocated
    std::free(block);
}

Status RegOpenKeyExA(KeyHandle parent, const char* subkey, Dword, Dword access, KeyHandle* result)
{
    bool failed = sim::EnterCall(std::string("RegOpenKeyExA(") + (subkey ? subkey : "NULL") + ")");
    *result = 0;
    const OpenKey* parentKey = Lookup(parent);
    if (parentKey == nullptr) return kErrorInvalidHandle;
    if (failed) return kErrorInternal;
    if (subkey != nullptr && HasEmptyComponent(subkey)) return kErrorFileNotFound;
    std::string path = Join(parentKey->path, subkey);
    if (!Exists(path)) return kErrorFileNotFound;
    auto key = keys.find(path);
    if ((access & kKeySetValue) && key != keys.end() && key->second.denyWrite)
        return kErrorAccessDenied;
    *result = nextHandle++;
    openKeys[*result] = {path, access};
    return kErrorSuccess;
}

// As Windows answers: data that does not fit is reported first, with the size it needs and
// the name size untouched; a name that does not fit is cut into the buffer, its size again
// untouched. A string without its zero gets one when the buffer has room. Over-reporting, as
// Japanese Windows 10 may after a name overflow: the data size reported is larger than the
// data and than its buffer, and the name size is changed (Microsoft: undefined).
Status RegEnumValueA(KeyHandle key, Dword index, char* name, Dword* nameSize, Dword* type,
                     unsigned char* data, Dword* dataSize)
{
    const StoredValue* at = nullptr;
    Status status = ValueAt("RegEnumValueA", key, index, &at);
    if (status != kErrorSuccess) return status;
    const StoredValue& value = *at;
    std::string valueName = sim::ToAnsi(value.name, nullptr);  // best fit, as Windows converts
    *type = value.type;
    std::string ansi = AnsiFromStored(value.type, value.data);
    Dword length = static_cast<Dword>(ansi.size());
    bool nameFits = valueName.size() < *nameSize;
    if (overReport && !nameFits) {
        *dataSize = length + *dataSize + 1;
        *nameSize = 1;
        return kErrorMoreData;
    }
    if (moreDataAlways || length > *dataSize) {
        *dataSize = length + (moreDataAlways ? *dataSize + 1 : 0);
        return kErrorMoreData;
    }
    std::memcpy(data, ansi.data(), length);
    if (IsStringType(value.type) && length > 0 && length < *dataSize && data[length - 1] != 0)
        data[length] = 0;
    *dataSize = length;
    if (!nameFits) {
        if (*nameSize > 0) {
            std::memcpy(name, valueName.data(), *nameSize - 1);
            name[*nameSize - 1] = 0;
        }
        return kErrorMoreData;
    }
    std::memcpy(name, valueName.c_str(), valueName.size() + 1);
    *nameSize = static_cast<Dword>(valueName.size());
    return kErrorSuccess;
}

// The name as stored; a buffer too small for it and its zero: ERROR_MORE_DATA.
Status RegEnumValueW(KeyHandle key, Dword index, char16_t* name, Dword* nameSize)
{
    const StoredValue* value = nullptr;
    Status status = ValueAt("RegEnumValueW", key, index, &value);
    if (status != kErrorSuccess) return status;
    const std::u16string& stored = value->name;
    if (stored.size() >= *nameSize) return kErrorMoreData;
    std::copy(stored.begin(), stored.end(), name);
    name[stored.size()] = 0;
    *nameSize = static_cast<Dword>(stored.size());
    return kErrorSuccess;
}

// The data as stored: string data in UTF-16. Without a buffer, only its size.
Status RegQueryValueExW(KeyHandle key, const char16_t* name, Dword* type, unsigned char* data,
                        Dword* dataSize)
{
    bool failed = sim::EnterCall("RegQueryValueExW");
    const OpenKey* open = Lookup(key);
    if (open == nullptr) return kErrorInvalidHandle;
    if (failed) return kErrorInternal;
    auto found = keys.find(open->path);
    if (found == keys.end()) return kErrorFileNotFound;
    for (const StoredValue& value : found->second.values) {
        if (FoldedName(value.name) != FoldedName(name)) continue;
        *type = value.type;
        Dword size = static_cast<Dword>(value.data.size());
        if (data != nullptr && size > *dataSize) {
            *dataSize = size;
            return kErrorMoreData;
        }
        if (data != nullptr) std::copy(value.data.begin(), value.data.end(), data);
        *dataSize = size;
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

Status RegSetValueExA(KeyHandle key, const char* name, Dword, Dword type, const unsigned char* data,
                      Dword dataSize)
{
    bool failed = sim::EnterCall(std::string("RegSetValueExA(") + name + ")");
    const OpenKey* open = Lookup(key);
    if (open == nullptr) return kErrorInvalidHandle;
    if (failed || !(open->access & kKeySetValue)) return kErrorAccessDenied;
    std::string text(reinterpret_cast<const char*>(data), dataSize);
    StoreValue(open->path, WideName(name), type, StoredFromAnsi(type, text));
    return kErrorSuccess;
}

Status RegCloseKey(KeyHandle key)
{
    sim::Record("RegCloseKey");
    if (key == kLocalMachine) return kErrorSuccess;
    return openKeys.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

}  // namespace os

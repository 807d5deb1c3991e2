#include "registry/install_path.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/value_search.h"
#include "run/code_page.h"
#include "run/setup_names.h"

// The longest value name FindValueByName can match here: "InstallPath" and its zero.
static const int kInstallPathNameUnits = 12;

static bool IsStringType(Dword type)
{
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

// The value's text: up to its first zero byte, or all of its data when it holds none.
static std::size_t TextLength(const FoundValue* found)
{
    const void* zero = std::memchr(found->data, 0, found->dataSize);
    return zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - found->data)
                : found->dataSize;
}

static int CopyValueText(char* destination, std::size_t capacity, const FoundValue* found)
{
    std::size_t length = TextLength(found);
    if (length >= capacity) return 0;
    std::memcpy(destination, found->data, length);
    destination[length] = 0;
    return 1;
}

// The stored UTF-16 data, up to its first zero unit, is exactly what the text converts to.
static int IsStoredText(const unsigned char* stored, Dword size, const FoundValue* found,
                        std::size_t length)
{
    char16_t units[kMaxPath];
    std::size_t count = 0;
    for (; count < size / 2 && count < kMaxPath; ++count) {
        std::memcpy(&units[count], stored + 2 * count, sizeof units[count]);
        if (units[count] == 0) break;
    }
    if (count == kMaxPath) return 0;  // longer than any text the program takes
    if (count == size / 2) units[count] = 0;
    return WidenedPrefix(reinterpret_cast<const char*>(found->data), length, units) ==
           static_cast<int>(count);
}

// The registry keeps string data in UTF-16 and hands it to the ANSI calls converted with the
// system's code page: a character the code page lacks arrives as '?' or as a best-fit
// look-alike ("C:\Café" as "C:\Cafe", another folder). The text read counts only when it
// converts back to exactly what is stored. No caller takes a path of MAX_PATH bytes or more.
static int IsExactInCodePage(KeyHandle key, const FoundValue* found, std::size_t length)
{
    char16_t name[kInstallPathNameUnits];
    if (length >= kMaxPath) return 0;
    if (os::MultiByteToWideChar(kCpAcp, 0, found->name, -1, name, kInstallPathNameUnits) == 0)
        return 0;
    Dword type = 0, size = 0;
    if (os::RegQueryValueExW(key, name, &type, nullptr, &size) != kErrorSuccess) return 0;
    unsigned char* stored = static_cast<unsigned char*>(os::Allocate(size > 0 ? size : 1));
    if (stored == nullptr) return 0;
    int exact = os::RegQueryValueExW(key, name, &type, stored, &size) == kErrorSuccess &&
                IsStringType(type) && IsStoredText(stored, size, found, length);
    os::Free(stored);
    return exact;
}

static int IsAsciiLetter(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

// A folder, whatever the working directory: "X:\..." or "\\server\share...", or an
// expandable value in its usual form, "%ProgramFiles%\...", kept unexpanded. An empty or
// relative path, or "C:Cal", would make the links point at nothing and the uninstall command
// start nothing. None of the bytes tested can be the second byte of a character: the text
// starts there, and each byte before is an ASCII character.
static int IsAbsoluteFolder(const FoundValue* found, std::size_t length)
{
    const unsigned char* text = found->data;
    if (found->type == kRegExpandSz && length >= 1 && text[0] == '%') return 1;
    if (length >= 2 && text[0] == '\\' && text[1] == '\\') return 1;
    return length >= 3 && IsAsciiLetter(text[0]) && text[1] == ':' && text[2] == '\\';
}

// A path the program can use as the installation meant it: a folder, and the text stored. A
// quote, which no folder name can hold, would end the quoted uninstall command early. Data of
// other types has no conversion; its text counts as it stands.
static int IsUsableInstallPath(KeyHandle key, const FoundValue* found)
{
    std::size_t length = TextLength(found);
    if (std::memchr(found->data, '"', length) != nullptr) return 0;
    if (!IsAbsoluteFolder(found, length)) return 0;
    return !IsStringType(found->type) || IsExactInCodePage(key, found, length);
}

int QueryInstallPath(char* destination, std::size_t capacity)
{
    if (!IsNameAvailable(ProductKeyPath)) return 0;
    LocalMachineKey opened = OpenLocalMachineKey(ProductKeyPath, kKeyRead);
    FoundValue found = {};
    int result = FindValueByName(opened.key, "InstallPath", &found) &&
                 IsUsableInstallPath(opened.key, &found) &&
                 CopyValueText(destination, capacity, &found);
    ReleaseFoundValue(&found);
    CloseLocalMachineKey(opened);
    return result;
}

// A profile (INI) reader over real files, as Windows reads them: a file in the ANSI code page,
// or in UTF-16LE with its BOM, handed over in UTF-16; sections and keys matched without ASCII
// case; spaces and tabs around keys and values dropped, one pair of matching quotes around a
// value removed; the value cut to size - 1 units.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "simulated.h"

namespace {

std::string Trim(const std::string& text)
{
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(const std::string& left, const std::string& right)
{
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(left[i]);
        unsigned char b = static_cast<unsigned char>(right[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        return value.substr(1, value.size() - 2);
    return value;
}

// The file's text, in UTF-8 for the parsing. Windows recognises a UTF-16LE BOM; any other file
// is in the ANSI code page. It does not recognise a UTF-8 BOM, whose bytes then stay in front
// of the first line (Wine skips them: more lenient than Windows).
bool ReadProfileText(const std::string& fileName, std::string* text)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return false;
    std::stringstream content;
    content << file.rdbuf();
    *text = content.str();
    if (text->rfind("\xff\xfe", 0) == 0)
        *text = sim::ToUtf8(sim::FromUtf16Bytes(text->substr(2)));
    else
        *text = sim::ToUtf8(sim::ToWide(*text, nullptr));
    return true;
}

// The value of key in section, or false when the file, the section or the key is missing.
// A line that opens a section without closing it with ']' names no section and leaves the
// one before in force (Wine; Microsoft's documentation and Wine's tests are silent).
bool FindProfileValue(const std::string& fileName, const std::string& section,
                      const std::string& key, std::string* value)
{
    std::string content;
    if (!ReadProfileText(fileName, &content)) return false;
    std::istringstream lines(content);
    bool inSection = false;
    std::string line;
    while (std::getline(lines, line)) {
        std::string text = Trim(line);
        std::size_t close = text.find(']');
        if (!text.empty() && text[0] == '[' && close != std::string::npos) {
            inSection = SameIgnoringCase(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        std::size_t equals = text.find('=');
        if (!inSection || equals == std::string::npos) continue;
        if (SameIgnoringCase(Trim(text.substr(0, equals)), key)) {
            *value = Unquote(Trim(text.substr(equals + 1)));
            return true;
        }
    }
    return false;
}

}  // namespace

namespace os {

// The file is named in UTF-16; its host path is that name in UTF-8.
Dword GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* fallback, char16_t* destination, Dword size,
                               const char16_t* fileName)
{
    std::string path = sim::ToUtf8(fileName);
    bool failed = sim::EnterCall("GetPrivateProfileStringW(" + sim::ToUtf8(key) + "," + path + ")");
    if (size == 0) return 0;
    std::string utf8;
    std::u16string value = fallback;
    if (!failed && FindProfileValue(path, sim::ToUtf8(section), sim::ToUtf8(key), &utf8))
        value = sim::FromUtf8(utf8);
    std::size_t length = std::min<std::size_t>(value.size(), size - 1);
    std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(length), destination);
    destination[length] = 0;
    return static_cast<Dword>(length);
}

}  // namespace os

// A profile (INI) reader over real files, as Windows reads them: a file in the ANSI code page,
// or in UTF-16LE with its BOM; sections and keys matched without ASCII case; spaces and tabs
// around keys and values dropped, one pair of matching quotes around a value removed; the
// value cut to size - 1 bytes, never inside a character.
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/simulated.h"

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

// The file's text in the ANSI code page. Windows recognises a UTF-16LE BOM and converts the
// text; it does not recognise a UTF-8 BOM, whose bytes then stay in front of the first line
// (Wine skips them: more lenient than Windows).
bool ReadProfileText(const char* fileName, std::string* text)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return false;
    std::stringstream content;
    content << file.rdbuf();
    *text = content.str();
    if (text->rfind("\xff\xfe", 0) == 0)
        *text = sim::ToAnsi(sim::FromUtf16Bytes(text->substr(2)), nullptr);
    return true;
}

// The value of key in section, or false when the file, the section or the key is missing.
// A line that opens a section without closing it with ']' names no section and leaves the
// one before in force (Wine; Microsoft's documentation and Wine's tests are silent).
bool FindProfileValue(const char* fileName, const char* section, const char* key,
                      std::string* value)
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

// The length of the longest run of whole characters of value within limit bytes.
std::size_t WholeCharacters(const std::string& value, std::size_t limit)
{
    std::size_t length = 0;
    while (length < value.size()) {
        std::size_t next =
            static_cast<std::size_t>(os::CharNextA(value.c_str() + length) - value.c_str());
        if (next > limit || next == length) break;
        length = next;
    }
    return length;
}

}  // namespace

namespace os {

Dword GetPrivateProfileStringA(const char* section, const char* key, const char* fallback,
                               char* destination, Dword size, const char* fileName)
{
    bool failed =
        sim::EnterCall(std::string("GetPrivateProfileStringA(") + key + "," + fileName + ")");
    if (size == 0) return 0;
    std::string value;
    if (failed || !FindProfileValue(fileName, section, key, &value)) value = fallback;
    std::size_t length = WholeCharacters(value, size - 1);
    std::memcpy(destination, value.data(), length);
    destination[length] = 0;
    return static_cast<Dword>(length);
}

}  // namespace os

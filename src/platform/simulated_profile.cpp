// A profile (INI) reader over real files: sections and keys matched without ASCII case,
// spaces and tabs around keys and values dropped, one pair of matching quotes around a value
// removed, the value cut to size - 1 bytes.
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

// The value of key in section, or false when the file, the section or the key is missing.
bool FindProfileValue(const char* fileName, const char* section, const char* key,
                      std::string* value)
{
    std::ifstream file(fileName, std::ios::binary);
    if (!file) return false;
    bool inSection = false;
    std::string line;
    while (std::getline(file, line)) {
        std::string text = Trim(line);
        if (!text.empty() && text[0] == '[') {
            std::size_t close = text.find(']');
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

Dword GetPrivateProfileStringA(const char* section, const char* key, const char* fallback,
                               char* destination, Dword size, const char* fileName)
{
    bool failed =
        sim::EnterCall(std::string("GetPrivateProfileStringA(") + key + "," + fileName + ")");
    if (size == 0) return 0;
    std::string value;
    if (failed || !FindProfileValue(fileName, section, key, &value)) value = fallback;
    std::size_t length = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(destination, value.data(), length);
    destination[length] = 0;
    return static_cast<Dword>(length);
}

}  // namespace os

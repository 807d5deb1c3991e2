#include <algorithm>
#include <cstdlib>

#include "e2e.h"

namespace {

// Each conversion in one call, into room for the longest result: a UTF-16 unit takes at most
// three bytes in UTF-8 or a code page, and a byte at most one unit.
std::string Encode(const std::wstring& text, UINT codePage)
{
    std::string bytes(text.size() * 3, '\0');
    bytes.resize(
        std::max(0, WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), bytes.data(),
                                        int(bytes.size()), nullptr, nullptr)));
    return bytes;
}

std::wstring Decode(const std::string& bytes, UINT codePage)
{
    std::wstring text(bytes.size(), L'\0');
    text.resize(std::max(0, MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()),
                                                text.data(), int(text.size()))));
    return text;
}

}  // namespace

std::string Utf8(const std::wstring& text)
{
    return Encode(text, CP_UTF8);
}

std::wstring FromUtf8(const std::string& text)
{
    return Decode(text, CP_UTF8);
}

bool ToCodePage(const std::wstring& text, std::string* bytes)
{
    *bytes = Encode(text, CP_ACP);
    return Decode(*bytes, CP_ACP) == text;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex.empty() ? "-" : hex;
}

std::string FromHex(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

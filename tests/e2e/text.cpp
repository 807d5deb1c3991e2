#include <cstdlib>

#include "e2e.h"

namespace {

std::string Encode(const std::wstring& text, UINT codePage)
{
    int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                            size, nullptr, nullptr);
    return bytes;
}

std::wstring Decode(const std::string& bytes, UINT codePage)
{
    int size =
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring wide(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0],
                            size);
    return wide;
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

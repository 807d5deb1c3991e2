#include "registry/install_path.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/value_search.h"
#include "run/setup_names.h"

// The value's data as text: up to its first zero byte, or all of it when it holds none.
static int CopyValueText(char* destination, std::size_t capacity, const FoundValue* found)
{
    const void* zero = std::memchr(found->data, 0, found->dataSize);
    std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - found->data)
             : found->dataSize;
    if (length >= capacity) return 0;
    std::memcpy(destination, found->data, length);
    destination[length] = 0;
    return 1;
}

int QueryInstallPath(char* destination, std::size_t capacity)
{
    if (!IsNameAvailable(ProductKeyPath)) return 0;
    LocalMachineKey opened = OpenLocalMachineKey(ProductKeyPath, kKeyRead);
    FoundValue found = {};
    int result = FindValueByName(opened.key, "InstallPath", &found) &&
                 CopyValueText(destination, capacity, &found);
    ReleaseFoundValue(&found);
    CloseLocalMachineKey(opened);
    return result;
}

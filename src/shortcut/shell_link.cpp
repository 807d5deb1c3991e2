#include "shortcut/shell_link.h"

#include "registry/install_path.h"

// HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER): the link path has no UTF-16 form that fits.
static const HResult kPathTooLong = static_cast<HResult>(0x8007007A);
static const std::size_t kWorkingDirectorySize = 256;

// Sets what was filled in and saves; a link path without a wide form is never saved.
static HResult FillAndSave(ShellLinkHandle link, PersistFileHandle file, const char* target,
                           const char* linkPath, const char* description)
{
    os::SetPath(link, target);
    os::SetDescription(link, description);
    // The install path is read afresh; when it has gone, the working directory stays unset.
    char workingDirectory[kWorkingDirectorySize];
    if (QueryInstallPath(workingDirectory, sizeof workingDirectory))
        os::SetWorkingDirectory(link, workingDirectory);
    char16_t wideLinkPath[kMaxPath];
    if (os::MultiByteToWideChar(kCpAcp, 0, linkPath, -1, wideLinkPath, kMaxPath) == 0)
        return kPathTooLong;
    return os::Save(file, wideLinkPath, 1);
}

HResult CreateShellLink(const char* target, const char* linkPath, const char* description)
{
    ShellLinkHandle link = nullptr;
    HResult result = os::CoCreateShellLink(&link);
    if (result < 0) return result;
    if (link == nullptr) return kEPointer;
    PersistFileHandle file = nullptr;
    result = os::QueryPersistFile(link, &file);
    if (result < 0 || file == nullptr) {
        os::Release(link);
        return result < 0 ? result : kEPointer;
    }
    result = FillAndSave(link, file, target, linkPath, description);
    os::Release(file);
    os::Release(link);
    return result;
}

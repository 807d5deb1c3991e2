#include "shortcut/shell_link.h"

#include "registry/install_path.h"

static const std::size_t kWorkingDirectorySize = 256;

static HResult FillAndSave(ShellLinkHandle link, PersistFileHandle file, const char* target,
                           const char16_t* linkPath, const char* description)
{
    os::SetPath(link, target);
    os::SetDescription(link, description);
    // The install path is read afresh; when it has gone, the working directory stays unset.
    char workingDirectory[kWorkingDirectorySize];
    if (QueryInstallPath(workingDirectory, sizeof workingDirectory))
        os::SetWorkingDirectory(link, workingDirectory);
    return os::Save(file, linkPath, 1);
}

HResult CreateShellLink(const char* target, const char16_t* linkPath, const char* description)
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

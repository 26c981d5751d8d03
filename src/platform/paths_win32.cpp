// Windows answers to the path helpers' questions about the file system. A path with a
// trailing separator ("C:\qor\tevrak\") names the folder itself, as Windows programs expect.
#include <windows.h>

#include "platform/paths.h"

namespace gsms::paths {

const char kSeparator = '\\';

bool isDirectory(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool makeDirectory(const std::string& path, mode_t /*mode: the parent's ACL is inherited*/) {
    if (CreateDirectoryA(path.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path);
}

}  // namespace gsms::paths

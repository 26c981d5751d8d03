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

bool stampOf(const std::string& path, FileStamp& stamp) {
    // No access asked for: looking at a file must not stand in its writer's way.
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return false;
    // FILETIME counts 100 ns steps since 1601.
    constexpr std::int64_t k1601To1970 = 116444736000000000;
    const auto wide = [](DWORD high, DWORD low) {
        return static_cast<std::int64_t>((std::uint64_t{high} << 32) | low);
    };
    const std::int64_t ticks =
        wide(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    stamp.size = wide(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.mtimeNs = (ticks - k1601To1970) * 100;
    stamp.id = wide(info.nFileIndexHigh, info.nFileIndexLow);
    return true;
}

}  // namespace gsms::paths

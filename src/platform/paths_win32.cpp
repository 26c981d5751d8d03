// Windows answers to the path helpers' questions about the file system. A path with a
// trailing separator ("C:\qor\tevrak\") names the folder itself, as Windows programs expect.
#include <windows.h>

#include <cerrno>

#include "platform/paths.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms::paths {

const char kSeparator = '\\';

// NTFS, FAT32's long names and SMB shares alike: 255 UTF-16 units.
std::size_t maxComponentLength(const std::string&) { return 255; }

std::size_t componentLength(std::string_view component) {
    if (component.empty()) return 0;
    return win32::wide(component).size();
}

std::size_t lastCharacterStart(std::string_view text, std::size_t end) {
    // Paths are UTF-8, as on POSIX.
    if (end == 0) return 0;
    std::size_t at = end - 1;
    while (at > 0 && end - at < 4 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

bool isDirectory(const std::string& path) {
    const DWORD a = GetFileAttributesW(win32::wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool exists(const std::string& path) {
    return GetFileAttributesW(win32::wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int folderWriteProblem(const std::string& dir) {
    const DWORD a = GetFileAttributesW(win32::wide(dir).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return win32::lastErrno();
    if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
    // Only a try tells whether the folder's ACL lets this process create files.
    const std::string probe =
        join(dir, ".gsms-probe-" + std::to_string(GetCurrentProcessId()));
    HANDLE h = CreateFileW(win32::wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN |
                               FILE_FLAG_DELETE_ON_CLOSE,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::lastErrno();
    CloseHandle(h);
    return 0;
}

int fileWriteProblem(const std::string& path) {
    HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::lastErrno();
    CloseHandle(h);
    return 0;
}

bool makeDirectory(const std::string& path, mode_t /*mode: the parent's ACL is inherited*/) {
    if (CreateDirectoryW(win32::wide(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && isDirectory(path);
}

}  // namespace gsms::paths

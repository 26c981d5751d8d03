// POSIX answers to the path helpers' questions about the file system.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

namespace gsms::paths {

const char kSeparator = '/';

std::size_t maxComponentLength(const std::string& dir) {
    const long max = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<std::size_t>(max) : 255;
}

std::size_t componentLength(std::string_view component) { return component.size(); }

std::size_t lastCharacterStart(std::string_view text, std::size_t end) {
    if (end == 0) return 0;
    std::size_t at = end - 1;
    // Back over at most three continuation bytes (10xxxxxx) to the lead byte.
    while (at > 0 && end - at < 4 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
    return at;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

int folderWriteProblem(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

int fileWriteProblem(const std::string& path) {
    if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

bool makeDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

}  // namespace gsms::paths

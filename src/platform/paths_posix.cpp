// POSIX answers to the path helpers' questions about the file system.
#include <sys/stat.h>

#include <cerrno>

#include "platform/paths.h"

namespace gsms::paths {

const char kSeparator = '/';

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool makeDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

}  // namespace gsms::paths

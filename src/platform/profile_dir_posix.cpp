// POSIX: the profile directory defaults to the current directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/profile_dir.h"

namespace gsms {

const char* const kDefaultProfileDirText = "the current directory";

std::string defaultProfileDir() { return "."; }

int profileDirProblem() {
    const std::string dir = profileDir();
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

}  // namespace gsms

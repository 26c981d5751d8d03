#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_append.h"

namespace gsms::files {

const std::string_view kLineEnd = "\n";

int append(const std::string& path, std::string_view bytes, IfMissing ifMissing, Sync sync) {
    const int flags =
        O_WRONLY | O_APPEND | O_CLOEXEC | (ifMissing == IfMissing::Create ? O_CREAT : 0);
    const int fd = ::open(path.c_str(), flags, 0640);
    if (fd < 0) return -1;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w == 0) errno = EIO;
        if (w <= 0) break;
        p += w;
        left -= static_cast<std::size_t>(w);
    }
    const bool ok = left == 0 && (sync == Sync::No || ::fsync(fd) == 0);
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok ? 0 : -1;
}

}  // namespace gsms::files

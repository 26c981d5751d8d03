#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_append.h"

namespace gsms::files {

const std::string_view kLineEnd = "\n";

int append(const std::string& path, std::string_view bytes, IfMissing ifMissing, int* error,
           Sync sync) {
    const int flags =
        O_WRONLY | O_APPEND | O_CLOEXEC | (ifMissing == IfMissing::Create ? O_CREAT : 0);
    const int fd = ::open(path.c_str(), flags, 0640);
    if (fd < 0) {
        if (error != nullptr) *error = errno;
        return -1;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    int why = 0;
    while (left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            why = w < 0 ? errno : EIO;
            break;
        }
        p += w;
        left -= static_cast<std::size_t>(w);
    }
    if (why != 0 && p != bytes.data()) {
        // With O_APPEND the offset is the end of what we wrote: cut back to where it began.
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end >= 0) (void)::ftruncate(fd, end - static_cast<off_t>(p - bytes.data()));
    }
    if (why == 0 && sync == Sync::Yes && ::fsync(fd) != 0) why = errno;
    ::close(fd);
    if (why != 0 && error != nullptr) *error = why;
    if (why != 0) errno = why;
    return why == 0 ? 0 : -1;
}

}  // namespace gsms::files

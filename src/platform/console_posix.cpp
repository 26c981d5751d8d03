#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace gsms::console {

bool isJournal(int fd) {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return false;
    unsigned long long device = 0, inode = 0;
    struct stat st {};
    return std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && ::fstat(fd, &st) == 0 &&
           static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

bool showsColours(int fd) { return ::isatty(fd) == 1; }

int writeAll(int fd, std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd w{fd, POLLOUT, 0};  // a stream left non-blocking by whoever shares it
            (void)::poll(&w, 1, -1);
        } else {
            return -1;
        }
    }
    return 0;
}

void print(std::FILE* stream, std::string_view utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace gsms::console

#include "platform/dir_watch.h"

#include <dirent.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/clock.h"

namespace gsms {

DirWatch::~DirWatch() { close(); }

void DirWatch::close() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

bool DirWatch::arm(const std::string& dir) {
    close();
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return false;
    const uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ONLYDIR;
    if (inotify_add_watch(fd, dir.c_str(), mask) < 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return false;
    }
    handle_ = fd;
    return true;
}

int DirWatch::wait(std::int64_t ms) {
    if (handle_ == kNone) return -1;
    const int fd = static_cast<int>(handle_);
    // Gateway time: the time scale of the tests shortens the watch time-out too.
    const auto deadline = clock::deadlineAfterMs(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return 0;
        alignas(inotify_event) char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
        return 1;
    }
}

std::vector<std::string> listMatching(const std::string& dir, const std::string& mask) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD | FNM_PERIOD) != 0) continue;
        struct stat st;
        // Relative to the folder: a name whose full path is longer than the system takes is
        // still listed, so that the watcher can say so instead of passing it by.
        if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        names.push_back(name);
    }
    ::closedir(d);
    return names;
}

}  // namespace gsms

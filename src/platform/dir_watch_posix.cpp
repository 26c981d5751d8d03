#include "platform/dir_watch.h"

#include <dirent.h>
#include <fnmatch.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace gsms {
namespace {

int fdOf(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

DirWatch::~DirWatch() { close(); }

void DirWatch::close() {
    if (handle_ != kNone) ::close(fdOf(handle_));
    handle_ = kNone;
    pending_ = false;
}

bool DirWatch::arm(const std::string& dir) {
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const uint32_t mask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ONLYDIR;
    if (fd < 0 || inotify_add_watch(fd, dir.c_str(), mask) < 0) {
        const int saved = errno;
        if (fd >= 0) ::close(fd);
        close();
        errno = saved;
        return false;
    }
    // The new watch runs before the old one goes, and what the old one still holds is taken:
    // no write falls between the two.
    if (handle_ != kNone) {
        catchUp();
        ::close(fdOf(handle_));
    }
    handle_ = fd;
    return true;
}

void DirWatch::take(const char* events, std::size_t size) {
    for (std::size_t at = 0; at + sizeof(inotify_event) <= size;) {
        inotify_event e;
        std::memcpy(&e, events + at, sizeof e);
        const std::size_t whole = sizeof e + e.len;
        if (at + whole > size) break;
        if (e.mask & IN_Q_OVERFLOW) writing_.clear();  // events lost: nothing is known
        if (e.len > 0 && !(e.mask & IN_ISDIR)) {
            const char* name = events + at + sizeof e;
            const std::string n(name, ::strnlen(name, e.len));
            if (e.mask & IN_MODIFY) writing_.insert(n);
            // Closed by its writer, or another file renamed over the name.
            if (e.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) writing_.erase(n);
        }
        at += whole;
    }
}

bool DirWatch::readEvents() {
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t n; (n = ::read(fdOf(handle_), buffer, sizeof buffer)) > 0;) {
        take(buffer, static_cast<std::size_t>(n));
        any = true;
    }
    return any;
}

void DirWatch::catchUp() {
    if (handle_ != kNone && readEvents()) pending_ = true;
}

int DirWatch::wait(std::int64_t ms) {
    if (handle_ == kNone) return -1;
    if (pending_) {
        pending_ = false;
        readEvents();
        return 1;
    }
    // Gateway time: the time scale of the tests shortens the watch time-out too.
    const auto deadline = clock::deadlineAfterMs(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd p{fdOf(handle_), POLLIN, 0};
        const int rc = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) return 0;
        readEvents();
        return 1;
    }
}

bool DirWatch::beingWritten(const std::string& name) const { return writing_.count(name) != 0; }

void DirWatch::keepWriters(const std::set<std::string>& names) {
    for (auto it = writing_.begin(); it != writing_.end();)
        it = names.count(*it) != 0 ? std::next(it) : writing_.erase(it);
}

bool listFolder(const std::string& dir, const std::string& mask, std::vector<DirEntry>& out) {
    out.clear();
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return false;
    bool complete = true;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (e == nullptr) {
            complete = errno == 0;
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st;
        // Relative to the folder: a name whose full path is longer than the system takes is
        // still listed, so that the watcher can say so instead of passing it by.
        if (::fstatat(::dirfd(d), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        DirEntry entry;
        entry.name = name;
        entry.id = files::FileId{static_cast<std::uint64_t>(st.st_dev),
                                 static_cast<std::uint64_t>(st.st_ino)};
        entry.size = st.st_size;
        entry.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                        st.st_mtim.tv_nsec;
        // No FNM_PERIOD: the Windows search matches ".alarm.sms" with "*.sms" too.
        entry.matches = ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
        out.push_back(std::move(entry));
    }
    ::closedir(d);
    return complete;
}

}  // namespace gsms

// Directory change notification and listing for the job watcher.
//
// DirWatch watches one directory (not its subdirectories) for files written and closed,
// moved in, created or modified: inotify on POSIX (dir_watch_posix.cpp), a change
// notification for file names and last writes on Windows (dir_watch_win32.cpp). listMatching
// lists the regular files of a directory whose names match a mask case-insensitively
// ("*.sms" matches "JOB.SMS"), in the order the directory returns them.
// Thread safety: one DirWatch per thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gsms {

class DirWatch {
public:
    DirWatch() = default;
    ~DirWatch();
    DirWatch(const DirWatch&) = delete;
    DirWatch& operator=(const DirWatch&) = delete;

    // (Re-)arms the watch on dir; false (with errno) when the directory cannot be watched.
    bool arm(const std::string& dir);
    void close();
    bool armed() const { return handle_ != kNone; }
    // 1 when a change came, 0 when ms passed without one, -1 when not armed.
    // Pending events are consumed, so one wait covers a burst of changes.
    int wait(std::int64_t ms);

private:
    // The inotify descriptor, or the change notification HANDLE on Windows.
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};

std::vector<std::string> listMatching(const std::string& dir, const std::string& mask);

}  // namespace gsms

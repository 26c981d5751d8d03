// Directory change notification and listing for the job watcher.
//
// DirWatch watches one directory (not its subdirectories) for files written and closed,
// moved in, created or modified: inotify on POSIX (dir_watch_posix.cpp), a change notification
// for file names and last writes on Windows (dir_watch_win32.cpp). It tells which files a
// program is still writing: on POSIX from the same notifications, the files that a program on
// this machine has written to and not closed yet (a writer on another machine, over NFS, is
// not seen this way; after an overflow of the notification queue nothing is known until the
// next writes); on Windows from the share modes, the files that some program, here or over a
// share, holds open for writing.
// listFolder lists the regular files of a directory (symbolic links followed) in the order the
// directory returns them, with whether each name matches a mask case-insensitively ("*.sms"
// matches "JOB.SMS"; a leading dot is an ordinary character, as on Windows; on Windows the
// long name must match, not only its 8.3 alias).
// Thread safety: one DirWatch per thread; listFolder from any thread.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/file_move.h"

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
    // Takes the notifications that came since the last wait without waiting, so that what
    // beingWritten says is as new as the file just read; the next wait then returns at once
    // when there were any.
    void catchUp();
    // True while a program is writing the file (POSIX: the notifications say so; Windows: it
    // is held open for writing).
    [[nodiscard]] bool beingWritten(const std::string& name) const;
    // Keeps only these names among the files being written (the others are gone).
    void keepWriters(const std::set<std::string>& names);

private:
    // POSIX: the inotify events read from the descriptor.
    void take(const char* events, std::size_t size);
    bool readEvents();

    // The inotify descriptor, or the change notification HANDLE on Windows.
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
    bool pending_ = false;  // events taken by catchUp that no wait has reported yet
    std::set<std::string> writing_;  // POSIX: names written to and not closed yet
    std::string dir_;  // Windows: the folder whose files beingWritten looks at
};

struct DirEntry {
    std::string name;
    files::FileId id;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    bool matches = false;  // the name matches the mask
    // Windows: the name holds an unpaired surrogate, which UTF-8 cannot carry; name then shows
    // it with U+FFFD and names no file.
    bool unnamable = false;
};

// The regular files of dir. False when the directory cannot be read (the list is then not
// complete).
bool listFolder(const std::string& dir, const std::string& mask, std::vector<DirEntry>& out);

}  // namespace gsms

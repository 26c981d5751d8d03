// Small files read whole and replaced whole, safe beside other writers, readers and crashes.
//
// rewrite() edits a file in one read-modify-write under an exclusive advisory lock on the
// file itself (an open-file-description lock, so neither another thread nor another process
// gets between the read and the replace). The lock is taken on the inode the path names and
// checked to be still the one the path names afterwards: a writer that waited while another
// replaced the file starts over on the new one. The new text goes to a temporary file beside
// the target (".<name>.gsms-XXXXXX"), gets the old file's owner, group, mode and access ACL,
// is synced, renamed over the target, and the folder is synced. A writer that cannot give the
// new file the old one's owner or group (one that is not root, writing a file of another
// owner that it may write) writes the file in place instead, through the lock, so that owner,
// group, mode and ACL stay as they were (a reader that takes no lock may then meet it half
// written, and a crash may leave it so). A symbolic link is followed and its
// target replaced; the link stays. A new file is created with mode 0600. Temporaries left by
// a writer killed half-way are removed by the next write of the same file. A file that
// exists but cannot be read is never replaced. Every descriptor is close-on-exec.
// That is file_replace_posix.cpp; file_replace_win32.cpp does the same the Windows way: the
// writers of a file take turns through a named mutex (a byte-range lock would bar readers),
// ReplaceFile keeps the old file's ACL, owner and attributes, a new file takes its folder's
// permissions, and no handle is inherited.
//
// Thread safety: any thread may call either function at any time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_move.h"

namespace gsms::files {

// Why a file could not be used.
struct Failure {
    enum Kind { None, CannotRead, CannotWrite };
    Kind kind = None;
    int error = 0;  // the system's errno
};

// Files larger than this are refused as unreadable (EFBIG): profiles and job files are small.
constexpr std::size_t kMaxFileSize = 16u << 20;

// Reads the whole file. 1: read, bytes filled; 0: no such file; -1: it exists but cannot be
// read (failure says why).
[[nodiscard]] int readWhole(const std::string& path, std::string& bytes,
                            Failure* failure = nullptr);

// One read of a file that may still be being written. The file is opened and its version
// (identity, size, modification time) taken, `pause` runs (the writer gets time to finish),
// the bytes are read, and the version is taken again from the open file and from the path.
// On Windows a file whose writer lets no one read it yet counts as changed.
struct SteadyRead {
    enum Outcome {
        Read,        // bytes hold the whole file, unchanged throughout
        Changed,     // written to (or replaced) meanwhile: try again later
        Gone,        // no such file, or no longer a regular file
        Unreadable,  // it exists but cannot be read (error says why; EFBIG: too large)
    };
    Outcome outcome = Gone;
    int error = 0;
    FileId id;
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;
    std::string bytes;
};
SteadyRead readSteady(const std::string& path, const std::function<void()>& pause);

// Turns the current bytes (empty for a new file) into the new ones.
using Editor = std::function<std::string(const std::string& current)>;

// Replaces the file with edit's result, as described above. 0 on success, -1 when the file
// was left as it was (failure says why).
[[nodiscard]] int rewrite(const std::string& path, const Editor& edit,
                          Failure* failure = nullptr);

// True for the name of a temporary these services make beside a file (".<name>.gsms-XXXXXX"):
// never a file of anyone else's.
[[nodiscard]] bool isTemporaryName(std::string_view name);
// Replaces the file with bytes through a temporary beside it and a rename, so that a reader
// sees the old file or the new one, never a part; with the given mode, without a lock and
// without syncing: for files rewritten often whose loss in a crash costs nothing (the status
// file, the metrics file). A symbolic link at path is replaced, not followed. On Windows the
// mode is not used (the file takes its folder's permissions) and a reader that holds the file
// without letting it be replaced is waited for up to 200 ms. 0 on success, else the system's
// errno (the file is then as it was).
[[nodiscard]] int publish(const std::string& path, const std::string& bytes, unsigned mode);

namespace detail {
// A temporary's name: "." + the file's name + kTempMark + kTempRandom random characters.
constexpr const char* kTempMark = ".gsms-";
constexpr std::size_t kTempRandom = 6;
}  // namespace detail

}  // namespace gsms::files

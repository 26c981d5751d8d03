// Moving a file into another folder without ever replacing a file there, on one file system
// or across two.
//
// moveFile tries the names that the request gives, in order, until one is free, and renames
// the file to it: renameat2 with RENAME_NOREPLACE; where a file system lacks that flag, a hard
// link and the removal of the old name; where it has neither, the name is first taken with an
// exclusive create and the rename then replaces only that empty file of ours. When the two
// folders lie on different file systems (EXDEV: a tmpfs, NFS or SMB watch folder against a
// local disk), the file is copied to a temporary ".<name>.gsms-XXXXXX" in the target folder,
// synced, renamed to the free name the same way, the folder synced, and only then is the
// source removed; a failure removes the copy and leaves the source where it was.
//
// With a line to add, the line lands at the end of the moved file: through the file itself
// when the mover may write it (opened before the rename, so the line goes into the file that
// moved and nowhere else), else in a copy of the mover's own, made as for EXDEV, that takes the
// file's place. When even that copy cannot be made, the file is moved as it is and the outcome
// says why the line is missing.
//
// That is file_move_posix.cpp. file_move_win32.cpp does the same the Windows way: MoveFileEx
// without MOVEFILE_REPLACE_EXISTING renames without replacing; across volumes
// (ERROR_NOT_SAME_DEVICE) the file is copied as above, the copy flushed and taking the
// permissions its folder passes on; the line goes through a handle opened before the rename
// that shares deletion, so that the rename is not barred by it. A file that its writer still
// holds open without sharing deletion cannot move (EBUSY) and stays where it is.
// A file's identity there is the volume serial number and the file index.
//
// Thread safety: any thread may call it; callers keep two moves off the same file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace gsms::files {

// A file's identity: device and inode (Windows: volume serial number and file index).
struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool known() const { return dev != 0 || ino != 0; }
    bool operator==(const FileId&) const = default;
};

struct MoveRequest {
    std::string from;
    // When known: the file `from` must still name; another one there is not moved (ENOENT).
    FileId expected;
    // The full path to try as attempt n (0, 1, ...); an empty string ends the list. Every name
    // lies in the same folder.
    std::function<std::string(int attempt)> names;
    // A line to add at the end of the moved file (no line end is added), or none.
    const std::string* append = nullptr;
    // Told the identity of the file that is about to appear under one of the names, before
    // it does (the moved file itself, or the copy).
    std::function<void(const FileId&)> beforeVisible;
};

struct MoveOutcome {
    std::string to;         // the name the file got, or the last one tried
    int error = 0;          // why it failed; after a move, why the line is missing (0: it landed)
    bool copied = false;    // the file at `to` is a copy (EXDEV, or the line needed one)
};

// The identity of the file or folder that path names (symbolic links followed). False when it
// cannot be looked at.
[[nodiscard]] bool identityOf(const std::string& path, FileId& id);

// 0: moved to outcome.to (outcome.error tells whether the line landed); -1: the file is where
// it was, outcome.error says why.
[[nodiscard]] int moveFile(const MoveRequest& request, MoveOutcome& outcome);

}  // namespace gsms::files

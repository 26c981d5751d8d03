// Pieces of the file services that each platform gives in its own way (file_ops_posix.h and
// file_ops_win32.h add the rest): not an interface of its own.
// Thread safety: each piece works on the paths and handles it is given.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_move.h"
#include "platform/file_replace.h"

namespace gsms::files::detail {

// The folder of a path ("." without one) and its last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// Syncs a folder's entries to disk (best effort: some file systems cannot; Windows writes a
// rename through instead).
void syncFolder(const std::string& folder);

// Renames without replacing a file. 0 or an errno (EEXIST: the name is taken; EXDEV: the name
// lies on another file system).
int renameNoReplace(const std::string& from, const std::string& to);

// Renames to the first free name of the request. 0 or an errno; `to` is the name given or the
// last one tried.
int renameToFree(const std::string& from, const MoveRequest& request, std::string& to);

// Copies the file `from` (when it is still `id`) into the request's folder under a free name,
// with the line, and removes the source. 0 or an errno; on failure nothing is left behind.
int copySource(const MoveRequest& request, const FileId& id, MoveOutcome& outcome);

// Ends a steady read whose bytes and error are in r: `stillThere` tells whether the path still
// names a file afterwards, `unchanged` whether its version stayed the same throughout.
void conclude(SteadyRead& r, bool stillThere, bool unchanged);

// The moved file, opened before the move so that its line goes into it and nowhere else.
class LineFile {
public:
    LineFile() = default;
    ~LineFile() { close(); }
    LineFile(const LineFile&) = delete;
    LineFile& operator=(const LineFile&) = delete;
    // Opens path for appending when it is still the file `id` and the gateway may write it.
    [[nodiscard]] bool open(const std::string& path, const FileId& id);
    bool isOpen() const { return handle_ != kNone; }
    // Appends the line, syncs and closes. 0 or the errno that stopped it.
    int add(const std::string& line);
    void close();

private:
    static constexpr std::intptr_t kNone = -1;  // the descriptor, or the HANDLE on Windows
    std::intptr_t handle_ = kNone;
};

}  // namespace gsms::files::detail

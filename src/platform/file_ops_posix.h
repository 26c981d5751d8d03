// Pieces shared by the POSIX file services (file_replace_posix.cpp, file_move_posix.cpp):
// not an interface of its own.
// Thread safety: pure functions over the descriptors and paths they are given.
#pragma once

#include <sys/stat.h>

#include <string>

namespace gsms::files::detail {

// The folder of a path ("." without one) and its last component.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);

// Writes all bytes. 0 or the errno that stopped it.
int writeAll(int fd, const char* data, std::size_t size);
inline int writeAll(int fd, const std::string& bytes) {
    return writeAll(fd, bytes.data(), bytes.size());
}

// Syncs a folder's entries to disk (best effort: some file systems cannot).
void syncFolder(const std::string& folder);

// Creates ".<name>.gsms-XXXXXX" in folder, close-on-exec. The descriptor (path filled), or -1
// with errno.
int makeTemporary(const std::string& folder, const std::string& name, std::string& path);

// Gives temp the owner, group, mode and access ACL of the file held open on `held` (status
// `old`), never more rights than it gave; `created`: a new file, mode 0600.
void keepOwnershipAndMode(int held, const struct stat& old, int temp, bool created);

}  // namespace gsms::files::detail

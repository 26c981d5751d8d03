// Pieces shared by the POSIX file services (file_replace_posix.cpp, file_move_posix.cpp)
// besides those of file_ops.h: not an interface of its own.
// Thread safety: pure functions over the descriptors and paths they are given.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/file_ops.h"

namespace gsms::files::detail {

// Writes all bytes. 0 or the errno that stopped it.
int writeAll(int fd, const char* data, std::size_t size);
inline int writeAll(int fd, const std::string& bytes) {
    return writeAll(fd, bytes.data(), bytes.size());
}

// Creates ".<name>.gsms-XXXXXX" in folder, close-on-exec. The descriptor (path filled), or -1
// with errno.
int makeTemporary(const std::string& folder, const std::string& name, std::string& path);

// Gives temp the owner, group, mode and access ACL of the file held open on `held` (status
// `old`), never more rights than it gave; `created`: a new file, mode 0600.
void keepOwnershipAndMode(int held, const struct stat& old, int temp, bool created);

}  // namespace gsms::files::detail

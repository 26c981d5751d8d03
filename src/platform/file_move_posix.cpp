// POSIX moves: renameat2 with RENAME_NOREPLACE (a hard link, or an exclusive create, where a
// file system lacks it), copies across file systems that keep owner, mode and ACL, and synced
// folders.
#include "platform/file_move.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_ops_posix.h"

namespace gsms::files {
namespace {

using namespace detail;

FileId idOf(const struct stat& st) {
    return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int copyBytes(int from, int to) {
    char buffer[65536];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(from, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        if (const int error = writeAll(to, buffer, static_cast<std::size_t>(n)); error != 0)
            return error;
        at += n;
    }
}

// Copies the file open on src (its status st) into the target folder under a free name,
// with the line, and removes the source. 0 or an errno; on failure nothing is left behind.
int copyOver(const MoveRequest& request, int src, const struct stat& st, MoveOutcome& outcome) {
    const std::string first = request.names(0);
    if (first.empty()) return EEXIST;
    const std::string folder = folderOf(first);
    std::string temp;
    const int fd = makeTemporary(folder, nameOf(first), temp);
    if (fd < 0) return errno;
    struct stat ts {};
    if (request.beforeVisible && ::fstat(fd, &ts) == 0) request.beforeVisible(idOf(ts));
    keepOwnershipAndMode(src, st, fd, false);
    int error = copyBytes(src, fd);
    if (error == 0 && request.append != nullptr) error = writeAll(fd, *request.append);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0) error = renameToFree(temp, request, outcome.to);
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    syncFolder(folder);
    if (::unlink(request.from.c_str()) != 0) {
        // The source must not stay beside its copy: the copy goes again.
        error = errno;
        ::unlink(outcome.to.c_str());
        syncFolder(folder);
        return error;
    }
    syncFolder(folderOf(request.from));
    outcome.copied = true;
    return 0;
}

}  // namespace

namespace detail {

int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != ENOTSUP) return error;
    // A file system without the flag (NFS): a second name, then the first one goes.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return 0;
        error = errno;
        ::unlink(to.c_str());
        return error;
    }
    error = errno;
    if (error != EPERM && error != ENOTSUP && error != ENOSYS && error != EMLINK) return error;
    // Without hard links either (FAT, some shares): the name is taken first with an exclusive
    // create, so the rename replaces nothing but that empty file of ours.
    const int fd = ::open(to.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return errno;
    ::close(fd);
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
    error = errno;
    ::unlink(to.c_str());
    return error;
}

int copySource(const MoveRequest& request, const FileId& id, MoveOutcome& outcome) {
    const int src = ::open(request.from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (src < 0) return errno;
    struct stat st {};
    int error = ::fstat(src, &st) != 0 ? errno : 0;
    if (error == 0 && (!(idOf(st) == id) || !S_ISREG(st.st_mode))) error = ENOENT;
    if (error == 0) error = copyOver(request, src, st, outcome);
    ::close(src);
    return error;
}

bool LineFile::open(const std::string& path, const FileId& id) {
    close();
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(idOf(st) == id)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

int LineFile::add(const std::string& line) {
    const int fd = static_cast<int>(handle_);
    int error = writeAll(fd, line);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    close();
    return error;
}

void LineFile::close() {
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

}  // namespace detail

bool identityOf(const std::string& path, FileId& id) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    id = idOf(st);
    return true;
}

}  // namespace gsms::files

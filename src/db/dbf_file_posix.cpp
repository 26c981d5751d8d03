// POSIX file services of the DBF engine.
#include "db/dbf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace gsms::db::file {

namespace {

int fd(Handle f) { return static_cast<int>(f); }

// Open-file-description locks belong to the open file, not to the process: a classic fcntl
// lock would be dropped by ANY close of the same file anywhere in the process (another
// CDatabase on the same table, a test reading it back). Both kinds conflict with each other,
// so programs that take classic locks still see ours.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
#else
constexpr int kSetLock = F_SETLK;
#endif

int setLock(Handle f, short type, std::uint64_t offset, std::uint64_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = static_cast<off_t>(offset);
    lock.l_len = static_cast<off_t>(length);
    lock.l_pid = 0;  // required for open-file-description locks
    int rc;
    do rc = ::fcntl(fd(f), kSetLock, &lock);
    while (rc != 0 && errno == EINTR);
    return rc;
}

}  // namespace

Handle openShared(const char* path) {
    if (path == nullptr || *path == '\0') return kNoFile;
    // O_NONBLOCK: a FIFO planted in place of a table must not hang the open.
    const int f = ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (f < 0) return kNoFile;
    struct stat st {};
    if (::fstat(f, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::fcntl(f, F_SETFL, ::fcntl(f, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(f);
        return kNoFile;
    }
    return f;
}

Handle create(const char* path) {
    if (path == nullptr || *path == '\0') return kNoFile;
    const int f = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    return f < 0 ? kNoFile : f;
}

void close(Handle f) {
    if (f != kNoFile) ::close(fd(f));
}

std::int64_t readAt(Handle f, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd(f), out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

int writeAt(Handle f, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd(f), in + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::int64_t size(Handle f) {
    struct stat st {};
    if (::fstat(fd(f), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

int sync(Handle f) { return ::fdatasync(fd(f)) == 0 ? 0 : -1; }

LockResult tryLock(Handle f, std::uint64_t offset, std::uint64_t length) {
    if (setLock(f, F_WRLCK, offset, length) == 0) return LockResult::Taken;
    return errno == EAGAIN || errno == EACCES ? LockResult::Busy : LockResult::Failed;
}

void unlock(Handle f, std::uint64_t offset, std::uint64_t length) {
    (void)setLock(f, F_UNLCK, offset, length);
}

}  // namespace gsms::db::file

#include "platform/file_replace.h"
#include "platform/file_ops_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <vector>

namespace gsms::files {
namespace {

using namespace detail;

constexpr const char* kAclName = "system.posix_acl_access";
// How long a writer waits for another one before it gives up (a stopped process holding the
// lock must not stall the gateway).
constexpr int kLockWaitMs = 10000;
constexpr int kMaxLinkHops = 40;

void fail(Failure* failure, Failure::Kind kind, int error) {
    if (failure != nullptr) *failure = Failure{kind, error};
}

void sleepMs(long ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Reads all of an open file. 0 or the errno that stopped it.
int readAll(int fd, std::string& out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;  // a FIFO or a device is no settings file
    if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) return EFBIG;
    out.clear();
    char buffer[8192];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return 0;
        out.append(buffer, static_cast<std::size_t>(n));
        at += n;
        if (out.size() > kMaxFileSize) return EFBIG;
    }
}

// The file a path finally names: symbolic links followed, the last one possibly dangling
// (then the file is created where it points). 0 or an errno.
int followLinks(const std::string& path, std::string& target) {
    target = path;
    for (int hop = 0;; ++hop) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode)) return 0;
        if (hop == kMaxLinkHops) return ELOOP;
        std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
        const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
        if (n < 0) return errno;
        if (static_cast<std::size_t>(n) >= link.size()) return ENAMETOOLONG;  // grew meanwhile
        const std::string to(link.data(), static_cast<std::size_t>(n));
        target = !to.empty() && to[0] == '/' ? to : folderOf(target) + "/" + to;
    }
}

// Waits for the exclusive lock on the whole file. 0 or an errno.
int lockExclusive(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    for (int waited = 0;;) {
        if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return errno;
        if (waited >= kLockWaitMs) return EAGAIN;
        const int pause = waited < 50 ? 1 : 10;
        sleepMs(pause);
        waited += pause;
    }
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes what writers of this file left when they were killed half-way. Only called with the
// file's lock held, so no temporary of a live writer of this file can exist. Temporaries of
// earlier versions (".ini-XXXXXX", shared by all files) go once they are a minute old.
void removeStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return;
    const std::string prefix = "." + name + kTempMark;
    const std::time_t now = std::time(nullptr);
    while (dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        bool stale = entry.size() == prefix.size() + kTempRandom &&
                     entry.compare(0, prefix.size(), prefix) == 0;
        if (!stale && entry.size() == 11 && entry.compare(0, 5, ".ini-") == 0) {
            struct stat st {};
            stale = ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(st.st_mode) && now - st.st_mtime > 60;
        }
        if (stale) ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

// Opens the target for the edit: 1 opened (created tells whether it is new), 0 try again
// (the path changed under us), -1 failed.
int openTarget(const std::string& target, int& fd, bool& created, Failure* failure) {
    constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
    created = false;
    fd = ::open(target.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(target.c_str(), kFlags | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && errno == EEXIST) return 0;
        created = fd >= 0;
    }
    if (fd >= 0) return 1;
    const int error = errno;
    if (error == ELOOP) return 0;  // became a symbolic link: follow it afresh
    if (error == EISDIR) {
        fail(failure, Failure::CannotRead, error);
    } else if (error == EACCES || error == EPERM) {
        // Not writable; say "cannot read" when it cannot even be read.
        const int probe = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (probe < 0) {
            fail(failure, Failure::CannotRead, errno);
            return -1;
        }
        ::close(probe);
        fail(failure, Failure::CannotWrite, error);
    } else {
        fail(failure, Failure::CannotWrite, error);
    }
    return -1;
}

// Writes bytes over the file open on fd, whose lock is held: for a file whose owner or group
// this writer cannot give a new file (only root may give a file away), so that they stay
// as they were. A reader that takes no lock may meet the file half-written, and a crash may
// leave it so: the price of keeping the owner. 0 or the errno.
int writeInPlace(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return errno;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// One locked read-modify-write of the file open on fd. 1 done, 0 try again, -1 failed.
int editLocked(const std::string& target, int fd, bool created, const Editor& edit,
               Failure* failure) {
    if (const int error = lockExclusive(fd); error != 0) {
        fail(failure, Failure::CannotWrite, error);
        return -1;
    }
    struct stat held {};
    struct stat now {};
    if (::fstat(fd, &held) != 0 || held.st_nlink == 0 || ::lstat(target.c_str(), &now) != 0 ||
        !sameFile(held, now))
        return 0;  // replaced or removed while we waited: the lock is on a stale inode

    std::string current;
    if (const int error = readAll(fd, current); error != 0) {
        fail(failure, Failure::CannotRead, error);
        return -1;
    }
    const std::string folder = folderOf(target);
    const std::string name = nameOf(target);
    removeStaleTemporaries(folder, name);
    const std::string bytes = edit(current);

    std::string temp;
    const int tfd = makeTemporary(folder, name, temp);
    if (tfd < 0) {
        fail(failure, Failure::CannotWrite, errno);
        return -1;
    }
    keepOwnershipAndMode(fd, held, tfd, created);
    struct stat mine {};
    if (!created && (::fstat(tfd, &mine) != 0 || mine.st_uid != held.st_uid ||
                     mine.st_gid != held.st_gid)) {
        ::close(tfd);
        ::unlink(temp.c_str());
        if (const int error = writeInPlace(fd, bytes); error != 0) {
            fail(failure, Failure::CannotWrite, error);
            return -1;
        }
        return 1;
    }
    int error = writeAll(tfd, bytes);
    if (error == 0 && ::fsync(tfd) != 0) error = errno;
    if (::close(tfd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        fail(failure, Failure::CannotWrite, error);
        return -1;
    }
    syncFolder(folder);
    return 1;
}

}  // namespace

namespace detail {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int writeAll(int fd, const char* data, std::size_t size) {
    const char* p = data;
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // a folder some file systems cannot sync: the rename stands all the same
    ::close(fd);
}

void keepOwnershipAndMode(int held, const struct stat& old, int temp, bool created) {
    if (created) {
        ::fchmod(temp, 0600);
        return;
    }
    struct stat mine {};
    bool groupKept = ::fstat(temp, &mine) == 0 && mine.st_gid == old.st_gid;
    const bool ownerKept = mine.st_uid == old.st_uid;
    if (!ownerKept || !groupKept) {
        if (::fchown(temp, old.st_uid, old.st_gid) == 0) {
            groupKept = true;
        } else if (!groupKept && ::fchown(temp, static_cast<uid_t>(-1), old.st_gid) == 0) {
            groupKept = true;
        }
    }
    mode_t mode = old.st_mode & 07777;
    // The old group's rights must not pass to another group.
    if (!groupKept) mode &= static_cast<mode_t>(~S_IRWXG);
    ::fchmod(temp, mode);

    // With an access ACL the group bits are its mask: without the ACL they would open the file
    // to the whole owning group, so the group loses them when the ACL cannot be copied.
    std::vector<char> acl(256);
    ssize_t n = ::fgetxattr(held, kAclName, acl.data(), acl.size());
    if (n < 0 && errno == ERANGE) {
        const ssize_t need = ::fgetxattr(held, kAclName, nullptr, 0);
        if (need > 0) {
            acl.resize(static_cast<std::size_t>(need));
            n = ::fgetxattr(held, kAclName, acl.data(), acl.size());
        }
    }
    if (n > 0 && (!groupKept ||
                  ::fsetxattr(temp, kAclName, acl.data(), static_cast<std::size_t>(n), 0) != 0))
        ::fchmod(temp, mode & static_cast<mode_t>(~S_IRWXG));
}

int makeTemporary(const std::string& folder, const std::string& name, std::string& path) {
    // kTempRandom is the length of mkostemp's XXXXXX.
    std::string tmpl = folder + "/." + name + kTempMark + std::string(kTempRandom, 'X');
    std::vector<char> temp(tmpl.begin(), tmpl.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd >= 0) path.assign(temp.data());
    return fd;
}

}  // namespace detail

SteadyRead readSteady(const std::string& path, const std::function<void()>& pause) {
    SteadyRead r;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        r.error = errno;
        r.outcome = r.error == ENOENT || r.error == ENOTDIR ? SteadyRead::Gone
                                                            : SteadyRead::Unreadable;
        return r;
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        ::close(fd);
        return r;  // Gone: a FIFO or a device put in its place is no job file
    }
    r.id = FileId{static_cast<std::uint64_t>(before.st_dev),
                  static_cast<std::uint64_t>(before.st_ino)};
    r.size = before.st_size;
    r.mtimeNs = static_cast<std::int64_t>(before.st_mtim.tv_sec) * 1000000000 +
                before.st_mtim.tv_nsec;
    if (pause) pause();
    r.error = readAll(fd, r.bytes);
    struct stat after {};
    struct stat named {};
    const bool afterOk = ::fstat(fd, &after) == 0;
    ::close(fd);
    const auto same = [](const struct stat& x, const struct stat& y) {
        return x.st_dev == y.st_dev && x.st_ino == y.st_ino && x.st_size == y.st_size &&
               x.st_mtim.tv_sec == y.st_mtim.tv_sec && x.st_mtim.tv_nsec == y.st_mtim.tv_nsec;
    };
    const bool stillThere = ::stat(path.c_str(), &named) == 0;
    conclude(r, stillThere, stillThere && afterOk && same(before, after) && same(after, named));
    return r;
}

int readWhole(const std::string& path, std::string& bytes, Failure* failure) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return 0;
        fail(failure, Failure::CannotRead, errno);
        return -1;
    }
    const int error = readAll(fd, bytes);
    ::close(fd);
    if (error != 0) {
        bytes.clear();
        fail(failure, Failure::CannotRead, error);
        return -1;
    }
    return 1;
}

int rewrite(const std::string& path, const Editor& edit, Failure* failure) {
    // A try that finds the file replaced meanwhile lost to a writer that got through, so the
    // tries are bounded by time, not by number: a busy writer wins many turns in a row.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string target;
        if (const int error = followLinks(path, target); error != 0) {
            fail(failure, Failure::CannotWrite, error);
            return -1;
        }
        int fd = -1;
        bool created = false;
        const int opened = openTarget(target, fd, created, failure);
        if (opened < 0) return -1;
        if (opened == 0) continue;
        const int done = editLocked(target, fd, created, edit, failure);
        // A file created for this write that could not be written goes again (still locked,
        // so no other writer has put anything into it).
        if (done < 0 && created) {
            struct stat held {};
            struct stat now {};
            if (::fstat(fd, &held) == 0 && ::lstat(target.c_str(), &now) == 0 &&
                sameFile(held, now) && held.st_size == 0)
                ::unlink(target.c_str());
        }
        ::close(fd);  // releases the lock
        if (done != 0) return done > 0 ? 0 : -1;
    }
    fail(failure, Failure::CannotWrite, EAGAIN);
    return -1;
}

int publish(const std::string& path, const std::string& bytes, unsigned mode) {
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    removeStaleTemporaries(folder, name);
    std::string tmpl = folder + "/." + name + kTempMark + std::string(kTempRandom, 'X');
    std::vector<char> temp(tmpl.begin(), tmpl.end());
    temp.push_back('\0');
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    int error = ::fchmod(fd, static_cast<mode_t>(mode)) == 0 ? 0 : errno;
    if (error == 0) error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.data(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(temp.data());
    return error;
}

}  // namespace gsms::files

// A file or folder this process may not write, whoever runs the tests: without write bits for
// an ordinary user (a write meets EACCES); for root, whom modes do not stop, with the
// immutable flag (EPERM). Both go at the end, so that the temporary folder can be removed.
// Linux only: elsewhere (the Windows build of the tests) it is never usable.
#pragma once

#include <cerrno>
#include <string>

#if __has_include(<linux/fs.h>)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>


namespace gsms::test {

class Unwritable {
public:
    explicit Unwritable(std::string path) : path_(std::move(path)) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return;
        mode_ = st.st_mode & 07777;
        if (::geteuid() != 0) {
            usable_ = ::chmod(path_.c_str(), mode_ & ~0222u) == 0;
            reason_ = EACCES;
            return;
        }
        usable_ = setImmutable(true);
        reason_ = EPERM;
    }
    ~Unwritable() {
        if (!usable_) return;
        if (::geteuid() != 0) ::chmod(path_.c_str(), mode_);
        else setImmutable(false);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    // False where the file system keeps no immutable flag (tmpfs of older kernels, say).
    bool usable() const { return usable_; }
    // The errno a write meets.
    int reason() const { return reason_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }
    std::string path_;
    mode_t mode_ = 0;
    bool usable_ = false;
    int reason_ = 0;
};

}  // namespace gsms::test

#else
namespace gsms::test {
class Unwritable {
public:
    explicit Unwritable(const std::string&) {}
    bool usable() const { return false; }
    int reason() const { return 0; }
};
}  // namespace gsms::test
#endif

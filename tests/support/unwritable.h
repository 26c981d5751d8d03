// A file or folder this process may not write, whoever runs the tests: without write bits for
// an ordinary user (a write meets EACCES); for root, whom modes do not stop, with the
// immutable flag (EPERM). Both go at the end. Linux only: elsewhere never usable().
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <string>
#if __has_include(<linux/fs.h>)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#define GSMS_TEST_IMMUTABLE 1
#endif

namespace gsms::test {

class Unwritable {
public:
    explicit Unwritable(const std::string& path) : path_(path) {
#ifdef GSMS_TEST_IMMUTABLE
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return;
        mode_ = st.st_mode & 07777;
        root_ = ::geteuid() == 0;
        usable_ = root_ ? immutable(true) : ::chmod(path_.c_str(), mode_ & ~0222u) == 0;
#endif
    }
    ~Unwritable() {
#ifdef GSMS_TEST_IMMUTABLE
        if (usable_ && root_) immutable(false);
        else if (usable_) ::chmod(path_.c_str(), mode_);
#endif
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;
    bool usable() const { return usable_; }
    int reason() const { return root_ ? EPERM : EACCES; }  // what a write meets

private:
#ifdef GSMS_TEST_IMMUTABLE
    bool immutable(bool on) {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) ::close(fd);
        return done;
    }
#endif
    std::string path_;
    mode_t mode_ = 0;
    bool root_ = false;
    bool usable_ = false;
};

}  // namespace gsms::test

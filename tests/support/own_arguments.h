// The arguments this process was started with, read from /proc, so that a static initialiser
// of a test program can tell whether it was started as a helper child rather than as the test.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace gsms::test {

inline std::vector<std::string> ownArguments() {
    std::vector<std::string> argv;
    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return argv;
    std::string raw;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) raw.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    for (std::size_t at = 0; at < raw.size();) {
        std::size_t end = raw.find('\0', at);
        if (end == std::string::npos) end = raw.size();
        argv.push_back(raw.substr(at, end - at));
        at = end + 1;
    }
    return argv;
}

}  // namespace gsms::test

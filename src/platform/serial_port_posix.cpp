#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

namespace gsms {
namespace {

speed_t speedFor(std::uint32_t baud) {
    switch (baud) {
        case 110: return B110;
        case 150: return B150;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}

// Two-digit abbreviations of the Windows mode syntax.
std::uint32_t expandBaud(long v) {
    switch (v) {
        case 11: return 110;
        case 15: return 150;
        case 30: return 300;
        case 60: return 600;
        case 12: return 1200;
        case 24: return 2400;
        case 48: return 4800;
        case 96: return 9600;
        case 19: return 19200;
        default: return v > 0 ? static_cast<std::uint32_t>(v) : 0;
    }
}

bool parseNumber(std::string_view s, long& out) {
    if (s.empty() || s.size() > 9) return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

bool parseParity(std::string_view s, int& out) {
    if (s.size() != 1) return false;
    switch (std::toupper(static_cast<unsigned char>(s[0]))) {
        case 'N': out = 0; return true;
        case 'O': out = 1; return true;
        case 'E': out = 2; return true;
        case 'M': out = 3; return true;
        case 'S': out = 4; return true;
        default: return false;
    }
}

bool parseStop(std::string_view s, int& out) {
    if (s == "1") out = 0;
    else if (s == "1.5") out = 1;
    else if (s == "2") out = 2;
    else return false;
    return true;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

}  // namespace

bool parseModeText(const char* mode, LineSettings& out) {
    if (mode == nullptr) return false;
    std::string_view text = trimmed(mode);
    if (text.empty()) return false;
    LineSettings ls;
    long n = 0;
    if (text.find('=') != std::string_view::npos) {
        // "baud=9600 parity=N data=8 stop=1"
        bool haveBaud = false;
        std::size_t pos = 0;
        while (pos < text.size()) {
            while (pos < text.size() && text[pos] == ' ') ++pos;
            std::size_t end = text.find(' ', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view item = text.substr(pos, end - pos);
            pos = end;
            if (item.empty()) continue;
            auto eq = item.find('=');
            if (eq == std::string_view::npos) return false;
            std::string key(item.substr(0, eq));
            std::string_view value = item.substr(eq + 1);
            if (strcasecmp(key.c_str(), "baud") == 0) {
                if (!parseNumber(value, n)) return false;
                ls.baud = expandBaud(n);
                haveBaud = true;
            } else if (strcasecmp(key.c_str(), "parity") == 0) {
                if (!parseParity(value, ls.parity)) return false;
            } else if (strcasecmp(key.c_str(), "data") == 0) {
                if (!parseNumber(value, n) || n < 5 || n > 8) return false;
                ls.dataBits = static_cast<int>(n);
            } else if (strcasecmp(key.c_str(), "stop") == 0) {
                if (!parseStop(value, ls.stopBits)) return false;
            }  // other keys (xon, dtr, ...) are accepted and have no effect here
        }
        if (!haveBaud) return false;
    } else {
        // "96,N,8,1"; the last fields may be left out.
        std::vector<std::string_view> fields;
        std::size_t pos = 0;
        for (;;) {
            auto comma = text.find(',', pos);
            fields.push_back(trimmed(text.substr(pos, comma == std::string_view::npos
                                                         ? std::string_view::npos
                                                         : comma - pos)));
            if (comma == std::string_view::npos) break;
            pos = comma + 1;
        }
        if (fields.size() > 4 || !parseNumber(fields[0], n)) return false;
        ls.baud = expandBaud(n);
        if (fields.size() > 1 && !fields[1].empty() && !parseParity(fields[1], ls.parity))
            return false;
        if (fields.size() > 2 && !fields[2].empty()) {
            if (!parseNumber(fields[2], n) || n < 5 || n > 8) return false;
            ls.dataBits = static_cast<int>(n);
        }
        if (fields.size() > 3 && !fields[3].empty() && !parseStop(fields[3], ls.stopBits))
            return false;
    }
    if (speedFor(ls.baud) == B0) return false;
    out = ls;
    return true;
}

std::string SerialPort::devicePath(const std::string& portName) {
    if (portName.size() > 3 && strncasecmp(portName.c_str(), "COM", 3) == 0) {
        long n = 0;
        if (parseNumber(std::string_view(portName).substr(3), n) && n >= 1)
            return "/dev/ttyS" + std::to_string(n - 1);
    }
    return portName;
}

// The descriptor's number stays once the first open has given it: a line closed or opened
// again is put under that same number (dup3), so that a read or write on another thread never
// meets a freed number, or one that another open has taken meanwhile; it ends on the line it
// began on.
struct SerialPort::Native {
    int fd = -1;
    int inert = -1;  // the read end of a pipe without a writer: reads end at once, writes fail
    std::atomic<bool> attached{false};  // a line is in place under fd
    std::atomic<int> timeoutMs{5000};
};

namespace {

// The descriptors that hold a terminal exclusively, so that the end of the process can give
// the terminals back (the gateway never closes its port: it ends with _exit). A slot is -1
// when free.
constexpr int kHeldSlots = 8;
std::atomic<int> heldExclusive[kHeldSlots] = {-1, -1, -1, -1, -1, -1, -1, -1};

void noteHeld(int fd) {
    for (auto& slot : heldExclusive) {
        int free = -1;
        if (slot.compare_exchange_strong(free, fd)) return;
    }
}

// Gives the terminal back: the flag belongs to the terminal, not to the descriptor, and a
// pseudo-terminal whose other side stays open (socat) keeps it after the last close, so that
// every later open would fail with EBUSY.
void releaseHeld(int fd) {
    for (auto& slot : heldExclusive) {
        int held = fd;
        if (slot.compare_exchange_strong(held, -1)) break;
    }
    ::ioctl(fd, TIOCNXCL);
}

}  // namespace

void SerialPort::releaseAtProcessEnd() {
    for (auto& slot : heldExclusive) {
        const int fd = slot.exchange(-1);
        if (fd >= 0) ::ioctl(fd, TIOCNXCL);
    }
}

SerialPort::SerialPort(const char* deviceName) : native_(std::make_unique<Native>()) {
    if (deviceName != nullptr) deviceName_ = deviceName;
}

SerialPort::~SerialPort() {
    if (native_->attached.load()) releaseHeld(native_->fd);
    if (native_->fd >= 0) ::close(native_->fd);
    if (native_->inert >= 0) ::close(native_->inert);
}

bool SerialPort::isOpen() const { return native_->attached.load(); }

int SerialPort::open() {
    if (isOpen()) {
        lastError_ = EBUSY;
        return 0;
    }
    if (deviceName_.empty()) {
        lastError_ = ENOENT;
        return 0;
    }
    std::string path = devicePath(deviceName_);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = errno;
        return 0;
    }
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        ::ioctl(fd, TIOCEXCL) != 0) {
        // Held by another program shows as a lock that would block: say "busy".
        lastError_ = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return 0;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    if (native_->fd < 0) {
        native_->fd = fd;
        // The number stays the port's from now on, whatever line is put under it.
        noteHeld(fd);
    } else {
        // In place of the line closed before; the lock stays with the new line's description.
        if (::dup3(fd, native_->fd, O_CLOEXEC) < 0) {
            lastError_ = errno;
            ::close(fd);
            return 0;
        }
        ::close(fd);
    }
    native_->attached = true;
    if (baud_ != 0) applyLine();
    setTimeouts(500);
    purge();
    return 1;
}

bool SerialPort::applyLine() {
    struct termios tio {};
    if (::tcgetattr(native_->fd, &tio) != 0) return false;
    ::cfsetispeed(&tio, speedFor(baud_));
    ::cfsetospeed(&tio, speedFor(baud_));
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[dataBits_ - 5];
    if (parity_ == 1 || parity_ == 3) tio.c_cflag |= PARENB | PARODD;
    if (parity_ == 2 || parity_ == 4) tio.c_cflag |= PARENB;
    if (parity_ >= 3) tio.c_cflag |= CMSPAR;
    if (stopBits_ != 0) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    return ::tcsetattr(native_->fd, TCSANOW, &tio) == 0;
}

void SerialPort::close() {
    if (!native_->attached.exchange(false)) return;
    // Given back what open took, so that the device opens again at once, even where another
    // descriptor keeps it alive.
    (void)::ioctl(native_->fd, TIOCNXCL);
    (void)::flock(native_->fd, LOCK_UN);
    if (native_->inert < 0) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            ::close(ends[1]);
            native_->inert = ends[0];
        }
    }
    // Without the inert descriptor the dead line stays under the number until the next open:
    // reads and writes fail all the same, as the port counts as closed.
    if (native_->inert >= 0) (void)::dup3(native_->inert, native_->fd, O_CLOEXEC);
}

void SerialPort::configure(const char* mode) {
    if (!isOpen()) return;
    LineSettings ls;
    if (!parseModeText(mode, ls)) return;
    baud_ = ls.baud;
    dataBits_ = ls.dataBits;
    parity_ = ls.parity;
    stopBits_ = ls.stopBits;
    (void)applyLine();
}

void SerialPort::setTimeouts(int unit) {
    if (!isOpen()) return;
    native_->timeoutMs = unit > 0 ? unit * 10 : 0;
}

void SerialPort::purge() {
    if (isOpen()) ::tcflush(native_->fd, TCIOFLUSH);
}

int SerialPort::read(void* buffer, std::size_t count) {
    if (!isOpen()) return -1;
    if (count == 0) return 0;
    const int t = native_->timeoutMs.load();
    // The whole read may take t per byte asked for; it returns as soon as bytes came.
    long long total = static_cast<long long>(t) * static_cast<long long>(count);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(total);
    bool hungUp = false;
    for (;;) {
        ssize_t n = ::read(native_->fd, buffer, count);
        if (n > 0) return static_cast<int>(n);
        // EIO: a pseudo-terminal whose other side is gone. A hung-up device (a USB modem
        // unplugged) reads 0 and polls POLLHUP for ever: both are errors, so that the caller
        // pauses instead of spinning on them.
        if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
        if (hungUp) return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) return 0;
        struct pollfd p {native_->fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left));
        if (r < 0 && errno != EINTR) return -1;
        // Read once more: bytes the other side wrote before it went are still to be had.
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) hungUp = true;
    }
}

int SerialPort::write(const void* buffer, std::size_t count) {
    if (!isOpen()) return -1;
    const int t = native_->timeoutMs.load();
    long long total = static_cast<long long>(t) * static_cast<long long>(count + 1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(total);
    const char* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(native_->fd, p + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return done > 0 ? static_cast<int>(done) : -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0) break;
        struct pollfd pf {native_->fd, POLLOUT, 0};
        if (::poll(&pf, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
    }
    return static_cast<int>(done);
}

}  // namespace gsms

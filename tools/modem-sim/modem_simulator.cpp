#include "modem_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace gsms::sim {
namespace {

constexpr auto kExclusiveProbe = std::chrono::milliseconds(200);

int msUntil(std::chrono::steady_clock::time_point t, std::chrono::steady_clock::time_point now) {
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(t - now).count();
    return us <= 0 ? 0 : static_cast<int>((us + 999) / 1000);
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

template <typename T>
void keepLast(std::deque<T>& d, std::size_t n) {
    while (d.size() > n) d.pop_front();
}

}  // namespace

ModemSimulator::ModemSimulator(Options options) : options_(std::move(options)) {}

ModemSimulator::~ModemSimulator() { stop(); }

bool ModemSimulator::fail(const std::string& why) {
    error_ = why;
    cleanup();
    return false;
}

bool ModemSimulator::start() {
    if (thread_.joinable()) return true;
    error_.clear();
    stopping_ = false;
    if (std::string why = openTerminal(); !why.empty()) return fail(why);
    slavePath_ = slave_;
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) return fail(std::string("eventfd: ") + std::strerror(errno));
    if (!options_.recordPath.empty() && !record_.open(options_.recordPath))
        return fail("cannot open " + options_.recordPath + ": " + std::strerror(errno));
    if (!options_.tracePath.empty() && !trace_.open(options_.tracePath))
        return fail("cannot open " + options_.tracePath + ": " + std::strerror(errno));
    for (const std::string& line : options_.startControls) {
        std::string answer = control(line);
        if (answer != "ok") return fail("start control \"" + line + "\": " + answer);
    }
    if (!options_.linkPath.empty()) {
        if (std::string why = makeLink(); !why.empty()) return fail(why);
    }
    if (!options_.controlPath.empty() && !openControlSocket()) return false;
    thread_ = std::thread([this] { serve(); });
    return true;
}

std::string ModemSimulator::openTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0)
        return std::string("pseudo-terminal: ") + std::strerror(errno);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    slave_ = name;
    keep_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct termios tio {};
    if (keep_ < 0 || ::tcgetattr(keep_, &tio) != 0)
        return "cannot open " + slave_ + ": " + std::strerror(errno);
    // Raw, so the line discipline neither echoes nor rewrites CR: the modem does the echo.
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(keep_, TCSANOW, &tio);
    return {};
}

std::string ModemSimulator::makeLink() {
    const std::string& path = options_.linkPath;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return path + " exists and is not a symbolic link";
    // Made aside and renamed over the old one, so the path never goes missing in between.
    std::string aside = path + ".new" + std::to_string(::getpid());
    ::unlink(aside.c_str());
    if (::symlink(slave_.c_str(), aside.c_str()) != 0 ||
        ::rename(aside.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(aside.c_str());
        return "cannot link " + path + ": " + std::strerror(e);
    }
    linked_ = true;
    return {};
}

void ModemSimulator::removeLink() {
    if (!linked_) return;
    // Only our own link: another simulator may have taken the path since.
    char target[256];
    ssize_t n = ::readlink(options_.linkPath.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == slave_)
        ::unlink(options_.linkPath.c_str());
    linked_ = false;
}

// The line hung up: the pseudo-terminal goes, and with it the link, as a USB modem's
// /dev/serial/by-id link goes when it is unplugged. Serving thread only.
void ModemSimulator::hangUpLine(std::string& input) {
    closeFd(master_);
    closeFd(keep_);
    removeLink();
    input.clear();
    std::lock_guard lock(mutex_);
    queue_.clear();
    queued_ = 0;
    frontWritten_ = 0;
    frontTimed_ = false;
}

// A new pseudo-terminal under the same link: the modem plugged in again. Serving thread only.
bool ModemSimulator::comeBack() {
    closeFd(master_);  // what a failed try left
    closeFd(keep_);
    std::string why = openTerminal();
    if (why.empty() && !options_.linkPath.empty()) why = makeLink();
    if (why.empty()) return true;
    std::fprintf(stderr, "gsms-modem-sim: cannot come back: %s\n", why.c_str());
    return false;
}

bool ModemSimulator::openControlSocket() {
    const std::string& path = options_.controlPath;
    // Bound and listening under a name of its own first, then linked to the path: whoever
    // sees the path can connect at once. A link, not a rename, so that a simulator that took
    // the path meanwhile keeps it, as with a bind to the path itself.
    const std::string aside = path + ".new" + std::to_string(::getpid());
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (aside.size() >= sizeof addr.sun_path) return fail("control path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) return fail(path + " exists and is not a socket");
        // A socket nobody answers on is left over from a simulator that died.
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool live = probe >= 0 &&
                    ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        closeFd(probe);
        if (live) return fail(path + " is in use by another simulator");
        ::unlink(path.c_str());
    }
    std::memcpy(addr.sun_path, aside.c_str(), aside.size() + 1);
    ::unlink(aside.c_str());
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail("cannot bind " + path + ": " + std::strerror(errno));
    if (::listen(listen_, 8) != 0) {
        int e = errno;
        ::unlink(aside.c_str());
        return fail("cannot listen on " + path + ": " + std::strerror(e));
    }
    if (::link(aside.c_str(), path.c_str()) != 0) {
        int e = errno == EEXIST ? EADDRINUSE : errno;  // as the bind to the path would say
        ::unlink(aside.c_str());
        return fail("cannot bind " + path + ": " + std::strerror(e));
    }
    ::unlink(aside.c_str());
    socketMade_ = true;
    return true;
}

void ModemSimulator::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    cleanup();
}

void ModemSimulator::cleanup() {
    removeLink();
    if (socketMade_) ::unlink(options_.controlPath.c_str());
    socketMade_ = false;
    closeFd(listen_);
    closeFd(wake_);
    closeFd(keep_);
    closeFd(master_);
    std::lock_guard lock(mutex_);
    record_.close();
    trace_.close();
}

void ModemSimulator::wake() {
    if (wake_ < 0) return;
    std::uint64_t one = 1;
    ssize_t n = ::write(wake_, &one, sizeof one);
    (void)n;  // a full counter already wakes the thread
}

std::string ModemSimulator::control(const std::string& line) {
    std::string answer;
    {
        std::lock_guard lock(mutex_);
        Output out;
        answer = modem_.control(line, out);
        absorb(out);
    }
    wake();
    return answer;
}

std::vector<Submission> ModemSimulator::submissions() const {
    std::lock_guard lock(mutex_);
    return {submissions_.begin(), submissions_.end()};
}

std::vector<std::string> ModemSimulator::commands() const {
    std::lock_guard lock(mutex_);
    return {commands_.begin(), commands_.end()};
}

// Takes what the modem produced into the queue and the records; mutex_ held.
void ModemSimulator::absorb(Output& out) {
    if (out.hangUp) {
        backAfterS_ = out.backAfterS;
        hangUp_ = true;
    }
    for (OutputChunk& c : out.chunks) {
        if (queued_ + c.bytes.size() > kMaxQueued) continue;
        queued_ += c.bytes.size();
        queue_.push_back(std::move(c));
    }
    for (std::string& command : out.commands) {
        trace_.append(commandJson(utcNow(), command));
        commands_.push_back(std::move(command));
    }
    for (Submission& s : out.submissions) {
        record_.append(submissionJson(s));
        submissions_.push_back(std::move(s));
    }
    keepLast(commands_, kKept);
    keepLast(submissions_, kKept);
}

// A modem busy with a submission takes no further input until it has answered.
bool ModemSimulator::delayQueued() const {
    return std::any_of(queue_.begin(), queue_.end(),
                       [](const OutputChunk& c) { return c.delayMs > 0; });
}

// Writes what is due. Returns the ms until more is due, 0 when the master is full
// (wait for POLLOUT), -1 when nothing is queued.
int ModemSimulator::flushOutput(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    while (!queue_.empty()) {
        OutputChunk& c = queue_.front();
        if (!frontTimed_) {
            frontDue_ = now + std::chrono::milliseconds(c.delayMs);
            frontTimed_ = true;
        }
        if (now < frontDue_) return std::max(1, msUntil(frontDue_, now));
        std::size_t n = c.bytes.size() - frontWritten_;
        const int baud = modem_.baud();
        Clock::duration byteTime{};
        if (baud > 0) {
            // Ten bit times per byte (start, eight data, stop), on a fixed schedule.
            byteTime = std::chrono::nanoseconds(10'000'000'000LL / baud);
            if (nextByteAt_ + std::chrono::milliseconds(20) < now) nextByteAt_ = now;
            if (now < nextByteAt_) return std::max(1, msUntil(nextByteAt_, now));
            n = std::min<std::size_t>(n, 1 + static_cast<std::size_t>((now - nextByteAt_) / byteTime));
        }
        ssize_t w = ::write(master_, c.bytes.data() + frontWritten_, n);
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR) return 0;
            queue_.clear();  // the terminal is gone; what was to be said is lost
            queued_ = 0;
            frontWritten_ = 0;
            frontTimed_ = false;
            return -1;
        }
        frontWritten_ += static_cast<std::size_t>(w);
        queued_ -= static_cast<std::size_t>(w);
        if (baud > 0) nextByteAt_ += byteTime * w;
        if (frontWritten_ == c.bytes.size()) {
            queue_.pop_front();
            frontWritten_ = 0;
            frontTimed_ = false;
        }
    }
    return -1;
}

// A client's TIOCEXCL outlives its close while we hold the slave, and would refuse every
// later open by a non-root client. Once no client holds the port's lock, lift it.
void ModemSimulator::releaseExclusive() {
    int exclusive = 0;
    if (::ioctl(keep_, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return;
    if (::flock(keep_, LOCK_EX | LOCK_NB) != 0) return;  // the client is still there
    ::ioctl(keep_, TIOCNXCL);
    ::flock(keep_, LOCK_UN);
}

void ModemSimulator::readControl(ControlClient& c) {
    char buf[512];
    ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        closeFd(c.fd);
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
            if (c.pending.size() < kMaxControlLine) c.pending.push_back(buf[i]);
            else c.overlong = true;
            continue;
        }
        std::string answer = c.overlong ? "error: line too long" : control(c.pending);
        answer += "\n";
        // Answers are short; a client that does not read them loses them.
        ssize_t sent = ::send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        (void)sent;
        c.pending.clear();
        c.overlong = false;
    }
}

void ModemSimulator::serve() {
    std::string input;  // bytes from the client not yet fed to the modem
    std::vector<ControlClient> clients;
    auto lastProbe = Clock::now();
    std::optional<Clock::time_point> backAt;  // when a hung-up line comes back
    while (!stopping_) {
        if (hangUp_.exchange(false)) {
            if (master_ >= 0) hangUpLine(input);
            const int after = backAfterS_.load();
            if (after >= 0) backAt = Clock::now() + std::chrono::seconds(after);
            else backAt.reset();
        }
        if (backAt && Clock::now() >= *backAt) {
            if (comeBack()) backAt.reset();
            else backAt = Clock::now() + std::chrono::seconds(1);
        }
        {
            std::lock_guard lock(mutex_);
            Output out;
            std::size_t fed = 0;
            for (; fed < input.size(); ++fed) {
                if (delayQueued()) break;
                modem_.feed(static_cast<unsigned char>(input[fed]), out);
                absorb(out);
                out = Output();
            }
            input.erase(0, fed);
        }
        auto now = Clock::now();
        int outWait = flushOutput(now);
        if (now - lastProbe >= kExclusiveProbe) {
            releaseExclusive();
            lastProbe = now;
        }
        int timeout = msUntil(lastProbe + kExclusiveProbe, now);
        if (outWait > 0) timeout = std::min(timeout, outWait);
        if (backAt) timeout = std::min(timeout, msUntil(*backAt, now));

        std::vector<pollfd> fds;
        short masterEvents = input.size() < kMaxInput ? POLLIN : 0;
        if (outWait == 0) masterEvents |= POLLOUT;
        fds.push_back({master_, masterEvents, 0});
        fds.push_back({wake_, POLLIN, 0});
        if (listen_ >= 0) fds.push_back({listen_, POLLIN, 0});
        for (const ControlClient& c : clients) fds.push_back({c.fd, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), std::max(timeout, 1)) < 0 && errno != EINTR) break;

        if (fds[0].revents & POLLIN) {
            char buf[512];
            ssize_t n = ::read(master_, buf, std::min(sizeof buf, kMaxInput - input.size()));
            if (n > 0) input.append(buf, static_cast<std::size_t>(n));
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            ssize_t n = ::read(wake_, &count, sizeof count);
            (void)n;
        }
        std::size_t at = 2;
        if (listen_ >= 0) {
            if (fds[at].revents & POLLIN) {
                int fd = ::accept4(listen_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd >= 0 && clients.size() >= 16) ::close(fd);
                else if (fd >= 0) clients.push_back({fd, {}, false});
            }
            ++at;
        }
        std::size_t polled = fds.size() - at;  // clients accepted just now were not polled
        for (std::size_t i = 0; i < polled; ++i)
            if (fds[at + i].revents & (POLLIN | POLLHUP | POLLERR)) readControl(clients[i]);
        std::erase_if(clients, [](const ControlClient& c) { return c.fd < 0; });
    }
    for (ControlClient& c : clients) closeFd(c.fd);
}

}  // namespace gsms::sim

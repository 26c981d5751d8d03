// The client side for the simulator tests: the gateway's own SerialPort on the slave.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/serial_port.h"

namespace gsms::test {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// Polls cond until it holds or the deadline passes.
inline bool waitFor(const std::function<bool()>& cond, Ms deadline = 10s) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Received text with every modem time stamp ("24/05/01,12:00:00+00") replaced by its
// pattern, so transcripts can be compared whole.
inline std::string maskTimestamps(std::string s) {
    static const std::string shape = "dd/dd/dd,dd:dd:dd+dd";
    for (std::size_t i = 0; i + shape.size() <= s.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < shape.size() && match; ++k) {
            char c = s[i + k];
            match = shape[k] == 'd' ? c >= '0' && c <= '9' : c == shape[k];
        }
        if (match) s.replace(i, shape.size(), "yy/MM/dd,hh:mm:ss+zz");
    }
    return s;
}

// A JSON-lines text with the value of every "time" member replaced by T.
inline std::string maskJsonTimes(std::string s) {
    const std::string key = "\"time\":\"";
    for (std::size_t at = s.find(key); at != std::string::npos; at = s.find(key, at + 1)) {
        std::size_t end = s.find('"', at + key.size());
        if (end == std::string::npos) break;
        s.replace(at + key.size() - 1, end - at - key.size() + 2, "T");
    }
    return s;
}

// The last line of text is a final result: OK, ERROR, +CME ERROR: ..., +CMS ERROR: ...
inline bool endsWithFinal(const std::string& text) {
    if (!text.ends_with("\r\n")) return false;
    std::string_view body(text.data(), text.size() - 2);
    std::size_t start = body.rfind("\r\n");
    std::string_view line = start == std::string_view::npos ? body : body.substr(start + 2);
    return line == "OK" || line == "ERROR" || line.starts_with("+CME ERROR: ") ||
           line.starts_with("+CMS ERROR: ");
}

class SimClient {
public:
    explicit SimClient(const std::string& path) : port_(path.c_str()) {
        // The simulator lifts a closed client's exclusive hold a moment later.
        open_ = waitFor([&] { return port_.open() == 1; });
        if (!open_) return;
        port_.configure("9600,N,8,1");
        port_.setTimeouts(1);
    }
    bool isOpen() const { return open_; }

    void send(std::string_view bytes) {
        if (!bytes.empty()) (void)port_.write(bytes.data(), bytes.size());
    }
    // Exactly n bytes, or fewer when the deadline passes first.
    std::string read(std::size_t n, Ms deadline = 10s) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (got.size() < n && std::chrono::steady_clock::now() < end) {
            char buf[64];
            std::size_t want = std::min(sizeof buf, n - got.size());
            int r = port_.read(buf, want);
            if (r > 0) got.append(buf, static_cast<std::size_t>(r));
        }
        return got;
    }
    // Until what came ends with tail, or the deadline passes.
    std::string readUntil(std::string_view tail, Ms deadline = 10s) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (!got.ends_with(tail) && std::chrono::steady_clock::now() < end) {
            char c;
            if (port_.read(&c, 1) == 1) got.push_back(c);
        }
        return got;
    }
    // Until a final result: OK, ERROR, +CME ERROR: ..., +CMS ERROR: ... on a line of its own.
    std::string readFinal(Ms deadline = 10s) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (!endsWithFinal(got) &&
               std::chrono::steady_clock::now() < end) {
            char c;
            if (port_.read(&c, 1) == 1) got.push_back(c);
        }
        return got;
    }
    // What comes within the window; only ever used to show that nothing does.
    std::string readFor(Ms window) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + window;
        while (std::chrono::steady_clock::now() < end) {
            char c;
            if (port_.read(&c, 1) == 1) got.push_back(c);
        }
        return got;
    }

private:
    SerialPort port_;
    bool open_ = false;
};

// Sends text (control lines) over the control socket and returns what came back once it
// holds one answer line per line sent; "" when the socket cannot be reached.
inline std::string controlSocket(const std::string& path, const std::string& text, Ms deadline = 10s) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    // A simulator that is still coming up refuses for a moment (or has no socket yet).
    int fd = -1;
    waitFor([&] {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            return true;
        const int e = errno;
        if (fd >= 0) ::close(fd);
        fd = -1;
        return e != ECONNREFUSED && e != ENOENT;
    }, 5s);
    std::string got;
    if (fd >= 0 &&
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size())) {
        auto lines = std::count(text.begin(), text.end(), '\n');
        auto end = std::chrono::steady_clock::now() + deadline;
        while (std::count(got.begin(), got.end(), '\n') < lines &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            char buf[256];
            if (::poll(&p, 1, 100) == 1) {
                ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0) break;
                got.append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    if (fd >= 0) ::close(fd);
    return got;
}

}  // namespace gsms::test

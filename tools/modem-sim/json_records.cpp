#include "json_records.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace gsms::sim {
namespace {

struct UtcParts {
    std::tm tm{};
    int ms = 0;
};

UtcParts utcParts() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t secs = system_clock::to_time_t(now);
    UtcParts p;
    ::gmtime_r(&secs, &p.tm);
    p.ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return p;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string utcNow() {
    UtcParts p = utcParts();
    char buf[96];  // room for any int the format could print
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.tm.tm_year + 1900,
                  p.tm.tm_mon + 1, p.tm.tm_mday, p.tm.tm_hour, p.tm.tm_min, p.tm.tm_sec, p.ms);
    return buf;
}

std::string modemTimestamp() {
    UtcParts p = utcParts();
    char buf[96];  // room for any int the format could print
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d+00", p.tm.tm_year % 100,
                  p.tm.tm_mon + 1, p.tm.tm_mday, p.tm.tm_hour, p.tm.tm_min, p.tm.tm_sec);
    return buf;
}

std::string toHex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

bool fromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int hi = hexValue(hex[i]);
        int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        bytes.push_back(static_cast<char>(hi << 4 | lo));
    }
    out = std::move(bytes);
    return true;
}

namespace {

std::string quoted(std::string_view bytes, bool utf8) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else if (c >= 0x80 && !utf8) {  // ISO 8859-1 is the first 256 code points
                    out.push_back(static_cast<char>(0xC0 | c >> 6));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace

std::string jsonString(std::string_view latin1) { return quoted(latin1, false); }
std::string jsonUtf8(std::string_view utf8) { return quoted(utf8, true); }

std::string submissionJson(const Submission& s) {
    std::string out = "{\"time\":" + jsonString(s.time) + ",\"to\":" + jsonString(s.to) +
                      ",\"csmp\":[" + std::to_string(s.csmp[0]) + "," + std::to_string(s.csmp[1]) +
                      "," + std::to_string(s.csmp[2]) + "," + std::to_string(s.csmp[3]) +
                      "],\"hex\":" + jsonString(toHex(s.bytes)) +
                      ",\"text\":" + (s.pdu ? jsonUtf8(s.text) : jsonString(s.latin1)) +
                      ",\"ref\":" + (s.ref < 0 ? std::string("null") : std::to_string(s.ref));
    if (!s.error.empty()) out += ",\"error\":" + jsonString(s.error);
    if (s.pdu) {
        out += ",\"mode\":\"pdu\",\"alphabet\":" + jsonString(s.alphabet) + ",\"class\":" +
               (s.messageClass < 0 ? std::string("null") : std::to_string(s.messageClass));
        if (s.concatTotal > 0)
            out += ",\"udh\":{\"ref\":" + std::to_string(s.concatRef) +
                   ",\"parts\":" + std::to_string(s.concatTotal) +
                   ",\"part\":" + std::to_string(s.concatPart) + "}";
        if (!s.message.empty()) out += ",\"message\":" + jsonUtf8(s.message);
        if (!s.why.empty()) out += ",\"why\":" + jsonString(s.why);
    }
    return out + "}";
}

std::string commandJson(const std::string& time, std::string_view command) {
    return "{\"time\":" + jsonString(time) + ",\"command\":" + jsonString(command) + "}";
}

JsonLines::~JsonLines() { close(); }

bool JsonLines::open(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

void JsonLines::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void JsonLines::append(const std::string& json) {
    if (fd_ < 0) return;
    std::string line = json + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a full disk loses the record, the modem goes on
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace gsms::sim

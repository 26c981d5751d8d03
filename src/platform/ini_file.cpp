#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace gsms::ini {
namespace {

std::mutex writeMutex;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "[name]" lines give the section name.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

std::vector<std::string> readLines(const std::string& path, bool& exists, bool* crlf = nullptr) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    exists = static_cast<bool>(in);
    std::string line;
    while (in && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            if (crlf != nullptr) *crlf = true;
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::optional<std::string> read(const std::string& path, std::string_view section,
                                std::string_view key) {
    bool exists = false;
    auto lines = readLines(path, exists);
    bool inSection = false;
    bool sectionSeen = false;
    for (const auto& line : lines) {
        if (auto name = sectionName(line)) {
            // The first of duplicate sections wins: a later one with the same name is skipped.
            if (inSection) return std::nullopt;
            inSection = !sectionSeen && equalNoCase(*name, section);
            if (inSection) sectionSeen = true;
            continue;
        }
        if (!inSection) continue;
        auto kl = keyLine(line);
        if (!kl || !equalNoCase(kl->key, key)) continue;
        std::string_view v = kl->value;
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        return std::string(v);
    }
    return std::nullopt;
}

bool write(const std::string& path, std::string_view section, std::string_view key,
           std::string_view value) {
    std::lock_guard lock(writeMutex);
    bool exists = false;
    bool crlf = false;
    auto lines = readLines(path, exists, &crlf);
    std::string newLine = std::string(key) + "=" + std::string(value);

    // Find the first section of that name and the first key in it.
    std::ptrdiff_t sectionStart = -1;
    std::ptrdiff_t sectionEnd = -1;  // index after the last non-blank line of the section
    bool replaced = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = sectionName(lines[i])) {
            if (sectionStart >= 0) break;
            if (equalNoCase(*name, section)) {
                sectionStart = static_cast<std::ptrdiff_t>(i);
                sectionEnd = sectionStart + 1;
            }
            continue;
        }
        if (sectionStart < 0) continue;
        if (!trim(lines[i]).empty()) sectionEnd = static_cast<std::ptrdiff_t>(i) + 1;
        auto kl = keyLine(lines[i]);
        if (kl && equalNoCase(kl->key, key)) {
            lines[i] = newLine;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        if (sectionStart >= 0) {
            lines.insert(lines.begin() + sectionEnd, newLine);
        } else {
            lines.push_back("[" + std::string(section) + "]");
            lines.push_back(newLine);
        }
    }

    std::string dir = ".";
    if (auto slash = path.rfind('/'); slash != std::string::npos) dir = path.substr(0, slash);
    if (dir.empty()) dir = "/";
    std::string tmpl = dir + "/.ini-XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += crlf ? "\r\n" : "\n";  // a file keeps the line ends it came with
    }
    bool ok = true;
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (ok) ok = ::fsync(fd) == 0;
    ::fchmod(fd, 0644);
    ::close(fd);
    if (!ok || ::rename(name.data(), path.c_str()) != 0) {
        ::unlink(name.data());
        return false;
    }
    return true;
}

int parseInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
    long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i++] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (neg) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<int>(v);
}

}  // namespace gsms::ini

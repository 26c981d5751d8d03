#include "frontend/unit_sandbox.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace gsms {
namespace {

namespace fs = std::filesystem;

std::string trimmed(const std::string& s) {
    std::size_t from = 0, to = s.size();
    while (from < to && std::isspace(static_cast<unsigned char>(s[from]))) ++from;
    while (to > from && std::isspace(static_cast<unsigned char>(s[to - 1]))) --to;
    return s.substr(from, to - from);
}

// The keys that let the service write, with the folder their relative names live in.
const std::map<std::string, std::string> kDirectoryKeys = {
    {"ReadWritePaths", ""},          {"StateDirectory", "/var/lib/"},
    {"LogsDirectory", "/var/log/"},  {"CacheDirectory", "/var/cache/"},
    {"RuntimeDirectory", "/run/"},
};

struct Reading {
    bool strict = false;
    std::map<std::string, std::vector<std::string>> lists;
};

bool readFile(const std::string& path, Reading& r) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line, section;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        if (line.front() == '[') {
            section = line;
            continue;
        }
        const auto eq = line.find('=');
        if (section != "[Service]" || eq == std::string::npos) continue;
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = trimmed(line.substr(eq + 1));
        if (key == "ProtectSystem") r.strict = value == "strict";
        const auto dirKey = kDirectoryKeys.find(key);
        if (dirKey == kDirectoryKeys.end()) continue;
        std::vector<std::string>& list = r.lists[key];
        if (value.empty()) list.clear();
        std::istringstream words(value);
        for (std::string w; words >> w;) {
            while (!w.empty() && (w[0] == '-' || w[0] == '+')) w.erase(0, 1);
            if (w.empty()) continue;
            list.push_back(w[0] == '/' ? w : dirKey->second + w);
        }
    }
    return true;
}

// A path to compare: made absolute and normal, links of its existing part followed.
fs::path comparable(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) p = fs::path(path).lexically_normal();
    std::string text = p.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

}  // namespace

bool readUnitSandbox(const std::string& unitFile, const std::vector<std::string>& dropInFolders,
                     UnitSandbox& out) {
    Reading r;
    if (!readFile(unitFile, r)) return false;
    std::map<std::string, std::string> dropIns;  // name -> path, the first folder's wins
    for (const std::string& folder : dropInFolders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
            if (it->path().extension() == ".conf")
                dropIns.emplace(it->path().filename().string(), it->path().string());
    }
    for (const auto& [name, path] : dropIns) (void)readFile(path, r);
    out = UnitSandbox{};
    out.readOnlySystem = r.strict;
    for (const auto& [key, list] : r.lists)
        out.writable.insert(out.writable.end(), list.begin(), list.end());
    return true;
}

bool sandboxAllows(const UnitSandbox& sandbox, const std::string& path) {
    if (!sandbox.readOnlySystem) return true;
    const std::string p = comparable(path).string();
    return std::any_of(sandbox.writable.begin(), sandbox.writable.end(), [&](const auto& w) {
        const std::string allowed = comparable(w).string();
        return p == allowed || (p.size() > allowed.size() && p.compare(0, allowed.size(), allowed) == 0 &&
                                (allowed == "/" || p[allowed.size()] == '/'));
    });
}

}  // namespace gsms

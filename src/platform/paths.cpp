#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>

namespace gsms::paths {

std::string fromConfig(std::string_view configured) {
    std::string out(configured);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}

std::string join(std::string_view dir, std::string_view name) {
    std::string d = fromConfig(dir);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) name.remove_prefix(1);
    if (d.empty()) return std::string(name);
    if (d == "/") return "/" + std::string(name);
    return d + "/" + std::string(name);
}

NameExt split(std::string_view path) {
    auto slash = path.find_last_of("/\\");
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = last.rfind('.');
    if (dot == std::string_view::npos) return {std::string(last), ""};
    return {std::string(last.substr(0, dot)), std::string(last.substr(dot))};
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool sameDirectory(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return join(a, "") == join(b, "");
}

bool makeDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) return true;
    return errno == EEXIST && isDirectory(path);
}

}  // namespace gsms::paths

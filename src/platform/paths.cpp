#include "platform/paths.h"

#include "platform/file_move.h"

namespace gsms::paths {

std::string fromConfig(std::string_view configured) {
    std::string out(configured);
    for (char& c : out)
        if (c == '\\' || c == '/') c = kSeparator;
    return out;
}

std::string join(std::string_view dir, std::string_view name) {
    std::string d = fromConfig(dir);
    while (d.size() > 1 && d.back() == kSeparator) d.pop_back();
    while (!name.empty() && (name.front() == '/' || name.front() == '\\')) name.remove_prefix(1);
    if (d.empty()) return std::string(name);
    if (d.size() == 1 && d[0] == kSeparator) return d + std::string(name);
    return d + kSeparator + std::string(name);
}

NameExt split(std::string_view path) {
    auto slash = path.find_last_of("/\\");
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    auto dot = last.rfind('.');
    if (dot == std::string_view::npos) return {std::string(last), ""};
    return {std::string(last.substr(0, dot)), std::string(last.substr(dot))};
}

std::string fitComponent(const std::string& dir, std::string_view head, std::string_view name,
                         std::string_view tail) {
    const std::size_t max = maxComponentLength(dir);
    const auto fits = [&](std::string_view n, std::string_view t) {
        return componentLength(std::string(head) + std::string(n) + std::string(t)) <= max;
    };
    while (!name.empty() && !fits(name, tail))
        name = name.substr(0, lastCharacterStart(name, name.size()));
    while (name.empty() && !tail.empty() && !fits(name, tail))
        tail = tail.substr(0, lastCharacterStart(tail, tail.size()));
    return std::string(head) + std::string(name) + std::string(tail);
}

bool sameDirectory(const std::string& a, const std::string& b) {
    files::FileId ia, ib;
    if (files::identityOf(a, ia) && files::identityOf(b, ib)) return ia == ib;
    return join(a, "") == join(b, "");
}

}  // namespace gsms::paths

// Path helpers: configured paths may use '\' as a separator; joins use exactly one '/'.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

namespace gsms::paths {

// Capacity of a configured path, terminator included: as long as the system allows.
constexpr std::size_t kPathSize = PATH_MAX;

// A configured path with every backslash turned into '/' ("\qor\tevrak" -> "/qor/tevrak").
std::string fromConfig(std::string_view configured);
// dir + "/" + name with exactly one separator between them.
std::string join(std::string_view dir, std::string_view name);
// Name and extension of the last component, split at its last dot ("a/b.sms" -> "b", ".sms").
struct NameExt {
    std::string name;
    std::string ext;
};
NameExt split(std::string_view path);
bool isDirectory(const std::string& path);
bool exists(const std::string& path);
// True when both paths name the same directory (the same one found through either, or, where
// one cannot be looked at, the same text once trailing separators are gone).
bool sameDirectory(const std::string& a, const std::string& b);
// Creates one directory level (with mode, less the umask); true when it exists afterwards.
bool makeDirectory(const std::string& path, mode_t mode = 0755);

}  // namespace gsms::paths

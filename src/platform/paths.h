// Path helpers: configured paths may use '\' or '/' as a separator; each becomes the
// platform's own (kSeparator), and joins use exactly one of it. The file-system questions are
// answered by paths_posix.cpp or paths_win32.cpp.
#pragma once

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

namespace gsms::paths {

// Capacity of a configured path, terminator included: as long as the system allows.
constexpr std::size_t kPathSize = PATH_MAX;

// The platform's separator: '/' on POSIX, '\' on Windows.
extern const char kSeparator;

// A configured path with every separator the platform's ("\qor\tevrak" -> "/qor/tevrak").
std::string fromConfig(std::string_view configured);
// dir + separator + name with exactly one separator between them.
std::string join(std::string_view dir, std::string_view name);
// Name and extension of the last component, split at its last dot ("a/b.sms" -> "b", ".sms").
struct NameExt {
    std::string name;
    std::string ext;
};
NameExt split(std::string_view path);
// The path component head + name + tail for folder dir, name cut short between two characters
// as far as needed for the component to fit there: NAME_MAX bytes of dir's file system
// (pathconf; 255 when it cannot be told) on POSIX, 255 UTF-16 units on Windows. When head and
// tail alone do not fit, name is left out and tail cut from its end as well.
std::string fitComponent(const std::string& dir, std::string_view head, std::string_view name,
                         std::string_view tail);
// The platform's answers for fitComponent: the longest component that dir takes and a
// component's length, in the same units; where the last character of text[0, end) begins
// (paths are UTF-8 on both platforms).
std::size_t maxComponentLength(const std::string& dir);
std::size_t componentLength(std::string_view component);
std::size_t lastCharacterStart(std::string_view text, std::size_t end);
bool isDirectory(const std::string& path);
bool exists(const std::string& path);
// True when both paths name the same directory (the same one found through either, or, where
// one cannot be looked at, the same text once trailing separators are gone).
bool sameDirectory(const std::string& a, const std::string& b);
// 0 when this process may create (and remove) files in the folder; else the system's
// reason: ENOENT missing, ENOTDIR not a folder, EACCES or EPERM no rights, EROFS read-only
// (as a service's sandbox makes the folders it does not list).
[[nodiscard]] int folderWriteProblem(const std::string& dir);
// 0 when this process may open the existing file for reading and writing; else the reason.
[[nodiscard]] int fileWriteProblem(const std::string& path);
// Creates one directory level (POSIX: with mode, less the umask; Windows: with the parent's
// inherited permissions); true when it exists afterwards.
bool makeDirectory(const std::string& path, mode_t mode = 0755);

}  // namespace gsms::paths

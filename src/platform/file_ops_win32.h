// Paths are UTF-8 in the gateway and go to the wide API as UTF-16 (platform/win32_text.h).
// Pieces shared by the Windows file services (file_replace_win32.cpp, file_move_win32.cpp,
// dir_watch_win32.cpp) besides those of file_ops.h: not an interface of its own.
// Thread safety: pure functions over the handles and paths they are given.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/file_ops.h"

namespace gsms::files::detail {

// Shared for reading, writing and deleting: the gateway never stands in another program's way.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What the system tells of an open file.
struct FileInfo {
    FileId id;  // volume serial number and file index
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;  // last write, nanoseconds since 1970 (100 ns steps)
    DWORD attributes = 0;
};
// False (GetLastError says why) when the handle cannot tell.
bool infoOf(HANDLE h, FileInfo& info);
// The same for the file or folder a path names, opened for nothing but its attributes (which
// bars no writer, reader or mover). False with errno set when it cannot be looked at.
bool infoOf(const std::string& path, FileInfo& info);
bool infoOf(const std::wstring& path, FileInfo& info);

// Writes all bytes. 0 or the errno that stopped it.
int writeAll(HANDLE h, const char* data, std::size_t size);
inline int writeAll(HANDLE h, const std::string& bytes) {
    return writeAll(h, bytes.data(), bytes.size());
}

// Creates ".<name>.gsms-XXXXXX" in folder, open for writing (and for its attributes), shared
// with no one, not inherited. The handle (path filled), or INVALID_HANDLE_VALUE with
// GetLastError set.
HANDLE makeTemporary(const std::string& folder, const std::string& name, std::string& path);

}  // namespace gsms::files::detail

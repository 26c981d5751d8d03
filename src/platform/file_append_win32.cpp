#include <windows.h>

#include <cerrno>

#include "platform/file_append.h"
#include "platform/win32_errors.h"

namespace gsms::files {

const std::string_view kLineEnd = "\r\n";

int append(const std::string& path, std::string_view bytes, IfMissing ifMissing, Sync sync) {
    // Append-only access: every write lands at the end, also beside another appending program.
    // Shared for reading, writing and deleting, so that a reader or a mover is never refused.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           ifMissing == IfMissing::Create ? OPEN_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        win32::lastErrno();
        return -1;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) break;
        p += written;
        left -= written;
    }
    const bool ok = left == 0 && (sync == Sync::No || FlushFileBuffers(h));
    const DWORD err = ok ? 0 : GetLastError();
    CloseHandle(h);
    if (!ok) errno = err != 0 ? win32::errnoFrom(err) : EIO;
    return ok ? 0 : -1;
}

}  // namespace gsms::files

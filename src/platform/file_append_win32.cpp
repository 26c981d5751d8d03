#include <windows.h>

#include <cerrno>

#include "platform/file_append.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms::files {

const std::string_view kLineEnd = "\r\n";

namespace {

// Cuts the file back to `length` through a handle of its own: the append-only handle may
// not move the end of the file.
void cutBack(const std::string& path, LONGLONG length) {
    HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at;
    at.QuadPart = length;
    if (SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) (void)SetEndOfFile(h);
    CloseHandle(h);
}

}  // namespace

int append(const std::string& path, std::string_view bytes, IfMissing ifMissing, int* error,
           Sync sync) {
    // Append-only access: every write lands at the end, also beside another appending program.
    // Shared for reading, writing and deleting, so that a reader or a mover is never refused.
    HANDLE h = CreateFileW(win32::wide(path).c_str(),
                           FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           ifMissing == IfMissing::Create ? OPEN_ALWAYS : OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int why = win32::lastErrno();
        if (error != nullptr) *error = why;
        return -1;
    }
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    int why = 0;
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!WriteFile(h, p, chunk, &written, nullptr)) {
            why = win32::lastErrno();
            break;
        }
        if (written == 0) {
            why = EIO;
            break;
        }
        p += written;
        left -= written;
    }
    if (why == 0 && sync == Sync::Yes && !FlushFileBuffers(h)) why = win32::lastErrno();
    LARGE_INTEGER end{};
    const bool partial = why != 0 && p != bytes.data() && GetFileSizeEx(h, &end);
    CloseHandle(h);
    // The end of the file is the end of what we wrote: cut back to where it began.
    if (partial) cutBack(path, end.QuadPart - static_cast<LONGLONG>(p - bytes.data()));
    if (why != 0 && error != nullptr) *error = why;
    if (why != 0) errno = why;
    return why == 0 ? 0 : -1;
}

}  // namespace gsms::files

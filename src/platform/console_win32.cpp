#include <windows.h>

#include <io.h>

#include "platform/console.h"

namespace gsms::console {

bool isJournal(int) { return false; }

bool showsColours(int fd) {
    if (fd < 0 || !_isatty(fd)) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return false;
    return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int writeAll(int fd, std::string_view text) {
    // _write in the descriptor's text mode: each LF goes out as CR LF. A pipe's write blocks
    // until its reader takes the bytes.
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const unsigned chunk = left < 0x10000 ? static_cast<unsigned>(left) : 0x10000u;
        const int n = _write(fd, p, chunk);
        if (n <= 0) return -1;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace gsms::console

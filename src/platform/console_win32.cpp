#include <windows.h>

#include <io.h>

#include <cstdio>
#include <string>

#include "platform/console.h"
#include "platform/win32_text.h"

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
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) return -1;
    // Lines end CR LF, as in the daily log, whatever mode the C runtime gave the descriptor.
    std::string lines;
    lines.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) lines += '\r';
        lines += text[i];
    }
    // A console is given the characters themselves, whatever its code page; a file or a pipe
    // gets the UTF-8 bytes.
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        const std::wstring wide = win32::wide(lines);
        const wchar_t* w = wide.data();
        std::size_t rest = wide.size();
        while (rest > 0) {
            const DWORD chunk = rest < 0x4000 ? static_cast<DWORD>(rest) : 0x4000;
            DWORD n = 0;
            if (!WriteConsoleW(h, w, chunk, &n, nullptr) || n == 0) return -1;
            w += n;
            rest -= n;
        }
        return 0;
    }
    // A pipe's write blocks until its reader takes the bytes.
    const char* p = lines.data();
    std::size_t left = lines.size();
    while (left > 0) {
        const DWORD chunk = left < 0x10000 ? static_cast<DWORD>(left) : 0x10000;
        DWORD n = 0;
        if (!WriteFile(h, p, chunk, &n, nullptr) || n == 0) return -1;
        p += n;
        left -= n;
    }
    return 0;
}

void print(std::FILE* stream, std::string_view utf8) {
    const int fd = _fileno(stream);
    const HANDLE h = fd >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    DWORD mode = 0;
    if (h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode)) {
        std::fflush(stream);
        (void)writeAll(fd, utf8);  // a console gone takes nothing more either way
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace gsms::console

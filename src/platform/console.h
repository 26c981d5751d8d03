// The standard output of the programs without a window (gsmsd, gsms-config) as the console
// writer sees it: what kind of stream it is and a write that takes all of a text.
//  - POSIX (console_posix.cpp): systemd's journal is the stream $JOURNAL_STREAM names; a
//    terminal shows ANSI colours.
//  - Windows (console_win32.cpp): no journal; a console that takes virtual-terminal sequences
//    shows colours; each line goes out ending CR LF; a console is written in UTF-16
//    (WriteConsoleW), so it shows every character whatever its code page; a file or a pipe
//    gets UTF-8.
// print and printf are how these programs write their own text (settings, status) to a
// standard stream: on a Windows console as its characters, else through the stream.
// Thread safety: any thread; writeAll to one descriptor from one thread at a time.
#pragma once

#include <cstdio>
#include <string_view>

namespace gsms::console {

// True when `fd` is the stream systemd's journal connected: $JOURNAL_STREAM names its device
// and inode (a descriptor redirected elsewhere keeps the variable but is another file).
[[nodiscard]] bool isJournal(int fd);

// True when text written to `fd` reaches a terminal that shows ANSI colours (on Windows the
// console's virtual-terminal processing is switched on here).
[[nodiscard]] bool showsColours(int fd);

// Writes all of `text` (UTF-8), blocking for as long as the stream does. 0: written; -1: the
// stream is closed or broken (the rest is dropped).
[[nodiscard]] int writeAll(int fd, std::string_view text);

// Writes `utf8` to `stream`: on a Windows console with WriteConsoleW (after what the stream
// holds), so that a name outside the ANSI code page shows; to a file or a pipe, and on POSIX,
// the bytes through the stream as they are (on Windows its text mode adds the CR of each line).
void print(std::FILE* stream, std::string_view utf8);
// The same for a printf format (UTF-8) and its arguments.
void printf(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace gsms::console

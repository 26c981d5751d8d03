// `gsmsd --status` and `gsmsd --reload`: a gsmsd that starts no engine reads the status file
// another gsmsd left in a profile folder (service_status.h), prints it or asks that gateway to
// read its settings again. Only a process running as gsmsd with the pid the file names, that
// started when the file says ("pid start") and is not the asking process itself, counts as the
// gateway that wrote it: the number of one that has ended may have been given to another.
//
// Thread safety: each runs once, on the main thread, and writes only to `out`.
#pragma once

#include <cstdio>
#include <string>

namespace gsms {

// The exit codes of an LSB status action (0: running, 3: not running, 4: unknown) and, from
// the range LSB leaves to applications, one for a status file that is there but unreadable.
constexpr int kStatusNone = 4;
constexpr int kStatusUnreadable = 150;

// gsmsd --status: prints the status file of `dir` to out, and says so when the gateway that
// wrote it is no longer running. 0: it runs; 3: it does not run; kStatusNone: no status file;
// kStatusUnreadable: one that cannot be read (the reason on out).
[[nodiscard]] int printStatus(const std::string& dir, std::FILE* out);

// gsmsd --reload (Windows): asks the gsmsd that wrote the status file of `dir` to read its
// settings again and says so on out. 0: asked; 3: it does not run (or cannot be asked);
// kStatusNone, kStatusUnreadable as for printStatus.
[[nodiscard]] int requestReload(const std::string& dir, std::FILE* out);

}  // namespace gsms

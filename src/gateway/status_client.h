// `gsmsd --status` and `gsmsd --reload`: a gsmsd that starts no engine reads the status file
// another gsmsd left in a profile folder (service_status.h), prints it or asks that gateway to
// read its settings again. Only a process running as gsmsd with the pid the file names counts
// as the gateway that wrote it.
//
// Thread safety: each runs once, on the main thread, and writes only to `out`.
#pragma once

#include <cstdio>
#include <string>

namespace gsms {

// gsmsd --status: prints the status file of `dir` to out, and says so when the gateway that
// wrote it is no longer running. 0: it runs; 3: it does not run; 4: no status file (the exit
// codes of an LSB status action).
[[nodiscard]] int printStatus(const std::string& dir, std::FILE* out);

// gsmsd --reload (Windows): asks the gsmsd that wrote the status file of `dir` to read its
// settings again and says so on out. 0: asked; 3: it does not run (or cannot be asked);
// 4: no status file.
[[nodiscard]] int requestReload(const std::string& dir, std::FILE* out);

}  // namespace gsms

// Lines appended to the gateway's own text files (the daily log, the raw modem trace, the
// success line of a result file), each in one write so that lines from different threads
// never interleave, the file closed again at once so that other programs may read, move or
// delete it at any time. The descriptor or handle is never inherited by child processes.
//
// An append is whole or not at all: when the file system takes only part of the bytes (a full
// disk, a file size limit), the file is cut back to where they began, so a failed line never
// runs into the next one.
//
// Thread safety: any thread may append at any time; the caller serialises appends to one file
// where their order matters.
#pragma once

#include <string>
#include <string_view>

namespace gsms::files {

// The line end of the gateway's own text files: LF on POSIX, CR LF on Windows.
extern const std::string_view kLineEnd;

enum class IfMissing {
    Create,  // a missing file is created (POSIX: mode 0640 less the umask)
    Skip,    // a missing file stays missing: nothing is written
};

enum class Sync {
    No,   // the system writes the bytes out when it likes
    Yes,  // on disk before append returns (fsync, FlushFileBuffers): for records that must
          // survive a power cut
};

// Appends the bytes at the end of the file, all of them or none (a short write is cut back).
// 0 when all were written (and, with Sync::Yes, synced), -1 otherwise (also when the file is
// missing and ifMissing is Skip); then errno, and *error when given, hold why (ENOENT for a
// missing file that was to be skipped).
[[nodiscard]] int append(const std::string& path, std::string_view bytes, IfMissing ifMissing,
                         int* error = nullptr, Sync sync = Sync::No);

}  // namespace gsms::files

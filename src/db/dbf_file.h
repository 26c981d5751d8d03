// The few file services the DBF engine needs: positioned reads and writes, the size, a disk
// flush, and byte-range write locks that never wait. One implementation per platform:
// dbf_file_posix.cpp (open-file-description locks) and dbf_file_win32.cpp (CreateFile shared
// for reading and writing, ReadFile/WriteFile with an OVERLAPPED offset, FlushFileBuffers and
// LockFileEx(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)). Windows locks bar other
// handles from reading the locked bytes; the engine's lock bytes lie beyond the data.
//
// Thread contract: a handle is used by one thread at a time; different handles, also on the
// same file, may be used at the same time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace gsms::db::file {

// A file descriptor on POSIX, a HANDLE on Windows.
using Handle = std::intptr_t;
inline constexpr Handle kNoFile = -1;

// Opens an existing regular file for reading and writing, shared with other programs and not
// inherited by child processes. kNoFile when it cannot be opened or is not a regular file.
[[nodiscard]] Handle openShared(const char* path);

// Creates the file, or empties an existing one, for reading and writing (not inherited).
// kNoFile on failure.
[[nodiscard]] Handle create(const char* path);

void close(Handle f);

// Reads up to `size` bytes at `offset`. The number read (fewer only at the end of the file),
// or -1 on error.
[[nodiscard]] std::int64_t readAt(Handle f, std::uint64_t offset, void* buffer, std::size_t size);

// Writes all `size` bytes at `offset`. 0, or -1 when not all of them were written.
[[nodiscard]] int writeAt(Handle f, std::uint64_t offset, const void* data, std::size_t size);

// The file's length in bytes, or -1.
[[nodiscard]] std::int64_t size(Handle f);

// Puts the written data on the disk. 0 or -1.
[[nodiscard]] int sync(Handle f);

enum class LockResult {
    Taken,   // the range is ours until unlock or close
    Busy,    // another program (or another handle of this one) holds a lock in the range
    Failed,  // the file system refused the lock
};

// Tries once to take an exclusive lock on [offset, offset + length). The lock belongs to this
// handle: closing another handle on the same file, in this process or another, leaves it alone.
[[nodiscard]] LockResult tryLock(Handle f, std::uint64_t offset, std::uint64_t length);

void unlock(Handle f, std::uint64_t offset, std::uint64_t length);

}  // namespace gsms::db::file

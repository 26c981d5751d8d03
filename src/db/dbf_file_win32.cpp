// Windows file services of the DBF engine.
#include <windows.h>

#include "db/dbf_file.h"
#include "platform/win32_text.h"

namespace gsms::db::file {

namespace {

HANDLE handleOf(Handle f) { return reinterpret_cast<HANDLE>(f); }

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

DWORD chunk(std::size_t left) { return left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left); }

// The alarm server reads and appends while the gateway writes; a mover may rename the table.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

Handle openShared(const char* path) {
    if (path == nullptr || *path == '\0') return kNoFile;
    HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kNoFile;
    // A device or a pipe planted under a table's name is no table.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return kNoFile;
    }
    return reinterpret_cast<Handle>(h);
}

Handle create(const char* path) {
    if (path == nullptr || *path == '\0') return kNoFile;
    HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<Handle>(h);
}

void close(Handle f) {
    if (f != kNoFile) CloseHandle(handleOf(f));
}

std::int64_t readAt(Handle f, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED o = at(offset + done);
        DWORD n = 0;
        if (!ReadFile(handleOf(f), out + done, chunk(size - done), &n, &o))
            return GetLastError() == ERROR_HANDLE_EOF ? static_cast<std::int64_t>(done) : -1;
        if (n == 0) break;
        done += n;
    }
    return static_cast<std::int64_t>(done);
}

int writeAt(Handle f, std::uint64_t offset, const void* data, std::size_t size) {
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED o = at(offset + done);
        DWORD n = 0;
        if (!WriteFile(handleOf(f), in + done, chunk(size - done), &n, &o) || n == 0) return -1;
        done += n;
    }
    return 0;
}

std::int64_t size(Handle f) {
    LARGE_INTEGER s;
    return GetFileSizeEx(handleOf(f), &s) ? static_cast<std::int64_t>(s.QuadPart) : -1;
}

int sync(Handle f) { return FlushFileBuffers(handleOf(f)) ? 0 : -1; }

LockResult tryLock(Handle f, std::uint64_t offset, std::uint64_t length) {
    OVERLAPPED o = at(offset);
    if (LockFileEx(handleOf(f), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   static_cast<DWORD>(length & 0xFFFFFFFF), static_cast<DWORD>(length >> 32), &o))
        return LockResult::Taken;
    const DWORD error = GetLastError();
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? LockResult::Busy
                                                                      : LockResult::Failed;
}

void unlock(Handle f, std::uint64_t offset, std::uint64_t length) {
    OVERLAPPED o = at(offset);
    (void)UnlockFileEx(handleOf(f), 0, static_cast<DWORD>(length & 0xFFFFFFFF),
                       static_cast<DWORD>(length >> 32), &o);
}

}  // namespace gsms::db::file

// Windows: small files read whole and replaced whole. Writers of one file take turns through a
// named mutex derived from the file's full path (Windows byte-range locks would also bar
// readers, and a lock on the file itself would stand in the way of its replacement). The new
// text goes to a temporary file beside the target, is flushed, and replaces the target with
// ReplaceFile, which keeps the old file's ACL, owner and creation time (its hidden, system and
// archive attributes are carried over here). A new file is moved into place and takes the
// permissions its folder passes on.
#include <windows.h>
#include <sddl.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "platform/file_ops_win32.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms::files {
namespace {

using namespace detail;

// How long a writer waits for another one, and for a reader to let go of the file.
constexpr DWORD kLockWaitMs = 10000;
constexpr int kReplaceWaitMs = 2000;
constexpr int kMaxAttempts = 100;

void fail(Failure* failure, Failure::Kind kind, int error) {
    if (failure != nullptr) *failure = Failure{kind, error};
}

// Reads all of an open file. 0 or the errno that stopped it.
int readAll(HANDLE h, std::string& out) {
    if (GetFileType(h) != FILE_TYPE_DISK) return EINVAL;  // a device is no settings file
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size)) return win32::lastErrno();
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaxFileSize) return EFBIG;
    out.clear();
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return win32::lastErrno();
        if (n == 0) return 0;
        out.append(buffer, n);
        if (out.size() > kMaxFileSize) return EFBIG;
    }
}

// The writers' mutex of one file: the same name whatever the letter case, the separators or a
// relative spelling of its path.
HANDLE writersMutex(const std::string& path) {
    const std::wstring given = win32::wide(path);
    wchar_t full[MAX_PATH * 4];
    const DWORD n = GetFullPathNameW(given.c_str(), MAX_PATH * 4, full, nullptr);
    std::wstring key = n > 0 && n < MAX_PATH * 4 ? std::wstring(full, n) : given;
    CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the upper-cased path
    for (wchar_t c : key) {
        for (int k = 0; k < 2; ++k) {
            hash ^= static_cast<unsigned char>(static_cast<unsigned>(c) >> (8 * k));
            hash *= 1099511628211ull;
        }
    }
    char name[64];
    std::snprintf(name, sizeof name, "Global\\gsms-file-%016llx",
                  static_cast<unsigned long long>(hash));
    // The service and an operator's window may run as different users: both may wait on it.
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;0x00100001;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)", SDDL_REVISION_1, &sd,
            nullptr))
        sa.lpSecurityDescriptor = sd;
    HANDLE m = CreateMutexA(&sa, FALSE, name);
    if (m == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
        m = OpenMutexA(SYNCHRONIZE, FALSE, name);  // made by another user, who lets us wait
    if (sd != nullptr) LocalFree(sd);
    return m;
}

// Removes what writers of this file left when they were killed half-way. Only called with the
// writers' mutex held, so no temporary of a live writer of this file can exist.
void removeStaleTemporaries(const std::string& folder, const std::string& name) {
    WIN32_FIND_DATAW found;
    const std::wstring pattern = win32::wide(paths::join(folder, "." + name + kTempMark + "*"));
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const std::size_t length =
        win32::wide(name).size() + 1 + std::char_traits<char>::length(kTempMark) + kTempRandom;
    const std::wstring prefix = win32::wide(paths::join(folder, ""));
    do {
        if (std::char_traits<wchar_t>::length(found.cFileName) == length)
            DeleteFileW((prefix + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// True when some program holds the file open without letting it be deleted or replaced.
bool heldAgainstReplacing(const std::string& path) {
    HANDLE h = CreateFileW(win32::wide(path).c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION;
}

// Puts the temporary in the target's place. 1 done, 0 try again (the target appeared or went
// meanwhile), -1 failed (an errno in error).
int putInPlace(const std::string& targetPath, const std::string& tempPath, bool existed,
               int& error) {
    const std::wstring target = win32::wide(targetPath);
    const std::wstring temp = win32::wide(tempPath);
    if (existed) {
        // Hidden, system and archive stay as they were (ReplaceFile under Wine drops them).
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        const DWORD old = GetFileAttributesW(target.c_str());
        if (old != INVALID_FILE_ATTRIBUTES && (old & kept) != 0)
            SetFileAttributesW(temp.c_str(), old & kept);
    }
    for (int waited = 0;; waited += 20) {
        // A reader holding the file is waited for before ReplaceFile is asked: failing on it,
        // Wine's ReplaceFile leaves a copy of the old file behind.
        bool held = existed && heldAgainstReplacing(targetPath);
        if (!held) {
            const BOOL ok =
                existed ? ReplaceFileW(target.c_str(), temp.c_str(), nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                        : MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
            if (ok) return 1;
            const DWORD code = GetLastError();
            if ((existed && code == ERROR_FILE_NOT_FOUND) ||
                (!existed && code == ERROR_ALREADY_EXISTS))
                return 0;
            held = code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION ||
                   code == ERROR_UNABLE_TO_REMOVE_REPLACED;
            if (!held) {
                error = win32::errnoFrom(code);
                return -1;
            }
        }
        if (waited >= kReplaceWaitMs) {
            error = EBUSY;
            return -1;
        }
        Sleep(20);
    }
}

}  // namespace

namespace detail {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool infoOf(HANDLE h, FileInfo& info) {
    BY_HANDLE_FILE_INFORMATION i;
    if (!GetFileInformationByHandle(h, &i)) return false;
    const auto wide = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    // FILETIME counts 100 ns steps since 1601.
    constexpr std::int64_t k1601To1970 = 116444736000000000;
    const auto ticks = static_cast<std::int64_t>(
        wide(i.ftLastWriteTime.dwHighDateTime, i.ftLastWriteTime.dwLowDateTime));
    info.id = FileId{i.dwVolumeSerialNumber, wide(i.nFileIndexHigh, i.nFileIndexLow)};
    info.size = static_cast<std::int64_t>(wide(i.nFileSizeHigh, i.nFileSizeLow));
    info.mtimeNs = (ticks - k1601To1970) * 100;
    info.attributes = i.dwFileAttributes;
    return true;
}

bool infoOf(const std::string& path, FileInfo& info) { return infoOf(win32::wide(path), info); }

bool infoOf(const std::wstring& path, FileInfo& info) {
    // No access asked for: looking at a file must not stand in its writer's way. Backup
    // semantics let a folder be opened too.
    HANDLE h = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        win32::lastErrno();
        return false;
    }
    const bool ok = infoOf(h, info);
    if (!ok) win32::lastErrno();
    CloseHandle(h);
    return ok;
}

int writeAll(HANDLE h, const char* data, std::size_t size) {
    const char* p = data;
    std::size_t left = size;
    while (left > 0) {
        DWORD n = 0;
        const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        if (!WriteFile(h, p, chunk, &n, nullptr)) return win32::lastErrno();
        if (n == 0) return EIO;
        p += n;
        left -= n;
    }
    return 0;
}

HANDLE makeTemporary(const std::string& folder, const std::string& name, std::string& path) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t seed = GetTickCount64() ^ (std::uint64_t{GetCurrentProcessId()} << 32) ^
                         (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::string suffix;
        for (std::size_t i = 0; i < kTempRandom; ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            suffix.push_back("abcdefghijklmnopqrstuvwxyz0123456789"[(seed >> 33) % 36]);
        }
        path = paths::join(folder, "." + name + kTempMark + suffix);
        HANDLE h = CreateFileW(win32::wide(path).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                               0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

}  // namespace detail

int readWhole(const std::string& path, std::string& bytes, Failure* failure) {
    bytes.clear();
    const std::wstring name = win32::wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        fail(failure, Failure::CannotRead, EISDIR);
        return -1;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return 0;
        fail(failure, Failure::CannotRead, win32::errnoFrom(code));
        return -1;
    }
    const int error = readAll(h, bytes);
    CloseHandle(h);
    if (error != 0) {
        bytes.clear();
        fail(failure, Failure::CannotRead, error);
        return -1;
    }
    return 1;
}

SteadyRead readSteady(const std::string& path, const std::function<void()>& pause) {
    SteadyRead r;
    const std::wstring name = win32::wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return r;  // Gone: a folder put in its place is no job file
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
            r.outcome = SteadyRead::Changed;  // its writer lets no one read it yet
            return r;
        }
        r.error = win32::errnoFrom(code);
        r.outcome = r.error == ENOENT ? SteadyRead::Gone : SteadyRead::Unreadable;
        return r;
    }
    FileInfo before;
    if (GetFileType(h) != FILE_TYPE_DISK || !infoOf(h, before)) {
        CloseHandle(h);
        return r;  // Gone: a device is no job file
    }
    r.id = before.id;
    r.size = before.size;
    r.mtimeNs = before.mtimeNs;
    if (pause) pause();
    r.error = readAll(h, r.bytes);
    FileInfo after;
    FileInfo named;
    const bool afterOk = infoOf(h, after);
    CloseHandle(h);
    const auto same = [](const FileInfo& x, const FileInfo& y) {
        return x.id == y.id && x.size == y.size && x.mtimeNs == y.mtimeNs;
    };
    const bool stillThere = infoOf(name, named);
    conclude(r, stillThere, stillThere && afterOk && same(before, after) && same(after, named));
    return r;
}

int rewrite(const std::string& path, const Editor& edit, Failure* failure) {
    HANDLE mutex = writersMutex(path);
    if (mutex == nullptr) {
        fail(failure, Failure::CannotWrite, win32::lastErrno());
        return -1;
    }
    const DWORD waited = WaitForSingleObject(mutex, kLockWaitMs);
    // An abandoned mutex was held by a writer that died: the turn is ours all the same.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        fail(failure, Failure::CannotWrite, EAGAIN);
        return -1;
    }
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    int result = -1;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        std::string current;
        const int read = readWhole(path, current, failure);
        if (read < 0) break;  // a file that cannot be read is never replaced
        if (read > 0) {
            // Not writable (read-only attribute, no rights): say so before anything is made.
            HANDLE probe = CreateFileW(win32::wide(path).c_str(), GENERIC_WRITE, kShareAll,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (probe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) {
                fail(failure, Failure::CannotWrite, win32::lastErrno());
                break;
            }
            if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
        }
        removeStaleTemporaries(folder, name);
        const std::string bytes = edit(current);
        std::string temp;
        HANDLE h = makeTemporary(folder, name, temp);
        if (h == INVALID_HANDLE_VALUE) {
            fail(failure, Failure::CannotWrite, win32::lastErrno());
            break;
        }
        int error = writeAll(h, bytes);
        if (error == 0 && !FlushFileBuffers(h)) error = win32::lastErrno();
        CloseHandle(h);
        int placed = -1;
        if (error == 0) placed = putInPlace(path, temp, read > 0, error);
        if (placed != 1) DeleteFileW(win32::wide(temp).c_str());
        if (placed == 0) continue;  // the file came or went meanwhile: read it afresh
        if (placed < 0) {
            fail(failure, Failure::CannotWrite, error);
            break;
        }
        result = 0;
        break;
    }
    if (result != 0 && failure != nullptr && failure->kind == Failure::None)
        fail(failure, Failure::CannotWrite, EAGAIN);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return result;
}

int publish(const std::string& path, const std::string& bytes, unsigned /*mode*/) {
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    removeStaleTemporaries(folder, name);
    std::string temp;
    HANDLE h = makeTemporary(folder, name, temp);
    if (h == INVALID_HANDLE_VALUE) return win32::lastErrno();
    int error = writeAll(h, bytes);
    CloseHandle(h);
    // A reader that opened the file without letting it be replaced holds it for a moment.
    for (int waited = 0; error == 0; waited += 20) {
        if (MoveFileExW(win32::wide(temp).c_str(), win32::wide(path).c_str(),
                        MOVEFILE_REPLACE_EXISTING))
            break;
        const DWORD code = GetLastError();
        if ((code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) ||
            waited >= kReplaceWaitMs / 10)
            error = win32::errnoFrom(code);
        else
            Sleep(20);
    }
    if (error != 0) DeleteFileW(win32::wide(temp).c_str());
    return error;
}

}  // namespace gsms::files

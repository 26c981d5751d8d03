// Windows moves: MoveFileEx without MOVEFILE_REPLACE_EXISTING (which renames without replacing
// and refuses another volume with ERROR_NOT_SAME_DEVICE), copies across volumes that keep the
// file's attributes and take their folder's permissions, and removal of exactly the file that
// was copied, through its own handle.
#include <windows.h>

#include <cerrno>

#include "platform/file_move.h"
#include "platform/file_ops_win32.h"
#include "platform/file_replace.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms::files {
namespace {

using namespace detail;

int copyBytes(HANDLE from, HANDLE to) {
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &n, nullptr)) return win32::lastErrno();
        if (n == 0) return 0;
        if (const int error = writeAll(to, buffer, n); error != 0) return error;
    }
}

// Removes the very file open on h (not whatever has its name by then). A read-only file loses
// that attribute first: a move takes it away from where it was. 0 or an errno.
int removeOpenFile(HANDLE h, DWORD attributes) {
    FILE_DISPOSITION_INFO gone{TRUE};
    if (SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone)) return 0;
    int error = win32::lastErrno();
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return error;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic)) return error;
    if (SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone)) return 0;
    error = win32::lastErrno();
    basic.FileAttributes = attributes;
    SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    return error;
}

// Copies the file open on src into the target folder under a free name, with the line and the
// source's attributes, and removes the source. 0 or an errno; on failure nothing is left
// behind.
int copyOver(const MoveRequest& request, HANDLE src, const FileInfo& info,
             MoveOutcome& outcome) {
    const std::string first = request.names(0);
    if (first.empty()) return EEXIST;
    std::string temp;
    HANDLE t = makeTemporary(folderOf(first), nameOf(first), temp);
    if (t == INVALID_HANDLE_VALUE) return win32::lastErrno();
    FileInfo made;
    if (request.beforeVisible && infoOf(t, made)) request.beforeVisible(made.id);
    int error = copyBytes(src, t);
    if (error == 0 && request.append != nullptr) error = writeAll(t, *request.append);
    if (error == 0 && !FlushFileBuffers(t)) error = win32::lastErrno();
    CloseHandle(t);
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    const std::wstring wideTemp = win32::wide(temp);
    if (error == 0 && (info.attributes & kKept) != 0)
        SetFileAttributesW(wideTemp.c_str(), info.attributes & kKept);
    if (error == 0) error = renameToFree(temp, request, outcome.to);
    if (error != 0) {
        SetFileAttributesW(wideTemp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(wideTemp.c_str());
        return error;
    }
    error = removeOpenFile(src, info.attributes);
    if (error != 0) {
        // The source must not stay beside its copy: the copy goes again.
        const std::wstring copy = win32::wide(outcome.to);
        SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(copy.c_str());
        return error;
    }
    outcome.copied = true;
    return 0;
}

}  // namespace

namespace detail {

void syncFolder(const std::string& /*folder: renames are written through instead*/) {}

int renameNoReplace(const std::string& from, const std::string& to) {
    if (MoveFileExW(win32::wide(from).c_str(), win32::wide(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return 0;
    return win32::lastErrno();
}

int copySource(const MoveRequest& request, const FileId& id, MoveOutcome& outcome) {
    // Opened with the right to remove it, and to take a read-only attribute away first.
    const std::wstring from = win32::wide(request.from);
    HANDLE src = CreateFileW(from.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES,
                             kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                             nullptr);
    if (src == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        src = CreateFileW(from.c_str(), GENERIC_READ | DELETE, kShareAll, nullptr,
                          OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (src == INVALID_HANDLE_VALUE) return win32::lastErrno();
    FileInfo info;
    int error = infoOf(src, info) ? 0 : win32::lastErrno();
    if (error == 0 && (!(info.id == id) || GetFileType(src) != FILE_TYPE_DISK ||
                       (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        error = ENOENT;
    if (error == 0) error = copyOver(request, src, info, outcome);
    CloseHandle(src);  // a removed source goes now
    return error;
}

bool LineFile::open(const std::string& path, const FileId& id) {
    close();
    // Append-only, sharing deletion: the rename that follows is not barred by this handle.
    HANDLE h = CreateFileW(win32::wide(path).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                           kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // A read-only file is not written to, even where the right to would let it be.
    FileInfo info;
    if (!infoOf(h, info) || !(info.id == id) || (info.attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

int LineFile::add(const std::string& line) {
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    int error = writeAll(h, line);
    if (error == 0 && !FlushFileBuffers(h)) error = win32::lastErrno();
    close();
    return error;
}

void LineFile::close() {
    if (handle_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kNone;
}

}  // namespace detail

bool identityOf(const std::string& path, FileId& id) {
    FileInfo info;
    if (!infoOf(path, info)) return false;
    id = info.id;
    return true;
}

}  // namespace gsms::files

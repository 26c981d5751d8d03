// Windows directory watch: a change notification on the folder (not its subfolders) for file
// names (created, renamed in, deleted) and last writes; a file is being written while some
// program holds it open for writing (the share modes tell); listing with FindFirstFile, each
// file's identity, size and last write from the file itself (a folder's entry may lag behind
// a file that is still open). Names are UTF-16 to the system and UTF-8 to the gateway, so
// that a name in any language is a job.
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cwctype>

#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/file_ops_win32.h"
#include "platform/paths.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms {
namespace {

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// '*' and '?' without regard to case, on the long name: the system's own search would also
// match a file whose 8.3 alias fits the mask ("*.sms" finds "job.smsx" through "JOB~1.SMS").
bool fits(const wchar_t* mask, const wchar_t* name) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name != L'\0') {
        const wint_t m = static_cast<wint_t>(*mask);
        const wint_t n = static_cast<wint_t>(*name);
        if (m == L'*') {
            star = ++mask;
            resume = name;
        } else if (m == L'?' || (m != L'\0' && std::towlower(m) == std::towlower(n))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == L'*') ++mask;
    return *mask == L'\0';
}

}  // namespace

DirWatch::~DirWatch() { close(); }

void DirWatch::close() {
    if (handle_ != kNone) FindCloseChangeNotification(handleOf(handle_));
    handle_ = kNone;
    pending_ = false;
}

bool DirWatch::arm(const std::string& dir) {
    // File names too, not only last writes: an alarm server that writes a job aside and
    // renames it into the folder is seen at once.
    HANDLE h = FindFirstChangeNotificationW(win32::wide(dir).c_str(), FALSE,
                                            FILE_NOTIFY_CHANGE_FILE_NAME |
                                                FILE_NOTIFY_CHANGE_LAST_WRITE);
    if (h == INVALID_HANDLE_VALUE) {
        const int saved = win32::lastErrno();
        close();
        errno = saved;
        return false;
    }
    // The new watch runs before the old one goes, and a change the old one still holds is
    // reported by the next wait: no write falls between the two.
    if (handle_ != kNone) {
        if (WaitForSingleObject(handleOf(handle_), 0) == WAIT_OBJECT_0) pending_ = true;
        FindCloseChangeNotification(handleOf(handle_));
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    dir_ = dir;
    return true;
}

int DirWatch::wait(std::int64_t ms) {
    if (handle_ == kNone) return -1;
    if (pending_) {
        pending_ = false;
        return 1;
    }
    // Gateway time: the time scale of the tests shortens the watch time-out too.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          clock::deadlineAfterMs(ms) - std::chrono::steady_clock::now())
                          .count();
    const DWORD timeout =
        left <= 0 ? 0 : left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
    if (WaitForSingleObject(handleOf(handle_), timeout) != WAIT_OBJECT_0) return 0;
    // Re-armed at once: a change during the scan that follows signals the next wait.
    if (!FindNextChangeNotification(handleOf(handle_))) close();
    return 1;
}

// beingWritten asks the file itself, so there is nothing to catch up with: a change since the
// last wait leaves the notification signalled for the next one.
void DirWatch::catchUp() {}

bool DirWatch::beingWritten(const std::string& name) const {
    if (handle_ == kNone) return false;
    // Reading while denying others the right to write fails while a writer has it open. For
    // the moment of this open a writer that comes is refused, as by a virus scanner.
    HANDLE h = CreateFileW(win32::wide(paths::join(dir_, name)).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

void DirWatch::keepWriters(const std::set<std::string>& /*names: nothing is remembered*/) {}

bool listFolder(const std::string& dir, const std::string& mask, std::vector<DirEntry>& out) {
    out.clear();
    WIN32_FIND_DATAW found;
    // The folder with its separator, as paths::join gives it.
    const std::wstring prefix = win32::wide(paths::join(dir, ""));
    const std::wstring wideMask = win32::wide(mask);
    HANDLE search = FindFirstFileExW((prefix + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        win32::lastErrno();
        return code == ERROR_FILE_NOT_FOUND;  // a folder with no entry at all
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) continue;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            continue;
        DirEntry entry;
        entry.unnamable = !win32::toUtf8(found.cFileName, entry.name);
        files::detail::FileInfo info;
        // A link is followed: what counts is the file it leads to.
        if (!files::detail::infoOf(prefix + found.cFileName, info) ||
            (info.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            continue;
        entry.id = info.id;
        entry.size = info.size;
        entry.mtimeNs = info.mtimeNs;
        entry.matches = fits(wideMask.c_str(), found.cFileName);
        out.push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    return complete;
}

}  // namespace gsms

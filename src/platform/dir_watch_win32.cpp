// Windows directory watch: a change notification on the folder (not its subfolders) for file
// names (created, renamed in, deleted) and last writes; listing with FindFirstFile.
#include <windows.h>

#include <cctype>
#include <chrono>

#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/paths.h"
#include "platform/win32_errors.h"

namespace gsms {
namespace {

HANDLE handleOf(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// '*' and '?' without regard to case. The system's own search also matches a file whose 8.3
// alias fits the mask ("*.sms" finds "job.smsx" through "JOB~1.SMS"); the long name must fit.
bool fits(const char* mask, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        const auto m = static_cast<unsigned char>(*mask);
        const auto n = static_cast<unsigned char>(*name);
        if (m == '*') {
            star = ++mask;
            resume = name;
        } else if (m == '?' || (m != '\0' && std::tolower(m) == std::tolower(n))) {
            ++mask;
            ++name;
        } else if (star != nullptr) {
            mask = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == '\0';
}

}  // namespace

DirWatch::~DirWatch() { close(); }

void DirWatch::close() {
    if (handle_ != kNone) FindCloseChangeNotification(handleOf(handle_));
    handle_ = kNone;
}

bool DirWatch::arm(const std::string& dir) {
    close();
    // File names too, not only last writes: an alarm server that writes a job aside and
    // renames it into the folder is seen at once.
    HANDLE h = FindFirstChangeNotificationA(
        dir.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
    if (h == INVALID_HANDLE_VALUE) {
        win32::lastErrno();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

int DirWatch::wait(std::int64_t ms) {
    if (handle_ == kNone) return -1;
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

std::vector<std::string> listMatching(const std::string& dir, const std::string& mask) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileExA(paths::join(dir, mask).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
            continue;
        if (fits(mask.c_str(), found.cFileName)) names.emplace_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

}  // namespace gsms

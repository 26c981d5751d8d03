// Windows: the requests come from the console (Ctrl+C, Ctrl+Break, its window closed, the
// system shutting down) and, for what the console cannot ask, from `gsmsd --reload` through a
// named event of this process. The console's handler runs on a thread the system starts; it
// only queues the request, and the main thread takes it as on POSIX.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/process_signals.h"
#include "platform/service_manager.h"
#include "platform/win32_errors.h"

namespace gsms {
namespace {

// Never destroyed: the console's handler may run until the process ends.
struct Requests {
    std::mutex lock;
    std::deque<ProcessSignal> queue;
    HANDLE queued = nullptr;  // auto-reset: set when the queue got a request
    HANDLE reload = nullptr;  // auto-reset, named: `gsmsd --reload` sets it
};
Requests& requests() {
    static Requests* r = new Requests;
    return *r;
}

void post(const ProcessSignal& sig) {
    Requests& r = requests();
    {
        std::lock_guard guard(r.lock);
        r.queue.push_back(sig);
    }
    if (r.queued != nullptr) SetEvent(r.queued);
}

// The reload event of process `pid`, in the global namespace when the system allows it (a
// service runs in another session than the administrator's console), else in the session's.
std::string eventName(const char* space, long pid, const char* kind) {
    return std::string(space) + "\\Velkora.GSMS.gsmsd." + std::to_string(pid) + "." + kind;
}

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT: post({ProcessRequest::Stop, 2, "Ctrl+C"}); return TRUE;
        case CTRL_BREAK_EVENT: post({ProcessRequest::Stop, 21, "Ctrl+Break"}); return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // A service hears of the shutdown from the service manager too, which has asked
            // for the stop already: a second request would end the stop at once.
            if (type == CTRL_CLOSE_EVENT || !service::runningAsService())
                post({ProcessRequest::Stop, 15,
                      type == CTRL_CLOSE_EVENT ? "the console closing" : "shutdown"});
            // The system ends the process as soon as this returns: the main thread ends it
            // first, after the orderly stop (or when the system's patience runs out).
            Sleep(INFINITE);
            return TRUE;
        case CTRL_LOGOFF_EVENT:
            // Only a service sees it, for any user's log-off: not a reason to stop.
            return TRUE;
        default: return FALSE;
    }
}

}  // namespace

const char* const kProcessRequestsHelp =
    "Ctrl+C, Ctrl+Break, closing its console and shutting Windows down stop taking jobs,\n"
    "let the submission in flight end and exit with 0 (a second Ctrl+C ends it at once);\n"
    "gsmsd --reload [--profile-dir DIR] has the gsmsd running with that profile folder\n"
    "read the settings the worker threads use each time again (RetryCount, RetryDelay,\n"
    "QualityPollEverySecs, PrometheusFile, ...).\n";
const bool kReloadByOption = true;

void blockProcessSignals() {
    Requests& r = requests();
    r.queued = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const long pid = currentProcessId();
    for (const char* space : {"Global", "Local"}) {
        r.reload = CreateEventA(nullptr, FALSE, FALSE, eventName(space, pid, "reload").c_str());
        if (r.reload != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) break;
        // Made before this process by someone else, who could set it at will: not ours.
        if (r.reload != nullptr) CloseHandle(r.reload);
        r.reload = nullptr;
    }
    // A parent that started this process in a new process group left Ctrl+C ignored in it:
    // taken again, as POSIX takes back an ignored SIGINT.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(onControl, TRUE);
}

ProcessSignal waitProcessSignal(std::int64_t ms) {
    Requests& r = requests();
    for (;;) {
        {
            std::lock_guard guard(r.lock);
            if (!r.queue.empty()) {
                const ProcessSignal sig = r.queue.front();
                r.queue.pop_front();
                return sig;
            }
        }
        HANDLE events[2];
        DWORD count = 0;
        if (r.queued != nullptr) events[count++] = r.queued;
        if (r.reload != nullptr) events[count++] = r.reload;
        const DWORD wait = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
        if (count == 0) {
            Sleep(wait);
            return {};
        }
        const DWORD woke = WaitForMultipleObjects(count, events, FALSE, wait);
        if (woke == WAIT_OBJECT_0 + count - 1 && events[count - 1] == r.reload)
            return {ProcessRequest::Reload, 1, "gsmsd --reload"};
        if (woke != WAIT_OBJECT_0) return {};  // the time ran out
    }
}

void postProcessRequest(const ProcessSignal& request) { post(request); }

void endBySignal(int number) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(128 + number);
}

int sendProcessRequest(long pid, ProcessRequest request) {
    if (request != ProcessRequest::Reload) {
        errno = ENOSYS;
        return -1;
    }
    for (const char* space : {"Global", "Local"}) {
        HANDLE event =
            OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName(space, pid, "reload").c_str());
        if (event == nullptr) continue;
        const BOOL set = SetEvent(event);
        CloseHandle(event);
        if (set) return 0;
        (void)win32::lastErrno();
        return -1;
    }
    // No such event: no gsmsd of this id listens (any more).
    if (win32::lastErrno() == ENOENT) errno = ESRCH;
    return -1;
}

long currentProcessId() { return static_cast<long>(GetCurrentProcessId()); }

bool processRunning(long pid, const char* name) {
    if (pid <= 0) return false;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // there, not ours
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    char image[MAX_PATH];
    DWORD size = sizeof image;
    if (running && QueryFullProcessImageNameA(process, 0, image, &size)) {
        const char* base = image;
        for (const char* p = image; *p != '\0'; ++p)
            if (*p == '\\' || *p == '/') base = p + 1;
        running = _strnicmp(base, name, std::strlen(name)) == 0;
    }
    CloseHandle(process);
    return running;
}

std::string processStartStamp(long pid) {
    if (pid <= 0) return {};
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) return {};
    FILETIME created{}, exited{}, kernel{}, user{};
    const BOOL told = GetProcessTimes(process, &created, &exited, &kernel, &user);
    CloseHandle(process);
    if (!told) return {};
    // 100 ns units since 1601: no two processes of one number start at the same moment.
    return std::to_string((static_cast<unsigned long long>(created.dwHighDateTime) << 32) |
                          created.dwLowDateTime);
}

}  // namespace gsms

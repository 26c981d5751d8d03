// Windows: the service control manager. gsmsd.exe started by it runs under its dispatcher and
// reports its states; started from a console it finds no dispatcher and runs as before.
//
// The manager's own rules shape what is told: a pending state carries a wait hint and a
// checkpoint that must move on within it, or those who wait for the service (`net start`,
// the Services window) give up; the controls handler must answer at once, so it only queues
// the request for the main thread. A stop is asked for once: the manager may send stop,
// preshutdown and shutdown one after the other, and a second stop request would end the
// orderly stop at once.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/process_signals.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms::service {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr DWORD kAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN |
                            SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE;
constexpr DWORD kWaitHintMs = 30000;
constexpr auto kCheckpointEvery = std::chrono::seconds(5);
// As long as the systemd unit waits (TimeoutStartSec=5min, TimeoutStopSec=150): a start may
// wait for the network registration, a stop for the submission in flight (at most 100 s).
constexpr auto kStartLimit = std::chrono::minutes(5);
constexpr auto kStopLimit = std::chrono::seconds(150);
// Restarted 5 s after a failure, as the unit's RestartSec=5; the count of failures starts
// again after a day without one.
constexpr DWORD kRestartDelayMs = 5000;
constexpr DWORD kFailureResetSeconds = 86400;
// How long shutting Windows down waits for the orderly stop (the unit's TimeoutStopSec).
constexpr DWORD kPreshutdownMs = 150000;

constexpr const wchar_t* kDisplayName = L"Velkora GSM/SMS gateway";
constexpr const wchar_t* kEventLogKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

// What the manager was last told, guarded by `lock` (a leaf: nothing else is taken while it
// is held). Never destroyed: the handler and the checkpoint thread run until the process ends.
struct Manager {
    std::mutex lock;
    std::condition_variable changed;
    SERVICE_STATUS_HANDLE handle = nullptr;
    SERVICE_STATUS status{};
    SteadyClock::time_point pendingSince{};
    bool stopAsked = false;
};
Manager& manager() {
    static Manager* m = new Manager;
    return *m;
}

void (*serviceBody)() = nullptr;
std::atomic<bool> asService{false};

using win32::wide;

std::string narrow(const std::wstring& text) { return win32::utf8(text); }

std::string reason(DWORD code) { return std::strerror(win32::errnoFrom(code)); }

bool pending(DWORD state) {
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
}

// Under the lock. The manager refuses controls in a pending stop and after the end.
void tell(Manager& m, DWORD state) {
    if (m.handle == nullptr) return;
    if (m.status.dwCurrentState != state) {
        m.status.dwCurrentState = state;
        m.status.dwCheckPoint = pending(state) ? 1 : 0;
        m.status.dwWaitHint = pending(state) ? kWaitHintMs : 0;
        m.pendingSince = SteadyClock::now();
        m.changed.notify_all();
    }
    m.status.dwControlsAccepted =
        state == SERVICE_START_PENDING || state == SERVICE_RUNNING ? kAccepted : 0;
    (void)SetServiceStatus(m.handle, &m.status);
}

// Moves the checkpoint of a pending state on while it lasts, up to its limit; then the
// watchers are left to judge the service hung.
[[noreturn]] void checkpoints() {
    Manager& m = manager();
    std::unique_lock lock(m.lock);
    for (;;) {
        const DWORD state = m.status.dwCurrentState;
        if (!pending(state)) {
            m.changed.wait(lock);
            continue;
        }
        const auto limit = state == SERVICE_START_PENDING ? kStartLimit : kStopLimit;
        if (SteadyClock::now() - m.pendingSince >= limit) {
            m.changed.wait(lock);
            continue;
        }
        m.changed.wait_for(lock, kCheckpointEvery);
        if (m.status.dwCurrentState != state) continue;
        ++m.status.dwCheckPoint;
        (void)SetServiceStatus(m.handle, &m.status);
    }
}

void askStop(const char* name) {
    Manager& m = manager();
    {
        std::lock_guard guard(m.lock);
        if (m.stopAsked) return;
        m.stopAsked = true;
        tell(m, SERVICE_STOP_PENDING);
    }
    postProcessRequest({ProcessRequest::Stop, 15, name});
}

DWORD WINAPI onControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_INTERROGATE: {
            Manager& m = manager();
            std::lock_guard guard(m.lock);
            tell(m, m.status.dwCurrentState);
            return NO_ERROR;
        }
        case SERVICE_CONTROL_STOP: askStop("the service manager's stop request"); return NO_ERROR;
        case SERVICE_CONTROL_PRESHUTDOWN:
        case SERVICE_CONTROL_SHUTDOWN: askStop("shutdown"); return NO_ERROR;
        case SERVICE_CONTROL_PARAMCHANGE:
            postProcessRequest(
                {ProcessRequest::Reload, 1, "the service manager's parameter change"});
            return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void stopWith(DWORD error) {
    Manager& m = manager();
    std::lock_guard guard(m.lock);
    m.status.dwWin32ExitCode = error;
    tell(m, SERVICE_STOPPED);
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    Manager& m = manager();
    SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(wide(kServiceName).c_str(), onControl, nullptr);
    if (handle == nullptr) return;
    {
        std::lock_guard guard(m.lock);
        m.handle = handle;
        m.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        m.status.dwWin32ExitCode = NO_ERROR;
        tell(m, SERVICE_START_PENDING);
    }
    std::thread(checkpoints).detach();
    // A service starts in the system folder: the relative paths (log\, tevrak.log, a bare
    // command) are the profile folder's, as for a gsmsd started there.
    const std::string dir = profileDir();
    if (!SetCurrentDirectoryW(wide(dir).c_str())) {
        const DWORD error = GetLastError();
        openEventLog();
        reportEvent(EventKind::Error, "Gateway not started: cannot use the profile folder " + dir +
                                          " (" + reason(error) + ")");
        stopWith(error);
        return;
    }
    asService.store(true);
    serviceBody();
}

// What the manager starts: this program with the profile folder in force, made absolute (the
// service does not start where the installer runs).
struct Command {
    std::wstring program, dir, line;
};

Command serviceCommand() {
    Command c;
    c.program.resize(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, c.program.data(), static_cast<DWORD>(c.program.size()));
        if (n < c.program.size()) {
            c.program.resize(n);
            break;
        }
        c.program.resize(c.program.size() * 2);
    }
    const std::wstring given = wide(profileDir());
    c.dir.resize(GetFullPathNameW(given.c_str(), 0, nullptr, nullptr));
    c.dir.resize(
        GetFullPathNameW(given.c_str(), static_cast<DWORD>(c.dir.size()), c.dir.data(), nullptr));
    if (c.dir.empty()) c.dir = given;
    // A backslash before the closing quote would escape it: C:\ is written "C:\\".
    const std::wstring quoted = c.dir.ends_with(L'\\') ? c.dir + L'\\' : c.dir;
    c.line = L"\"" + c.program + L"\" --profile-dir \"" + quoted + L"\"";
    return c;
}

// The event log source's registry entry: gsmsd.exe holds the messages of its entries.
DWORD registerEventSource(const std::wstring& program) {
    HKEY key = nullptr;
    DWORD error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kEventLogKey + wide(kEventSource)).c_str(),
                                  0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return error;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    error = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(program.c_str()),
                           static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    if (error == ERROR_SUCCESS)
        error = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegCloseKey(key);
    return error;
}

// Restart after a failure, the description, the time shutting down allows. 0 or the error.
DWORD configure(SC_HANDLE service, const std::wstring& dir) {
    const wchar_t* separator = dir.ends_with(L'\\') ? L"" : L"\\";
    std::wstring text =
        L"Sends the SMS alarm jobs dropped into the watch folder through the GSM "
        L"modem. Settings: " +
        dir + separator + L"TEVRAK.INI";
    SERVICE_DESCRIPTIONW description{text.data()};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description))
        return GetLastError();
    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs}};
    SERVICE_FAILURE_ACTIONSW failure{kFailureResetSeconds, nullptr, nullptr, 3, actions};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure))
        return GetLastError();
    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownMs};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown))
        return GetLastError();
    return 0;
}

}  // namespace

const bool kInstallByOption = true;

int notify(std::string_view assignments) {
    if (!asService.load()) return 0;
    Manager& m = manager();
    std::lock_guard guard(m.lock);
    const DWORD now = m.status.dwCurrentState;
    if (assignments.find("READY=1") != std::string_view::npos && now == SERVICE_START_PENDING)
        tell(m, SERVICE_RUNNING);
    // A fatal stop while starting stays START_PENDING until the process ends: the manager
    // takes that end for a failure and starts the service again.
    if (assignments.find("STOPPING=1") != std::string_view::npos && now == SERVICE_RUNNING)
        tell(m, SERVICE_STOP_PENDING);
    return 1;
}

std::uint64_t watchdogIntervalUs() { return 0; }

int runAsService(void (*body)()) {
    serviceBody = body;
    std::wstring name = wide(kServiceName);
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
    // Returns once the service has stopped without ending the process (it could not start);
    // fails at once in a process the manager did not start.
    return StartServiceCtrlDispatcherW(table) ? 0 : -1;
}

bool runningAsService() { return asService.load(); }

// The service control manager does not hold "sc start" until the service runs, and no unit
// sandbox decides what it may write.
bool waitsForReadiness() { return false; }
bool runsAsService() { return false; }

void ending(int code, bool restart) {
    if (!asService.load() || restart) return;
    Manager& m = manager();
    std::lock_guard guard(m.lock);
    m.status.dwWin32ExitCode = code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    m.status.dwServiceSpecificExitCode = static_cast<DWORD>(code);
    tell(m, SERVICE_STOPPED);
}

int installService(std::FILE* out) {
    const Command command = serviceCommand();
    SC_HANDLE scm =
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (scm == nullptr) {
        console::printf(
            out, "gsmsd: cannot reach the service manager (%s): run it as an administrator\n",
            reason(GetLastError()).c_str());
        return 1;
    }
    SC_HANDLE service =
        CreateServiceW(scm, wide(kServiceName).c_str(), kDisplayName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       command.line.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_EXISTS)
            console::printf(out,
                            "gsmsd: the service %s is installed already (gsmsd --remove-service "
                            "removes it)\n",
                            kServiceName);
        else
            console::printf(out, "gsmsd: cannot install the service %s (%s)\n", kServiceName,
                            reason(error).c_str());
        CloseServiceHandle(scm);
        return 1;
    }
    DWORD error = configure(service, command.dir);
    const char* what = "its recovery actions";
    if (error == 0) {
        error = registerEventSource(command.program);
        what = "its event log source";
    }
    if (error != 0) {
        // Nothing half-installed.
        (void)DeleteService(service);
        console::printf(out, "gsmsd: cannot install the service %s: %s not set (%s)\n",
                        kServiceName, what, reason(error).c_str());
    } else {
        console::printf(out,
                        "Service %s installed: %s\n"
                        "It starts with Windows and again 5 s after a failure; start it now with\n"
                        "\"sc start %s\", stop it with \"sc stop %s\". Its daily logs go to\n"
                        "log\\ in the profile folder, its failures, start and stop also to the\n"
                        "Application event log (source \"%s\").\n",
                        kServiceName, narrow(command.line).c_str(), kServiceName, kServiceName,
                        kEventSource);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    return error == 0 ? 0 : 1;
}

int removeService(std::FILE* out) {
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (scm == nullptr) {
        console::printf(
            out, "gsmsd: cannot reach the service manager (%s): run it as an administrator\n",
            reason(GetLastError()).c_str());
        return 1;
    }
    int result = 0;
    SC_HANDLE service =
        OpenServiceW(scm, wide(kServiceName).c_str(), DELETE | SERVICE_QUERY_STATUS);
    if (service == nullptr) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
            console::printf(out, "gsmsd: no service %s is installed\n", kServiceName);
        } else {
            console::printf(out, "gsmsd: cannot remove the service %s (%s)\n", kServiceName,
                            reason(error).c_str());
            result = 1;
        }
    } else {
        SERVICE_STATUS status{};
        const bool running =
            QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
        if (!DeleteService(service)) {
            console::printf(out, "gsmsd: cannot remove the service %s (%s)\n", kServiceName,
                            reason(GetLastError()).c_str());
            result = 1;
        } else if (running) {
            console::printf(out, "Service %s removed; it goes once it has stopped (sc stop %s)\n",
                            kServiceName, kServiceName);
        } else {
            console::printf(out, "Service %s removed\n", kServiceName);
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(scm);
    if (result == 0) {
        const LSTATUS gone =
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, (kEventLogKey + wide(kEventSource)).c_str());
        if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) {
            console::printf(out, "gsmsd: cannot remove the event log source \"%s\" (%s)\n",
                            kEventSource, reason(static_cast<DWORD>(gone)).c_str());
            result = 1;
        }
    }
    return result;
}

}  // namespace gsms::service

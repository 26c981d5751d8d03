// Windows process runner: CreateProcessW in a new console, minimised and not activated, with
// no handle inherited. The command line is built from the UTF-8 arguments and handed over as
// UTF-16, so that a program reading its wide command line gets every character. A batch file
// runs under cmd.exe, its arguments quoted for cmd.exe.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_runner.h"
#include "platform/thread.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms {
namespace {

HANDLE handleOf(void* h) { return static_cast<HANDLE>(h); }

bool isBatchFile(const std::string& program) {
    const auto dot = program.rfind('.');
    if (dot == std::string::npos || program.find_first_of("\\/", dot) != std::string::npos)
        return false;
    const std::string ext = program.substr(dot);
    return _stricmp(ext.c_str(), ".bat") == 0 || _stricmp(ext.c_str(), ".cmd") == 0;
}

std::string folderOfThisProgram() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    const std::string p = win32::utf8({path, n});
    const auto slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash);
}

std::string systemFolder() {
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    return n > 0 && n < MAX_PATH ? win32::utf8({dir, n}) : std::string();
}

// A batch file found where CreateProcess looks for a program: this program's folder, the
// current folder, the system folders, then PATH. Empty when it is nowhere.
std::string findBatchFile(const std::string& name) {
    std::wstring where = win32::wide(folderOfThisProgram() + ";.;" + systemFolder() + ";");
    wchar_t windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n > 0 && n < MAX_PATH) where += std::wstring(windows, n) + L";";
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (pathLength > 0) {
        std::wstring path(pathLength, L'\0');
        const DWORD got = GetEnvironmentVariableW(L"PATH", path.data(), pathLength);
        path.resize(got < pathLength ? got : 0);
        where += path;
    }
    wchar_t found[MAX_PATH];
    const DWORD length = SearchPathW(where.c_str(), win32::wide(name).c_str(), nullptr, MAX_PATH,
                                     found, nullptr);
    if (length == 0 || length >= MAX_PATH) return {};
    return win32::utf8({found, length});
}

// What follows the program's name in a command line, leading blank included.
std::string_view afterProgram(std::string_view line) {
    std::size_t i = line.find_first_not_of(" \t");
    bool quoted = false;
    for (; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        else if ((line[i] == ' ' || line[i] == '\t') && !quoted) break;
    }
    return i < line.size() ? line.substr(i) : std::string_view();
}

constexpr std::size_t kReaperStack = 64u << 10;
constexpr DWORD kLookEveryMs = 200;  // for the children beyond what one wait takes

}  // namespace

// One thread collects every detached child: it sleeps in WaitForMultipleObjects on the
// children's process handles and an event that a hand-over sets. A handle is closed only by
// the thread (or, while there is none, under the lock by whoever collects), never while the
// thread waits on it.
class ChildReaper {
public:
    // Never destroyed: its thread runs until the process ends.
    static ChildReaper& instance() {
        static ChildReaper* reaper = new ChildReaper;
        return *reaper;
    }

    void adopt(HANDLE process, ChildGroup* group) {
        std::lock_guard lock(mutex_);
        children_.push_back({process, group});
        if (group != nullptr) ++group->running_;
        if (!threadRunning_ && startThread()) threadRunning_ = true;
        if (threadRunning_) {
            SetEvent(wake_);
        } else {
            collectLocked();  // no thread (yet): collect what has ended now, and try later
        }
    }

    // Without a thread, the counts are brought up to date by the caller.
    void collectIfNoThread() {
        std::lock_guard lock(mutex_);
        if (!threadRunning_) collectLocked();
    }

private:
    struct Child {
        HANDLE process;
        ChildGroup* group;
    };

    static void routine() { instance().serve(); }

    bool startThread() {
        if (wake_ == nullptr) wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        return wake_ != nullptr && startDetachedThread(routine, "ChildReaper", kReaperStack);
    }

    void collectLocked() {
        std::erase_if(children_, [](const Child& c) {
            if (WaitForSingleObject(c.process, 0) == WAIT_TIMEOUT) return false;
            CloseHandle(c.process);
            if (c.group != nullptr) --c.group->running_;
            return true;
        });
    }

    [[noreturn]] void serve() {
        std::vector<HANDLE> handles;
        for (;;) {
            bool unwatched = false;
            handles.assign(1, wake_);
            {
                std::lock_guard lock(mutex_);
                for (const Child& c : children_) {
                    if (handles.size() < MAXIMUM_WAIT_OBJECTS) handles.push_back(c.process);
                    else unwatched = true;
                }
            }
            (void)WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                         FALSE, unwatched ? kLookEveryMs : INFINITE);
            std::lock_guard lock(mutex_);
            collectLocked();
        }
    }

    std::mutex mutex_;
    std::vector<Child> children_;
    HANDLE wake_ = nullptr;  // auto-reset
    bool threadRunning_ = false;
};

int ChildGroup::running() const {
    ChildReaper::instance().collectIfNoThread();
    return running_.load();
}

ProcessRunner::~ProcessRunner() {
    if (commandLine_) {
        if (isRunning()) terminate();
        std::free(commandLine_);
    }
    commandLine_ = nullptr;
    if (process_ != nullptr) CloseHandle(handleOf(process_));
    process_ = nullptr;
    pid_ = 0;
}

int ProcessRunner::start(bool showMinimised, bool newConsole) {
    startError_ = process_ != nullptr ? EBUSY : EINVAL;
    if (!commandLine_ || process_ != nullptr) return 0;
    std::vector<std::string> args = argv_.empty() ? splitCommandLine(commandLine_) : argv_;
    if (args.empty()) return 0;

    std::string application;  // empty: CreateProcess finds the program itself
    std::string line;
    if (isBatchFile(args[0])) {
        // Started directly, a batch file would get the arguments as cmd.exe reads them:
        // "&", "|" or "%PATH%" in a received text would become commands or values. So the
        // arguments given one by one (a received message's) are quoted for cmd.exe; a command
        // line of the gateway's own ("plasto.cmd 8999") keeps its arguments as written.
        const std::string script = findBatchFile(args[0]);
        if (script.empty()) {
            startError_ = ENOENT;
            return 0;
        }
        application = systemFolder() + "\\cmd.exe";
        args[0] = script;
        const std::string inner = argv_.empty() ? windowsCommandLine({script}, true) +
                                                      std::string(afterProgram(commandLine_))
                                                : windowsCommandLine(args, true);
        line = "cmd.exe /e:ON /v:OFF /d /s /c \"" + inner + "\"";
    } else {
        line = argv_.empty() ? std::string(commandLine_) : windowsCommandLine(args, false);
    }

    std::wstring title = win32::wide(commandLine_);
    std::wstring wideLine = win32::wide(line);
    const std::wstring wideApplication = win32::wide(application);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.lpTitle = title.data();
    if (showMinimised) {
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWMINNOACTIVE;
    }
    PROCESS_INFORMATION pi{};
    const DWORD flags = CREATE_NEW_PROCESS_GROUP | (newConsole ? CREATE_NEW_CONSOLE : 0);
    if (!CreateProcessW(application.empty() ? nullptr : wideApplication.c_str(), wideLine.data(),
                        nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi)) {
        startError_ = win32::lastErrno();
        return 0;
    }
    startError_ = 0;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = static_cast<pid_t>(pi.dwProcessId);
    exitCode_ = kStillActive;
    return 1;
}

int ProcessRunner::detach(ChildGroup* group) {
    if (process_ != nullptr) ChildReaper::instance().adopt(handleOf(process_), group);
    process_ = nullptr;
    pid_ = 0;
    exitCode_ = 0;
    return 0;
}

bool ProcessRunner::isRunning() {
    if (!commandLine_ || process_ == nullptr) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(handleOf(process_), &code)) code = 0;
    if (code == STILL_ACTIVE) {
        exitCode_ = kStillActive;
        return true;
    }
    exitCode_ = code;
    CloseHandle(handleOf(process_));
    process_ = nullptr;
    pid_ = 0;
    return false;
}

void ProcessRunner::terminate() {
    if (!isRunning()) return;
    TerminateProcess(handleOf(process_), 0);
    // Gone before the runner says so, as on POSIX.
    WaitForSingleObject(handleOf(process_), 2000);
    CloseHandle(handleOf(process_));
    process_ = nullptr;
    pid_ = 0;
    exitCode_ = 0;
}

}  // namespace gsms

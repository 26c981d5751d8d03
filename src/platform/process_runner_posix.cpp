#include "platform/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/clock.h"
#include "platform/thread.h"

extern char** environ;

namespace gsms {

namespace {

// 0 when `path` is a regular file this process may execute; else why not (errno value).
int executableError(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return EACCES;
    return ::access(path.c_str(), X_OK) == 0 ? 0 : errno;
}

// Mirrors the Windows search order: current directory first, then PATH. Empty when none is
// executable; `error` then says why (EACCES when one was found but may not be run).
std::string resolveProgram(const std::string& name, int& error) {
    error = ENOENT;
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) {
        error = executableError(name);
        return error == 0 ? name : std::string();
    }
    std::string local = name;
    local.insert(0, "./", 2);
    std::vector<std::string> candidates{local};
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        std::size_t end = dirs.find(':', pos);
        if (end == std::string_view::npos) end = dirs.size();
        // An empty PATH entry means the current directory.
        std::string candidate(end > pos ? dirs.substr(pos, end - pos) : std::string_view("."));
        candidates.push_back(candidate.append(1, '/').append(name));
        pos = end + 1;
    }
    for (const std::string& candidate : candidates) {
        const int why = executableError(candidate);
        if (why == 0) {
            error = 0;
            return candidate;
        }
        if (why != ENOENT && why != ENOTDIR) error = why;  // there, but not to be run
    }
    return {};
}

std::uint32_t decodeStatus(int status) {
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 0;
}

// A descriptor that becomes readable when the child ends; -1 where the system has none.
// Close-on-exec, as every pidfd is.
int pidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

constexpr std::size_t kReaperStack = 64u << 10;
constexpr int kLookEveryMs = 200;  // for a child without a pidfd

} // namespace

// One thread collects every detached child: it sleeps in poll() on the children's pidfds and
// is woken through an eventfd when a child is handed over. It never waits for any child but
// its own (no waitpid(-1)), so other waiters in the process keep their children.
class ChildReaper {
public:
    // Never destroyed: its thread runs until the process ends.
    static ChildReaper& instance() {
        static ChildReaper* reaper = new ChildReaper;
        return *reaper;
    }

    void adopt(pid_t pid, ChildGroup* group) {
        const int pidfd = pidfdOpen(pid);
        std::lock_guard lock(mutex_);
        children_.push_back({pid, pidfd, group});
        if (group != nullptr) ++group->running_;
        if (!threadRunning_ && startThread()) threadRunning_ = true;
        if (threadRunning_) {
            wake();
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
        pid_t pid;
        int pidfd;  // -1: none; then looked at every kLookEveryMs
        ChildGroup* group;
    };

    static void routine() { instance().serve(); }

    bool startThread() {
        if (wake_ < 0) wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return startDetachedThread(routine, "ChildReaper", kReaperStack);
    }

    void wake() {
        if (wake_ < 0) return;
        const std::uint64_t one = 1;
        ssize_t n = ::write(wake_, &one, sizeof one);
        (void)n;  // a full counter wakes the thread as well
    }

    void collectLocked() {
        std::erase_if(children_, [](const Child& c) {
            int status = 0;
            const pid_t r = ::waitpid(c.pid, &status, WNOHANG);
            if (r == 0 || (r < 0 && errno == EINTR)) return false;
            // Ended (or, ECHILD, collected by someone else): forget it.
            if (c.pidfd >= 0) ::close(c.pidfd);
            if (c.group != nullptr) --c.group->running_;
            return true;
        });
    }

    [[noreturn]] void serve() {
        std::vector<pollfd> fds;
        for (;;) {
            bool unwatched = wake_ < 0;
            fds.clear();
            {
                std::lock_guard lock(mutex_);
                if (wake_ >= 0) fds.push_back({wake_, POLLIN, 0});
                for (const Child& c : children_) {
                    if (c.pidfd >= 0) fds.push_back({c.pidfd, POLLIN, 0});
                    else unwatched = true;
                }
            }
            (void)::poll(fds.data(), fds.size(), unwatched ? kLookEveryMs : -1);
            if (wake_ >= 0) {
                std::uint64_t count = 0;
                ssize_t n = ::read(wake_, &count, sizeof count);
                (void)n;
            }
            std::lock_guard lock(mutex_);
            collectLocked();
        }
    }

    std::mutex mutex_;
    std::vector<Child> children_;
    int wake_ = -1;  // eventfd; -1 when none could be made (then the thread looks every 200 ms)
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
    pid_ = 0;
}

int ProcessRunner::start(bool /*showMinimised*/, bool /*newConsole*/) {
    startError_ = EINVAL;
    if (!commandLine_) return 0;
    std::vector<std::string> args = argv_.empty() ? splitCommandLine(commandLine_) : argv_;
    if (args.empty()) return 0;
    const std::string program = resolveProgram(args[0], startError_);
    if (program.empty()) return 0;

    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    // Nothing else of ours: a descriptor inherited without close-on-exec (from whoever
    // started the gateway) would otherwise reach every command.
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    // Own session (stand-in for a new console). Every signal at its default and none
    // blocked: the gateway ignores SIGPIPE and blocks SIGTERM in its threads, and a command
    // must neither inherit the one nor be deaf to the other.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    // Every bit: sigfillset leaves out the two signals glibc keeps for itself (32 and 33),
    // which its posix_spawn would then leave ignored in the child.
    std::memset(&all, 0xFF, sizeof all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = 0;
    const int rc = ::posix_spawn(&child, program.c_str(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    startError_ = rc;
    if (rc != 0) return 0;
    pid_ = child;
    exitCode_ = kStillActive;
    return 1;
}

int ProcessRunner::detach(ChildGroup* group) {
    if (pid_ > 0) ChildReaper::instance().adopt(pid_, group);
    pid_ = 0;
    exitCode_ = 0;
    return 0;
}

bool ProcessRunner::isRunning() {
    if (!commandLine_ || pid_ <= 0) return false;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) {
        exitCode_ = kStillActive;
        return true;
    }
    exitCode_ = r == pid_ ? decodeStatus(status) : 0;
    pid_ = 0;
    return false;
}

void ProcessRunner::terminate() {
    if (!isRunning()) return;
    // The child leads its own session, so its group id equals its pid.
    ::kill(-pid_, SIGTERM);
    int status = 0;
    bool reaped = false;
    auto deadline = clock::deadlineAfterMs(2000);
    while (std::chrono::steady_clock::now() < deadline) {
        pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            reaped = true;
            break;
        }
        clock::sleepMs(20);
    }
    if (!reaped) {
        ::kill(-pid_, SIGKILL);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = 0;
    exitCode_ = 0;
}

} // namespace gsms

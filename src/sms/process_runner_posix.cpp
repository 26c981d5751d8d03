#include "sms/process_runner.h"

#include "platform/clock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace gsms {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Mirrors the Windows search order: current directory first, then PATH.
std::string resolveProgram(const std::string& name) {
    if (name.empty()) return {};
    if (name.find('/') != std::string::npos) return name;
    std::string local = name;
    local.insert(0, "./", 2);
    if (isExecutableFile(local)) return local;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        std::size_t end = dirs.find(':', pos);
        if (end == std::string_view::npos) end = dirs.size();
        // An empty PATH entry means the current directory.
        std::string candidate(end > pos ? dirs.substr(pos, end - pos) : std::string_view("."));
        candidate.append(1, '/').append(name);
        if (isExecutableFile(candidate)) return candidate;
        pos = end + 1;
    }
    return {};
}

// One blocking waiter per detached child: simplest way to guarantee reaping
// without touching the process-wide SIGCHLD disposition.
void reapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

std::uint32_t decodeStatus(int status) {
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 0;
}

} // namespace

ProcessRunner::~ProcessRunner() {
    if (commandLine_) {
        if (isRunning()) terminate();
        std::free(commandLine_);
    }
    commandLine_ = nullptr;
    pid_ = 0;
}

int ProcessRunner::start(bool /*showMinimised*/, bool /*newConsole*/) {
    if (!commandLine_) return 0;
    std::vector<std::string> args = argv_.empty() ? splitCommandLine(commandLine_) : argv_;
    if (args.empty()) return 0;
    std::string program = resolveProgram(args[0]);
    if (program.empty() || !isExecutableFile(program)) return 0;

    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&fa, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    // Own session (stand-in for a new console); default signal mask so the
    // child can be stopped by SIGTERM even if our threads block it.
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attr, &empty);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);

    pid_t child = 0;
    int rc = ::posix_spawn(&child, program.c_str(), &fa, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return 0;
    pid_ = child;
    exitCode_ = kStillActive;
    return 1;
}

int ProcessRunner::detach() {
    if (pid_ > 0) reapInBackground(pid_);
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

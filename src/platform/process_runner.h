// ProcessRunner: starts one command line as a child process in its own session, never through
// a shell. The child starts clean, whatever the gateway holds: standard streams on /dev/null,
// no other descriptor open, every signal at its default disposition, none blocked.
// That is process_runner_posix.cpp. process_runner_win32.cpp starts it with CreateProcess in a
// new console, shown minimised and not activated, inheriting no handle; a batch file (".bat",
// ".cmd") runs under cmd.exe with every argument quoted so that nothing in it is read as
// cmd.exe syntax (a line break, which cmd.exe cannot take in an argument, becomes a blank).
//
// A detached child is handed to the one reaper of the process, which collects every detached
// child as it ends (one thread for all of them, started at the first hand-over: on POSIX it
// polls the children's pidfds, on Windows it waits on their process handles); a ChildGroup
// counts its children until then. No failure to create a thread or a descriptor ends the
// process: without its thread the reaper collects what has ended whenever a child is handed
// over or a group is counted.
//
// Thread contract: one ProcessRunner instance is used by one thread at a time (no internal
// locking); different instances may be used concurrently. detach() and ChildGroup::running()
// may be called from any thread.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gsms {

class ChildReaper;

// Splits a command line into arguments by the Windows rules: blanks and tabs
// separate, double quotes group and are removed, \" is a literal quote, other
// backslashes are literal.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// The command line that hands a Windows program exactly these arguments, the first naming the
// program (quoted by the C runtime's rules where needed). forCmd: for a batch file under
// cmd.exe /s /c, where every argument is quoted, a quote is doubled, a % cannot start a
// variable and a line break becomes a blank.
std::string windowsCommandLine(const std::vector<std::string>& args, bool forCmd);

// The detached children of one kind (the commands for received messages), counted from their
// hand-over until the reaper has collected them. Give it static storage: the reaper keeps a
// pointer to it while its children run.
class ChildGroup {
public:
    // The children of this group not yet collected.
    int running() const;

private:
    friend class ChildReaper;
    std::atomic<int> running_{0};
};

class ProcessRunner {
public:
    static constexpr std::uint32_t kStillActive = 259;

    explicit ProcessRunner(const char* commandLine);
    // Runs exactly these arguments (the first names the program), never split again; the
    // command line held is the arguments joined by blanks. No arguments: no command line.
    explicit ProcessRunner(std::vector<std::string> argv);
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // 1 when the child started; 0 without a command line, when the program is not found or
    // not executable, or when the system refuses the process (startError() says why); on
    // Windows also while the runner still holds a child (EBUSY). POSIX: the flags only select
    // a new session, kept for the callers. Windows: a new console (and process group), shown
    // minimised and not activated.
    [[nodiscard]] int start(bool showMinimised, bool newConsole);
    // The errno value of the last failed start: ENOENT (not found), EACCES (not executable),
    // ENOEXEC (not a program the system can run), EAGAIN, ... 0 after a success. Windows tells
    // its reasons in the same terms.
    int startError() const { return startError_; }
    // Hands the child to the reaper (counted in `group` until collected) and lets it go; the
    // runner holds no child afterwards. Always 0.
    int detach(ChildGroup* group = nullptr);
    // True exactly while the held child has not ended (exit code 259 meanwhile).
    bool isRunning();
    void terminate();

    std::uint32_t exitCode() const { return exitCode_; }
    pid_t pid() const { return pid_; }

private:
    char* commandLine_ = nullptr;
    std::vector<std::string> argv_;  // set by the argument-vector constructor
    std::uint32_t exitCode_ = 0;
    pid_t pid_ = 0;
    int startError_ = 0;
    void* process_ = nullptr;  // Windows: the held child's process handle
};

}  // namespace gsms

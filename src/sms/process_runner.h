// ProcessRunner: starts one command line as a child process in its own
// session with standard streams on /dev/null; never through a shell.
//
// Thread contract: one ProcessRunner instance is used by one thread at a time
// (no internal locking). Different instances may be used concurrently; the
// process-wide reaper used by detach() is thread-safe.
//
// Return values: start() 1 = child started, 0 = no command line, program not
// found or not executable, or spawn failure. detach() always 0. isRunning()
// true exactly while the held child has not ended (exit code 259 meanwhile).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gsms {

// Splits a command line into arguments by the Windows rules: blanks and tabs
// separate, double quotes group and are removed, \" is a literal quote, other
// backslashes are literal.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

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

    // The flags only select a new session on POSIX; kept for the callers.
    int start(bool showMinimised, bool newConsole);
    int detach();
    bool isRunning();
    void terminate();

    std::uint32_t exitCode() const { return exitCode_; }
    pid_t pid() const { return pid_; }

private:
    char* commandLine_ = nullptr;
    std::vector<std::string> argv_;  // set by the argument-vector constructor
    std::uint32_t exitCode_ = 0;
    pid_t pid_ = 0;
};

} // namespace gsms

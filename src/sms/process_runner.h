// ProcessRunner: starts one command line as a child process in its own
// session with standard streams on /dev/null; never through a shell.
// That is process_runner_posix.cpp. process_runner_win32.cpp starts it with CreateProcess in a
// new console, shown minimised and not activated, inheriting no handle; a batch file (".bat",
// ".cmd") runs under cmd.exe with every argument quoted so that nothing in it is read as
// cmd.exe syntax (a line break, which cmd.exe cannot take in an argument, becomes a blank).
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

// The command line that hands a Windows program exactly these arguments, the first naming the
// program (quoted by the C runtime's rules where needed). forCmd: for a batch file under
// cmd.exe /s /c, where every argument is quoted, a quote is doubled, a % cannot start a
// variable and a line break becomes a blank.
std::string windowsCommandLine(const std::vector<std::string>& args, bool forCmd);

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

    // POSIX: the flags only select a new session, kept for the callers. Windows: a new
    // console (and process group), shown minimised and not activated.
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
    void* process_ = nullptr;  // Windows: the held child's process handle
};

} // namespace gsms

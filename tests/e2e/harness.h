// Whole-program test harness: the real gsms-modem-sim and gsmsd as child processes in a
// temporary directory. Every process started here is killed and reaped by its destructor.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace gsms::e2e {

// Polls cond until it holds or the deadline passes (the deadline is generous: the machine may
// be loaded and the binaries sanitized).
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit =
                                                    std::chrono::seconds(60));

std::string readText(const std::string& path);
void writeText(const std::string& path, const std::string& text);

// A child process with its standard output (and error) in a file.
class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool start(const std::vector<std::string>& argv, const std::string& cwd,
               const std::string& outputFile, const std::map<std::string, std::string>& env = {});
    // The same with standard output and error on an open descriptor (a pipe, say).
    bool start(const std::vector<std::string>& argv, const std::string& cwd, int outputFd,
               const std::map<std::string, std::string>& env = {});
    bool running();
    // Exit code once it has ended (-1 while running, 128 + n after signal n).
    int exitCode();
    // Waits for the end; -1 when it did not end within the limit.
    int waitExit(std::chrono::milliseconds limit = std::chrono::seconds(120));
    void signal(int sig);
    void kill();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// gsms-modem-sim on a pseudo-terminal, its link at <dir>/ttyGSM0.
class Simulator {
public:
    explicit Simulator(const std::string& dir) : dir_(dir) {}
    bool start(const std::vector<std::string>& extraArgs = {});
    // Sends one control line, returns the answer line ("ok" or an error).
    std::string control(const std::string& line);
    const std::string& link() const { return link_; }
    // Commands received, in order, from the trace.
    std::vector<std::string> commands();
    // How many received commands start with prefix.
    int count(const std::string& prefix);
    // Record lines of the submissions (raw JSON lines).
    std::vector<std::string> records();
    Child& process() { return child_; }

private:
    std::string dir_, link_, control_;
    Child child_;
};

// The gateway in a directory: TEVRAK.INI written from the given keys, log/ below it.
class Gateway {
public:
    explicit Gateway(const std::string& dir) : dir_(dir) {}
    // Writes section Config of TEVRAK.INI (keys as given; the engine adds the missing ones).
    void configure(const std::map<std::string, std::string>& keys);
    // The same with the keys every test needs added where not given: Port (the simulator's
    // link), WatchPath, DonePath and ErrorPath (in/, done/, error/ here), WatchLogPath (here).
    void configure(const Simulator& sim, std::map<std::string, std::string> keys);
    // wrapper: a program that runs the gateway (setpriv with another user, say).
    bool start(const std::string& program = "gsmsd",
               const std::map<std::string, std::string>& env = {},
               const std::vector<std::string>& wrapper = {});
    std::string dailyLog();
    std::string output();
    bool logHas(const std::string& text) { return dailyLog().find(text) != std::string::npos; }
    bool waitLog(const std::string& text,
                 std::chrono::milliseconds limit = std::chrono::seconds(60));
    int logCount(const std::string& text);
    Child& process() { return child_; }

private:
    std::string dir_;
    Child child_;
};

// A temporary directory removed with its content at the end.
class Scratch {
public:
    Scratch();
    ~Scratch();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Installs an executable plasto.cmd in dir that appends its argument to dir/tech-alarm.txt,
// so a test can see whether and with what the tech alarm was raised.
void installTechAlarmRecorder(const std::string& dir);

// Path of an executable of this build.
std::string binary(const std::string& name);

// User plus system CPU seconds a process has used so far (from /proc).
double cpuSeconds(pid_t pid);

}  // namespace gsms::e2e

namespace gsms::e2e {

// A pseudo-terminal standing in for a console, for a program that behaves differently on one
// (gsmsd colours its lines only there). Pass slave() as a Child's output file; text() collects
// what arrived so far. Declare it before the Child so that the program is gone before it is.
class Terminal {
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    bool isOpen() const { return master_ >= 0; }
    const std::string& slave() const { return slave_; }
    // Everything written to the terminal so far, byte for byte (raw mode: no LF to CR LF).
    std::string text();

private:
    int master_ = -1;
    std::string slave_, text_;
};

}  // namespace gsms::e2e

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/process_signals.h"
#include "platform/serial_port.h"

namespace gsms {
namespace {

struct Entry {
    int number;
    const char* name;
    ProcessRequest request;
};

// Every asynchronous signal whose default action ends the process; the synchronous ones
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS) keep their default. SIGABRT is listed for
// the one systemd's watchdog sends a hung gateway; abort() unblocks it in its own thread and
// still ends the process at once.
constexpr Entry kSignals[] = {
    {SIGTERM, "SIGTERM", ProcessRequest::Stop},
    {SIGINT, "SIGINT", ProcessRequest::Stop},
    {SIGHUP, "SIGHUP", ProcessRequest::Reload},
    {SIGUSR1, "SIGUSR1", ProcessRequest::Status},
    {SIGQUIT, "SIGQUIT", ProcessRequest::End},
    {SIGABRT, "SIGABRT", ProcessRequest::End},
    {SIGUSR2, "SIGUSR2", ProcessRequest::End},
    {SIGALRM, "SIGALRM", ProcessRequest::End},
    {SIGVTALRM, "SIGVTALRM", ProcessRequest::End},
    {SIGPROF, "SIGPROF", ProcessRequest::End},
    {SIGIO, "SIGIO", ProcessRequest::End},
    {SIGPWR, "SIGPWR", ProcessRequest::End},
    {SIGXCPU, "SIGXCPU", ProcessRequest::End},
    {SIGXFSZ, "SIGXFSZ", ProcessRequest::End},
    {SIGSTKFLT, "SIGSTKFLT", ProcessRequest::End},
};

sigset_t requestSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const Entry& e : kSignals) sigaddset(&set, e.number);
    return set;
}

}  // namespace

const char* const kProcessRequestsHelp =
    "Signals: SIGTERM and SIGINT stop taking jobs, let the submission in flight end\n"
    "and exit with 0; SIGHUP reads the settings the worker threads use each time\n"
    "again (RetryCount, RetryDelay, QualityPollEverySecs, PrometheusFile, ...);\n"
    "SIGUSR1 writes the status file at once; SIGQUIT and the other ending signals\n"
    "end it at once, with a line in the daily log.\n";
const bool kReloadByOption = false;

void blockProcessSignals() {
    const sigset_t set = requestSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // An ignored signal is discarded before sigtimedwait could take it: a shell that starts
    // the gateway in the background (SIGINT) or nohup (SIGHUP) must not take its requests.
    for (const Entry& e : kSignals) ::signal(e.number, SIG_DFL);
    ::signal(SIGPIPE, SIG_IGN);
}

ProcessSignal waitProcessSignal(std::int64_t ms) {
    const sigset_t set = requestSet();
    timespec wait{static_cast<std::time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    siginfo_t info;
    const int number = ::sigtimedwait(&set, &info, &wait);
    if (number <= 0) return {};  // EAGAIN: the time ran out; EINTR: a stop of the debugger
    for (const Entry& e : kSignals)
        if (e.number == number) return {e.request, e.number, e.name};
    return {};
}

void postProcessRequest(const ProcessSignal&) {}

void endBySignal(int number) {
    SerialPort::releaseAtProcessEnd();
    std::fflush(stdout);
    std::fflush(stderr);
    ::signal(number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(number);
    _exit(128 + number);  // a signal whose default is ignored here would not end the process
}

int sendProcessRequest(long pid, ProcessRequest request) {
    if (pid <= 0) {
        errno = ESRCH;
        return -1;
    }
    const int number = request == ProcessRequest::Reload   ? SIGHUP
                       : request == ProcessRequest::Status ? SIGUSR1
                                                           : 0;
    if (number == 0) {
        errno = ENOSYS;
        return -1;
    }
    return ::kill(static_cast<pid_t>(pid), number) == 0 ? 0 : -1;
}

long currentProcessId() { return static_cast<long>(::getpid()); }

bool processRunning(long pid, const char* name) {
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string running;
    // Unreadable (/proc mounted with hidepid): the process is there, its name unknown.
    if (!std::getline(comm, running)) return true;
    return running.compare(0, std::strlen(name), name) == 0;
}

std::string processStartStamp(long pid) {
    if (pid <= 0) return {};
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return {};
    // The name in parentheses may hold blanks and parentheses: the fields follow the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    // The start time is field 22; the first after the name is field 3.
    for (int n = 3; n <= 22; ++n)
        if (!(fields >> field)) return {};
    // Ticks count from the boot: a process of another boot may have started at the same tick.
    std::ifstream bootFile("/proc/sys/kernel/random/boot_id");
    std::string boot;
    std::getline(bootFile, boot);
    return boot.empty() ? field : boot + ":" + field;
}

}  // namespace gsms

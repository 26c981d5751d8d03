#include "frontend/front_end.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "core/log.h"
#include "core/version.h"
#include "gateway/engine.h"
#include "gateway/status_client.h"
#include "platform/console.h"
#include "platform/process_signals.h"
#include "platform/event_log.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"
#include "sms/signal_thread.h"

namespace gsms {

const char* const kLowSignalText =
    "WARNING : Low signal quality, SMS submissions are impaired or even not operational.";

std::string signalBackText(int quality) {
    return "Signal quality " + std::to_string(quality) + ", SMS submissions operational again.";
}

std::string versionText(const char* program) {
    return std::string(program) + " (Velkora GSM/SMS) " + kVersion;
}

namespace {

void printHelp(const char* program, const char* summary, FrontEnd frontEnd) {
    const bool service = frontEnd == FrontEnd::Service;
    const bool reload = service && kReloadByOption;
    const bool install = service && service::kInstallByOption;
    std::printf("usage: %s [--profile-dir DIR]%s%s [--help] [--version]\n", program,
                service ? " [--status]" : "", reload ? " [--reload]" : "");
    if (install)
        std::printf("       %s [--profile-dir DIR] --install-service | --remove-service\n",
                    program);
    std::printf("\n%s\n\n", summary);
    std::printf(
        "  --profile-dir DIR  where TEVRAK.INI, KORLIN.INI and hestrum.ini live\n"
        "                     (default: $GSMS_PROFILE_DIR, else %s)\n",
        kDefaultProfileDirText);
    if (service) {
        std::printf(
            "  --status           print the status file gsmsd.status of the profile folder\n");
        // Where the service keeps its own profile folder apart (not on Windows).
        if (*kServiceStateDir != '\0')
            std::printf(
                "                     (without --profile-dir and $GSMS_PROFILE_DIR, and with none\n"
                "                     in the current directory: the service's, in %s)\n",
                kServiceStateDir);
        std::printf(
            "                     and exit: 0 while gsmsd runs, 3 when it has ended, %d when\n"
            "                     there is no status file, %d when it cannot be read\n",
            kStatusNone, kStatusUnreadable);
    }
    if (reload)
        std::printf(
            "  --reload           have the gsmsd that wrote that status file read its\n"
            "                     settings again, and exit: 0 when asked, 3 when it does not\n"
            "                     run, %d or %d as for --status\n",
            kStatusNone, kStatusUnreadable);
    if (install)
        std::printf(
            "  --install-service  register gsmsd with the service manager as the service\n"
            "                     \"%s\" (started with Windows, again 5 s after a failure),\n"
            "                     with this profile folder; its daily logs go to log\\ there\n"
            "  --remove-service   remove that service\n",
            service::kServiceName);
    std::printf(
        "  --help             this text\n"
        "  --version          the version\n\n"
        "Daily logs go to log/gsms_YYYYMMDD.log under the current directory.\n");
    if (install)
        std::printf(
            "The service's go under its profile folder; its failures, start and stop go to\n"
            "the Application event log too (source \"%s\"), and so do gsmsd's from a console.\n",
            kEventSource);
    if (service)
        std::fputs(kProcessRequestsHelp, stdout);
    std::printf(
        "Exit codes: 0 when stopped; 1 after a fatal start-up failure or lasting\n"
        "signal loss (a supervisor should start it again); 2 for a bad argument;\n"
        "6 when the SIM is locked (SIM PUK, PH-SIM PIN, ...) or refused the PIN\n"
        "(do not start it again before a person has seen to the SIM or the PIN:\n"
        "each start would spend one of the SIM's tries).\n");
}

}  // namespace

FrontEndOptions parseFrontEndOptions(int argc, char** argv, const char* program,
                                     const char* summary, FrontEnd frontEnd) {
    FrontEndOptions o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--profile-dir") == 0 && i + 1 < argc) {
            setProfileDir(argv[++i]);
        } else if (std::strncmp(a, "--profile-dir=", 14) == 0) {
            setProfileDir(a + 14);
        } else if (std::strcmp(a, "--status") == 0 && frontEnd == FrontEnd::Service) {
            o.status = true;
        } else if (std::strcmp(a, "--reload") == 0 && frontEnd == FrontEnd::Service &&
                   kReloadByOption) {
            o.reload = true;
        } else if (std::strcmp(a, "--install-service") == 0 && frontEnd == FrontEnd::Service &&
                   service::kInstallByOption) {
            o.installService = true;
        } else if (std::strcmp(a, "--remove-service") == 0 && frontEnd == FrontEnd::Service &&
                   service::kInstallByOption) {
            o.removeService = true;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            printHelp(program, summary, frontEnd);
            o.run = false;
            return o;
        } else if (std::strcmp(a, "--version") == 0) {
            std::printf("%s\n", versionText(program).c_str());
            o.run = false;
            return o;
        } else {
            std::fprintf(stderr, "%s: unknown argument '%s' (try --help)\n", program, a);
            o.run = false;
            o.exitCode = kExitBadArguments;
            return o;
        }
    }
    return o;
}

ConsoleStyle consoleStyleFor(int fd) {
    if (console::isJournal(fd)) return ConsoleStyle::Journal;
    return console::showsColours(fd) ? ConsoleStyle::Colours : ConsoleStyle::Plain;
}

namespace {

// Guarded by mutex, except what only the receiver thread touches.
struct Console {
    std::mutex mutex;
    std::condition_variable wake;  // the receiver waits for work
    std::condition_variable idle;  // drainConsole waits for a finished pass
    bool started = false;
    bool pending = false;        // lines or a signal reading to look at
    bool signalPending = false;
    bool busy = false;           // the receiver is in a pass
    std::uint64_t passes = 0;    // passes finished
    int fd = 1;  // standard output
    ConsoleStyle style = ConsoleStyle::Plain;
    std::atomic<unsigned> unwritten{0};  // lines a write failed for (a closed pipe)
    // The receiver's own.
    bool lowShown = false;
    unsigned lostReported = 0;
};

// Never destroyed: the receiver thread runs until the process ends.
Console& receiver() {
    static Console* c = new Console;
    return *c;
}

enum class Kind { Line, Warning };

std::string formatted(ConsoleStyle style, const LogLine& line, Kind kind) {
    switch (style) {
        case ConsoleStyle::Journal: {
            const char* priority = line.failure || line.colour == kColorRed ? "<3>"
                                   : kind == Kind::Warning                   ? "<4>"
                                                                             : "<6>";
            // The journal stamps every line itself.
            const std::size_t from = line.stamp <= line.text.size() ? line.stamp : 0;
            return priority + line.text.substr(from) + "\n";
        }
        case ConsoleStyle::Colours:
            if (line.colour != 0) {
                const unsigned r = line.colour & 0xFF, g = (line.colour >> 8) & 0xFF,
                               b = (line.colour >> 16) & 0xFF;
                char head[32];
                std::snprintf(head, sizeof head, "\033[38;2;%u;%u;%um", r, g, b);
                return head + line.text + "\033[0m\n";
            }
            break;
        case ConsoleStyle::Plain: break;
    }
    return line.text + "\n";
}

// Writes all of it; may block for as long as the stream does, with no lock held.
void writeOut(Console& c, int fd, const std::string& text) {
    if (fd < 0) return;  // shown nowhere
    // Closed or broken: the daily log keeps the line.
    if (console::writeAll(fd, text) != 0) c.unwritten.fetch_add(1);
}

unsigned linesNotShown(const Console& c) { return droppedWindowLines() + c.unwritten.load(); }

void pass(Console& c, int fd, ConsoleStyle style, bool signalRead) {
    auto show = [&](const LogLine& line, Kind kind) {
        writeOut(c, fd, formatted(style, line, kind));
    };
    while (auto line = takeLogLine()) show(*line, Kind::Line);
    if (signalRead) {
        const int q = signalQuality().load();
        if (q < 12 && !c.lowShown) {
            show(LogLine{kLowSignalText, 0}, Kind::Warning);
            reportEvent(EventKind::Warning, kLowSignalText);
            c.lowShown = true;
        } else if (q >= 12 && c.lowShown) {
            show(LogLine{signalBackText(q), 0}, Kind::Line);
            c.lowShown = false;
        }
    }
    const unsigned lost = linesNotShown(c);
    if (lost > c.lostReported) {
        const unsigned now = lost - c.lostReported;
        c.lostReported = lost;
        show(LogLine{std::to_string(now) + (now == 1 ? " line" : " lines") +
                         " not shown here: standard output could not keep up (the daily log "
                         "has them)",
                     0},
             Kind::Warning);
    }
}

[[noreturn]] void receiverLoop() {
    Console& c = receiver();
    for (;;) {
        int fd;
        ConsoleStyle style;
        bool signalRead;
        {
            std::unique_lock lock(c.mutex);
            c.wake.wait(lock, [&] { return c.pending; });
            c.pending = false;
            signalRead = c.signalPending;
            c.signalPending = false;
            c.busy = true;
            fd = c.fd;
            style = c.style;
        }
        pass(c, fd, style, signalRead);
        {
            std::lock_guard lock(c.mutex);
            c.busy = false;
            ++c.passes;
        }
        c.idle.notify_all();
    }
}

}  // namespace

void startConsoleReceiver(std::FILE* out, ConsoleStyle style) {
    Console& c = receiver();
    bool start = false;
    {
        std::lock_guard lock(c.mutex);
        // Whatever stdio holds for the stream goes first; from now on the receiver writes
        // the descriptor directly, so no stdio lock is ever held while it blocks.
        if (out != nullptr) std::fflush(out);
        c.fd = out != nullptr ? ::fileno(out) : -1;
        c.style = style;
        start = !c.started;
        c.started = true;
    }
    setNotifier([](int code) {
        if (code != kNotifyLogLine && code != kNotifySignal) return;  // slot views: the window's
        Console& cc = receiver();
        {
            std::lock_guard lock(cc.mutex);
            cc.pending = true;
            if (code == kNotifySignal) cc.signalPending = true;
        }
        cc.wake.notify_one();
    });
    if (start) std::thread(receiverLoop).detach();
}

unsigned drainConsole(std::int64_t limitMs) {
    Console& c = receiver();
    std::unique_lock lock(c.mutex);
    if (!c.started) return linesNotShown(c);
    // A pass that starts after this call: the one running may have looked at the queue.
    const std::uint64_t wanted = c.passes + (c.busy ? 2 : 1);
    c.pending = true;
    c.wake.notify_one();
    if (c.idle.wait_for(lock, std::chrono::milliseconds(limitMs),
                        [&] { return c.passes >= wanted; }))
        return linesNotShown(c);
    // Still blocked: what waits in the queue, and the line being written, are lost too.
    return linesNotShown(c) + static_cast<unsigned>(queuedWindowLines()) + (c.busy ? 1u : 0u);
}

}  // namespace gsms

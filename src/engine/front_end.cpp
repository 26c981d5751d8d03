#include "engine/front_end.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "engine/engine.h"
#include "engine/log.h"
#include "platform/profile_dir.h"
#include "sms/signal_thread.h"

namespace gsms {

const char* const kLowSignalText =
    "WARNING : Low signal quality, SMS submissions are impaired or even not operational.";

std::string signalBackText(int quality) {
    return "Signal quality " + std::to_string(quality) + ", SMS submissions operational again.";
}

std::string versionText(const char* program) {
    return std::string(program) + " (Velkora GSM/SMS) 1.5";
}

FrontEndOptions parseFrontEndOptions(int argc, char** argv, const char* program,
                                     const char* summary) {
    FrontEndOptions o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--profile-dir") == 0 && i + 1 < argc) {
            setProfileDir(argv[++i]);
        } else if (std::strncmp(a, "--profile-dir=", 14) == 0) {
            setProfileDir(a + 14);
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::printf(
                "usage: %s [--profile-dir DIR] [--help] [--version]\n\n%s\n\n"
                "  --profile-dir DIR  where TEVRAK.INI, KORLIN.INI and hestrum.ini live\n"
                "                     (default: $GSMS_PROFILE_DIR, else %s)\n"
                "  --help             this text\n"
                "  --version          the version\n\n"
                "Daily logs go to log/gsms_YYYYMMDD.log under the current directory.\n"
                "Exit codes: 0 when stopped; 1 after a fatal start-up failure or lasting\n"
                "signal loss (a supervisor should start it again); 2 for a bad argument;\n"
                "6 when the SIM is locked (SIM PUK, PH-SIM PIN, ...) or refused the PIN\n"
                "(do not start it again before a person has seen to the SIM or the PIN:\n"
                "each start would spend one of the SIM's tries).\n",
                program, summary, kDefaultProfileDirText);
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

namespace {

struct Console {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<int> codes;
    std::mutex outMutex;  // one writer of the stream at a time (receiver or drain)
    std::FILE* out = stdout;
    bool colours = false;
    bool lowShown = false;
};

// Never destroyed: the receiver thread runs until the process ends.
Console& console() {
    static Console* c = new Console;
    return *c;
}

void writeLine(Console& c, const LogLine& line) {
    if (c.colours && line.colour != 0) {
        const unsigned r = line.colour & 0xFF, g = (line.colour >> 8) & 0xFF,
                       b = (line.colour >> 16) & 0xFF;
        std::fprintf(c.out, "\033[38;2;%u;%u;%um%s\033[0m\n", r, g, b, line.text.c_str());
    } else {
        std::fprintf(c.out, "%s\n", line.text.c_str());
    }
}

void handle(Console& c, int code) {
    std::lock_guard<std::mutex> lock(c.outMutex);
    if (code == kNotifyLogLine) {
        if (auto line = takeLogLine()) writeLine(c, *line);
    } else if (code == kNotifySignal) {
        const int q = signalQuality().load();
        if (q < 12 && !c.lowShown) {
            writeLine(c, LogLine{kLowSignalText, 0});
            c.lowShown = true;
        } else if (q >= 12 && c.lowShown) {
            writeLine(c, LogLine{signalBackText(q), 0});
            c.lowShown = false;
        }
    }
    std::fflush(c.out);
}

[[noreturn]] void receiverLoop() {
    Console& c = console();
    for (;;) {
        int code;
        {
            std::unique_lock<std::mutex> lock(c.mutex);
            c.wake.wait(lock, [&] { return !c.codes.empty(); });
            code = c.codes.front();
            c.codes.pop_front();
        }
        handle(c, code);
    }
}

}  // namespace

void startConsoleReceiver(std::FILE* out, bool colours) {
    Console& c = console();
    c.out = out;
    c.colours = colours;
    setNotifier([](int code) {
        Console& cc = console();
        {
            std::lock_guard<std::mutex> lock(cc.mutex);
            cc.codes.push_back(code);
        }
        cc.wake.notify_one();
    });
    std::thread(receiverLoop).detach();
}

void drainConsole() {
    Console& c = console();
    std::lock_guard<std::mutex> lock(c.outMutex);
    while (auto line = takeLogLine()) writeLine(c, *line);
    std::fflush(c.out);
}

}  // namespace gsms

// gsms-modem-sim: a GSM modem on a pseudo-terminal, for the tests, the demo and the benchmarks.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/version.h"
#include "modem_simulator.h"

namespace {

using gsms::sim::Options;

// Start-state flags: each becomes the control line "control ARG...".
struct StartFlag {
    const char* name;
    int argCount;
    const char* args;
    const char* control;
    const char* help;
};

constexpr StartFlag kStartFlags[] = {
    {"--pin", 1, "CODE", "pin", "the SIM asks for this PIN"},
    {"--silent", 0, "", "silent on", "answer nothing"},
    {"--csq", 1, "N", "csq", "the +CSQ value (default 15)"},
    {"--csq-error", 0, "", "csq-error on", "AT+CSQ answers ERROR"},
    {"--cops-fail", 0, "", "cops fail on", "AT+COPS=... never answers"},
    {"--cfun-query-error", 0, "", "cfun-query error", "AT+CFUN? answers ERROR"},
    {"--cmgf", 1, "N", "cmgf", "the message format at start (default 0)"},
    {"--send-delay", 1, "MS", "send-delay", "time per submission before its answer"},
    {"--send-fail", 1, "\"cms CODE [COUNT]\"|\"error [COUNT]\"", "send-fail",
     "submissions fail (see the send-fail control)"},
    {"--no-prompt", 0, "", "no-prompt", "AT+CMGS never gets its prompt"},
    {"--incoming", 2, "SENDER TEXT", "incoming", "a message stored at start (repeatable)"},
    {"--cmgl-numeric", 0, "", "cmgl numeric", "AT+CMGL=? answers (0-4)"},
    {"--baud", 1, "N", "baud", "pace output as a line of N baud would"},
    {"--set", 1, "\"CONTROL\"", "", "apply any control line at start (repeatable)"},
};

void printHelp() {
    std::printf(
        "usage: gsms-modem-sim [--link PATH] [--control PATH] [--record FILE] [--trace FILE]\n"
        "                      [start-state flags] [--help] [--version]\n\n"
        "A GSM modem on a pseudo-terminal. Prints the slave's path on one line once\n"
        "it serves, and runs until SIGTERM or SIGINT (exit 0), removing the link and the\n"
        "control socket.\n\n"
        "  --link PATH        make PATH a symbolic link to the slave (a stale link is replaced)\n"
        "  --control PATH     take controls on this UNIX stream socket: one per line, each\n"
        "                     answered \"ok\" or \"error: ...\"\n"
        "  --record FILE      append a JSON line per submission: time, to, csmp, hex, text, ref\n"
        "                     (null, with error, when the modem refused it); in PDU mode also\n"
        "                     mode, alphabet, class, udh, message (the parts joined), why\n"
        "  --trace FILE       append a JSON line per command line received: time, command\n"
        "  --help             this text\n"
        "  --version          the version\n\n"
        "Start-state flags:\n");
    for (const StartFlag& f : kStartFlags) {
        std::string head = std::string("  ") + f.name + " " + f.args;
        if (head.size() < 34) head.resize(34, ' ');
        else head += "\n" + std::string(34, ' ');
        std::printf("%s%s\n", head.c_str(), f.help);
    }
    std::printf("\nControls:\n%s", gsms::sim::AtModem::controlHelp().c_str());
    std::printf(
        "\nThe modem answers AT, ATZ, AT&F, ATE0/1, ATI, AT+CMEE, +CPIN, +CFUN, +COPS, +CREG,\n"
        "+CMGF, +CSCS, +CSCA, +CSMP, +CMGS (text or PDU mode), +CSQ, +CMGL, +CMGR, +CMGD, +CNMI,\n"
        "+CGMI, +CGMM, +CGMR, +CGSN, +CIMI; anything else ERROR. Echo is on and +CMEE is 1\n"
        "after start. Command lines are cut at 256 bytes (then ERROR), SMS texts at 160\n"
        "characters (140 with an 8-bit or UCS2 coding; then +CMS ERROR: 305). Without network\n"
        "(AT+CFUN=0, csq 0 or 99) a submission answers +CMS ERROR: 331. Stored messages are\n"
        "listed (AT+CMGL) and read (AT+CMGR) in the form AT+CMGF chose: in text mode as\n"
        "sender and text, in PDU mode (the default after start) as SMS-DELIVER PDUs the\n"
        "simulator encodes itself, behind the service centre address of AT+CSCA; PDU mode\n"
        "takes the status as a number (0-4). A silent modem still writes what it received to\n"
        "--trace.\n\n"
        "Exit status: 0 after SIGTERM or SIGINT, 1 when it cannot start, 2 on bad usage.\n");
}

// 0: parsed; 1: bad usage; 2: help asked; 3: version asked.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") return 2;
        if (a == "--version") return 3;
        if (a == "--link" || a == "--control" || a == "--record" || a == "--trace") {
            std::string& out = a == "--link"      ? o.linkPath
                               : a == "--control" ? o.controlPath
                               : a == "--record"  ? o.recordPath
                                                  : o.tracePath;
            if (!value(out)) {
                std::fprintf(stderr, "gsms-modem-sim: %s needs a value\n", a.c_str());
                return 1;
            }
            continue;
        }
        const StartFlag* flag = nullptr;
        for (const StartFlag& f : kStartFlags)
            if (a == f.name) flag = &f;
        if (flag == nullptr) {
            std::fprintf(stderr, "gsms-modem-sim: unknown flag %s\n", a.c_str());
            return 1;
        }
        if (i + flag->argCount >= argc) {
            std::fprintf(stderr, "gsms-modem-sim: %s needs %s\n", a.c_str(), flag->args);
            return 1;
        }
        std::string line = flag->control;
        for (int k = 0; k < flag->argCount; ++k) {
            if (!line.empty()) line += " ";
            line += argv[++i];
        }
        o.startControls.push_back(line);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int parsed = parse(argc, argv, options);
    if (parsed == 2) {
        printHelp();
        return 0;
    }
    if (parsed == 3) {
        std::printf("gsms-modem-sim (Velkora GSM/SMS) %s\n", gsms::kVersion);
        return 0;
    }
    if (parsed != 0) {
        std::fprintf(stderr, "try gsms-modem-sim --help\n");
        return 2;
    }
    // Blocked before any thread exists, so only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    gsms::sim::ModemSimulator sim(options);
    if (!sim.start()) {
        std::fprintf(stderr, "gsms-modem-sim: %s\n", sim.error().c_str());
        return 1;
    }
    std::printf("%s\n", sim.slavePath().c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    sim.stop();
    return 0;
}

// gsms-config: loads the gateway configuration the way the engine does at start-up
// (writing missing keys back with their defaults) and prints what the gateway will use.
// What the engine would show in its window (a file that cannot be read, a name too long, a
// profile directory or job folder that cannot be written) goes to standard error. --check
// also compares the folders with what the systemd unit lets the service write, and says in
// its exit code whether anything stands in the way.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "frontend/front_end.h"
#include "frontend/unit_sandbox.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "platform/program_args.h"
#include "platform/profile_dir.h"
#include "platform/serial_port.h"

namespace {

constexpr const char* kUnit = "gsmsd.service";

void logRed(const std::string& line) {
    gsms::fileLog(line);
    gsms::windowLog(nullptr, line, gsms::kColorRed);
}

// The unit as systemd finds it, with its drop-in folders in systemd's order; `named`: the one
// --unit gave, with the drop-ins beside it only.
bool readSandbox(const std::string& named, gsms::UnitSandbox& sandbox, std::string& unit) {
    if (!named.empty()) {
        unit = named;
        return gsms::readUnitSandbox(unit, {unit + ".d"}, sandbox);
    }
    const std::vector<std::string> folders = {"/etc/systemd/system", "/run/systemd/system",
                                              GSMS_SYSTEMD_UNIT_DIR};
    std::vector<std::string> dropIns;
    for (const std::string& f : folders) dropIns.push_back(f + "/" + kUnit + ".d");
    for (const std::string& f : folders) {
        unit = f + "/" + kUnit;
        if (gsms::paths::exists(unit)) return gsms::readUnitSandbox(unit, dropIns, sandbox);
    }
    return false;
}

// Names the folders the unit keeps read-only for the service, with the drop-in that opens
// them. Outside the sandbox that is the only way to learn it before the service starts.
void checkSandbox(const std::string& named) {
    gsms::UnitSandbox sandbox;
    std::string unit;
    if (!readSandbox(named, sandbox, unit)) {
        if (!named.empty()) logRed("ERROR: cannot read the unit " + named);
        return;
    }
    std::vector<gsms::WrittenPath> written = {{"profile directory", gsms::profileDir(),
                                               gsms::WrittenPath::Folder}};
    for (const gsms::WrittenPath& w : gsms::pathsTheGatewayWrites())
        if (w.kind != gsms::WrittenPath::Table) written.push_back(w);
    std::string readOnly;
    for (const gsms::WrittenPath& w : written) {
        if (gsms::sandboxAllows(sandbox, w.path)) continue;
        logRed("ERROR: " + w.what + " " + w.path + " is read-only for the service: " + unit +
               " does not name it in ReadWritePaths=");
        if ((" " + readOnly + " ").find(" " + w.path + " ") == std::string::npos)
            readOnly += (readOnly.empty() ? "" : " ") + w.path;
    }
    if (!readOnly.empty())
        logRed("ERROR: add ReadWritePaths=" + readOnly +
               " to the unit (systemctl edit gsmsd) and restart it");
}

}  // namespace

int main(int argc, char** argv) {
    gsms::program::utf8Arguments(argc, argv);
    bool check = false;
    std::string unit;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile-dir") == 0 && i + 1 < argc) {
            gsms::setProfileDir(argv[++i]);
        } else if (std::strcmp(argv[i], "--check") == 0) {
            check = true;
        } else if (std::strcmp(argv[i], "--unit") == 0 && i + 1 < argc) {
            unit = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            gsms::console::printf(
                stdout,
                "usage: gsms-config [--profile-dir DIR] [--check [--unit FILE]] [--help]\n"
                "                   [--version]\n\n"
                "Loads section Config of TEVRAK.INI as the gateway does at start, writes\n"
                "missing keys back with their defaults, prints the settings in force and\n"
                "tries the port. What the gateway would show in red (a folder or table it\n"
                "cannot write, with the reason) goes to standard error. Run it as the\n"
                "service's user to see what the service will see.\n\n"
                "  --profile-dir DIR  where TEVRAK.INI lives (default: $GSMS_PROFILE_DIR,\n"
                "                     else %s)\n"
                "  --check            also name the folders the systemd unit keeps\n"
                "                     read-only for the service, and exit with 1 when\n"
                "                     anything was named in red or the port did not open\n"
                "  --unit FILE        the unit to compare with (default: %s as systemd\n"
                "                     finds it, with its drop-ins)\n"
                "  --help             this text\n"
                "  --version          the version\n\n"
                "Exit codes: 0 when the settings were loaded (with --check: and nothing\n"
                "stands in the way); 1 with --check when something does; 2 for a bad\n"
                "argument.\n",
                gsms::kDefaultProfileDirText, kUnit);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            gsms::console::printf(stdout, "%s\n", gsms::versionText("gsms-config").c_str());
            return 0;
        } else {
            std::fprintf(stderr, "gsms-config: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    gsms::startConsoleReceiver(stderr, gsms::consoleStyleFor(STDERR_FILENO));
    gsms::loadConfiguration();
    const gsms::GatewaySettings& s = gsms::settings();
    gsms::console::printf(stdout, "Port                     %s (%s)\n", s.portName,
                          gsms::SerialPort::devicePath(s.portName).c_str());
    gsms::console::printf(stdout, "Mode                     %s\n", s.portMode);
    gsms::console::printf(stdout, "WatchPath                %s\n", s.watchPath);
    gsms::console::printf(stdout, "DonePath                 %s\n", s.donePath);
    gsms::console::printf(stdout, "ErrorPath                %s\n", s.errorPath);
    gsms::console::printf(stdout, "FileMask                 %s\n", s.fileMask);
    gsms::console::printf(stdout, "WatchLogPath             %s\n", s.watchLogPath);
    gsms::console::printf(stdout, "WatchTimeout             %d\n", s.watchTimeout.load());
    gsms::console::printf(stdout, "MoveJobToDoneOrErrorPath %d\n", s.moveJobs.load());
    gsms::console::printf(stdout, "CmdLineFormat            %s\n", s.cmdLineFormat);
    gsms::console::printf(stdout, "RetryCount               %d\n", s.retryCount.load());
    gsms::console::printf(stdout, "RetryDelay               %d\n", s.retryDelay.load());
    gsms::console::printf(stdout, "MaxMsgLength             %d\n", s.maxMsgLength.load());
    gsms::console::printf(stdout, "QualityPollEverySecs     %d\n",
                          s.qualityPollMs.load() / 1000);
    gsms::console::printf(stdout, "SmsCoding                %d\n", s.smsCoding.load());
    gsms::console::printf(stdout, "PrometheusFile           %s\n",
                          gsms::prometheusFile().c_str());
    if (gsms::secondModemConfigured()) {
        gsms::console::printf(stdout, "%-25s%s (%s)\n", "Modem2 Port", s.modem2.portName,
                              gsms::SerialPort::devicePath(s.modem2.portName).c_str());
        gsms::console::printf(stdout, "%-25s%s\n", "Modem2 Mode", s.modem2.portMode);
    }
    // Each modem's port as the service would open it: a check fails when one does not open.
    bool portOpened = true;
    auto tryPort = [&portOpened](const char* name, const char* mode) {
        gsms::SerialPort port(name);
        if (port.open() == 1) {
            port.configure(mode);
            gsms::console::printf(stdout, "port %s opened: %u baud\n", name, port.baudRate());
        } else {
            portOpened = false;
            gsms::console::printf(stdout, "port %s cannot be opened (%s)\n", name,
                                  std::strerror(port.lastError()));
        }
    };
    tryPort(s.portName, s.portMode);
    if (gsms::secondModemConfigured()) tryPort(s.modem2.portName, s.modem2.portMode);
    if (check) checkSandbox(unit);
    gsms::fileLog("gsms-config: configuration loaded");
    gsms::drainConsole();
    // A red line is noted as the last error.
    const bool trouble = gsms::lastError().at != 0 || !portOpened;
    return check && trouble ? 1 : 0;
}

// gsms-config: loads the gateway configuration the way the engine does at start-up
// (writing missing keys back with their defaults) and prints what the gateway will use.
// What the engine would show in its window (a file that cannot be read, a name too long, a
// profile directory that cannot be used) goes to standard error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "frontend/front_end.h"
#include "platform/profile_dir.h"
#include "platform/serial_port.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--profile-dir") == 0 && i + 1 < argc) {
            gsms::setProfileDir(argv[++i]);
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: gsms-config [--profile-dir DIR] [--help] [--version]\n\n"
                        "Loads section Config of TEVRAK.INI as the gateway does at start, writes\n"
                        "missing keys back with their defaults, prints the settings in force and\n"
                        "tries the port. What the gateway would show in red goes to standard\n"
                        "error.\n\n"
                        "  --profile-dir DIR  where TEVRAK.INI lives (default: $GSMS_PROFILE_DIR,\n"
                        "                     else %s)\n"
                        "  --help             this text\n"
                        "  --version          the version\n\n"
                        "Exit codes: 0 when the settings were loaded; 2 for a bad argument.\n",
                        gsms::kDefaultProfileDirText);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", gsms::versionText("gsms-config").c_str());
            return 0;
        } else {
            std::fprintf(stderr, "gsms-config: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    gsms::startConsoleReceiver(stderr, gsms::consoleStyleFor(STDERR_FILENO));
    gsms::loadConfiguration();
    const gsms::GatewaySettings& s = gsms::settings();
    std::printf("Port                     %s (%s)\n", s.portName,
                gsms::SerialPort::devicePath(s.portName).c_str());
    std::printf("Mode                     %s\n", s.portMode);
    std::printf("WatchPath                %s\n", s.watchPath);
    std::printf("DonePath                 %s\n", s.donePath);
    std::printf("ErrorPath                %s\n", s.errorPath);
    std::printf("FileMask                 %s\n", s.fileMask);
    std::printf("WatchLogPath             %s\n", s.watchLogPath);
    std::printf("WatchTimeout             %d\n", s.watchTimeout.load());
    std::printf("MoveJobToDoneOrErrorPath %d\n", s.moveJobs.load());
    std::printf("CmdLineFormat            %s\n", s.cmdLineFormat);
    std::printf("RetryCount               %d\n", s.retryCount.load());
    std::printf("RetryDelay               %d\n", s.retryDelay.load());
    std::printf("MaxMsgLength             %d\n", s.maxMsgLength.load());
    std::printf("QualityPollEverySecs     %d\n", s.qualityPollMs.load() / 1000);
    std::printf("SmsCoding                %d\n", s.smsCoding.load());
    std::printf("PrometheusFile           %s\n", gsms::prometheusFile().c_str());
    gsms::SerialPort port(s.portName);
    if (port.open() == 1) {
        port.configure(s.portMode);
        std::printf("port %s opened: %u baud\n", s.portName, port.baudRate());
    } else {
        std::printf("port %s cannot be opened (%s)\n", s.portName,
                    std::strerror(port.lastError()));
    }
    gsms::fileLog("gsms-config: configuration loaded");
    gsms::drainConsole();
    return 0;
}

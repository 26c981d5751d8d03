// gsmsd: the gateway engine without a window, run by a service manager (packaging/
// gsmsd.service) or from a shell. Window log lines go to standard output, each with its
// syslog priority when that is the journal. The main thread takes the requests from outside
// one at a time: SIGTERM and SIGINT stop in order (nothing is sent twice), SIGHUP reads the
// settings the worker threads use each time again, SIGUSR1 writes the status file at once,
// SIGQUIT and the other ending signals end the process with a line. On Windows Ctrl+C,
// Ctrl+Break, closing the console and shutdown stop in order, and `gsmsd --reload` (a named
// event of the running gsmsd) reads the settings again (platform/process_signals.h). There the
// same gateway also runs as a service of the service control manager, which stops it the same
// way (`gsmsd --install-service`; platform/service_manager.h); the failures, the start and the
// stop go to the system's event log as well (platform/event_log.h).
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "core/activity.h"
#include "core/log.h"
#include "core/process_exit.h"
#include "core/settings.h"
#include "core/version.h"
#include "db/database.h"
#include "frontend/front_end.h"
#include "gateway/engine.h"
#include "gateway/service_status.h"
#include "gateway/status_client.h"
#include "platform/event_log.h"
#include "platform/paths.h"
#include "platform/program_args.h"
#include "platform/process_signals.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"

namespace {

using gsms::ColorRef;
using gsms::ProcessRequest;
using gsms::ProcessSignal;

constexpr std::int64_t kLastWordsMs = 1000;  // for the console and the status at the end

void bothLogs(const std::string& line, ColorRef colour) {
    gsms::fileLog(line);
    gsms::windowLog(nullptr, line, colour);
}

// A line of the start or the stop, which the event log keeps beside the daily log.
void milestone(const std::string& line) {
    bothLogs(line, gsms::kColorDefault);
    gsms::reportEvent(gsms::EventKind::Information, line);
}

// Where --status looks: the profile folder; when none was named and the current directory
// holds no status, the service's.
std::string statusFolder() {
    const std::string dir = gsms::profileDir();
    if (dir == "." && !gsms::paths::exists(gsms::paths::join(dir, gsms::kStatusFileName)))
        return gsms::kServiceStateDir;
    return dir;
}

void reload(const ProcessSignal& sig) {
    if (gsms::engineStage() == gsms::EngineStage::Starting ||
        gsms::engineStage() >= gsms::EngineStage::Stopping) {
        bothLogs(std::string("Settings not re-read on ") + sig.name +
                     ": the gateway is starting or stopping",
                 gsms::kColorGrey);
        return;
    }
    const bool ready = gsms::engineStage() == gsms::EngineStage::Running;
    if (ready) (void)gsms::service::notify("RELOADING=1");
    for (const std::string& line : gsms::reloadSettings(sig.name))
        bothLogs(line, gsms::kColorGrey);
    if (ready) (void)gsms::service::notify("READY=1");
    gsms::statusChanged();
}

// The console and the status get a moment, but a blocked standard output never holds up
// the end.
[[noreturn]] void end(int code) {
    gsms::setLastWords(nullptr);  // said here, with the count of the lines not shown
    (void)gsms::flushStatus(kLastWordsMs);
    const unsigned lost = gsms::drainConsole(kLastWordsMs);
    if (lost > 0)
        gsms::fileLog(std::to_string(lost) +
                      " window lines were not shown on standard output (it could not keep up)");
    gsms::endProcess(code);
}

[[noreturn]] void endAtOnce(const ProcessSignal& sig) {
    bothLogs(std::string("Gateway ended by ") + sig.name + ", without an orderly stop",
             gsms::kColorRed);
    (void)gsms::flushStatus(kLastWordsMs);
    (void)gsms::drainConsole(kLastWordsMs);
    gsms::endBySignal(sig.number);
}

// The work in hand ends on a thread of its own, so that the main thread can still take a
// second stop request, which ends the process at once.
[[noreturn]] void stop(const ProcessSignal& sig) {
    milestone(std::string("Stopping on ") + sig.name +
              ": no job is taken and no submission starts any more");
    struct Outcome {
        std::atomic<bool> done{false};
        int result = 0;
        std::string unfinished;
    };
    auto* outcome = new Outcome;  // the thread may outlive this function
    std::thread([outcome] {
        outcome->result = gsms::finishWork(gsms::kFinishWorkLimitMs, outcome->unfinished);
        outcome->done.store(true);
    }).detach();
    while (!outcome->done.load()) {
        const ProcessSignal next = gsms::waitProcessSignal(20);
        if (next.request == ProcessRequest::Stop) {
            bothLogs(std::string("Stopping at once on a second ") + next.name +
                         ": a submission in flight may go out again at the next start",
                     gsms::kColorRed);
            gsms::setEngineStage(gsms::EngineStage::Stopped);
            end(gsms::kExitStopped);
        }
        if (next.request == ProcessRequest::End) endAtOnce(next);
        if (next.request == ProcessRequest::Status) gsms::writeStatusNow();
        if (next.request == ProcessRequest::Reload) reload(next);
    }
    if (outcome->result != 0)
        bothLogs("Stopping: " + outcome->unfinished + " did not end in time; stopping all the same",
                 gsms::kColorRed);
    gsms::setEngineStage(gsms::EngineStage::Stopped);
    milestone("Gateway stopped");
    end(gsms::kExitStopped);
}

// The gateway itself, from a console or as the service; ends the process.
[[noreturn]] void runGateway() {
    // Before any thread exists, so that every thread inherits the mask and only the main
    // thread takes the signals.
    gsms::blockProcessSignals();

    // No one to click a box away: the table error goes to both logs and the report goes on.
    gsms::setDbErrorBoxHook([](const char* text, const char* caption) {
        bothLogs(std::string(caption ? caption : "") + ": " + (text ? text : ""), gsms::kColorRed);
    });
    // A service has no console: its window lines are taken and shown nowhere.
    if (gsms::service::runningAsService())
        gsms::startConsoleReceiver(nullptr, gsms::ConsoleStyle::Plain);
    else
        gsms::startConsoleReceiver(stdout, gsms::consoleStyleFor(STDOUT_FILENO));
    gsms::openEventLog();
    gsms::fileLog("Gateway started");
    gsms::reportEvent(gsms::EventKind::Information, "Gateway started");
    gsms::startServiceStatus();
    // A fatal stop of the engine ends the process from its own thread: the last status and
    // the console's last lines (the reason) go out first.
    gsms::setLastWords([] {
        (void)gsms::flushStatus(kLastWordsMs);
        (void)gsms::drainConsole(kLastWordsMs);
    });
    if (gsms::startEngine() != 0) {
        gsms::fileLog("** init_gsms ** ERROR: cannot start the engine thread");
        gsms::reportEvent(gsms::EventKind::Error,
                          "** init_gsms ** ERROR: cannot start the engine thread");
        gsms::endProcess(gsms::kExitRestart);
    }

    for (;;) {
        const ProcessSignal sig = gsms::waitProcessSignal(60000);
        switch (sig.request) {
            case ProcessRequest::None: break;
            case ProcessRequest::Stop: stop(sig);
            case ProcessRequest::Reload: reload(sig); break;
            case ProcessRequest::Status: gsms::writeStatusNow(); break;
            case ProcessRequest::End: endAtOnce(sig);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    gsms::program::utf8Arguments(argc, argv);
    const gsms::FrontEndOptions options = gsms::parseFrontEndOptions(
        argc, argv, "gsmsd",
        "Velkora GSM/SMS gateway, headless: sends the SMS alarm jobs dropped into the watch\n"
        "directory through the GSM modem named by \"Port\" in section Config of TEVRAK.INI.",
        gsms::FrontEnd::Service);
    if (!options.run) return options.exitCode;
    if (options.status) return gsms::printStatus(statusFolder(), stdout);
    if (options.reload) return gsms::requestReload(statusFolder(), stdout);
    if (options.installService) return gsms::service::installService(stdout);
    if (options.removeService) return gsms::service::removeService(stdout);

    // Started by the service manager, the gateway runs on the service's thread.
    if (gsms::service::runAsService(runGateway) == 0) return gsms::kExitRestart;
    runGateway();
}

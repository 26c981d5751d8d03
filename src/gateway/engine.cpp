#include "gateway/engine.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "gateway/link_thread.h"
#include "gateway/modem_start.h"
#include "gateway/service_status.h"
#include "jobs/dispatch.h"
#include "jobs/intake.h"
#include "jobs/report.h"
#include "modem/input_thread.h"
#include "modem/modem_init.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/serial_port.h"
#include "platform/service_manager.h"
#include "platform/thread.h"
#include "sms/incoming.h"
#include "sms/path_state.h"
#include "sms/signal_thread.h"
#include "sms/tech_alarm.h"

namespace gsms {

namespace {

constexpr std::size_t kThreadStack = 0x20000;  // 128 KiB per thread
std::atomic<bool> g_started{false};

// Moves the stage on unless an orderly stop was requested meanwhile: then it stays Stopping.
void moveOn(EngineStage to) {
    for (EngineStage now = engineStage(); now < EngineStage::Stopping; now = engineStage())
        if (advanceEngineStage(now, to)) break;
    statusChanged();
}

// The link's workers, modem 1 or 2: the thread routines take no argument.
template <int N> void inputRoutine() { inputThread(modemLink(N)); }
template <int N> void processingRoutine() { processingThread(modemLink(N)); }
template <int N> void incomingRoutine() { incomingThread(modemLink(N)); }
template <int N> void signalRoutine() { signalThread(modemLink(N)); }
void reportRoutine() { reportThread(); }
void readJobsRoutine() { readJobsThread(); }

template <void (*R1)(), void (*R2)()>
void (*routineOf(const ModemLink& link))() {
    return link.number() == 2 ? R2 : R1;
}

// The pause of a fatal stop before the process ends. A service manager that waits for
// readiness would hold "systemctl start" for all of it: there the unit's RestartSec= pauses
// instead, and only the tech-alarm script is waited for (the manager ends what a stopped
// service leaves running).
void pauseBeforeTheEnd(std::int64_t ms) {
    if (service::waitsForReadiness()) (void)waitForTechAlarmScripts(ms);
    else clock::sleepMs(ms);
}

// Port object or port unusable: the operator gets a minute to read the red line.
[[noreturn]] void fatalStopA(const std::string& message) {
    markEngineStopped();
    fileLog(message);
    windowLog(nullptr, message, kColorRed);
    raiseTechAlarm();
    pauseBeforeTheEnd(60000);
    endProcess(kExitRestart);
}

void startWorker(void (*routine)(), const char* name, const ModemLink* link = nullptr) {
    // The kernel keeps 15 characters of a name: the second modem's threads end in "2".
    std::string threadName = name;
    if (link != nullptr && link->number() == 2) threadName = threadName.substr(0, 14) + "2";
    startDetachedThread(routine, threadName.c_str(), kThreadStack);
    const std::string line = std::string(name) + " started";
    const std::string shown = link != nullptr ? link->named(line) : line;
    windowLog(nullptr, shown, kColorBlue);
    fileLog(shown);
}

// How a modem's start went (two modems: both are tried before anything is decided).
struct ModemStart {
    ModemLink* link = nullptr;
    int failure = 0;       // 0: in service; else the exit code the one modem's stop would give
    bool portFailed = false;  // the port could not be opened (the first fatal stop)
    std::string message;
};

// Opens the link's port. The port object is kept also when it does not open, so that the
// LinkThread can try it again.
void openLink(ModemLink& link, const char* portName, const char* portMode, ModemStart& start) {
    start.link = &link;
    SerialPort* port = new (std::nothrow) SerialPort(portName);
    if (port == nullptr) fatalStopA("** init_gsms ** ERROR: uh, oh, out of memory ?");
    for (auto& e : link.state().events) e.reset();
    if (!port->open()) {
        // The system's reason tells a missing device from a busy one or missing rights.
        start.failure = kExitRestart;
        start.portFailed = true;
        start.message = std::string("** init_gsms ** ERROR: cannot open ") + portName + " (" +
                        std::strerror(port->lastError()) + ")";
    } else {
        port->configure(portMode);
        port->setTimeouts(50);
    }
    link.port().store(port);
    if (start.portFailed) (void)link.setPortHungUp(true);  // quietly: the start names it
}

void startReader(ModemLink& link) {
    startDetachedThread(routineOf<&inputRoutine<1>, &inputRoutine<2>>(link),
                        link.number() == 2 ? "InputThread2" : "InputThread", kThreadStack);
    fileLog(link.named("InputThread started"));
    windowLog(nullptr, link.named("InputThread started"), kColorDefault);
}

// A modem that did not start while the other did: named in red, the tech alarm raised for its
// path, and left to its LinkThread, which tries it again as it heals a lost port (a SIM that
// refused is not tried again).
void leaveToTheLinkThread(const ModemStart& start) {
    ModemLink& link = *start.link;
    if (start.failure == kExitSimLocked) {
        retire(link, start.message);
        return;
    }
    const std::string line = link.named(start.message);
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
    (void)link.setPortHungUp(true);
    raiseTechAlarm(link.number());
}

// No modem came into service: the stop the first modem's failure gives, the other's failure
// named before it.
[[noreturn]] void noModemInService(const ModemStart* starts, int count) {
    for (int i = 1; i < count; ++i) {
        const std::string line = starts[i].link->named(starts[i].message);
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
    }
    const ModemStart& first = starts[0];
    const std::string message = first.link->named(first.message);
    if (first.portFailed) fatalStopA(message);
    fatalModemStop(message, first.failure);
}

// The starts of the modems, as each ends.
struct StartsInProgress {
    std::mutex lock;
    std::condition_variable changed;
    bool ended[2] = {false, false};
};

void startOne(ModemStart& start, int index, StartsInProgress& progress) {
    if (!start.portFailed) {
        // Held as the LinkThread holds it: once the other modem is in service, the window's
        // SMSC dialog may name this one while it still starts.
        std::lock_guard hold(start.link->modemLock());
        start.failure = startModem(*start.link, modemTextsFromSettings(index + 1), start.message);
    }
    {
        std::lock_guard lock(progress.lock);
        progress.ended[index] = true;
    }
    progress.changed.notify_all();
}

// A start that ended: the modem in service, or left to its LinkThread.
void settle(const ModemStart& start) {
    if (start.failure == 0) start.link->started() = true;
    else leaveToTheLinkThread(start);
}

void startProcessing(ModemLink& link) {
    startWorker(routineOf<&processingRoutine<1>, &processingRoutine<2>>(link), "ProcessingThread",
                &link);
}

void startLinkWorkers(ModemLink& link) {
    if (settings().incomingEnable.load() != 0)
        startWorker(routineOf<&incomingRoutine<1>, &incomingRoutine<2>>(link), "IncomingThread",
                    &link);
    startWorker(routineOf<&signalRoutine<1>, &signalRoutine<2>>(link), "SignalThread", &link);
    startLinkThread(link);  // silent: only what it does is logged
}

}  // namespace

// Shown in the ordinary colour, a failure all the same (the journal gets it as an error, the
// status as the last error).
void fatalModemStop(const std::string& message, int exitCode) {
    markEngineStopped();
    fileLog(message);
    windowLogFailure(nullptr, message, kColorDefault);
    pauseBeforeTheEnd(10000);
    endProcess(exitCode);
}

void setEngineStageForTest(EngineStage stage) { setEngineStage(stage); }

int startEngine() {
    if (g_started.exchange(true)) return 0;  // once per process
    setStatusListener(&statusChanged);
    moveOn(EngineStage::Starting);
    auto routine = [] { init_gsms(); };
    if (startDetachedThread(routine, "init_gsms", kThreadStack)) return 0;
    markEngineStopped();  // no engine will ever come
    return -1;
}

void init_gsms() {
    loadConfiguration();
    notePortName(settings().portName);
    moveOn(EngineStage::Initialising);
    // The locks (jobTableLock, logQueueLock, the links' modemLock) and the links' modem events
    // exist before any thread runs.
    GatewaySettings& s = settings();
    const int count = secondModemConfigured() ? 2 : 1;
    if (count == 2) {
        // Each line of a modem names it once there are two.
        firstModem().setName("modem 1");
        (void)createSecondModem();
    }
    ModemStart starts[2];
    openLink(firstModem(), s.portName, s.portMode, starts[0]);
    // One modem: a port that does not open ends it here, as it always has.
    if (count == 1 && starts[0].portFailed) fatalStopA(starts[0].message);
    if (count == 2) openLink(*secondModem(), s.modem2.portName, s.modem2.portMode, starts[1]);
    for (int i = 0; i < count; ++i) startReader(*starts[i].link);
    clock::sleepMs(500);

    // Side by side, and the workers start with the first modem in service: a modem that does
    // not answer or register costs seconds to a minute of time-outs, which no alarm should wait.
    StartsInProgress progress;
    std::thread starters[2];
    for (int i = 0; i < count; ++i) {
        try {
            if (count == 2)
                starters[i] =
                    std::thread([&starts, &progress, i] { startOne(starts[i], i, progress); });
        } catch (const std::system_error&) {
        }
        if (!starters[i].joinable()) startOne(starts[i], i, progress);  // one modem, or no thread
    }
    bool ended[2] = {false, false};
    {
        std::unique_lock lock(progress.lock);
        auto anyInService = [&] {
            for (int i = 0; i < count; ++i)
                if (progress.ended[i] && starts[i].failure == 0) return true;
            return false;
        };
        auto allEnded = [&] {
            for (int i = 0; i < count; ++i)
                if (!progress.ended[i]) return false;
            return true;
        };
        progress.changed.wait(lock, [&] { return anyInService() || allEnded(); });
        if (!anyInService()) {  // every start ended, none in service
            lock.unlock();
            for (auto& t : starters)
                if (t.joinable()) t.join();
            noModemInService(starts, count);
        }
        for (int i = 0; i < count; ++i) ended[i] = progress.ended[i];
    }
    for (int i = 0; i < count; ++i)
        if (ended[i]) settle(starts[i]);

    startWorker(reportRoutine, "ReportThread");
    for (int i = 0; i < count; ++i)
        if (ended[i]) startProcessing(*starts[i].link);
    startWorker(readJobsRoutine, "ReadJobsThread");
    for (int i = 0; i < count; ++i)
        if (ended[i]) startLinkWorkers(*starts[i].link);
    moveOn(EngineStage::Running);

    // A modem still starting joins when its start ends, in service or left to its LinkThread.
    for (int i = 0; i < count; ++i) {
        if (starters[i].joinable()) starters[i].join();
        if (ended[i] || engineStage() >= EngineStage::Stopping) continue;  // nothing to start
        settle(starts[i]);
        startProcessing(*starts[i].link);
        startLinkWorkers(*starts[i].link);
    }
}

int finishWork(std::int64_t limitMs, std::string& unfinished) {
    const std::int64_t deadline = clock::monotonicMs() + limitMs;
    auto waitUntil = [deadline](auto done) {
        while (!done()) {
            if (clock::monotonicMs() >= deadline) return false;
            clock::pauseRealMs(10);
        }
        return true;
    };
    requestStop();
    setEngineStage(EngineStage::Stopping);
    statusChanged();
    if (!waitUntil([] { return submissionsInFlight() == 0; })) {
        unfinished = "the submission in flight";
        return -1;
    }
    // Kept: the process ends without another modem exchange.
    for (int n = 1; n <= modemCount(); ++n) {
        if (!waitUntil([n] { return modemLink(n).modemLock().try_lock(); })) {
            unfinished = "a modem exchange";
            return -1;
        }
    }
    const bool reported = waitUntil([] {
        std::lock_guard lock(jobTableLock());
        for (const AlarmJob* job : jobTable().slots)
            if (job != nullptr && job->finished) return false;
        return true;
    });
    if (!reported) {
        unfinished = "the report of a sent job";
        return -1;
    }
    return 0;
}

}  // namespace gsms

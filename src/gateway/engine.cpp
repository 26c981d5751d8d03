#include "gateway/engine.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/serial_port.h"
#include "platform/service_manager.h"
#include "platform/thread.h"
#include "sms/incoming.h"
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

// The engine holds one modem link today, the first.
void inputRoutine() { inputThread(firstModem()); }
void reportRoutine() { reportThread(); }
void processingRoutine() { processingThread(); }
void readJobsRoutine() { readJobsThread(); }
void incomingRoutine() { incomingThread(firstModem()); }
void signalRoutine() { signalThread(firstModem()); }

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

void startWorker(void (*routine)(), const char* name) {
    startDetachedThread(routine, name, kThreadStack);
    const std::string line = std::string(name) + " started";
    windowLog(nullptr, line, kColorBlue);
    fileLog(line);
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
    // The locks (jobTableLock, logQueueLock, the link's modemLock) and the link's modem events
    // exist before any thread runs.
    GatewaySettings& s = settings();
    ModemLink& link = firstModem();
    SerialPort* port = new (std::nothrow) SerialPort(s.portName);
    if (port == nullptr) fatalStopA("** init_gsms ** ERROR: uh, oh, out of memory ?");
    if (!port->open()) {
        // The system's reason tells a missing device from a busy one or missing rights.
        const std::string reason = std::strerror(port->lastError());
        delete port;
        fatalStopA(std::string("** init_gsms ** ERROR: cannot open ") + s.portName + " (" +
                   reason + ")");
    }
    port->configure(s.portMode);
    port->setTimeouts(50);
    link.port().store(port);
    for (auto& e : link.state().events) e.reset();

    startDetachedThread(inputRoutine, "InputThread", kThreadStack);
    fileLog("InputThread started");
    windowLog(nullptr, "InputThread started", kColorDefault);
    clock::sleepMs(500);

    std::string message;
    const int failure = startModem(link, message);
    if (failure != 0) fatalModemStop(message, failure);

    startWorker(reportRoutine, "ReportThread");
    startWorker(processingRoutine, "ProcessingThread");
    startWorker(readJobsRoutine, "ReadJobsThread");
    if (s.incomingEnable.load() != 0) startWorker(incomingRoutine, "IncomingThread");
    startWorker(signalRoutine, "SignalThread");
    startLinkThread(link);  // silent: only what it does is logged
    moveOn(EngineStage::Running);
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
    if (!waitUntil([] { return firstModem().modemLock().try_lock(); })) {
        unfinished = "a modem exchange";
        return -1;
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

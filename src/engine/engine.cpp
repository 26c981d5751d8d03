#include "engine/engine.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "engine/log.h"
#include "engine/settings.h"
#include "jobs/workers.h"
#include "modem/modem_init.h"
#include "modem/modem_state.h"
#include "modem/serial_port.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "sms/incoming.h"
#include "sms/signal_thread.h"
#include "sms/tech_alarm.h"

namespace gsms {

namespace {

constexpr std::size_t kThreadStack = 0x20000;  // 128 KiB per thread
std::atomic<bool> g_started{false};
std::atomic<bool> g_ready{false};

void inputRoutine() { inputThread(); }
void reportRoutine() { reportThread(); }
void processingRoutine() { processingThread(); }
void readJobsRoutine() { readJobsThread(); }
void incomingRoutine() { incomingThread(); }
void signalRoutine() { signalThread(); }

// Port object or port unusable: the operator gets a minute to read the red line.
[[noreturn]] void fatalStopA(const std::string& message) {
    fileLog(message);
    windowLog(nullptr, message, kColorRed);
    raiseTechAlarm();
    clock::sleepMs(60000);
    endProcess(kExitRestart);
}

// Modem initialisation failed.
[[noreturn]] void fatalStopB(const std::string& message, int exitCode) {
    fileLog(message);
    windowLog(nullptr, message, kColorDefault);
    clock::sleepMs(10000);
    endProcess(exitCode);
}

void startWorker(void (*routine)(), const char* name) {
    startDetachedThread(routine, name, kThreadStack);
    const std::string line = std::string(name) + " started";
    windowLog(nullptr, line, kColorBlue);
    fileLog(line);
}

}  // namespace

void endProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

bool engineReady() { return g_ready.load(); }

int startEngine() {
    if (g_started.exchange(true)) return 0;  // once per process
    auto routine = [] { init_gsms(); };
    return startDetachedThread(routine, "init_gsms", kThreadStack) ? 0 : -1;
}

void init_gsms() {
    loadConfiguration();
    // The locks (jobTableLock, logQueueLock, modemLock) and the seven modem events are
    // process-wide objects that exist before any thread runs.
    GatewaySettings& s = settings();
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
    serialPortRef().store(port);
    for (auto& e : modemState().events) e.reset();
    g_ready.store(true);

    startDetachedThread(inputRoutine, "InputThread", kThreadStack);
    fileLog("InputThread started");
    windowLog(nullptr, "InputThread started", kColorDefault);
    clock::sleepMs(500);

    std::string message;
    const int failure = initModem(message);
    if (failure != 0) fatalStopB(message, failure);

    startWorker(reportRoutine, "ReportThread");
    startWorker(processingRoutine, "ProcessingThread");
    startWorker(readJobsRoutine, "ReadJobsThread");
    if (s.incomingEnable.load() != 0) startWorker(incomingRoutine, "IncomingThread");
    startWorker(signalRoutine, "SignalThread");
}

}  // namespace gsms

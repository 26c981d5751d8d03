#include "gateway/service_status.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "gateway/status_snapshot.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"
#include "platform/thread.h"

namespace gsms {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kCoalesce = std::chrono::milliseconds(100);  // at most ten writes a second
constexpr unsigned kStatusMode = 0640;   // the service's group may read it
constexpr unsigned kMetricsMode = 0644;  // node_exporter runs as a user of its own

// Never destroyed: the StatusThread and the posting threads use it until the process ends.
struct Publisher {
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable written;
    bool dirty = false;
    bool urgent = false;
    std::uint64_t requested = 0;  // generation asked for by flushStatus
    std::uint64_t done = 0;       // generation last written
    bool started = false;
};
Publisher& publisher() {
    static Publisher* p = new Publisher;
    return *p;
}

// Writes one file and names a failure once, until the file could be written again.
void writeFile(const std::string& path, const std::string& bytes, unsigned mode,
               std::map<std::string, int>& failing) {
    const int error = files::publish(path, bytes, mode);
    if (error == 0) {
        failing.erase(path);
        return;
    }
    if (failing[path] == error) return;
    failing[path] = error;
    const std::string line = "ERROR: cannot write " + path + " (" + std::strerror(error) + ")";
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

// What the service manager hears, sent only when it changes.
struct ManagerState {
    bool ready = false;
    bool stopping = false;
    std::string last;
};

void tellManager(const StatusSnapshot& snap, ManagerState& m) {
    std::string assignments;
    if (snap.stage == EngineStage::Running && !m.ready) {
        assignments += "READY=1\n";
        m.ready = true;
    }
    if (snap.stage >= EngineStage::Stopping && !m.stopping) {
        assignments += "STOPPING=1\n";
        m.stopping = true;
    }
    assignments += "STATUS=" + statusLine(snap);
    if (assignments == m.last) return;
    m.last = assignments;
    (void)service::notify(assignments);
}

void publish(std::map<std::string, int>& failing, ManagerState& manager) {
    const StatusSnapshot snap = takeStatusSnapshot();
    writeFile(statusFilePath(), statusText(snap), kStatusMode, failing);
    const std::string metrics = prometheusFile();
    if (!metrics.empty()) writeFile(metrics, metricsText(snap), kMetricsMode, failing);
    tellManager(snap, manager);
}

// Tells the manager the engine is alive, or says once that it is not.
void watch(bool& stalled) {
    const Liveness l = judgeLiveness(heartAges());
    if (l.alive) {
        (void)service::notify("WATCHDOG=1");
        if (stalled) {
            fileLog("Watchdog: the engine turns again");
            windowLog(nullptr, "Watchdog: the engine turns again", kColorDefault);
        }
        stalled = false;
        return;
    }
    if (stalled) return;
    stalled = true;
    const std::string line =
        "Watchdog: " + l.why + "; the service manager is no longer told that the gateway lives";
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

[[noreturn]] void statusThread() {
    Publisher& p = publisher();
    const std::uint64_t watchdogUs = service::watchdogIntervalUs();
    const auto pingEvery = std::chrono::microseconds(watchdogUs / 2);
    auto nextPing = SteadyClock::now();
    std::map<std::string, int> failing;
    ManagerState manager;
    bool stalled = false;
    for (;;) {
        std::uint64_t generation = 0;
        bool write = false;
        {
            std::unique_lock lock(p.lock);
            const auto until =
                watchdogUs > 0 ? nextPing : SteadyClock::now() + std::chrono::hours(24);
            p.wake.wait_until(lock, until, [&] { return p.dirty; });
            write = p.dirty;
            p.dirty = false;
            p.urgent = false;
            generation = p.requested;
        }
        if (write) {
            publish(failing, manager);
            std::lock_guard lock(p.lock);
            p.done = std::max(p.done, generation);
            p.written.notify_all();
        }
        if (watchdogUs > 0 && SteadyClock::now() >= nextPing) {
            watch(stalled);
            nextPing = SteadyClock::now() + pingEvery;
        }
        if (write) {
            // Events of the next 100 ms go into one write, unless one is asked for at once.
            std::unique_lock lock(p.lock);
            p.wake.wait_for(lock, kCoalesce, [&] { return p.urgent; });
        }
    }
}

void onNotification(int code) {
    if (code == kNotifySignal) noteSignalPolled();
    statusChanged();
}

}  // namespace

std::string statusFilePath() { return paths::join(profileDir(), kStatusFileName); }

void startServiceStatus() {
    setStatusListener(&statusChanged);
    Publisher& p = publisher();
    {
        std::lock_guard lock(p.lock);
        if (p.started) return;
        p.started = true;
        p.dirty = true;  // the first status at once
    }
    setNotificationWatcher(onNotification);
    startDetachedThread(statusThread, "StatusThread", 0x20000);
}

void statusChanged() {
    Publisher& p = publisher();
    {
        std::lock_guard lock(p.lock);
        p.dirty = true;
    }
    p.wake.notify_one();
}

void writeStatusNow() {
    Publisher& p = publisher();
    {
        std::lock_guard lock(p.lock);
        p.dirty = true;
        p.urgent = true;
    }
    p.wake.notify_all();
}

bool flushStatus(std::int64_t limitMs) {
    Publisher& p = publisher();
    std::unique_lock lock(p.lock);
    if (!p.started) return false;
    const std::uint64_t wanted = ++p.requested;
    p.dirty = true;
    p.urgent = true;
    p.wake.notify_all();
    return p.written.wait_for(lock, std::chrono::milliseconds(limitMs),
                              [&] { return p.done >= wanted; });
}

}  // namespace gsms

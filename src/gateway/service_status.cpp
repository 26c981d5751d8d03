#include "gateway/service_status.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

#include "core/log.h"
#include "core/settings.h"
#include "core/version.h"
#include "jobs/job_table.h"
#include "platform/clock.h"
#include "platform/file_replace.h"
#include "platform/paths.h"
#include "platform/process_signals.h"
#include "platform/profile_dir.h"
#include "platform/service_manager.h"
#include "platform/text_encoding.h"
#include "platform/thread.h"
#include "sms/signal_thread.h"

namespace gsms {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr auto kCoalesce = std::chrono::milliseconds(100);  // at most ten writes a second
constexpr std::size_t kStatusLineErrorChars = 100;
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
    std::atomic<bool> polled{false};
    bool started = false;
};
Publisher& publisher() {
    static Publisher* p = new Publisher;
    return *p;
}

std::string localStamp(std::int64_t seconds) {
    const std::tm t = clock::localTime(seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string duration(std::int64_t seconds) {
    if (seconds < 0) seconds = 0;
    const std::int64_t d = seconds / 86400, h = seconds / 3600 % 24, m = seconds / 60 % 60,
                       s = seconds % 60;
    std::string out;
    if (d > 0) out += std::to_string(d) + " d ";
    if (d > 0 || h > 0) out += std::to_string(h) + " h ";
    if (d > 0 || h > 0 || m > 0) out += std::to_string(m) + " min ";
    return out + std::to_string(s) + " s";
}

// A text from the engine (ISO 8859-1, possibly naming a file whose name holds a line break)
// as one line of UTF-8.
std::string shown(std::string_view latin1, std::size_t limit = std::string::npos) {
    std::string line(latin1.substr(0, std::min(limit, latin1.size())));
    for (char& c : line) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    if (limit < latin1.size()) line += "...";
    return text::latin1ToUtf8(line);
}

const char* stageText(EngineStage stage) {
    switch (stage) {
        case EngineStage::NotStarted:
        case EngineStage::Starting: return "starting";
        case EngineStage::Initialising: return "initialising the modem";
        case EngineStage::Running: return "running";
        case EngineStage::Stopping: return "stopping";
        case EngineStage::Stopped: return "stopped";
    }
    return "?";
}

bool modemInService(const StatusSnapshot& s) {
    const bool worked = s.stage == EngineStage::Running || s.stage == EngineStage::Stopping;
    return worked && !s.portHungUp && !(s.signalPolled && s.signal == 0);
}

std::string modemText(const StatusSnapshot& s) {
    switch (s.stage) {
        case EngineStage::NotStarted:
        case EngineStage::Starting: return "not open yet";
        case EngineStage::Initialising: return "being brought into service";
        case EngineStage::Stopped: return "left";
        default: break;
    }
    if (s.portHungUp) return "port hung up";
    if (s.signalPolled && s.signal == 0) return "no usable signal";
    return "in service";
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
    if (code == kNotifySignal) publisher().polled.store(true);
    statusChanged();
}

}  // namespace

StatusSnapshot takeStatusSnapshot() {
    StatusSnapshot s;
    s.pid = currentProcessId();
    s.stage = engineStage();
    s.port = portName();
    s.portHungUp = portHungUp();
    s.signalPolled = publisher().polled.load();
    s.signal = signalQuality().load();
    s.sending = submissionsInFlight();
    s.queued = std::max(0, jobTable().count.load() - s.sending);
    s.sent = tallied(Tally::Sent);
    s.failed = tallied(Tally::Failed);
    s.retried = tallied(Tally::Retried);
    s.received = tallied(Tally::Received);
    s.lastError = lastError();
    s.started = startedAt();
    s.now = clock::wallSeconds();
    return s;
}

std::string statusText(const StatusSnapshot& s) {
    std::string out = "gsmsd " + std::string(kVersion) + " (Velkora GSM/SMS)\n";
    auto add = [&out](const char* key, const std::string& value) {
        out += key;
        out += ": ";
        out += value;
        out += '\n';
    };
    add("pid", std::to_string(s.pid));
    add("state", stageText(s.stage));
    add("modem", modemText(s));
    add("port", s.port.empty() ? "-" : shown(s.port));
    add("signal", s.signalPolled ? std::to_string(s.signal) : "not read yet");
    add("jobs queued", std::to_string(s.queued));
    add("jobs sending", std::to_string(s.sending));
    add("sent", std::to_string(s.sent));
    add("failed", std::to_string(s.failed));
    add("retried", std::to_string(s.retried));
    add("received", std::to_string(s.received));
    add("last error", s.lastError.at != 0 ? shown(s.lastError.text) : "none");
    add("last error at", s.lastError.at != 0 ? localStamp(s.lastError.at) : "-");
    add("started", localStamp(s.started));
    add("uptime", duration(s.now - s.started));
    add("updated", localStamp(s.now));
    return out;
}

std::string metricsText(const StatusSnapshot& s) {
    std::string out;
    auto metric = [&out](const char* name, const char* type, const char* help,
                         const std::string& value, const char* labels = "") {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type +
               "\n" + name + labels + " " + value + "\n";
    };
    const std::string version = std::string("{version=\"") + kVersion + "\"}";
    metric("gsms_info", "gauge", "The gateway's version.", "1", version.c_str());
    metric("gsms_running", "gauge", "1 while the worker threads run.",
           s.stage == EngineStage::Running ? "1" : "0");
    metric("gsms_modem_in_service", "gauge",
           "1 while the modem is in service with a usable signal.",
           modemInService(s) ? "1" : "0");
    if (s.signalPolled)
        metric("gsms_signal_quality", "gauge", "The last signal reading, 0 to 31 (0: none).",
               std::to_string(s.signal));
    metric("gsms_jobs_queued", "gauge", "Jobs taken and not yet reported, but the one sent.",
           std::to_string(s.queued));
    metric("gsms_jobs_sending", "gauge", "Jobs being sent now.", std::to_string(s.sending));
    metric("gsms_sms_sent_total", "counter", "Jobs sent since start.", std::to_string(s.sent));
    metric("gsms_sms_failed_total", "counter", "Jobs given up since start.",
           std::to_string(s.failed));
    metric("gsms_sms_retried_total", "counter", "Failed attempts retried later since start.",
           std::to_string(s.retried));
    metric("gsms_sms_received_total", "counter", "SMS received since start.",
           std::to_string(s.received));
    metric("gsms_last_error_timestamp_seconds", "gauge",
           "When the last error was shown (0: none since start).",
           std::to_string(s.lastError.at));
    metric("gsms_start_time_seconds", "gauge", "When the gateway started.",
           std::to_string(s.started));
    metric("gsms_status_time_seconds", "gauge",
           "When this file was written (at least every signal poll while the gateway runs).",
           std::to_string(s.now));
    return out;
}

std::string statusLine(const StatusSnapshot& s) {
    std::string out = stageText(s.stage);
    out[0] = static_cast<char>(out[0] - 'a' + 'A');
    if (s.stage == EngineStage::Running || s.stage == EngineStage::Stopping) {
        out += ", modem " + modemText(s);
        if (s.signalPolled) out += ", signal " + std::to_string(s.signal);
    }
    out += "; " + std::to_string(s.queued) + " queued, " + std::to_string(s.sending) +
           " sending; " + std::to_string(s.sent) + " sent, " + std::to_string(s.failed) +
           " failed, " + std::to_string(s.retried) + " retried, " + std::to_string(s.received) +
           " received";
    if (s.lastError.at != 0) {
        const std::tm t = clock::localTime(s.lastError.at);
        char at[32];
        std::snprintf(at, sizeof at, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
        out += std::string("; last error ") + at + " " +
               shown(s.lastError.text, kStatusLineErrorChars);
    }
    return out;
}

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

namespace {

// The status file of `dir` in `text`; says on out why there is none. 1: read; 0: none.
int readStatus(const std::string& dir, std::string& text, std::FILE* out) {
    const std::string path = paths::join(dir, kStatusFileName);
    files::Failure failure;
    const int read = files::readWhole(path, text, &failure);
    if (read > 0) return 1;
    if (read == 0)
        std::fprintf(out, "gsmsd: no status in %s: gsmsd has not run with this profile folder\n",
                     path.c_str());
    else
        std::fprintf(out, "gsmsd: cannot read %s (%s)\n", path.c_str(),
                     std::strerror(failure.error));
    return 0;
}

long pidOf(const std::string& text) {
    const auto at = text.find("\npid: ");
    return at == std::string::npos ? 0 : std::strtol(text.c_str() + at + 6, nullptr, 10);
}

}  // namespace

int printStatus(const std::string& dir, std::FILE* out) {
    std::string text;
    if (readStatus(dir, text, out) == 0) return 4;
    std::fwrite(text.data(), 1, text.size(), out);
    if (!text.empty() && text.back() != '\n') std::fputc('\n', out);
    const long pid = pidOf(text);
    // Another process may have got the number since: only a gsmsd counts.
    const bool running = processRunning(pid, "gsmsd");
    if (running) return 0;
    std::fprintf(out, "gsmsd (pid %ld) is not running: this is the status it left\n", pid);
    return 3;
}

int requestReload(const std::string& dir, std::FILE* out) {
    std::string text;
    if (readStatus(dir, text, out) == 0) return 4;
    const long pid = pidOf(text);
    if (!processRunning(pid, "gsmsd")) {
        std::fprintf(out, "gsmsd (pid %ld) is not running: nothing to reload\n", pid);
        return 3;
    }
    if (sendProcessRequest(pid, ProcessRequest::Reload) != 0) {
        std::fprintf(out, "gsmsd: cannot ask gsmsd (pid %ld) to reload (%s)\n", pid,
                     std::strerror(errno));
        return 3;
    }
    std::fprintf(out, "gsmsd (pid %ld) asked to read its settings again\n", pid);
    return 0;
}

}  // namespace gsms

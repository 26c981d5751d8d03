#include "gateway/status_snapshot.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>

#include "core/version.h"
#include "jobs/job_table.h"
#include "core/settings.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/process_signals.h"
#include "platform/text_encoding.h"
#include "sms/path_state.h"

namespace gsms {
namespace {

constexpr std::size_t kStatusLineErrorChars = 100;

// Set by the first signal reading's notification, read by every snapshot.
std::atomic<bool> polled{false};

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

// A text from the engine (the last error may name a file or a sender, and the settings come
// from a file anyone may edit) as one line of UTF-8, at most `limit` characters of it.
std::string shown(std::string_view text, std::size_t limit = std::string::npos) {
    std::string line = text::shownText(text);
    const std::size_t n = text::utf8Head(line, limit);
    if (n == line.size()) return line;
    return line.erase(n) + "...";
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

bool worked(const StatusSnapshot& s) {
    return s.stage == EngineStage::Running || s.stage == EngineStage::Stopping;
}

bool modemInService(const StatusSnapshot& s) {
    if (!s.modems.empty())
        return worked(s) && std::any_of(s.modems.begin(), s.modems.end(),
                                        [](const ModemStatus& m) { return m.inService; });
    return worked(s) && !s.portHungUp && !(s.signalPolled && s.signal == 0);
}

// The modems not in service, as "modem 2 path down".
std::string pathsOut(const StatusSnapshot& s) {
    std::string out;
    for (const ModemStatus& m : s.modems) {
        if (m.inService) continue;
        if (!out.empty()) out += ", ";
        out += "modem " + std::to_string(m.number) + " " + m.state;
    }
    return out;
}

std::string modemText(const StatusSnapshot& s) {
    switch (s.stage) {
        case EngineStage::NotStarted:
        case EngineStage::Starting: return "not open yet";
        case EngineStage::Initialising: return "being brought into service";
        case EngineStage::Stopped: return "left";
        default: break;
    }
    if (!s.modems.empty()) {
        // In service while one path carries alarms; the path out of service is named.
        const std::string out = pathsOut(s);
        if (!modemInService(s)) return out;
        return out.empty() ? "in service" : "in service (" + out + ")";
    }
    if (s.portHungUp) return "port hung up";
    if (s.signalPolled && s.signal == 0) return "no usable signal";
    return "in service";
}

}  // namespace

StatusSnapshot takeStatusSnapshot() {
    StatusSnapshot s;
    s.pid = currentProcessId();
    static const std::string* const start = new std::string(processStartStamp(s.pid));
    s.pidStart = *start;
    s.stage = engineStage();
    s.port = portName();
    ModemLink& first = firstModem();  // the one modem of today's status
    s.portHungUp = first.portHungUp();
    s.signalPolled = polled.load();
    s.signal = first.signalQuality().load();
    s.sending = submissionsInFlight();
    s.queued = std::max(0, jobTable().count.load() - s.sending);
    s.sent = tallied(Tally::Sent);
    s.failed = tallied(Tally::Failed);
    s.retried = tallied(Tally::Retried);
    s.received = tallied(Tally::Received);
    s.partsSent = tallied(Tally::PartSent);
    s.lastError = lastError();
    s.started = startedAt();
    s.now = clock::wallSeconds();
    if (modemCount() == 2) {
        const GatewaySettings& settings = gsms::settings();
        for (int n = 1; n <= 2; ++n) {
            const ModemLink& link = modemLink(n);
            ModemStatus m;
            m.number = n;
            m.port = n == 1 ? s.port : std::string(settings.modem2.portName);
            m.state = pathStateText(link);
            m.signalRead = link.signalWasRead();
            m.signal = link.signal();
            m.inService = link.inService() && !(m.signalRead && m.signal == 0);
            m.sent = link.sent();
            m.failed = link.failed();
            s.modems.push_back(std::move(m));
        }
    }
    return s;
}

void noteSignalPolled() { polled.store(true); }

std::string statusText(const StatusSnapshot& s) {
    std::string out = "gsmsd " + std::string(kVersion) + " (Velkora GSM/SMS)";
    out += files::kLineEnd;
    auto add = [&out](const char* key, const std::string& value) {
        out += key;
        out += ": ";
        out += value;
        out += files::kLineEnd;
    };
    add("pid", std::to_string(s.pid));
    if (!s.pidStart.empty()) add("pid start", s.pidStart);
    add("state", stageText(s.stage));
    add("modem", modemText(s));
    add("port", s.port.empty() ? "-" : shown(s.port));
    add("signal", s.signalPolled ? std::to_string(s.signal) : "not read yet");
    for (const ModemStatus& m : s.modems) {
        const std::string head = "modem " + std::to_string(m.number);
        add(head.c_str(), worked(s) ? m.state : modemText(s));
        add((head + " port").c_str(), m.port.empty() ? "-" : shown(m.port));
        add((head + " signal").c_str(), m.signalRead ? std::to_string(m.signal) : "not read yet");
        add((head + " sent").c_str(), std::to_string(m.sent));
        add((head + " failed").c_str(), std::to_string(m.failed));
    }
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
    if (s.modems.empty()) {
        metric("gsms_modem_in_service", "gauge",
               "1 while the modem is in service with a usable signal.",
               modemInService(s) ? "1" : "0");
        if (s.signalPolled)
            metric("gsms_signal_quality", "gauge", "The last signal reading, 0 to 31 (0: none).",
                   std::to_string(s.signal));
    } else {
        // One family per metric, a series per modem.
        auto perModem = [&out, &s](const char* name, const char* type, const char* help,
                                   auto value, bool (*shows)(const ModemStatus&)) {
            out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type +
                   "\n";
            for (const ModemStatus& m : s.modems)
                if (shows(m))
                    out += std::string(name) + "{modem=\"" + std::to_string(m.number) + "\"} " +
                           value(m) + "\n";
        };
        const bool running = worked(s);
        perModem("gsms_modem_in_service", "gauge",
                 "1 while the modem is in service with a usable signal.",
                 [running](const ModemStatus& m) { return running && m.inService ? "1" : "0"; },
                 [](const ModemStatus&) { return true; });
        perModem("gsms_signal_quality", "gauge", "The last signal reading, 0 to 31 (0: none).",
                 [](const ModemStatus& m) { return std::to_string(m.signal); },
                 [](const ModemStatus& m) { return m.signalRead; });
        perModem("gsms_modem_sms_sent_total", "counter", "Jobs this modem sent since start.",
                 [](const ModemStatus& m) { return std::to_string(m.sent); },
                 [](const ModemStatus&) { return true; });
        perModem("gsms_modem_attempts_failed_total", "counter",
                 "Failed attempts on this modem since start.",
                 [](const ModemStatus& m) { return std::to_string(m.failed); },
                 [](const ModemStatus&) { return true; });
    }
    metric("gsms_jobs_queued", "gauge", "Jobs taken and not yet reported, but the one sent.",
           std::to_string(s.queued));
    metric("gsms_jobs_sending", "gauge", "Jobs being sent now.", std::to_string(s.sending));
    metric("gsms_jobs_sent_total", "counter", "Jobs sent since start.", std::to_string(s.sent));
    metric("gsms_jobs_failed_total", "counter", "Jobs given up since start.",
           std::to_string(s.failed));
    metric("gsms_jobs_retried_total", "counter",
           "Failed attempts of a job retried later since start.", std::to_string(s.retried));
    metric("gsms_sms_parts_sent_total", "counter",
           "SMS parts the modem took since start (a long text goes out as several).",
           std::to_string(s.partsSent));
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
    if (worked(s) && !s.modems.empty()) {
        for (const ModemStatus& m : s.modems) {
            out += ", modem " + std::to_string(m.number) + " " + m.state;
            if (m.signalRead) out += ", signal " + std::to_string(m.signal);
        }
    } else if (worked(s)) {
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

}  // namespace gsms

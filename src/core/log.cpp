#include "core/log.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "core/activity.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/file_append.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace gsms {
namespace {

std::mutex fileLogMutex;
std::mutex notifierMutex;
// The notifier and the queue are used by detached threads until the process ends, so they
// are never destroyed (exit must not pull them from under a running thread).
Notifier& theNotifier = *new Notifier;

struct QueueSlot {
    bool used = false;
    std::string text;
    ColorRef colour = 0;
    bool failure = false;
    std::size_t stamp = 0;
};
std::mutex logQueueLock;
std::array<QueueSlot, kLogQueueSlots>& logQueue = *new std::array<QueueSlot, kLogQueueSlots>;
std::atomic<unsigned> dropped{0};
std::atomic<void (*)(int)> watcher{nullptr};

}  // namespace

std::string dailyLogPath(const std::tm& t) {
    char name[64];
    std::snprintf(name, sizeof name, "log/gsms_%04d%02d%02d.log", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday);
    return name;
}

namespace {

// One daily log line, "HH:MM:SS text" and the line end, in `line`; its length. `text` is
// shown already (text::shownText): one line of UTF-8.
std::size_t formatFileLine(const std::tm& now, std::string_view text,
                           char (&line)[kFileLineSize]) {
    int head = std::snprintf(line, sizeof line, "%02d:%02d:%02d ", now.tm_hour, now.tm_min,
                             now.tm_sec);
    // Cut a long text so that the line end (at most two bytes) always fits, and never inside
    // a character.
    std::size_t room = sizeof line - static_cast<std::size_t>(head) - 2;
    std::size_t n = text::utf8HeadBytes(text, room);
    std::memcpy(line + head, text.data(), n);
    std::memcpy(line + head + n, files::kLineEnd.data(), files::kLineEnd.size());
    return static_cast<std::size_t>(head) + n + files::kLineEnd.size();
}

// Lines lost since the daily log last took one (guarded by fileLogMutex); non-zero while the
// log cannot be written.
unsigned unwrittenFileLines = 0;

}  // namespace

void fileLog(std::string_view text) {
    std::tm now = clock::localNow();
    char line[kFileLineSize];
    // Texts from outside (a received SMS, a job file's number, a file name) are shown here, so
    // that no caller can forget it: one event is one line, and the file stays UTF-8.
    const std::size_t len = formatFileLine(now, text::shownText(text), line);

    // Told to the window after the lock is released: its receivers may log themselves.
    std::string recovered, failed;
    {
        std::lock_guard lock(fileLogMutex);
        if (!paths::isDirectory("log") && !paths::makeDirectory("log", 0750)) return;
        const std::string path = dailyLogPath(now);
        // After an outage the gap is told where it is, in one write with the line: a short
        // notice that fits where the line does not would end the outage only to begin another.
        std::string lost, joined;
        std::string_view bytes(line, len);
        if (unwrittenFileLines > 0) {
            lost = std::to_string(unwrittenFileLines) +
                   " lines could not be written to the daily log";
            char notice[kFileLineSize];
            joined.assign(notice, formatFileLine(now, lost, notice)).append(bytes);
            bytes = joined;
        }
        int error = 0;
        if (files::append(path, bytes, files::IfMissing::Create, &error) == 0) {
            unwrittenFileLines = 0;
            recovered = lost;
        } else if (unwrittenFileLines++ == 0) {
            // Once per outage: a full disk would otherwise fill the window with this line.
            failed = "ERROR: cannot write the daily log " + path + " (" + std::strerror(error) +
                     ")";
        }
    }
    if (!recovered.empty()) windowLog(nullptr, recovered, kColorRed);
    if (!failed.empty()) windowLog(nullptr, failed, kColorRed);
}

void setNotifier(Notifier notifier) {
    std::lock_guard lock(notifierMutex);
    theNotifier = std::move(notifier);
}

bool hasNotifier() {
    std::lock_guard lock(notifierMutex);
    return static_cast<bool>(theNotifier);
}

void notify(int code) {
    Notifier n;
    {
        std::lock_guard lock(notifierMutex);
        n = theNotifier;
    }
    if (n) n(code);
    if (auto w = watcher.load()) w(code);
}

void setNotificationWatcher(void (*w)(int code)) { watcher.store(w); }

unsigned droppedWindowLines() { return dropped.load(); }

namespace {

void queueWindowLine(const char* prefix, std::string_view text, ColorRef colour, bool failure) {
    // As the daily log shows it: the window, standard output, the journal, the event log and
    // the status all take this one line of UTF-8.
    std::string body;
    if (prefix != nullptr) {
        body = prefix;
        body += ' ';
    }
    body = text::shownText(body.append(text));
    if (failure) {
        noteError(body);
        reportEvent(EventKind::Error, body);
    }
    if (!hasNotifier()) return;
    std::tm t = clock::localNow();
    char line[kWindowLineSize];
    int head = std::snprintf(line, sizeof line, "%02d.%02d.%04d %02d:%02d:%02d ", t.tm_mday,
                             t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    std::size_t room = sizeof line - static_cast<std::size_t>(head) - 1;
    std::size_t n = text::utf8HeadBytes(body, room);
    std::memcpy(line + head, body.data(), n);
    line[head + n] = '\0';
    {
        std::lock_guard lock(logQueueLock);
        QueueSlot* free = nullptr;
        for (auto& slot : logQueue) {
            if (!slot.used) {
                free = &slot;
                break;
            }
        }
        if (free == nullptr) {  // all 32 busy: the line is dropped
            dropped.fetch_add(1);
            return;
        }
        free->used = true;
        free->text = line;
        free->colour = colour;
        free->failure = failure;
        free->stamp = static_cast<std::size_t>(head);
    }
    notify(kNotifyLogLine);
}

}  // namespace

void windowLog(const char* prefix, std::string_view text, ColorRef colour) {
    queueWindowLine(prefix, text, colour, colour == kColorRed);
}

void windowLogFailure(const char* prefix, std::string_view text, ColorRef colour) {
    queueWindowLine(prefix, text, colour, true);
}

std::optional<LogLine> takeLogLine() {
    std::lock_guard lock(logQueueLock);
    for (auto& slot : logQueue) {
        if (slot.used) {
            LogLine out{std::move(slot.text), slot.colour, slot.failure, slot.stamp};
            slot = QueueSlot{};
            return out;
        }
    }
    return std::nullopt;
}

int queuedWindowLines() {
    std::lock_guard lock(logQueueLock);
    int n = 0;
    for (const auto& slot : logQueue) n += slot.used ? 1 : 0;
    return n;
}

void resetLogQueueForTest() {
    setNotifier(nullptr);
    std::lock_guard lock(logQueueLock);
    for (auto& slot : logQueue) slot = QueueSlot{};
}

}  // namespace gsms

// The two logs of the gateway and the notification link to the front end.
//
// fileLog: one time-stamped line in log/gsms_YYYYMMDD.log under the current directory,
//   opened and closed per line, serialised by one lock. The log directory is created when
//   missing (mode 0750); when it cannot be, nothing is written. A new daily file gets mode
//   0640: it names the site's numbers and paths. A line is written whole or not at all; when
//   the file cannot take it (a full disk), "ERROR: cannot write the daily log <path>
//   (<reason>)" goes in red to the window, once until the log takes lines again, and the lines
//   lost meanwhile are counted: the first line written again is preceded, in the file and in
//   red in the window, by "<n> lines could not be written to the daily log".
// windowLog: a date-stamped line with a colour, queued in the 32-slot LogQueue for the
//   window; a receiver registered with setNotifier is told code 0 per queued line. A line
//   that finds all 32 slots taken (the receiver is behind) is dropped and counted. A red
//   line is noted as the last error (core/activity.h) and goes to the system's event log
//   (platform/event_log.h, once gsmsd has opened it), with or without a receiver.
// Both show their text as text::shownText does, whoever passes it: control characters,
//   line breaks and bidirectional controls escaped ("\r", "\n", "\x1B"), malformed bytes
//   (ISO 8859-1 among them) as "\xNN". So a text from outside (an SMS, a job file's number,
//   a file name) can never start a line of its own, and every line is UTF-8. A line cut to its
//   buffer is cut between characters.
// Thread safety: both may be called from any thread. LogQueue slots are guarded by
// logQueueLock, which is innermost (no other lock is taken while it is held).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/paths.h"

namespace gsms {

// Colour references packed as 0x00BBGGRR.
using ColorRef = std::uint32_t;
constexpr ColorRef kColorDefault = 0;
constexpr ColorRef kColorRed = 0x0000FF;
constexpr ColorRef kColorGreen = 0x00FF00;
constexpr ColorRef kColorBlue = 0xFF0000;
constexpr ColorRef kColorGrey = 0x808080;

// Notification codes posted to the front end.
constexpr int kNotifyLogLine = 0;    // a line waits in LogQueue
constexpr int kNotifySignal = 99;    // signalQuality was read again
constexpr int kNotifyEngineState = 100;  // the engine stage or the operator's action changed
// 1..30: the view of job slot code - 1 changed.

// The receiver of notifications; called on the posting thread and must not block
// (the window turns it into a queued call, gsmsd hands it to a thread of its own).
using Notifier = std::function<void(int code)>;
void setNotifier(Notifier notifier);
bool hasNotifier();
void notify(int code);
// A second party told of every notification after the front end (the status publisher);
// called on the posting thread, must not block. nullptr removes it.
void setNotificationWatcher(void (*watcher)(int code));

void fileLog(std::string_view text);
void windowLog(const char* prefix, std::string_view text, ColorRef colour);
// windowLog for a failure the window shows in another colour than red (a failed modem start,
// in the ordinary colour): noted as the last error all the same, and given priority err in
// the journal.
void windowLogFailure(const char* prefix, std::string_view text, ColorRef colour);

// Capacities of the log buffers (terminator included). A file line holds two whole paths
// ("could not move <path> to <path>").
constexpr std::size_t kWindowLineSize = 260;
constexpr std::size_t kFileLineSize = 2 * paths::kPathSize + 256;

struct LogLine {
    std::string text;
    ColorRef colour = 0;
    bool failure = false;     // a red line, or one queued by windowLogFailure
    std::size_t stamp = 0;    // characters of the leading "DD.MM.YYYY HH:MM:SS " (0: none)
};

constexpr int kLogQueueSlots = 32;

// Takes the lowest-numbered queued line out of LogQueue (what the window does per code 0).
std::optional<LogLine> takeLogLine();
// Lines dropped so far because LogQueue was full.
[[nodiscard]] unsigned droppedWindowLines();
// Lines waiting in LogQueue now.
[[nodiscard]] int queuedWindowLines();
// Empties the queue and forgets the receiver (tests).
void resetLogQueueForTest();

// Path of the daily log file for a local date.
std::string dailyLogPath(const std::tm& localTime);

}  // namespace gsms

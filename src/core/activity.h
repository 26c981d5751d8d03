// What the engine's threads report of their work as they go, for those who watch it from
// outside: the stage of the engine, the heartbeats by which the watchdog judges it alive, the
// submission in flight that an orderly stop waits for, the counts since start and the last
// error, which the status shows.
//
// Who calls what: the engine thread sets the stage; the InputThread beats Reader; the
// ProcessingThread beats Dispatch, brackets each submission with beginSubmission/endSubmission
// and counts its outcomes; sendSms counts the parts the modem took; whoever writes to the
// modem beats Modem, and so does the
// IncomingThread while a long listing comes in; the IncomingThread counts received messages;
// windowLog notes every red line. The
// main thread of gsmsd requests the stop. Everything is atomic except the last error, which
// has a lock of its own (innermost: nothing is taken while it is held).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace gsms {

// Where the engine is in its life. The window's modem actions (Send SMS, Change SMSC) wait
// for Running: before it the modem is being brought into service and its SMSC not yet read.
// Each change of stage is posted as notification code kNotifyEngineState.
enum class EngineStage {
    NotStarted,    // startEngine not called yet
    Starting,      // init_gsms loads the settings and opens the port
    Initialising,  // the modem is being brought into service
    Running,       // every worker thread has started ("SignalThread started" is logged)
    Stopping,      // an orderly stop was requested: no new submission starts
    Stopped,       // a fatal stop, or the work in hand has ended: the process ends next
};
void setEngineStage(EngineStage stage);
// Moves from `from` to `to` only when the stage is still `from` (a stop requested meanwhile
// keeps Stopping); true when it moved.
bool advanceEngineStage(EngineStage from, EngineStage to);
[[nodiscard]] EngineStage engineStage();
// Marks the engine as stopped before a fatal stop's pause, from the thread that meets it, and
// tells the status listener.
void markEngineStopped();
// Told when the engine has stopped: the service status, which lives in a higher layer, sets
// itself here when it starts. None until then.
void setStatusListener(void (*listener)());

// --- Heartbeats: each loop that must keep turning beats its heart once per turn.
enum class Heart {
    Reader,    // the InputThread: turns at least every port time-out (500 ms)
    Dispatch,  // the ProcessingThread: every sweep (500 ms at most) and before each submission
    Modem,     // a command or text written to the modem, by any thread
};
void beat(Heart heart);

// How long each heart may stay still, in gateway milliseconds. The longest silence of a
// healthy modem dialogue is a submission's 30 s wait for its answer followed by 30 s for a
// late one; a submission may also wait for modemLock while an incoming listing runs (silent
// for 15 s at most: a longer one beats Modem as it comes in).
constexpr std::int64_t kReaderStillLimitMs = 30000;
constexpr std::int64_t kDispatchStillLimitMs = 30000;
constexpr std::int64_t kModemStillLimitMs = 90000;

// What the watchdog judges from: the age of each heart's last beat (-1: never beaten).
struct HeartAges {
    std::int64_t reader = -1;
    std::int64_t dispatch = -1;
    std::int64_t modem = -1;
    bool submitting = false;  // a submission is in flight
    EngineStage stage = EngineStage::Starting;
};
struct Liveness {
    bool alive = true;
    std::string why;  // when not alive: which loop stands still, and for how long
};
// Alive when the reader turns (once it has started) and, once the workers run, the dispatch
// turns or, during a submission, the modem dialogue moves on.
[[nodiscard]] Liveness judgeLiveness(const HeartAges& ages);
[[nodiscard]] HeartAges heartAges();

// --- The orderly stop and the submission in flight.
void requestStop();
[[nodiscard]] bool stopRequested();
// Before a submission: false once a stop was requested (then nothing may start); true
// otherwise, and the submission counts as in flight until endSubmission.
[[nodiscard]] bool beginSubmission();
void endSubmission();
[[nodiscard]] int submissionsInFlight();

// --- Counts since start: jobs sent, given up and retried; SMS received; and the SMS parts the
// modem took (a text longer than one SMS goes out as several).
enum class Tally { Sent, Failed, Retried, Received, PartSent };
void tally(Tally what);
[[nodiscard]] std::uint64_t tallied(Tally what);

// --- The modem port's configured name once the settings are loaded. Whether the port is gone
// is the modem link's to say (modem/modem_link.h).
void notePortName(std::string_view name);
[[nodiscard]] std::string portName();

// --- The last red line and when it came (wall seconds; 0: none yet).
struct LastError {
    std::string text;
    std::int64_t at = 0;
};
void noteError(std::string_view text);
[[nodiscard]] LastError lastError();

// Wall seconds when the process started.
[[nodiscard]] std::int64_t startedAt();

// Back to the state of a fresh process (tests).
void resetActivityForTest();

}  // namespace gsms

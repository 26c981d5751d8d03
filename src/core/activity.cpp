#include "core/activity.h"

#include <array>
#include <atomic>
#include <mutex>

#include "core/log.h"
#include "platform/clock.h"

namespace gsms {
namespace {

constexpr std::int64_t kNever = -1;

std::atomic<EngineStage> stage{EngineStage::NotStarted};
std::array<std::atomic<std::int64_t>, 3> lastBeat{kNever, kNever, kNever};
std::atomic<bool> stopping{false};
std::atomic<int> inFlight{0};
std::array<std::atomic<std::uint64_t>, 5> tallies{};
std::atomic<void (*)()> statusListener{nullptr};
const std::int64_t processStart = clock::wallSeconds();

// Never destroyed: windowLog may note an error from a detached thread while exit runs.
struct Texts {
    std::mutex lock;
    LastError last;
    std::string port;
};
Texts& texts() {
    static Texts* t = new Texts;
    return *t;
}

std::string seconds(std::int64_t ms) { return std::to_string(ms / 1000) + " s"; }

}  // namespace

void setEngineStage(EngineStage s) {
    stage.store(s);
    notify(kNotifyEngineState);
}
bool advanceEngineStage(EngineStage from, EngineStage to) {
    if (!stage.compare_exchange_strong(from, to)) return false;
    notify(kNotifyEngineState);
    return true;
}
EngineStage engineStage() { return stage.load(); }

void setStatusListener(void (*listener)()) { statusListener.store(listener); }
void markEngineStopped() {
    setEngineStage(EngineStage::Stopped);
    if (auto listener = statusListener.load()) listener();
}

void beat(Heart heart) { lastBeat[static_cast<int>(heart)].store(clock::monotonicMs()); }

HeartAges heartAges() {
    const std::int64_t now = clock::monotonicMs();
    auto age = [now](Heart h) {
        const std::int64_t at = lastBeat[static_cast<int>(h)].load();
        return at == kNever ? kNever : now - at;
    };
    return {age(Heart::Reader), age(Heart::Dispatch), age(Heart::Modem), inFlight.load() > 0,
            stage.load()};
}

Liveness judgeLiveness(const HeartAges& a) {
    if (a.reader > kReaderStillLimitMs)
        return {false, "the modem reader has stood still for " + seconds(a.reader)};
    if (a.stage <= EngineStage::Initialising) return {};  // the workers do not run yet
    if (a.dispatch < 0 || a.dispatch <= kDispatchStillLimitMs) return {};
    if (!a.submitting)
        return {false, "the dispatch has stood still for " + seconds(a.dispatch)};
    // In a submission: alive as long as the dialogue with the modem moves on.
    if (a.modem >= 0 && a.modem <= kModemStillLimitMs) return {};
    return {false, "a submission has had no exchange with the modem for " +
                       seconds(a.modem < 0 ? a.dispatch : a.modem)};
}

void requestStop() { stopping.store(true); }
bool stopRequested() { return stopping.load(); }

bool beginSubmission() {
    // Counted first, then the flag looked at (both sequentially consistent): either the stop
    // sees this submission in flight and waits for it, or the submission sees the stop.
    inFlight.fetch_add(1);
    if (stopping.load()) {
        inFlight.fetch_sub(1);
        return false;
    }
    return true;
}

void endSubmission() { inFlight.fetch_sub(1); }
int submissionsInFlight() { return inFlight.load(); }

void tally(Tally what) { tallies[static_cast<int>(what)].fetch_add(1); }
std::uint64_t tallied(Tally what) { return tallies[static_cast<int>(what)].load(); }

void notePortName(std::string_view name) {
    Texts& t = texts();
    std::lock_guard lock(t.lock);
    t.port.assign(name);
}

std::string portName() {
    Texts& t = texts();
    std::lock_guard lock(t.lock);
    return t.port;
}

void noteError(std::string_view text) {
    Texts& t = texts();
    std::lock_guard lock(t.lock);
    t.last.text.assign(text);
    t.last.at = clock::wallSeconds();
}

LastError lastError() {
    Texts& t = texts();
    std::lock_guard lock(t.lock);
    return t.last;
}

std::int64_t startedAt() { return processStart; }

void resetActivityForTest() {
    stage.store(EngineStage::NotStarted);
    for (auto& b : lastBeat) b.store(kNever);
    stopping.store(false);
    inFlight.store(0);
    for (auto& t : tallies) t.store(0);
    Texts& t = texts();
    std::lock_guard lock(t.lock);
    t.last = LastError{};
    t.port.clear();
}

}  // namespace gsms

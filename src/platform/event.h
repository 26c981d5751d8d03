// Manual-reset event and wait-for-any, the stand-in for Win32 events.
//
// An event stays signalled until `reset`; `set` wakes every waiter. `waitAny` returns the
// lowest index among the signalled events, or -1 when the time-out (gateway milliseconds,
// see clock.h) passes first. Thread safety: every operation may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <vector>

namespace gsms {

class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    [[nodiscard]] bool isSet() const;
    // 0 when signalled, -1 on time-out.
    [[nodiscard]] int wait(std::int64_t timeoutMs);

private:
    friend int waitAny(std::initializer_list<Event*> events, std::int64_t timeoutMs);
    struct Waiter;
    mutable std::mutex mutex_;
    bool signalled_ = false;
    std::vector<std::shared_ptr<Waiter>> waiters_;
};

// Lowest index of a signalled event in `events`, or -1 after `timeoutMs`. A negative
// time-out waits for ever.
[[nodiscard]] int waitAny(std::initializer_list<Event*> events, std::int64_t timeoutMs);

}  // namespace gsms

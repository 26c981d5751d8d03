#include "platform/event.h"

#include <algorithm>

#include "platform/clock.h"

namespace gsms {

// A waiter is shared by every event it waits on, so that any of them can wake it.
struct Event::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool woken = false;
};

Event::Event() = default;
Event::~Event() = default;

void Event::set() {
    std::vector<std::shared_ptr<Waiter>> toWake;
    {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        toWake = waiters_;
    }
    for (auto& w : toWake) {
        std::lock_guard lock(w->mutex);
        w->woken = true;
        w->cv.notify_all();
    }
}

void Event::reset() {
    std::lock_guard lock(mutex_);
    signalled_ = false;
}

bool Event::isSet() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

int Event::wait(std::int64_t timeoutMs) { return waitAny({this}, timeoutMs); }

int waitAny(std::initializer_list<Event*> events, std::int64_t timeoutMs) {
    auto waiter = std::make_shared<Event::Waiter>();
    auto firstSignalled = [&]() -> int {
        int i = 0;
        for (Event* e : events) {
            if (e->isSet()) return i;
            ++i;
        }
        return -1;
    };
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        e->waiters_.push_back(waiter);
    }
    auto deadline = clock::deadlineAfterMs(timeoutMs);
    int result = -1;
    for (;;) {
        result = firstSignalled();
        if (result >= 0) break;
        std::unique_lock lock(waiter->mutex);
        if (!waiter->woken) {
            if (timeoutMs < 0) {
                waiter->cv.wait(lock, [&] { return waiter->woken; });
            } else if (!waiter->cv.wait_until(lock, deadline, [&] { return waiter->woken; })) {
                lock.unlock();
                result = firstSignalled();
                break;
            }
        }
        waiter->woken = false;
    }
    for (Event* e : events) {
        std::lock_guard lock(e->mutex_);
        auto& ws = e->waiters_;
        ws.erase(std::remove(ws.begin(), ws.end(), waiter), ws.end());
    }
    return result;
}

}  // namespace gsms

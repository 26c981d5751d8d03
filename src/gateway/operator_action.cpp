#include "gateway/operator_action.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "core/log.h"
#include "gateway/engine.h"
#include "modem/modem_link.h"
#include "platform/thread.h"
#include "sms/path_state.h"
#include "sms/sms_submit.h"
#include "sms/smsc.h"

namespace gsms {

namespace {

constexpr std::size_t kThreadStack = 0x20000;  // as the engine's workers

std::atomic<OperatorAction> g_running{OperatorAction::None};

// The work handed to the next OperatorThread. Never destroyed: the thread may still be
// running when the process ends.
struct Pending {
    std::mutex lock;
    std::function<void()> work;
};

Pending& pending() {
    static Pending* p = new Pending;
    return *p;
}

void operatorThread() {
    std::function<void()> work;
    {
        std::lock_guard lock(pending().lock);
        work = std::exchange(pending().work, nullptr);
    }
    if (work) work();
    g_running.store(OperatorAction::None);
    notify(kNotifyEngineState);
}

}  // namespace

OperatorAction runningOperatorAction() { return g_running.load(); }

int startOperatorAction(OperatorAction what, std::function<void()> work) {
    if (what == OperatorAction::None || engineStage() != EngineStage::Running) return -1;
    OperatorAction idle = OperatorAction::None;
    if (!g_running.compare_exchange_strong(idle, what)) return -1;
    {
        std::lock_guard lock(pending().lock);
        pending().work = std::move(work);
    }
    if (!startDetachedThread(operatorThread, "OperatorThread", kThreadStack)) {
        {
            std::lock_guard lock(pending().lock);
            pending().work = nullptr;
        }
        g_running.store(OperatorAction::None);
        return -1;
    }
    notify(kNotifyEngineState);
    return 0;
}

int startHandSms(std::string number, std::string text, int flash) {
    const std::string shown = shownNumber(number);
    auto work = [number = std::move(number), text = std::move(text), flash] {
        (void)sendHandSms(number, text, flash);
    };
    if (startOperatorAction(OperatorAction::SendSms, std::move(work)) == 0) return 0;
    windowLog(nullptr, "ERROR sending to " + shown, kColorRed);
    return -1;
}

int startSmscChange(std::string number, int plan, int modem) {
    const std::string shown = shownNumber(number);
    auto work = [number = std::move(number), plan, modem] {
        (void)changeSmsc(number, plan, modem);
    };
    if (startOperatorAction(OperatorAction::ChangeSmsc, std::move(work)) == 0) return 0;
    windowLog(nullptr, "ERROR changing the SMSC to " + shown, kColorRed);
    return -1;
}

int sendHandSms(const std::string& number, const std::string& text, int flash) {
    const int result = sendSms(firstUsableModem(), number.c_str(), text.c_str(), flash);
    if (result < 0)
        windowLog(nullptr, "ERROR sending to " + shownNumber(number), kColorRed);
    else
        windowLog(nullptr, "Message sent to " + shownNumber(number), kColorGreen);
    return result;
}

int changeSmsc(const std::string& number, int plan, int modem) {
    if (modem < 1 || modem > modemCount()) return -1;
    ModemLink& link = modemLink(modem);
    ModemState& state = link.state();
    {
        // readSmsc writes the same fields under the lock.
        std::lock_guard lock(link.modemLock());
        std::snprintf(state.smscNumber, sizeof state.smscNumber, "%s", number.c_str());
        state.smscType.store(plan);
    }
    return updateSmsc(link);
}

}  // namespace gsms

#include "modem/modem_link.h"

#include <atomic>
#include <utility>

#include "core/log.h"
#include "platform/clock.h"

namespace gsms {

ModemLink::ModemLink(int number, std::string name) : number_(number) { setName(std::move(name)); }

std::string ModemLink::named(std::string_view line) const {
    if (name_.empty()) return std::string(line);
    return name_ + ": " + std::string(line);
}

void ModemLink::notePortLost() {
    // The flag before the line, so that the status its notification brings shows the loss.
    if (setPortHungUp(true)) return;
    const std::string line = named("modem port hung up");
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

bool ModemLink::setPortHungUp(bool hungUp) {
    // The time first, so that whoever sees the flag finds the time of this loss.
    if (hungUp && !hungUp_.load()) hungUpAt_.store(clock::monotonicMs());
    const bool before = hungUp_.exchange(hungUp);
    // The exchange in flight on the lost port ends now, not at its time-out.
    if (hungUp) state_.event(ModemEvent::Lost).set();
    else state_.event(ModemEvent::Lost).reset();
    return before;
}

ModemLink& firstModem() {
    static ModemLink* link = new ModemLink(1, "");
    return *link;
}

namespace {
std::atomic<ModemLink*> second{nullptr};
}  // namespace

ModemLink* secondModem() { return second.load(); }

ModemLink& createSecondModem() {
    if (ModemLink* link = second.load()) return *link;
    auto* link = new ModemLink(2, "modem 2");
    second.store(link);
    return *link;
}

int modemCount() { return second.load() != nullptr ? 2 : 1; }

ModemLink& modemLink(int number) {
    ModemLink* link = number == 2 ? second.load() : nullptr;
    return link != nullptr ? *link : firstModem();
}

ModemLink* otherModem(const ModemLink& link) {
    if (second.load() == nullptr) return nullptr;
    return link.number() == 1 ? second.load() : &firstModem();
}

ModemState& modemState() { return firstModem().state(); }

}  // namespace gsms

#include "modem/modem_link.h"

#include <utility>

#include "core/log.h"
#include "platform/clock.h"

namespace gsms {

ModemLink::ModemLink(int number, std::string name) : number_(number), name_(std::move(name)) {}

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
    return hungUp_.exchange(hungUp);
}

ModemLink& firstModem() {
    static ModemLink* link = new ModemLink(1, "");
    return *link;
}

ModemState& modemState() { return firstModem().state(); }

}  // namespace gsms

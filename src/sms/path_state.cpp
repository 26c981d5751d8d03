#include "sms/path_state.h"

#include "core/log.h"
#include "modem/modem_link.h"
#include "sms/signal_thread.h"
#include "sms/tech_alarm.h"

namespace gsms {

bool pathUsable(const ModemLink& link) {
    if (modemCount() == 1) return !link.portHungUp();
    return link.inService();
}

ModemLink& firstUsableModem() {
    for (int n = 1; n <= modemCount(); ++n)
        if (modemLink(n).inService()) return modemLink(n);
    return firstModem();
}

bool everyPathDown() {
    for (int n = 1; n <= modemCount(); ++n) {
        const ModemLink& link = modemLink(n);
        if (modemCount() == 1 ? !link.portHungUp() : !link.isDown()) return false;
    }
    return true;
}

std::string pathStateText(const ModemLink& link) {
    if (link.isRetired()) return "SIM refused";
    if (link.isDown()) return "path down";
    if (link.portHungUp()) return link.wasStarted() ? "port hung up" : "not in service yet";
    if (!link.wasStarted()) return "not in service yet";
    if (link.signalWasRead() && link.signal() == 0) return "no usable signal";
    return "in service";
}

void pathLost(ModemLink& link, const std::string& why) {
    if (modemCount() == 1) giveUpForReinit();
    if (!link.down().exchange(true)) {
        const std::string line = link.named("path down (" + why + ")");
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        notify(kNotifySignal);  // the window and the status show the path's state
        if (!everyPathDown()) raiseTechAlarm(link.number());
    }
    if (everyPathDown()) giveUpForReinit();
}

void pathBack(ModemLink& link) {
    // A retired SIM stays down whatever its modem answers.
    if (link.retired().load() || !link.down().exchange(false)) return;
    const std::string line = link.named("path back in service");
    fileLog(line);
    windowLog(nullptr, line, kColorGreen);
    notify(kNotifySignal);
}

}  // namespace gsms

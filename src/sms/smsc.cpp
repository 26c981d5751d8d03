#include "sms/smsc.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/log.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "platform/ini_file.h"
#include "sms/sms_submit.h"

namespace gsms {

void parseSmsc(ModemLink& link, std::string_view value) {
    ModemState& s = link.state();
    std::string pieces[2];
    int found = 0;
    std::size_t i = 0;
    while (i < value.size() && found < 2) {
        while (i < value.size() && (value[i] == '"' || value[i] == ',')) ++i;
        std::size_t start = i;
        while (i < value.size() && value[i] != '"' && value[i] != ',') ++i;
        if (i > start) pieces[found++] = std::string(value.substr(start, i - start));
    }
    std::snprintf(s.smscNumber, sizeof s.smscNumber, "%s", found > 0 ? pieces[0].c_str() : "");
    if (found > 1) s.smscType = ini::parseInt(pieces[1]);
}

void readSmsc(ModemLink& link) {
    ModemState& s = link.state();
    s.smscNumber[0] = '\0';
    s.event(ModemEvent::Csca).reset();
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+csca", "?\r");
    if (s.event(ModemEvent::Csca).wait(5000) != 0) return;
    parseSmsc(link, s.csca());
    // The OK behind the +CSCA line is still on its way; taken here, it cannot end the next
    // exchange's wait early.
    (void)waitOk(link, 1000);
}

int updateSmsc(ModemLink& link) {
    ModemState& s = link.state();
    // The same judge as for every destination: nothing else may reach the AT line.
    const std::string number = dialableNumber(s.smscNumber);
    if (number.empty()) {
        const std::string line = link.named("ERROR changing the SMSC to " +
                                            shownNumber(s.smscNumber) + ": not a phone number");
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        return -1;
    }
    if (link.port().load() == nullptr) return -1;
    std::lock_guard lock(link.modemLock());
    char argument[160];
    std::snprintf(argument, sizeof argument, "=\"%s\",%d\r", number.c_str(), s.smscType.load());
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+csca", argument);
    if (waitOk(link, 2000) != 0) return -1;
    const std::string updated = link.named("SMSC parameters updated");
    fileLog(updated);
    windowLog(nullptr, updated, kColorGrey);
    readSmsc(link);
    char line[256];
    std::snprintf(line, sizeof line, "New SMSC parameters : '%s' [%d]", s.smscNumber,
                  s.smscType.load());
    fileLog(link.named(line));
    windowLog(nullptr, link.named(line), kColorGrey);
    return 0;
}

}  // namespace gsms

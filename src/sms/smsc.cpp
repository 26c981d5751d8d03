#include "sms/smsc.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/log.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/ini_file.h"
#include "sms/sms_submit.h"

namespace gsms {

void parseSmsc(std::string_view value) {
    ModemState& s = modemState();
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

void readSmsc() {
    ModemState& s = modemState();
    s.smscNumber[0] = '\0';
    s.event(ModemEvent::Csca).reset();
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand("at+csca", "?\r");
    if (s.event(ModemEvent::Csca).wait(5000) != 0) return;
    parseSmsc(s.csca());
    // The OK behind the +CSCA line is still on its way; taken here, it cannot end the next
    // exchange's wait early.
    (void)waitOk(1000);
}

int updateSmsc() {
    ModemState& s = modemState();
    // The same judge as for every destination: nothing else may reach the AT line.
    const std::string number = dialableNumber(s.smscNumber);
    if (number.empty()) {
        const std::string line =
            "ERROR changing the SMSC to " + shownNumber(s.smscNumber) + ": not a phone number";
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        return -1;
    }
    if (serialPortRef().load() == nullptr) return -1;
    std::lock_guard lock(modemLock());
    char argument[160];
    std::snprintf(argument, sizeof argument, "=\"%s\",%d\r", number.c_str(), s.smscType.load());
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand("at+csca", argument);
    if (waitOk(2000) != 0) return -1;
    fileLog("SMSC parameters updated");
    windowLog(nullptr, "SMSC parameters updated", kColorGrey);
    readSmsc();
    char line[256];
    std::snprintf(line, sizeof line, "New SMSC parameters : '%s' [%d]", s.smscNumber,
                  s.smscType.load());
    fileLog(line);
    windowLog(nullptr, line, kColorGrey);
    return 0;
}

}  // namespace gsms

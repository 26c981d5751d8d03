#include "gateway/modem_start.h"

#include <cstdio>

#include "core/log.h"
#include "modem/modem_init.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "sms/smsc.h"
#include "sms/tech_alarm.h"

namespace gsms {

int startModem(std::string& message) { return startModem(modemTextsFromSettings(), message); }

int startModem(const ModemTexts& texts, std::string& message) {
    bool notFound = false;
    const int failure = initModem(texts, message, notFound);
    if (notFound) raiseTechAlarm();
    if (failure != 0) return failure;

    clock::sleepMs(500);
    readSmsc();
    // Which service centre the modem uses is the first thing to check when SMS do not arrive.
    char line[200];
    std::snprintf(line, sizeof line, "SMSC %s type %d", modemState().smscNumber,
                  modemState().smscType.load());
    fileLog(line);
    return 0;
}

}  // namespace gsms

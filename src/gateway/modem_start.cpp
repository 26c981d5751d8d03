#include "gateway/modem_start.h"

#include <cstdio>

#include "core/log.h"
#include "modem/modem_init.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "sms/smsc.h"
#include "sms/tech_alarm.h"

namespace gsms {

int startModem(ModemLink& link, std::string& message) {
    return startModem(link, modemTextsFromSettings(), message);
}

int startModem(ModemLink& link, const ModemTexts& texts, std::string& message) {
    bool notFound = false;
    const int failure = initModem(link, texts, message, notFound);
    if (notFound) raiseTechAlarm(link.number());
    if (failure != 0) return failure;

    clock::sleepMs(500);
    readSmsc(link);
    // Which service centre the modem uses is the first thing to check when SMS do not arrive.
    char line[200];
    std::snprintf(line, sizeof line, "SMSC %s type %d", link.state().smscNumber,
                  link.state().smscType.load());
    fileLog(link.named(line));
    return 0;
}

}  // namespace gsms

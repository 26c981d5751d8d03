#include "sms/sms_submit.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/log.h"
#include "engine/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

constexpr std::size_t kNumberSize = 64;
constexpr std::size_t kTextSize = 2048;

bool promptShown(ModemState& s) {
    return s.lineBuffer[0].load() == '>' && s.lineBuffer[1].load() == ' ';
}

}  // namespace

int sendSms(const char* number, const char* text, int flash) {
    if (number == nullptr) number = "";
    if (text == nullptr) text = "";
    if (serialPortRef().load() == nullptr) {
        fileLog("sendSms: the modem is not ready yet");
        return -1;
    }
    // Working copies: the number without its spaces, the text cut to MaxMsgLength.
    std::string digits;
    for (const char* p = number; *p != '\0'; ++p)
        if (*p != ' ') digits.push_back(*p);
    if (digits.size() > 59) {
        fileLog("sendSms: ERROR: phone number too long: " + digits.substr(0, 80));
        return -1;
    }
    std::size_t textLength = std::strlen(text);
    if (textLength > kTextSize - 1) {
        fileLog("sendSms: ERROR: message text longer than 2047 characters refused");
        return -1;
    }

    std::lock_guard lock(modemLock());
    ModemState& s = modemState();
    clock::sleepMs(50);

    s.event(ModemEvent::Ok).reset();
    (void)sendCommand("at+csmp", flash > 0 ? "=17,167,0,16\r" : "=17,167,0,0\r");
    if (waitOk(5000) != 0) {
        fileLog("Timed-out waiting for modem response [0]");
        return -1;
    }

    int maxLength = settings().maxMsgLength.load();
    if (maxLength < 0) maxLength = 0;
    std::size_t length = textLength < static_cast<std::size_t>(maxLength)
                             ? textLength
                             : static_cast<std::size_t>(maxLength);
    std::size_t partSize = 160;
    for (std::size_t i = 0; i < length && partSize == 160; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) partSize = 140;
    if (length == 0) return 0;

    char argument[kNumberSize];
    std::snprintf(argument, sizeof argument, "=\"%s\"\r", digits.c_str());
    for (std::size_t offset = 0; offset < length; offset += partSize) {
        std::size_t part = length - offset < partSize ? length - offset : partSize;
        (void)sendCommand("at+cmgs", argument);
        int polls = 0;
        while (!promptShown(s)) {
            if (polls++ == 50) {
                fileLog("Timed-out waiting for modem response [1]");
                return -1;
            }
            clock::sleepMs(100);
        }
        for (std::size_t i = 0; i < part; ++i) {
            unsigned char byte = latin1ToGsm[static_cast<unsigned char>(text[offset + i])];
            (void)writeRaw(&byte, 1);
        }
        s.event(ModemEvent::Ok).reset();
        s.event(ModemEvent::Error).reset();
        const unsigned char ctrlZ = 0x1A;
        (void)writeRaw(&ctrlZ, 1);
        if (waitOkOrError(30000) != 0) {
            fileLog("Timed-out waiting for modem response [2]");
            return -1;
        }
    }
    return 0;
}

}  // namespace gsms

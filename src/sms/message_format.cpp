#include "sms/message_format.h"

#include <atomic>
#include <string>

#include "core/log.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"

namespace gsms {

int setMessageFormat(ModemLink& link, int format) {
    ModemState& s = link.state();
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand(link, "at+cmgf", format == 0 ? "=0\r" : "=1\r");
    return waitOkOrError(link, 5000);
}

void restoreTextMode(ModemLink& link, std::int64_t resyncMs) {
    std::atomic<bool>& named = link.stuckInPduNamed();
    bool back = setMessageFormat(link, 1) == 0;
    if (!back) {
        std::string heard;
        (void)resynchronise(link, resyncMs, heard);
        back = setMessageFormat(link, 1) == 0;
    }
    if (back) {
        named = false;
    } else if (!named.exchange(true)) {
        const std::string line =
            link.named("ERROR: the modem did not return to text mode (at+cmgf=1)");
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
    }
}

}  // namespace gsms

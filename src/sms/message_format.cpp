#include "sms/message_format.h"

#include <atomic>
#include <string>

#include "core/log.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"

namespace gsms {

int setMessageFormat(int format) {
    ModemState& s = modemState();
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand("at+cmgf", format == 0 ? "=0\r" : "=1\r");
    return waitOkOrError(5000);
}

void restoreTextMode(std::int64_t resyncMs) {
    static std::atomic<bool> named{false};
    bool back = setMessageFormat(1) == 0;
    if (!back) {
        std::string heard;
        (void)resynchronise(resyncMs, heard);
        back = setMessageFormat(1) == 0;
    }
    if (back) {
        named = false;
    } else if (!named.exchange(true)) {
        const std::string line = "ERROR: the modem did not return to text mode (at+cmgf=1)";
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
    }
}

}  // namespace gsms

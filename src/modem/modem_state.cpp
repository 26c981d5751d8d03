#include "modem/modem_state.h"

#include "core/activity.h"
#include "core/log.h"

namespace gsms {

void ModemState::clearCapture() {
    std::lock_guard lock(captureMutex);
    captureBuffer.clear();
}

std::string ModemState::capture() {
    std::lock_guard lock(captureMutex);
    return captureBuffer;
}

std::string ModemState::lockedText(const char* text) {
    std::lock_guard lock(textMutex);
    return text;
}

std::string ModemState::cmgl() { return lockedText(cmglText); }
std::string ModemState::csca() { return lockedText(cscaText); }
std::string ModemState::cpin() { return lockedText(cpinText); }
std::string ModemState::lastError() { return lockedText(errorText); }

// Never destroyed: the InputThread uses it until the process ends.
ModemState& modemState() {
    static ModemState* state = new ModemState;
    return *state;
}

std::atomic<SerialPort*>& serialPortRef() {
    static std::atomic<SerialPort*> port{nullptr};
    return port;
}

void notePortLost() {
    // The flag before the line, so that the status its notification brings shows the loss.
    if (setPortHungUp(true)) return;
    fileLog("modem port hung up");
    windowLog(nullptr, "modem port hung up", kColorRed);
}

}  // namespace gsms

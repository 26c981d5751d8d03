#include "modem/modem_state.h"

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

}  // namespace gsms

// The system's event log beside the daily log, for what an administrator looks for there: the
// failures (the window's red lines), the start and the stop of the gateway, a fatal stop. On
// Windows the Application log, source "Velkora GSMS" (registered with its messages by
// `gsmsd --install-service`, service_manager.h); elsewhere nothing: systemd's journal takes
// gsmsd's console lines with their priority.
//
// Thread safety: openEventLog once, on the main thread before the engine starts; reportEvent
// from any thread, also while the caller holds modemLock or the listing lock (it takes no lock
// of the gateway's). Nothing is written before openEventLog.
#pragma once

#include <string_view>

namespace gsms {

// The source the entries carry.
constexpr const char* kEventSource = "Velkora GSMS";

enum class EventKind { Error, Warning, Information };

void openEventLog();
// One entry; a text that is not written (no event log, a full one) is lost: the daily log
// has it.
void reportEvent(EventKind kind, std::string_view text);

}  // namespace gsms

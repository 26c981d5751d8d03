// POSIX: no event log of its own; the journal takes the console lines (platform/console.h).
#include "platform/event_log.h"

namespace gsms {

void openEventLog() {}

void reportEvent(EventKind, std::string_view) {}

}  // namespace gsms

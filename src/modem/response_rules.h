// The classifier of complete modem lines: one const table of rules, read top to bottom in the
// capture mode the commanding thread has switched on (listCapture, responseCapture or
// neither), says what becomes of each line: captured, ignored, stored as a value of the
// ModemState or taken as one of its events.
//
// Thread contract: classifyLine runs on the InputThread alone (a test calls it from its own
// thread in the InputThread's place); what it writes, and under which lock, modem_state.h says.
#pragma once

#include <string_view>

#include "modem/modem_state.h"

namespace gsms {

// Classifies one complete line by the rule table (response_rules.cpp): logs it, then captures
// it, stores its value or sets its event. "ERROR", "+CMS ERROR" and "+CME ERROR" are failures:
// errorText takes the line and Error is set.
void classifyLine(ModemState& state, std::string_view line);

}  // namespace gsms

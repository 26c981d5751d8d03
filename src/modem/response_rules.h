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
//
// The daily log takes the line as loggedLine shows it (the PIN masked, NUL as "@"). A line
// that may carry an SMS's own text (under smsText: a text-mode listing's line other than a
// +CMGL:/+CMGR: header, a final result or the command's echo; a text-mode submission's echo
// other than its +CMGS: result) is logged as `SMS text: "<line>"`, so that no text can pass
// for a line of the gateway's own.
void classifyLine(ModemState& state, std::string_view line);

// Logs a further piece of an overlong line (shown: already masked), marked as above while
// smsText is on.
void logContinuation(const ModemState& state, std::string_view shown);

}  // namespace gsms

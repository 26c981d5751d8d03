// The InputThread: reads the modem's port byte by byte for ever, feeds its LineAssembler and
// hands each outcome on (deliver): a line to the classifier (response_rules.h), a piece of an
// overlong line to the log, the prompt to its event. Every byte goes to the raw trace as well,
// the PIN masked, when "tevrak.log" exists.
//
// Thread contract: inputThread is the InputThread's routine, started once per modem link by the
// engine; deliver and rawTrace run on it (a test calls them from its own thread in its place).
#pragma once

#include "modem/line_assembler.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"

namespace gsms {

// Appends one byte to "tevrak.log" in the current directory, only when that file exists.
void rawTrace(unsigned char byte);

// Hands the assembler's outcome on: a Line to the classifier, a Continuation to the log only,
// a Prompt to the Prompt event.
void deliver(ModemState& state, LineAssembler::Fed fed, const LineAssembler& assembler);

// The InputThread routine of `link`: reads its port byte by byte for ever. While the port is
// gone it pauses 100 ms between reads; the loss is noted with the link's notePortLost.
[[noreturn]] void inputThread(ModemLink& link);

}  // namespace gsms

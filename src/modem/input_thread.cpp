#include "modem/input_thread.h"

#include <string_view>

#include "core/activity.h"
#include "core/log.h"
#include "modem/pin_mask.h"
#include "modem/response_rules.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "platform/serial_port.h"

namespace gsms {

void rawTrace(unsigned char byte) {
    // The trace is switched on by creating the file.
    (void)files::append("tevrak.log", std::string_view(reinterpret_cast<const char*>(&byte), 1),
                        files::IfMissing::Skip);
}

void deliver(ModemState& s, LineAssembler::Fed fed, const LineAssembler& assembler) {
    switch (fed) {
        case LineAssembler::Fed::NeedMore: return;
        case LineAssembler::Fed::Line: classifyLine(s, assembler.line()); return;
        case LineAssembler::Fed::Continuation: logContinuation(s, assembler.shown()); return;
        case LineAssembler::Fed::Prompt: s.event(ModemEvent::Prompt).set(); return;
    }
}

void inputThread(ModemLink& link) {
    ModemState& s = link.state();
    LineAssembler assembler;
    PinMask traceMask;
    for (;;) {
        beat(Heart::Reader);
        SerialPort* port = link.port().load();
        unsigned char byte = 0;
        const int n = port != nullptr ? port->read(&byte, 1) : 0;
        if (n < 0) {
            // Gone (unplugged, its pseudo-terminal closed, or closed until it opens again):
            // every read fails at once, so pause rather than spin. The LinkThread opens it
            // again; a line begun before the loss ends with it.
            link.notePortLost();
            assembler = LineAssembler();
            clock::pauseRealMs(100);
            continue;
        }
        if (n == 0) {
            clock::sleepMs(1);
            continue;
        }
        s.bytesIn.fetch_add(1, std::memory_order_relaxed);
        rawTrace(traceMask.feed(byte));
        const LineAssembler::Fed fed = assembler.feed(byte);
        deliver(s, fed, assembler);
    }
}

}  // namespace gsms

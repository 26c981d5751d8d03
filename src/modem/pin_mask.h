// Keeps the SIM PIN out of the logs and the raw trace. The PIN travels as "at+cpin=\"<PIN>\""
// and comes back in the modem's echo; what follows "+CPIN=" (any letter case) up to the line
// end shows as '*', quotes and commas kept, one '*' per byte so the trace keeps its length:
// at+cpin="4711" is logged as at+cpin="****". Answers ("+CPIN: SIM PIN") and queries
// ("at+cpin?") pass unchanged.
// Thread safety: a PinMask belongs to one stream (one thread); maskPin is a pure function.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gsms {

// Byte-fed, for a stream that arrives in pieces (the raw trace, the command writer).
class PinMask {
public:
    // The byte to show in place of `byte`.
    unsigned char feed(unsigned char byte);

private:
    std::size_t matched_ = 0;  // bytes of "+CPIN=" seen so far
    bool masking_ = false;
};

// One whole line, masked.
std::string maskPin(std::string_view line);

}  // namespace gsms

// The SIM PIN as it travels: in the modem's echo, in the raw trace, in a failed write.
#include "modem/pin_mask.h"

#include <gtest/gtest.h>

namespace gsms {
namespace {

TEST(PinMask, LinesShowThePinMasked) {
    struct Case {
        const char* label;
        const char* line;
        const char* shown;
    } cases[] = {
        {"echo of our command", "at+cpin=\"4711\"", "at+cpin=\"****\""},
        {"echo with CapitalizeCommands", "AT+CPIN=\"4711\"", "AT+CPIN=\"****\""},
        {"PUK and new PIN", "at+cpin=\"12345678\",\"4711\"", "at+cpin=\"********\",\"****\""},
        {"a modem that drops the quotes", "at+cpin=4711", "at+cpin=****"},
        {"a doubled plus still starts the command", "at++cpin=1", "at++cpin=*"},
        {"the query is no PIN", "at+cpin?", "at+cpin?"},
        {"nor is the answer", "+CPIN: SIM PIN", "+CPIN: SIM PIN"},
        {"nor another command", "at+cops=0,0", "at+cops=0,0"},
    };
    for (const Case& c : cases) EXPECT_EQ(maskPin(c.line), c.shown) << c.label;
}

// The PIN goes out in a write of its own after "at+cpin=\"", and the trace gets single bytes.
TEST(PinMask, StreamsAreMaskedAcrossPiecesUpToTheLineEnd) {
    PinMask mask;
    std::string shown;
    for (const char* piece : {"at+cpin=\"", "4711\"\r", "\r\nOK\r\nat+cpin?\r"})
        for (const char* p = piece; *p; ++p)
            shown.push_back(static_cast<char>(mask.feed(static_cast<unsigned char>(*p))));
    EXPECT_EQ(shown, "at+cpin=\"****\"\r\r\nOK\r\nat+cpin?\r");
}

}  // namespace
}  // namespace gsms

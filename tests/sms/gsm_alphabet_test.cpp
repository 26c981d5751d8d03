#include "sms/gsm_alphabet.h"

#include <gtest/gtest.h>

namespace gsms {
namespace {

TEST(GsmAlphabet, Latin1ToGsmExamples) {
    struct {
        std::uint8_t latin, gsm;
    } cases[] = {{0x40, 0x00}, {0xA3, 0x01}, {0x24, 0x02}, {0xA5, 0x03}, {0x5F, 0x11},
                 {0xA4, 0x24}, {0xA7, 0x5F}, {0xBF, 0x60}, {0xC4, 0x5B}, {0xE4, 0x7B},
                 {0xE0, 0x7F}, {0xE9, 0x05}, {'A', 'A'},   {'z', 'z'},   {'0', '0'},
                 {0x0A, 0x0A}, {0x0D, 0x0D}, {0xA1, 0x20}, {0x5B, 0x20}, {0x5C, 0x20},
                 {0x5D, 0x20}, {0x5E, 0x20}, {0x60, 0x20}, {0x7B, 0x20}, {0x7C, 0x20},
                 {0x7D, 0x20}, {0x7E, 0x20}, {0x7F, 0x20}, {0x09, 0x20}, {0x85, 0x20},
                 {0xE7, 0x20}};
    for (auto c : cases) EXPECT_EQ(latin1ToGsm[c.latin], c.gsm) << std::hex << int(c.latin);
}

TEST(GsmAlphabet, GsmToLatin1Examples) {
    EXPECT_EQ(gsmToLatin1[0x7D], 0xF1);  // n with tilde
    EXPECT_EQ(gsmToLatin1[0x10], 0x20);  // Greek capital delta
    EXPECT_EQ(gsmToLatin1[0x1B], 0x20);  // escape
    EXPECT_EQ(gsmToLatin1[0x40], 0x20);  // inverted exclamation mark
    EXPECT_EQ(gsmToLatin1[0x00], 0x40);
    EXPECT_EQ(gsmToLatin1[0x04], 0xE8);
    EXPECT_EQ(gsmToLatin1[0x80], 0x20);
    EXPECT_EQ(gsmToLatin1['a'], 'a');
}

TEST(GsmAlphabet, EveryMappedCharacterComesBack) {
    for (int c = 0; c < 256; ++c) {
        std::uint8_t g = latin1ToGsm[c];
        if (g != 0x20) {
            EXPECT_EQ(gsmToLatin1[g], c) << c;
        }
        EXPECT_LT(g, 0x80) << c;
    }
}

}  // namespace
}  // namespace gsms

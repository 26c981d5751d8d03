// How outside text is shown: one line, valid UTF-8, nothing that can pose as something else.
#include <gtest/gtest.h>

#include "platform/text_encoding.h"

namespace gsms::text {
namespace {

TEST(ShownText, EscapesWhatBreaksOrTurnsALineAndKeepsTheRest) {
    const struct {
        std::string in, shown;
    } rows[] = {
        {"Po\xC5\xBE\xC3\xA1r \xE2\x82\xAC" "5 \xF0\x9F\x94\xA5", "Po\xC5\xBE\xC3\xA1r \xE2\x82\xAC" "5 \xF0\x9F\x94\xA5"},
        {"status?\n01:12:23 'UNLOCK' command\r\n", "status?\\n01:12:23 'UNLOCK' command\\r\\n"},
        {"a\tb\x1B[31m\x7F", "a\\tb\\x1B[31m\\x7F"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"C:\\Alarm\\n.sms", "C:\\Alarm\\n.sms"},  // a backslash is no escape of its own
        {"Gr\xFC\xDF" "e", "Gr\\xFC\\xDFe"},          // ISO 8859-1 bytes are not UTF-8
        {"cut \xC3", "cut \\xC3"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},          // a lone surrogate
        {"\xC0\xAF", "\\xC0\\xAF"},                   // an overlong slash
        {"next\xC2\x85line \xE2\x80\xA8 sep", "next\\u0085line \\u2028 sep"},
        {"+49 \xE2\x80\xAE" "1234", "+49 \\u202E1234"},  // a right-to-left override
    };
    for (const auto& r : rows) {
        EXPECT_EQ(shownText(r.in), r.shown) << r.in;
        EXPECT_EQ(shownText(r.shown), r.shown) << "shown twice: " << r.in;
    }
}

TEST(ShownText, HeadsNeverEndInsideACharacter) {
    const std::string euro = "ab\xE2\x82\xAC";
    const std::size_t heads[] = {0, 1, 2, 2, 2, 5, 5};
    for (std::size_t max = 0; max < std::size(heads); ++max)
        EXPECT_EQ(utf8HeadBytes(euro, max), heads[max]) << max;
    EXPECT_EQ(utf8HeadBytes("\xFF\xFE", 1), 1u);  // a malformed byte is a character of its own
}

}  // namespace
}  // namespace gsms::text

// The simulator's SMS-DELIVER encoder: it gives the published PDUs for their content, and the
// gateway's decoder reads back what it encodes, each written without the other.
#include "pdu_encoder.h"

#include <cctype>

#include <gtest/gtest.h>

#include "json_records.h"
#include "sms/sms_deliver.h"

namespace gsms::sim {
namespace {

// Upper case, as the published PDUs are written.
std::string hex(const std::string& bytes) {
    std::string out = toHex(bytes);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

TEST(PduEncoder, PublishedPdus) {
    struct Case {
        const char* label;
        DeliverPlan plan;
        const char* tpdu;
    } cases[] = {
        {"oFono simple_deliver",
         {"+31641600986", Coding::Gsm7, latin1ToGsmCodes("How are you?"), 0, 0, 0,
          "02/08/26,19:37:41-04"},
         "040B911346610089F60000208062917314480CC8F71D14969741F977FD07"},
        {"oFono alnum_sender",
         {"sipgate", Coding::Gsm7, latin1ToGsmCodes("Testmail"), 0, 0, 0,
          "08/08/13,12:07:22+04"},
         "040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_EQ(hex(encodeDeliver(c.plan, why)), c.tpdu) << c.label << why;
    }
    EXPECT_EQ(hex(serviceCentreAddress("+31624000000")), "07911326040000F0");
}

TEST(PduEncoder, DecoderReadsWhatItEncodes) {
    struct Case {
        const char* label;
        DeliverPlan plan;
        std::string sender;
        std::string text;
    } cases[] = {
        {"national number, extension table",
         {"01701234567", Coding::Gsm7, latin1ToGsmCodes("[a|b] {c} ~^\\ @"), 0, 0, 0, "26/01/01,00:00:00+00"},
         "01701234567", "[a|b] {c} ~^\\ @"},
        {"UCS-2, a character outside ISO 8859-1",
         {"+4930", Coding::Ucs2, std::string("\x00\xE4\x04\x16\x00!", 6), 0, 0, 0, ""},
         "+4930", "äЖ!"},
        {"part 2 of 3, 8-bit reference: the text after the header's fill bits",
         {"Bank", Coding::Gsm7, latin1ToGsmCodes("Teil zwei"), 200, 3, 2, ""}, "Bank",
         "Teil zwei"},
        {"part 1 of 2, 16-bit reference",
         {"+4930", Coding::Gsm7, latin1ToGsmCodes(std::string(152, 'x')), 4660, 2, 1, ""},
         "+4930", std::string(152, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::string why;
        const std::string tpdu = encodeDeliver(c.plan, why);
        ASSERT_FALSE(tpdu.empty()) << why;
        DeliverMessage m;
        ASSERT_EQ(decodeDeliver(hex(tpdu), static_cast<int>(tpdu.size()), m, why), 0) << why;
        EXPECT_EQ(m.sender, c.sender);
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.part.total, c.plan.total);
        EXPECT_EQ(m.part.sequence, c.plan.sequence);
        EXPECT_EQ(m.part.reference, c.plan.reference);
        EXPECT_EQ(m.part.wide, c.plan.reference > 255);
    }
    std::string why;
    EXPECT_TRUE(encodeDeliver({"+49", Coding::Gsm7, std::string(161, 'x'), 0, 0, 0, ""}, why).empty());
    EXPECT_EQ(why, "text too long for one message");
}

}  // namespace
}  // namespace gsms::sim

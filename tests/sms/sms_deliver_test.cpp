// The SMS-DELIVER decoder on real PDUs: published test PDUs of TS 23.040 decoders and PDUs that
// modems listed, each labelled with where it comes from; then hostile ones.
#include "sms/sms_deliver.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

struct Case {
    const char* label;
    const char* pdu;  // as a modem lists it: service centre address first
    int length;       // the PDU's length without that address, as +CMGL announces it
    std::string sender;
    std::string text;  // UTF-8
    MessagePart part;
};

// oFono unit/test-sms.c: simple_deliver, alnum_sender, simple_mwi, assembly_pdu1..3.
// python-messaging messaging/test: test_sms.py (TestSmsDeliver) and test_wap.py, PDUs its
// authors took from modems in Spain, Germany, Italy and the UK.
const Case kCases[] = {
    {"oFono simple_deliver: 7-bit, international sender",
     "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07", 30,
     "+31641600986", "How are you?", {}},
    {"oFono alnum_sender: alphanumeric sender 'sipgate'",
     "0791447758100650040DD0F334FC1CA6970100008080312170224008D4F29CDE0EA7D9", 27, "sipgate",
     "Testmail", {}},
    {"python-messaging, FONIC (O2 Germany): alphanumeric sender of odd length",
     "07919471060040340409D0C6A733390400009060920173018093CC74595C96838C4F6772085AD6DDE4320B"
     "444E9741D4B03C6D7EC3E9E9B71B9474D3CB727799DEA286CFE5B9991DA6CBC3F432E85E9793CBA0F09A9E"
     "B6A7CB72BA0B9474D3CB727799DE72D6E9FABAFB0CBAA7E56490BA4CD7D34170F91BE4ACD3F575F7794E0F"
     "9F4161F1B92C2F8FD1EE32DD054AA2E520E3D3991C82A8E5701B",
     147, "FONIC",
     "Lieber FONIC Kunde, die Tarifoption Internet-Tagesflatrate wurde aktiviert. "
     "Internet-Nutzung wird jetzt pro Nutzungstag abgerechnet. Ihr FONIC Team",
     {}},
    {"python-messaging, TIM Italy: alphanumeric sender of even length",
     "07919333852804000412D0F7FBDD454FB75D693A0000903002801153402BCD301E9F0605D9E971191483C1"
     "40412A35690D52832063D2F9040599A058EE05A3BD6430580E",
     60, "www.tim.it", "Maxxi Alice 100 ATTIVATA FINO AL 19/04/2009", {}},
    {"python-messaging, Spain: UCS-2 text outside ISO 8859-1",
     "07914306073011F0040B914316709807F2000880604290224080084E2D5174901A8BAF", 27,
     "+34610789702", "中兴通讯", {}},
    {"python-messaging, UK: 7-bit text beginning with blanks",
     "0791447758100650040C914497716247010000909010711423400A2050EC468B81C4733A", 28,
     "+447917267410", "  1741 bst", {}},
    {"python-messaging, Vodafone Germany part 1 of 2: header, euro sign from the extension table",
     "07919471227210244405852122F039F101506271217180A005000319020198E9B2B82C0759DFE4B0F9ED2EB7"
     "967537B9CC02B5D37450122D2FCB41EE303DFD7687D96537881A96A7CD6F383DFD7683F46134BBEC064DD3"
     "6550DA0D22A7CBF3721BE42CD3F5A0198B56036DCA20B8FC0D6A0A4170767D0EAAE540433A082E7F83A6E5"
     "F93CFD76BB40D7B2DB0D9AA6CB2072BA3C2F83926EF31BE44E8FD17450BB8C9683CA",
     156, "12220",
     "Lieber Vodafone-Kunde, mit Ihrer nationalen Tarifoption zahlen Sie in diesem Netz 3,45 € "
     "pro MB plus 59 Ct pro Session. Wenn Sie diese Info nicht mehr e",
     {25, 2, 1, false}},
    {"python-messaging, Vodafone Germany part 2 of 2: umlauts and sharp s",
     "07919471227210244405852122F039F1015062712181804F050003190202E4E8309B5E7683DAFC319A5E76B3"
     "40F73D9A5D7683A6E93268FD9ED3CB6EF67B0E5AD172B19B2C2693C9602E90355D6683A6F0B007946E8382"
     "F5393BEC26BB00",
     86, "12220", "rhalten möchten, wählen Sie kostenlos +4917212220. Viel Spaß im Ausland.",
     {25, 2, 2, false}},
    {"oFono assembly_pdu1: UCS-2 (Russian) part 1 of 3, 8-bit reference",
     "038121F340048155550119906041001222048C0500031E0301041804420430043A002C00200410043B0435043A"
     "04410430043D04340440002000200441043B044304480430043B00200437043000200434043204350440044C"
     "044E0020002004380020002004320441043500200431043E043B044C044804350020043F04400435043804410"
     "43F043E043B043D044F043B0441044F002000200433043D0435",
     155, "5555", "Итак, Александр  слушал за дверью  и  все больше преисполнялся  гне",
     {0x1E, 3, 1, false}},
    {"oFono assembly_pdu2: part 2 of 3, a line break inside",
     "038121F340048155550119906041001222048C0500031E03020432043E043C002E000A041D0430043A043E043D"
     "04350446002C0020043D043500200432002004410438043B04300445002004340430043B0435043500200442"
     "04350440043F04350442044C002C0020043E043D00200441044204400435043C043804420435043B044C043D"
     "043E002004320431043504360430043B002004320020043A043E",
     155, "5555", "вом.\nНаконец, не в силах далее терпеть, он стремительно вбежал в ко",
     {0x1E, 3, 2, false}},
    {"oFono assembly_pdu3: part 3 of 3",
     "038121F340048155550119906041001222044A0500031E0303043C043D043004420443002C0020043F043E0437"
     "04300431044B0432000A0434043004360435002C002004470442043E002000200431044B043B0020043D0430"
     "0433002E",
     89, "5555", "мнату, позабыв\nдаже, что  был наг.", {0x1E, 3, 3, false}},
    {"python-messaging test_wap, O2 UK MMS notice part 1 of 2: 8-bit, 16-bit reference, ports",
     "0791447758100650400E80885810000000810004016082415464408C0C08049F8E020105040B8423F0010622"
     "6170706C69636174696F6E2F766E642E7761702E6D6D732D6D65737361676500AF848C82984E4F4B354369"
     "4B636F544D595347344D4253774141734B7631344655484141414141414141008D908919802B3434373738"
     "353334323734392F545950453D504C4D4E008A808E0274008805810301194083687474703A2F",
     160, "88850100000018",
     "\x01\x06\"application/vnd.wap.mms-message\xC2\xAF\xC2\x84\xC2\x8C\xC2\x82\xC2\x98NOK5Ci"
     "KcoTMYSG4MBSwAAsKv14FUHAAAAAAAA\xC2\x8D\xC2\x90\xC2\x89\x19\xC2\x80+447785342749/TYPE=PLMN"
     "\xC2\x8A\xC2\x80\xC2\x8E\x02t\xC2\x88\x05\xC2\x81\x03\x01\x19@\xC2\x83http:/",
     {40846, 2, 1, true}},
    {"python-messaging test_wap, O2 UK MMS notice part 2 of 2",
     "0791447758100650440E8088581000000081000401608241547440440C08049F8E020205040B8423F02F7072"
     "6F6D6D732F736572766C6574732F4E4F4B3543694B636F544D595347344D4253774141734B763134465548"
     "414141414141414100",
     88, "88850100000018", "/promms/servlets/NOK5CiKcoTMYSG4MBSwAAsKv14FUHAAAAAAAA",
     {40846, 2, 2, true}},
    {"oFono simple_mwi: message waiting group (discard), no text",
     "07913366002020F8040B913366600600F100C83180706174148000", 19, "+33660660001", "", {}},
    {"a modem that lists no service centre address (oFono simple_deliver without it)",
     "040B911346610089F60000208062917314480CC8F71D14969741F977FD07", 30, "+31641600986",
     "How are you?", {}},
    // Encoded by python3-gammu (gammu.EncodePDU, layout Deliver); the shift tables' rows with a
    // user-data header gammu packs, their codes written in the default alphabet.
    {"gammu: 7-bit, euro sign and brackets from the extension table",
     "0791947101670000000A919471103254000062219070032100105079393D07D53665D086F75E6F7C", 32,
     "+4917012345", "Preis 5€ [ok]", {}},
    {"gammu: UCS-2 Cyrillic",
     "0791947101670000000B919761214365F700086221907003210016041F04400438043204350442002C0020043C"
     "04380440", 41, "+79161234567", "Привет, мир", {}},
    {"gammu: UCS-2, an emoji as a surrogate pair",
     "0791947101670000000A919471103254000862219070032100200041006C00610072006D0020D83DDD250020"
     "00480061006C006C006500200032", 50, "+4917012345", "Alarm 🔥 Halle 2", {}},
    {"the emoji's low surrogate changed by hand to '!': a lone surrogate",
     "0791947101670000000A919471103254000862219070032100200041006C00610072006D0020D83D00210020"
     "00480061006C006C006500200032", 50, "+4917012345", "Alarm \uFFFD! Halle 2", {}},
    {"gammu: Turkish locking shift (IEI 25, language 1), codes 07 0C 1D",
     "0791947101670000400C91093512325476000062219070032100080325010138303A", 26, "+905321234567",
     "ığş", {}},
    {"gammu: Portuguese locking shift (language 3)",
     "0791947101670000400C915391214365870000622190700321000F0325010348BACD6F793B9CD8BF01", 33,
     "+351912345678", "Informação", {}},
    {"by hand (gammu decodes it as escapes): Turkish single shift (IEI 24), 1B69 1B67 1B73",
     "0791947101670000400C910935123254760000622190700321000B03240101D8A437E7CD1C", 29,
     "+905321234567", "ığş", {}},
};

TEST(SmsDeliver, RealPdus) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        DeliverMessage m;
        std::string why;
        ASSERT_EQ(decodeDeliver(c.pdu, c.length, m, why), 0) << why;
        EXPECT_EQ(m.sender, c.sender);
        EXPECT_EQ(m.text, c.text);
        EXPECT_EQ(m.part.reference, c.part.reference);
        EXPECT_EQ(m.part.total, c.part.total);
        EXPECT_EQ(m.part.sequence, c.part.sequence);
        EXPECT_EQ(m.part.wide, c.part.wide);
    }
}

TEST(SmsDeliver, RefusedPdus) {
    struct Refused {
        const char* label;
        const char* pdu;
        int length;
        const char* why;
    } cases[] = {
        {"python-messaging test_sms.py: a status report (SMS-STATUS-REPORT)",
         "07914306073011F006270B913426565711F7012081111345400120811174054043", 25,
         "not a received message (SMS-DELIVER)"},
        {"a listing whose length disagrees with the PDU",
         "07911326040000F0040B911346610089F60000208062917314480CC8F71D14969741F977FD07", 29,
         "38 octets, the listing announces 29 and a service centre address"},
        {"user data length 12 septets with only 5 octets of data",
         "00040B911346610089F60000208062917314480CC8F71D1496", 24,
         "user data shorter than its length"},
        {"user data length 200 septets", "00040B911346610089F6000020806291731448C8", 19,
         "user data length 200 beyond the maximum"},
        {"8-bit user data length 141 octets", "00040B911346610089F6000420806291731448" "8D",
         19, "user data length 141 beyond the maximum"},
        {"header length 9 in 4 octets of user data",
         "0044" "0B911346610089F6" "0004" "20806291731448" "04" "09000302", 23,
         "user data header longer than the user data"},
        {"header element running past the header",
         "0044" "0B911346610089F6" "0004" "20806291731448" "05" "04000701" "02", 24,
         "broken user data header"},
        {"7-bit header filling every septet of the user data",
         "0044" "0B911346610089F6" "0000" "20806291731448" "01" "00", 20,
         "user data header longer than the user data"},
        {"sender of 21 digits", "000415911346610089F6", 9, "sender address too long"},
        {"cut inside the sender", "00040B9113466100", 7, "cut inside the sender"},
        {"cut before the user data", "00040B911346610089F6000020", 12,
         "cut before the user data"},
        {"oFono simple_submit: a submission, as a modem stores sent messages",
         "0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 23,
         "not a received message (SMS-DELIVER)"},
        {"compressed text", "00040B911346610089F60020208062917314480100", 20,
         "compressed text"},
        {"not hexadecimal", "00040B911346610089F6000020806291731448GG", 20,
         "not an even count of hexadecimal digits"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.label);
        DeliverMessage m;
        std::string why;
        EXPECT_EQ(decodeDeliver(c.pdu, c.length, m, why), -1);
        EXPECT_EQ(why, c.why);
    }
    // python-messaging test_sms.py: the FONIC PDU without its last digit.
    const std::string fonic = kCases[2].pdu;
    DeliverMessage m;
    std::string why;
    EXPECT_EQ(decodeDeliver(fonic.substr(0, fonic.size() - 1), kCases[2].length, m, why), -1);
    EXPECT_EQ(why, "not an even count of hexadecimal digits");
}

// Every cut and every changed octet of the real PDUs is decoded or refused, never read beyond
// its end (the sanitizer builds would stop at the first stray read).
TEST(SmsDeliver, CutAndCorruptedPdusStayInBounds) {
    std::mt19937 random(14);
    int decoded = 0;
    for (const Case& c : kCases) {
        const std::string pdu = c.pdu;
        const int sca = std::stoi(pdu.substr(0, 2), nullptr, 16);
        for (std::size_t cut = 0; cut <= pdu.size(); cut += 2) {
            const int octets = static_cast<int>(cut / 2);
            // Announced both ways, so that the length check lets the cut PDU through.
            for (int length : {octets, octets - 1 - sca}) {
                DeliverMessage m;
                std::string why;
                decoded += decodeDeliver(pdu.substr(0, cut), length, m, why) == 0;
            }
        }
        for (int round = 0; round < 400; ++round) {
            std::string changed = pdu;
            const std::size_t at = random() % (changed.size() / 2) * 2;
            static constexpr char kHex[] = "0123456789ABCDEF";
            changed[at] = kHex[random() % 16];
            changed[at + 1] = kHex[random() % 16];
            DeliverMessage m;
            std::string why;
            decoded += decodeDeliver(changed, c.length, m, why) == 0;
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(SmsDeliver, DefaultAlphabetWithItsExtensionTable) {
    struct Row {
        const char* label;
        std::string codes;
        std::string utf8;
        int locking = kGsmDefault;
        int single = kGsmDefault;
    } rows[] = {
        {"the extension table", "\x1B\x14\x1B\x28\x1B\x29\x1B\x2F\x1B\x3C\x1B\x3D\x1B\x3E\x1B\x40", "^{}\\[~]|"},
        {"euro sign and page break", "5\x1B\x65 \x1B\x0A", "5€ \f"},
        {"an escape before another code: that code from the default table", std::string("\x1B\x41\x1B\x00", 4),
         "A@"},
        {"an escape at the end, two escapes", "x\x1B\x1B" "y\x1B", "x y "},
        {"@ is code 0, n with tilde 0x7D, a Greek capital, not a code",
         std::string("a\0b", 3) + "\x7D\x10\x80", "a@bñΔ\uFFFD"},
        {"Spanish single shift; no Spanish locking table: the default one", "\x1B\x61\x1B\x09\x7D",
         "áçñ", kGsmSpanish, kGsmSpanish},
        {"Hindi locking shift, its single shift: Devanagari digits", "\x15\x1B\x1C\x1B\x1D", "क०१",
         kGsmHindi, kGsmHindi},
        {"Urdu locking shift", std::string("\x00\x04", 2), "اڀ", kGsmUrdu},
        {"a reserved place of Tamil's locking shift table", std::string(1, '\0'), "\uFFFD", kGsmTamil},
        {"an unknown language: the default tables", "\x07\x1B\x69", "ìi", 14, 99},
    };
    for (const Row& r : rows) EXPECT_EQ(gsmToUtf8(r.codes, r.locking, r.single), r.utf8) << r.label;
}

}  // namespace
}  // namespace gsms

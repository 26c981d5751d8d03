#include "sms/sms_submit.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "platform/text_encoding.h"
#include "pdu_submit.h"
#include "sms/scripted_modem.h"
#include "sms/sms_coding.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

using test::modem;

class SendSms : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clear();
        modem().noPrompt = false;
        modem().failPart = -1;
        resetSettingsForTest();
        settings().maxMsgLength = 800;
    }
    test::TempDir dir;
    std::string dailyLog() { return test::readFile(dailyLogPath(clock::localNow())); }
    std::vector<std::size_t> partSizes() {
        std::vector<std::size_t> out;
        for (const auto& p : modem().parts()) out.push_back(p.size());
        return out;
    }
};

TEST_F(SendSms, SpacesRemovedFromTheNumber) {
    ASSERT_EQ(sendSms(firstModem(), "+49 170 123 45", "hi", 0), 0);
    auto cmds = modem().commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "at+csmp=17,167,0,0");
    EXPECT_EQ(cmds[1], "at+cmgs=\"+4917012345\"");
    EXPECT_EQ(modem().parts(), std::vector<std::string>{"hi"});
}

TEST_F(SendSms, FlashSelectsClassZero) {
    ASSERT_EQ(sendSms(firstModem(), "1", "x", 1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,16");
    modem().clear();
    ASSERT_EQ(sendSms(firstModem(), "1", "x", -1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,0");
}

TEST_F(SendSms, PartSizes) {
    ASSERT_EQ(sendSms(firstModem(), "1", std::string(160, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160}));
    modem().clear();
    ASSERT_EQ(sendSms(firstModem(), "1", std::string(161, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 1}));
    modem().clear();
    const std::string accented = std::string(10, 'a') + "\u00E9" + std::string(139, 'a');
    ASSERT_EQ(sendSms(firstModem(), "1", accented.c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{140, 10}));
    EXPECT_EQ(modem().parts()[0][10], '\x05');
    modem().clear();
    ASSERT_EQ(sendSms(firstModem(), "1", std::string(1000, 'b').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160, 160, 160, 160}));
}

TEST_F(SendSms, EmptyTextOrZeroLengthSendsOnlyParameters) {
    ASSERT_EQ(sendSms(firstModem(), "1", "", 0), 0);
    EXPECT_EQ(modem().commands().size(), 1u);
    settings().maxMsgLength = -5;
    ASSERT_EQ(sendSms(firstModem(), "1", "text", 0), 0);
    EXPECT_EQ(modem().commands().size(), 2u);
    EXPECT_TRUE(modem().parts().empty());
}

TEST_F(SendSms, TextIsWrittenInTheGsmAlphabet) {
    ASSERT_EQ(sendSms(firstModem(), "1", "@[~\r\n", 0), 0);
    EXPECT_EQ(modem().parts()[0], std::string("\x00  \r\n", 5));
}

TEST_F(SendSms, SecondOfThreePartsFails) {
    modem().failPart = 1;
    const std::uint64_t taken = tallied(Tally::PartSent);
    EXPECT_EQ(sendSms(firstModem(), "1", std::string(400, 'c').c_str(), 0), -1);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160}));
    EXPECT_EQ(tallied(Tally::PartSent), taken + 1);  // the first part went out
    // The refusal ends the submission at once; the modem is back on a clean line before the
    // lock goes.
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at+csmp=17,167,0,0", "at+cmgs=\"1\"", "at+cmgs=\"1\"",
                                        "at", "at+cmgf?"}));
    EXPECT_NE(dailyLog().find(" Refused by the modem [2]: ERROR\n"), std::string::npos);
}

TEST_F(SendSms, RefusedDestinationFailsWithoutWaitingForThePrompt) {
    modem().setReply("at+cmgs=\"1\"", "\r\n+CMS ERROR: 304\r\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sendSms(firstModem(), "1", "x", 0), -1);
    modem().clearReplies();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(modem().commands(), (std::vector<std::string>{"at+csmp=17,167,0,0",
                                                            "at+cmgs=\"1\"", "at", "at+cmgf?"}));
    EXPECT_NE(dailyLog().find(" Refused by the modem [1]: +CMS ERROR: 304\n"), std::string::npos);
}

TEST_F(SendSms, OversizedInputIsRefusedBeforeTheModem) {
    EXPECT_EQ(sendSms(firstModem(), std::string(60, '1').c_str(), "x", 0), -1);
    EXPECT_EQ(sendSms(firstModem(), "1", std::string(2048, 'x').c_str(), 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    EXPECT_EQ(sendSms(firstModem(), ("+1 " + std::string(19, '2')).c_str(), "", 0), 0);
}

// Text mode gets what ISO 8859-1 has; the rest as its plain form, else "?", and then the
// GSM table as ever (an a with acute, which the alphabet lacks, is a blank).
TEST_F(SendSms, TextModeFoldsWhatIso88591Lacks) {
    struct Case {
        const char* utf8;
        std::string latin1;  // foldToLatin1
        std::string gsm;     // what reaches the modem
    } const cases[] = {
        {"Požár v hale 3 – Größe €5 Ωmega", "Poz\xE1r v hale 3 - Gr\xF6\xDF" "e ?5 ?mega",
         "Poz r v hale 3 - Gr\x7C\x1E" "e ?5 ?mega"},
        {"„Łódź“ ‘x’ … ™", "\"L\xF3" "dz\" 'x' ... TM", "\"L dz\" 'x' ... TM"},
        {"Œuvre ș ț ǎ ﬁ 😀", "OEuvre s t a ? ?", "OEuvre s t a ? ?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(foldToLatin1(c.utf8), c.latin1);
        modem().clear();
        ASSERT_EQ(sendSms(firstModem(), "1", c.utf8, 0), 0);
        EXPECT_EQ(modem().parts(), std::vector<std::string>{c.gsm});
    }
}

// The lines gammu_decode.py prints for PDU lines, decoded by python3-gammu.
std::vector<std::vector<std::string>> gammuDecoded(const std::vector<std::string>& lines) {
    test::writeFile("pdus.txt", [&] {
        std::string all;
        for (const auto& l : lines) all += l + "\n";
        return all;
    }());
    const std::string command =
        std::string("/usr/bin/python3 ") + GSMS_TESTS_DIR + "/sms/gammu_decode.py < pdus.txt";
    std::vector<std::vector<std::string>> out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, p) != nullptr) {
        std::vector<std::string> fields;
        std::stringstream line(std::string(buf).substr(0, std::strlen(buf) - 1));
        for (std::string f; std::getline(line, f, '\t');) fields.push_back(f);
        out.push_back(fields);
    }
    EXPECT_EQ(::pclose(p), 0) << "python3-gammu refused a PDU (scripts/setup.sh installs it)";
    return out;
}

std::string utf8Hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) out += {digits[c >> 4], digits[c & 15]};
    return out;
}

// PDU mode: the alphabet and the parts a text takes, each PDU read back by two decoders that
// share nothing with the encoder (the simulator's and gammu's): every character arrives, the
// parts join to the text, class 0 for flash, 24 hours of validity.
TEST(SmsCoding, AlphabetAndPartsAsTwoIndependentDecodersReadThem) {
    test::TempDir dir;
    const std::string x160(160, 'x'), u70 = [] {
        std::string s;
        for (int i = 0; i < 70; ++i) s += "ž";
        return s;
    }();
    struct Case {
        const char* label;
        std::string text;
        std::string number;
        bool flash;
        const char* alphabet;
        std::vector<int> units;  // septets or UCS-2 units per part
    } const cases[] = {
        {"7 bits, euro and brackets from the extension table", "Größe €5 [Ω] {ok} ~|^\\",
         "+4917012345", false, "gsm7", {31}},
        {"one letter outside the alphabet: UCS-2", "Požár v hale 3 – Größe €5 Ωmega", "0170123",
         true, "ucs2", {31}},
        {"exactly 160 septets: one SMS", x160, "0170123456", false, "gsm7", {160}},
        {"161 septets: 153 and 8", x160 + "y", "+49170", false, "gsm7", {153, 8}},
        {"an escaped euro is not cut in two", std::string(152, 'a') + "€" + std::string(10, 'b'),
         "+49170", false, "gsm7", {152, 12}},
        {"exactly 70 UCS-2 units: one SMS", u70, "+49170", false, "ucs2", {70}},
        {"71 UCS-2 units: 67 and 4", u70 + "š", "+49170", false, "ucs2", {67, 4}},
        {"a surrogate pair is not cut in two", u70.substr(0, 66 * 2) + "😀" + u70.substr(0, 10),
         "+49170", false, "ucs2", {66, 7}},
    };
    const std::uint8_t reference = 201;
    std::vector<std::string> lines;
    std::vector<std::size_t> firstLine;
    for (const Case& c : cases) {
        firstLine.push_back(lines.size());
        const std::u32string chars = text::codePoints(c.text);
        const SmsSplit split = splitSms(chars);
        std::vector<int> units;
        for (const auto& p : split.parts) units.push_back(p.units);
        EXPECT_EQ(units, c.units) << c.label;
        for (const std::string& tpdu : submitTpdus(c.number, chars, c.flash, reference))
            lines.push_back(pduLine(tpdu));
    }
    const auto byGammu = gammuDecoded(lines);
    ASSERT_EQ(byGammu.size(), lines.size());
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        SCOPED_TRACE(c.label);
        std::string joinedBySim, joinedByGammu;
        const std::size_t parts = c.units.size();
        for (std::size_t p = 0; p < parts; ++p) {
            const std::string& line = lines[firstLine[k] + p];
            const std::vector<std::string>& g = byGammu[firstLine[k] + p];
            sim::DecodedSubmit d;
            std::string why;
            ASSERT_TRUE(sim::decodeSubmit(line, static_cast<int>(line.size() / 2 - 1), d, why))
                << why;
            EXPECT_EQ(d.to, c.number);
            EXPECT_EQ(d.alphabet, c.alphabet);
            EXPECT_EQ(d.messageClass, c.flash ? 0 : -1);
            EXPECT_EQ(d.validity, 167);
            EXPECT_EQ(d.total, parts > 1 ? static_cast<int>(parts) : 0);
            if (parts > 1) {
                EXPECT_EQ(d.reference, reference);
                EXPECT_EQ(d.sequence, static_cast<int>(p + 1));
            }
            joinedBySim += d.text;

            ASSERT_EQ(g.size(), 8u);
            EXPECT_EQ(g[0], c.number);
            EXPECT_EQ(g[1], std::string(c.alphabet) == "gsm7" ? "Default_No_Compression"
                                                              : "Unicode_No_Compression");
            EXPECT_EQ(g[2], c.flash ? "0" : "-1");
            EXPECT_EQ(g[3], "1440M");  // 24 hours
            if (parts > 1) {
                EXPECT_EQ(g[4], std::to_string(reference));
                EXPECT_EQ(g[5], std::to_string(p + 1));
                EXPECT_EQ(g[6], std::to_string(parts));
            }
            joinedByGammu += g[7];
        }
        EXPECT_EQ(joinedBySim, c.text);
        EXPECT_EQ(joinedByGammu, utf8Hex(c.text));
    }
}

// The PDU-mode dialogue: PDU mode for the submission, each part its length and its PDU line,
// text mode again before the lock goes; a modem without PDU mode gets the text in text mode.
TEST_F(SendSms, PduModeDialogue) {
    settings().smsCoding = 1;
    const std::string text = std::string(160, 'a') + "b";
    ASSERT_EQ(sendSms(firstModem(), "+49 170", text.c_str(), 1), 0);
    const auto tpdus = submitTpdus("+49170", text::codePoints(text), true, 0);
    ASSERT_EQ(tpdus.size(), 2u);
    const auto parts = modem().parts();
    ASSERT_EQ(parts.size(), 2u);
    sim::DecodedSubmit first, second;
    std::string why;
    ASSERT_TRUE(sim::decodeSubmit(parts[0], static_cast<int>(tpdus[0].size()), first, why)) << why;
    ASSERT_TRUE(sim::decodeSubmit(parts[1], static_cast<int>(tpdus[1].size()), second, why)) << why;
    EXPECT_EQ(first.text + second.text, text);
    EXPECT_EQ(first.reference, second.reference);
    EXPECT_EQ(second.messageClass, 0);
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at+cmgf=0", "at+cmgs=" + std::to_string(tpdus[0].size()),
                                        "at+cmgs=" + std::to_string(tpdus[1].size()),
                                        "at+cmgf=1"}));

    modem().clear();
    modem().setReply("at+cmgf=0", "\r\nERROR\r\n");
    EXPECT_EQ(sendSms(firstModem(), "1", "Ωmega", 0), 0);
    modem().clearReplies();
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at+cmgf=0", "at+csmp=17,167,0,0", "at+cmgs=\"1\""}));
    EXPECT_EQ(modem().parts(), std::vector<std::string>{"?mega"});
    EXPECT_NE(dailyLog().find(" SMS are sent in text mode: the modem refuses PDU mode\n"),
              std::string::npos);

    modem().clear();
    modem().failPart = 0;
    EXPECT_EQ(sendSms(firstModem(), "1", "x", 0), -1);
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{
                  "at+cmgf=0",
                  "at+cmgs=" + std::to_string(submitTpdus("1", U"x", false, 0)[0].size()), "at",
                  "at+cmgf?", "at+cmgf=1"}));
}

TEST(PhoneNumber, OnlyAPhoneNumberIsDialable) {
    struct Case {
        const char* label;
        std::string typed;
        std::string dialable;  // "" when refused
    } cases[] = {
        {"international with blanks", "+49 170 123 45", "+4917012345"},
        {"national, tab between groups", "0170\t555", "0170555"},
        {"service code with * and #", "*100#", "*100#"},
        {"20 digits after the plus", "+" + std::string(20, '9'), "+" + std::string(20, '9')},
        {"21 digits", std::string(21, '9'), ""},
        {"empty", "", ""},
        {"a plus alone", "+", ""},
        {"blanks only", "   ", ""},
        {"a plus inside", "49+170", ""},
        {"two plus signs", "++49", ""},
        {"a CR and a command behind it", "+4940\rAT+CFUN=0;+CSCA=\"+4917\"", ""},
        {"a quote and a chained command", "+4940\";+CFUN=0;\"", ""},
        {"a LF", "+4940\n", ""},
        {"letters", "0170 CALL ME", ""},
        {"a NUL cuts nothing in", std::string("+49\0" "1", 4), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(dialableNumber(c.typed), c.dialable) << c.label;
    EXPECT_EQ(shownNumber("+4940\rAT\x7f"), "+4940\\rAT\\x7F");
}

TEST_F(SendSms, NumberWithACommandInItIsRefusedInBothLogs) {
    resetLogQueueForTest();
    setNotifier([](int) {});
    EXPECT_EQ(sendSms(firstModem(), "+4940\rAT+CFUN=0", "x", 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    const std::string line = "ERROR sending to +4940\\rAT+CFUN=0: not a phone number";
    auto shown = takeLogLine();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->text.ends_with(" " + line)) << shown->text;
    EXPECT_EQ(shown->colour, kColorRed);
    EXPECT_NE(dailyLog().find(" " + line + "\n"), std::string::npos);
    resetLogQueueForTest();
}

}  // namespace
}  // namespace gsms

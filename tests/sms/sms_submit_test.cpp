#include "sms/sms_submit.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "sms/scripted_modem.h"
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
    ASSERT_EQ(sendSms("+49 170 123 45", "hi", 0), 0);
    auto cmds = modem().commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "at+csmp=17,167,0,0");
    EXPECT_EQ(cmds[1], "at+cmgs=\"+4917012345\"");
    EXPECT_EQ(modem().parts(), std::vector<std::string>{"hi"});
}

TEST_F(SendSms, FlashSelectsClassZero) {
    ASSERT_EQ(sendSms("1", "x", 1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,16");
    modem().clear();
    ASSERT_EQ(sendSms("1", "x", -1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,0");
}

TEST_F(SendSms, PartSizes) {
    ASSERT_EQ(sendSms("1", std::string(160, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160}));
    modem().clear();
    ASSERT_EQ(sendSms("1", std::string(161, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 1}));
    modem().clear();
    std::string accented(150, 'a');
    accented[10] = static_cast<char>(0xE9);
    ASSERT_EQ(sendSms("1", accented.c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{140, 10}));
    EXPECT_EQ(modem().parts()[0][10], '\x05');
    modem().clear();
    ASSERT_EQ(sendSms("1", std::string(1000, 'b').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160, 160, 160, 160}));
}

TEST_F(SendSms, EmptyTextOrZeroLengthSendsOnlyParameters) {
    ASSERT_EQ(sendSms("1", "", 0), 0);
    EXPECT_EQ(modem().commands().size(), 1u);
    settings().maxMsgLength = -5;
    ASSERT_EQ(sendSms("1", "text", 0), 0);
    EXPECT_EQ(modem().commands().size(), 2u);
    EXPECT_TRUE(modem().parts().empty());
}

TEST_F(SendSms, TextIsWrittenInTheGsmAlphabet) {
    ASSERT_EQ(sendSms("1", "@[~\r\n", 0), 0);
    EXPECT_EQ(modem().parts()[0], std::string("\x00  \r\n", 5));
}

TEST_F(SendSms, SecondOfThreePartsFails) {
    modem().failPart = 1;
    const std::uint64_t taken = tallied(Tally::PartSent);
    EXPECT_EQ(sendSms("1", std::string(400, 'c').c_str(), 0), -1);
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
    EXPECT_EQ(sendSms("1", "x", 0), -1);
    modem().clearReplies();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(modem().commands(), (std::vector<std::string>{"at+csmp=17,167,0,0",
                                                            "at+cmgs=\"1\"", "at", "at+cmgf?"}));
    EXPECT_NE(dailyLog().find(" Refused by the modem [1]: +CMS ERROR: 304\n"), std::string::npos);
}

TEST_F(SendSms, OversizedInputIsRefusedBeforeTheModem) {
    EXPECT_EQ(sendSms(std::string(60, '1').c_str(), "x", 0), -1);
    EXPECT_EQ(sendSms("1", std::string(2048, 'x').c_str(), 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    EXPECT_EQ(sendSms(("+1 " + std::string(19, '2')).c_str(), "", 0), 0);
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
    EXPECT_EQ(shownNumber("+4940\rAT\x7f"), "+4940\\x0DAT\\x7F");
}

TEST_F(SendSms, NumberWithACommandInItIsRefusedInBothLogs) {
    resetLogQueueForTest();
    setNotifier([](int) {});
    EXPECT_EQ(sendSms("+4940\rAT+CFUN=0", "x", 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    const std::string line = "ERROR sending to +4940\\x0DAT+CFUN=0: not a phone number";
    auto shown = takeLogLine();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->text.ends_with(" " + line)) << shown->text;
    EXPECT_EQ(shown->colour, kColorRed);
    EXPECT_NE(dailyLog().find(" " + line + "\n"), std::string::npos);
    resetLogQueueForTest();
}

}  // namespace
}  // namespace gsms

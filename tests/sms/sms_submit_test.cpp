#include "sms/sms_submit.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "engine/settings.h"
#include "modem/modem_state.h"
#include "modem/serial_port.h"
#include "sms/scripted_modem.h"

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
    EXPECT_EQ(sendSms("1", std::string(400, 'c').c_str(), 0), -1);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160}));
}

TEST_F(SendSms, OversizedInputIsRefusedBeforeTheModem) {
    EXPECT_EQ(sendSms(std::string(60, '1').c_str(), "x", 0), -1);
    EXPECT_EQ(sendSms("1", std::string(2048, 'x').c_str(), 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    EXPECT_EQ(sendSms(("1 " + std::string(58, '2')).c_str(), "", 0), 0);
}

}  // namespace
}  // namespace gsms

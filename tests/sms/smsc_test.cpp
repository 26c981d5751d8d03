#include "sms/smsc.h"

#include <gtest/gtest.h>

#include <chrono>

#include "core/log.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "sms/scripted_modem.h"

namespace gsms {
namespace {

using test::modem;

class Smsc : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clear();
        resetSettingsForTest();
        modem().cscaWriteError = false;
        modem().setCscaAnswer("+CSCA: \"+491710760000\",145");
        std::snprintf(modemState().smscNumber, sizeof modemState().smscNumber, "+4917222");
        resetLogQueueForTest();
        setNotifier([](int) {});
    }
    void TearDown() override { resetLogQueueForTest(); }
    std::vector<std::string> windowLines() {
        std::vector<std::string> out;
        while (auto l = takeLogLine()) out.push_back(l->text.substr(20));  // drop the stamp
        return out;
    }
};

TEST_F(Smsc, UpdateWritesQuotedNumberWithTypeThenReadsBack) {
    ModemState& s = modemState();
    std::snprintf(s.smscNumber, sizeof s.smscNumber, "+491710760000");
    s.smscType = 145;
    ASSERT_EQ(updateSmsc(firstModem()), 0);
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at+csca=\"+491710760000\",145", "at+csca?"}));
    EXPECT_EQ(windowLines(), (std::vector<std::string>{
                                 "SMSC parameters updated",
                                 "New SMSC parameters : '+491710760000' [145]"}));
}

TEST_F(Smsc, ErrorToTheWriteGivesMinusOneAfterTwoSecondsAndNoLine) {
    modem().cscaWriteError = true;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(updateSmsc(firstModem()), -1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
    EXPECT_TRUE(windowLines().empty());
}

TEST_F(Smsc, NumberThatIsNotOneNeverReachesTheModem) {
    ModemState& s = modemState();
    std::snprintf(s.smscNumber, sizeof s.smscNumber, "+4917\r+CFUN=0");
    EXPECT_EQ(updateSmsc(firstModem()), -1);
    EXPECT_TRUE(modem().commands().empty());
    EXPECT_EQ(windowLines(), std::vector<std::string>{
                                 "ERROR changing the SMSC to +4917\\r+CFUN=0: not a phone number"});
}

TEST_F(Smsc, AnswerWithoutCommaLeavesTheType) {
    ModemState& s = modemState();
    s.smscType = 129;
    modem().setCscaAnswer("+CSCA: \"+4917\"");
    {
        std::lock_guard lock(firstModem().modemLock());
        readSmsc(firstModem());
    }
    EXPECT_STREQ(s.smscNumber, "+4917");
    EXPECT_EQ(s.smscType, 129);
}

TEST(SmscParse, PiecesAndEmptyAnswer) {
    ModemState& s = modemState();
    parseSmsc(firstModem(), "\"+49171\",145");
    EXPECT_STREQ(s.smscNumber, "+49171");
    EXPECT_EQ(s.smscType, 145);
    parseSmsc(firstModem(), "");
    EXPECT_STREQ(s.smscNumber, "");
    EXPECT_EQ(s.smscType, 145);
}

}  // namespace
}  // namespace gsms

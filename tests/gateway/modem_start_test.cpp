#include "gateway/modem_start.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/log.h"
#include "core/settings.h"
#include "gateway/engine.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "sms/scripted_modem.h"

namespace gsms {
namespace {

using test::modem;

class ModemInit : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clear();
        modem().setInfoAnswer("at+cpin?", "+CPIN: READY");
        modem().setInfoAnswer("at+cfun?", "+CFUN: 1");
        modem().setInfoAnswer("at+cmgf?", "+CMGF: 1");
        modem().setCscaAnswer("+CSCA: \"+491710760000\",145");
        resetSettingsForTest();
        std::snprintf(settings().portName, sizeof settings().portName, "/dev/ttyGSM0");
    }
    void TearDown() override { resetSettingsForTest(); }
};

TEST_F(ModemInit, ReadyModemInTextModeNeedsNoWakeUpNoPinNoCmgf) {
    std::snprintf(settings().pin, sizeof settings().pin, "1234");
    std::string message;
    ASSERT_EQ(startModem(firstModem(), message), 0) << message;
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at", "at+cpin?", "at+cfun?", "at+cops=0,0", "at+cmgf?",
                                        "at+cscs=\"GSM\"", "at+csca?"}));
    EXPECT_STREQ(modemState().smscNumber, "+491710760000");
    EXPECT_EQ(modemState().smscType, 145);
}

TEST_F(ModemInit, PinAskedWithoutConfiguredPinStops) {
    modem().setInfoAnswer("at+cpin?", "+CPIN: SIM PIN");
    std::string message;
    EXPECT_EQ(startModem(firstModem(), message), kExitRestart);
    EXPECT_EQ(message, "** init_gsms ** ERROR: PIN not entered.");
}

// The SIM's tries are spent only on the PIN it asks for, and a refusal is not tried again.
TEST_F(ModemInit, LockedSimOrRefusedPinStopsForGood) {
    std::snprintf(settings().pin, sizeof settings().pin, "1234");
    struct Case {
        const char* cpin;
        const char* pinReply;  // "" when no PIN may be sent
        const char* message;
    } cases[] = {
        {"+CPIN: SIM PUK", "", "** init_gsms ** ERROR: SIM locked (SIM PUK): enter the PUK in a phone"},
        {"+CPIN: PH-SIM PIN", "",
         "** init_gsms ** ERROR: SIM locked (PH-SIM PIN): the gateway enters only the SIM PIN"},
        {"+CPIN: SIM PIN", "\r\n+CME ERROR: 16\r\n", "** init_gsms ** ERROR: PIN refused by the SIM"},
    };
    for (const Case& c : cases) {
        modem().clear();
        modem().setInfoAnswer("at+cpin?", c.cpin);
        modem().setReply("at+cpin=\"1234\"", c.pinReply);
        std::string message;
        EXPECT_EQ(startModem(firstModem(), message), kExitSimLocked) << c.cpin;
        EXPECT_EQ(message, c.message);
        const auto cmds = modem().commands();
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "at+cpin=\"1234\""), *c.pinReply ? 1 : 0)
            << c.cpin;
    }
    modem().clearReplies();
}

TEST_F(ModemInit, PinSentInTwoPartsCapitalisedAndCfunErrorAccepted) {
    modem().setInfoAnswer("at+cpin?", "+CPIN: SIM PIN");
    modem().setInfoAnswer("AT+CPIN?", "+CPIN: SIM PIN");
    modem().setInfoAnswer("AT+CFUN?", "ERROR");
    modem().setInfoAnswer("AT+CMGF?", "+CMGF: 0");
    settings().capitalizeCommands = 1;
    std::snprintf(settings().pin, sizeof settings().pin, "1234");
    std::string message;
    ASSERT_EQ(startModem(firstModem(), message), 0) << message;
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"AT", "AT+CPIN?", "AT+CPIN=\"1234\"", "AT+CFUN?",
                                        "AT+COPS=0,0", "AT+CMGF?", "AT+CMGF=1",
                                        "AT+CSCS=\"GSM\"", "AT+CSCA?"}));
}

}  // namespace
}  // namespace gsms

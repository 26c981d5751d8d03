#include "modem/modem_init.h"

#include <gtest/gtest.h>

#include "engine/log.h"
#include "engine/settings.h"
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
    ASSERT_EQ(initModem(message), 0) << message;
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"at", "at+cpin?", "at+cfun?", "at+cops=0,0", "at+cmgf?",
                                        "at+cscs=\"GSM\"", "at+csca?"}));
    EXPECT_STREQ(modemState().smscNumber, "+491710760000");
    EXPECT_EQ(modemState().smscType, 145);
}

TEST_F(ModemInit, PinAskedWithoutConfiguredPinStops) {
    modem().setInfoAnswer("at+cpin?", "+CPIN: SIM PIN");
    std::string message;
    EXPECT_EQ(initModem(message), -1);
    EXPECT_EQ(message, "** init_gsms ** ERROR: PIN not entered.");
}

TEST_F(ModemInit, PinSentInTwoPartsCapitalisedAndCfunErrorAccepted) {
    modem().setInfoAnswer("at+cpin?", "+CPIN: SIM PIN");
    modem().setInfoAnswer("AT+CPIN?", "+CPIN: SIM PIN");
    modem().setInfoAnswer("AT+CFUN?", "ERROR");
    modem().setInfoAnswer("AT+CMGF?", "+CMGF: 0");
    settings().capitalizeCommands = 1;
    std::snprintf(settings().pin, sizeof settings().pin, "1234");
    std::string message;
    ASSERT_EQ(initModem(message), 0) << message;
    EXPECT_EQ(modem().commands(),
              (std::vector<std::string>{"AT", "AT+CPIN?", "AT+CPIN=\"1234\"", "AT+CFUN?",
                                        "AT+COPS=0,0", "AT+CMGF?", "AT+CMGF=1",
                                        "AT+CSCS=\"GSM\"", "AT+CSCA?"}));
}

}  // namespace
}  // namespace gsms

// What the operator window's dialogs take in, apart from any toolkit: the Qt window and the
// Win32 window both store exactly this.
#include "frontend/window_forms.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

TEST(WindowForms, NumbersAreReadLikeTheDialogsAlwaysDid) {
    struct Case {
        const char* text;
        bool allowSign;
        std::optional<long long> value;
    } cases[] = {
        {" 42 ", false, 42},
        {"-7", true, -7},
        {"+7", true, 7},
        {"-7", false, {}},
        {"", true, {}},
        {"4 2", false, {}},
        {"99999999999", false, {}},
        {"4294967295", false, 4294967295LL},
        {"-", true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseInteger(c.text, c.allowSign), c.value);
    }
    EXPECT_EQ(takeUnsignedInRange("255", 0, 255).message, "");
    EXPECT_EQ(takeUnsignedInRange("0", 0, 255).message, "");
    EXPECT_EQ(takeUnsignedInRange("256", 0, 255).message,
              "Please enter an integer between 0 and 255.");
    EXPECT_EQ(takeUnsignedInRange("x", 0, 255).message, "Please enter a positive integer.");
    EXPECT_EQ(takeSigned("2147483648").message, "Please enter an integer.");
}

TEST(WindowForms, LineBreaksCountTwoAgainstTheMessageLimit) {
    EXPECT_EQ(typedLength(u"ab"), 2);
    EXPECT_EQ(typedLength(u"a\nb"), 4);    // as the edit holds it
    EXPECT_EQ(typedLength(u"a\r\nb"), 4);  // as Windows holds it
    EXPECT_EQ(typedLength(u"\n\n"), 4);
}

TEST(WindowForms, PortModeIsSplitAndJoinedAgain) {
    struct Case {
        const char* mode;
        std::array<std::string, 4> tokens;
        const char* afterBaud19200;
    } cases[] = {
        {"96,N,8,1", {"96", "N", "8", "1"}, "19200,N,8,1"},
        {"9600,E,7,2,extra", {"9600", "E", "7", "2"}, "19200,E,7,2"},
        {"baud=9600 parity=N data=8 stop=1", {}, "19200,,,"},
        {"96,N,8", {}, "19200,,,"},
        {"96,,8,1", {}, "19200,,,"},
        {"", {}, "19200,,,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(splitPortMode(c.mode), c.tokens);
        EXPECT_EQ(joinPortMode("19200", splitPortMode(c.mode)), c.afterBaud19200);
    }
}

class SettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::strcpy(s.portName, "COM1");
        std::strcpy(s.portMode, "96,N,8,1");
        std::strcpy(s.pin, "1234");
        std::strcpy(s.number, "+491701234567");
        s.retryCount = 3;
        s.retryDelay = 60;
        s.qualityPollMs = 5000;
        s.techAlarmNbr = 8999;
        s.sleepMinAfterAlarm = 45;
    }
    GatewaySettings s;
};

TEST_F(SettingsFormTest, OpensOnTheRecordAndStoresWhatWasTyped) {
    SettingsForm form = settingsForm(s);
    EXPECT_EQ(form.baud, "96");
    EXPECT_EQ(form.parity, "N");
    EXPECT_EQ(form.refreshSeconds, "5");
    EXPECT_EQ(form.retries, "3");
    EXPECT_EQ(settingsLimits(form).baud, 63 - 6);  // room for ",N,8,1"

    form.baud = "19200";
    form.parity = "E";  // shown only: never read back
    form.refreshSeconds = "7";
    form.retries = "x";
    form.incoming = true;
    EXPECT_FALSE(form.pduCoding);
    form.pduCoding = true;
    ASSERT_EQ(applySettingsForm(form, s), 0);
    EXPECT_STREQ(s.portMode, "19200,N,8,1");
    EXPECT_EQ(s.qualityPollMs.load(), 7000);
    EXPECT_EQ(s.retryCount.load(), 0);
    EXPECT_EQ(s.incomingEnable.load(), 1);
    EXPECT_EQ(s.smsCoding.load(), 1);
    // No second modem: the port empty, the mode the first's.
    EXPECT_EQ(settingsForm(s).port2, "");
    EXPECT_EQ(settingsForm(s).mode2, "19200,N,8,1");
}

TEST_F(SettingsFormTest, TheSecondModemRoundTrips) {
    SettingsForm form = settingsForm(s);
    form.port2 = " /dev/ttyUSB1 ";
    form.mode2 = "1152,N,8,1";
    form.pin2 = "4711";
    ASSERT_EQ(applySettingsForm(form, s), 0);
    EXPECT_STREQ(s.modem2.portName, "/dev/ttyUSB1");
    EXPECT_STREQ(s.modem2.portMode, "1152,N,8,1");
    EXPECT_STREQ(s.modem2.pin, "4711");
    const SettingsForm again = settingsForm(s);
    EXPECT_EQ(again.port2, "/dev/ttyUSB1");
    EXPECT_EQ(again.mode2, "1152,N,8,1");
    EXPECT_EQ(again.pin2, "4711");
    EXPECT_EQ(settingsLimits(again).pin2, 9);
}

TEST_F(SettingsFormTest, RefusesTheFirstBadNumberAndStoresNothing) {
    struct Case {
        const char* label;
        void (*spoil)(SettingsForm&);
        int control;
        const char* message;
    } cases[] = {
        {"delay not a number", [](SettingsForm& f) { f.retryDelay = "ten"; }, 1070,
         "Please enter a positive integer."},
        {"refresh beyond the record", [](SettingsForm& f) { f.refreshSeconds = "2147484"; }, 1073,
         "Please enter a positive integer."},
        {"negative tech alarm is a number", [](SettingsForm& f) { f.techAlarm = "-1"; }, 0, ""},
        {"quiet time empty", [](SettingsForm& f) { f.quietMinutes = ""; }, 1075,
         "Please enter an integer."},
        {"two at once: the first", [](SettingsForm& f) { f.retryDelay = f.techAlarm = "?"; }, 1070,
         "Please enter a positive integer."},
        {"second modem on the first's port", [](SettingsForm& f) { f.port2 = "COM1 "; }, 1077,
         "The second modem needs a port of its own."},
        {"second modem's mode not four tokens",
         [](SettingsForm& f) { f.port2 = "COM2", f.mode2 = "9600"; }, 1078,
         "Please enter the second modem's mode as baud rate, parity, data bits and stop bits, "
         "as 96,N,8,1."},
        {"no second modem: its mode does not count", [](SettingsForm& f) { f.mode2 = "x"; }, 0,
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SettingsForm form = settingsForm(s);
        c.spoil(form);
        const FormRefusal refusal = checkSettingsForm(form);
        EXPECT_EQ(refusal.control, c.control);
        EXPECT_EQ(refusal.message, c.message);
        if (c.control != 0) {
            EXPECT_EQ(applySettingsForm(form, s), -1);
        }
    }
    EXPECT_EQ(s.retryDelay.load(), 60);
}

TEST(WindowForms, HistoryKeepsTenNumbersNewestFirst) {
    test::TempDir dir;
    setProfileDir(dir.path());
    const std::string ini = dir.path() + "/TEVRAK.INI";
    for (int k = 1; k <= 10; ++k)
        ASSERT_TRUE(
            ini::write(ini, "LastPhoneNums", std::to_string(k), "+4917000" + std::to_string(k)));
    ASSERT_TRUE(ini::write(ini, "LastPhoneNums", "3", ""));  // an empty value is left out
    const std::vector<std::string> shown = readNumberHistory();
    ASSERT_EQ(shown.size(), 9u);
    EXPECT_EQ(shown.front(), "+49170001");

    EXPECT_FALSE(rememberNumber("+49170005", shown));  // known: nothing moves
    EXPECT_EQ(ini::read(ini, "LastPhoneNums", "5").value_or(""), "+49170005");
    EXPECT_TRUE(rememberNumber("+4930123", shown));
    EXPECT_EQ(ini::read(ini, "LastPhoneNums", "1").value_or(""), "+4930123");
    EXPECT_EQ(ini::read(ini, "LastPhoneNums", "2").value_or(""), "+49170001");
    EXPECT_EQ(ini::read(ini, "LastPhoneNums", "10").value_or(""), "+49170009");
    setProfileDir("");
}

}  // namespace
}  // namespace gsms

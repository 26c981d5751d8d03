#include "core/settings_update.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

class SaveSettings : public ::testing::Test {
protected:
    void SetUp() override {
        setProfileDir(dir.path());
        resetSettingsForTest();
        resetProfileFailuresForTest();
        resetLogQueueForTest();
        setNotifier([](int) {});  // window lines stay queued for the test
        GatewaySettings& s = settings();
        std::strcpy(s.portName, "/dev/ttyUSB0");
        std::strcpy(s.portMode, "19200,N,8,1");
        std::strcpy(s.pin, "1234");
        std::strcpy(s.number, "+491701234567");
        s.retryCount = 3;
        s.retryDelay = 60;
        s.incomingEnable = 0;
        s.qualityPollMs = 7000;
        s.techAlarmNbr = 8999;
        s.sleepMinAfterAlarm = 45;
        s.smsCoding = 1;
    }
    void TearDown() override {
        resetLogQueueForTest();
        resetSettingsForTest();
        setProfileDir("");
    }
    std::string ini() const { return dir.path() + "/TEVRAK.INI"; }
    std::string stored(const char* key) const {
        return ini::read(ini(), "Config", key).value_or("<absent>");
    }
    // The keys of the file in their order.
    std::vector<std::string> keys() const {
        std::vector<std::string> out;
        std::istringstream in(test::readFile(ini()));
        std::string line;
        while (std::getline(in, line))
            if (auto eq = line.find('='); eq != std::string::npos) out.push_back(line.substr(0, eq));
        return out;
    }
    std::vector<std::string> windowLines() {
        std::vector<std::string> out;
        while (auto line = takeLogLine()) {
            EXPECT_EQ(line->colour, kColorGrey);
            out.push_back(line->text.substr(20));  // after "dd.mm.yyyy hh:mm:ss "
        }
        return out;
    }
    std::vector<std::string> fileLines() const {
        std::istringstream in(test::readFile(dir.path() + "/" + dailyLogPath(clock::localNow())));
        std::vector<std::string> out;
        std::string line;
        while (std::getline(in, line)) out.push_back(line.substr(9));  // after "hh:mm:ss "
        return out;
    }
    test::TempDir dir;
};

TEST_F(SaveSettings, WritesTheDialogsKeysInOrderAndReportsThem) {
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(keys(), (std::vector<std::string>{"Port", "Mode", "RetryCount", "RetryDelay",
                                                "IncomingEnable", "QualityPollEverySecs",
                                                "Number", "PIN", "TechAlarmNbr",
                                                "SleepMinAfterAlarm", "SmsCoding"}));
    EXPECT_EQ(stored("Port"), "/dev/ttyUSB0");
    EXPECT_EQ(stored("Mode"), "19200,N,8,1");
    EXPECT_EQ(stored("RetryCount"), "3");
    EXPECT_EQ(stored("RetryDelay"), "60");
    EXPECT_EQ(stored("IncomingEnable"), "0");
    EXPECT_EQ(stored("QualityPollEverySecs"), "7");
    EXPECT_EQ(stored("Number"), "+491701234567");
    EXPECT_EQ(stored("PIN"), "1234");
    EXPECT_EQ(stored("TechAlarmNbr"), "8999");
    EXPECT_EQ(stored("SleepMinAfterAlarm"), "45");
    EXPECT_EQ(stored("SmsCoding"), "1");

    const std::vector<std::string> report = {
        "Settings parameters updated",
        "New settings parameters :",
        "Com Port: /dev/ttyUSB0.  Com Port settings: 19200,N,8,1",
        "Phone Number: +491701234567. PIN: ****",  // the PIN itself never reaches a log
        "Retries on Errors 3 every 60 seconds",
        "Enable incoming: 0. Refresh Signal Indicator every 7 seconds",
        "Start techalarm: 8999",
        "SMS coding: 1",
    };
    EXPECT_EQ(windowLines(), report);
    EXPECT_EQ(fileLines(), report);
}

TEST_F(SaveSettings, EmptyPinAndNumberKeepWhatTheFileHas) {
    test::writeFile(ini(), "[Config]\nPIN=4711\nNumber=+4930\nWatchTimeout=4\n");
    settings().pin[0] = '\0';
    settings().number[0] = '\0';
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(stored("PIN"), "4711");
    EXPECT_EQ(stored("Number"), "+4930");
    EXPECT_EQ(stored("WatchTimeout"), "4");  // keys the dialog does not edit stay
    const auto lines = windowLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[3], "Phone Number: . PIN: ");
}

TEST_F(SaveSettings, SecondModemGoesToSectionModem2AndOnlyWhenNamed) {
    const auto modem2 = [this](const char* key) {
        return ini::read(ini(), "Modem2", key).value_or("<absent>");
    };
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(modem2("Port"), "<absent>");  // never had one: no section
    std::strcpy(settings().modem2.portName, "/dev/ttyUSB1");
    std::strcpy(settings().modem2.portMode, "96,N,8,1");
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(modem2("Port"), "/dev/ttyUSB1");
    EXPECT_EQ(modem2("Mode"), "96,N,8,1");
    EXPECT_EQ(modem2("PIN"), "<absent>");  // an empty PIN leaves what the file has
    settings().modem2 = {};
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(modem2("Port"), "");
    const auto lines = windowLines();
    ASSERT_EQ(lines.size(), 8u + 9u + 9u);
    EXPECT_EQ(lines[16],
              "Second modem: Com Port: /dev/ttyUSB1.  Com Port settings: 96,N,8,1. PIN: ");
    EXPECT_EQ(lines[25], "Second modem: none");
}

TEST_F(SaveSettings, PollIntervalIsWrittenInWholeSeconds) {
    settings().qualityPollMs = 7999;
    EXPECT_EQ(saveSettings(), 0);
    EXPECT_EQ(stored("QualityPollEverySecs"), "7");
    const auto lines = windowLines();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[5], "Enable incoming: 0. Refresh Signal Indicator every 7 seconds");
}

TEST_F(SaveSettings, AnUnwritableFileIsNamedOnceAndStillReports) {
    setProfileDir(dir.path() + "/missing/dir");
    EXPECT_EQ(saveSettings(), 0);
    const std::string named =
        "ERROR: cannot write " + dir.path() + "/missing/dir/TEVRAK.INI (No such file or directory)";
    auto first = takeLogLine();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->text.substr(20), named);
    EXPECT_EQ(first->colour, kColorRed);
    EXPECT_EQ(windowLines().size(), 8u);
    const auto lines = fileLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], named);
}

}  // namespace
}  // namespace gsms

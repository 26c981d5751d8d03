#include "sms/tech_alarm.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

class TechAlarm : public ::testing::Test {
protected:
    void SetUp() override {
        setProfileDir(dir.path());
        resetSettingsForTest();
        settings().techAlarmNbr = 8999;
        settings().sleepMinAfterAlarm = 60;
        // plasto.cmd in the current directory records each start.
        test::writeFile("plasto.cmd", "#!/bin/sh\necho \"$@\" >> alarms.txt\n");
        ::chmod("plasto.cmd", 0755);
    }
    void TearDown() override {
        clock::setWallOffsetForTest(0);
        setProfileDir("");
    }
    // Waits until the script has run `n` times in all; returns the lines seen.
    std::string alarmsAfter(std::size_t n) {
        for (int i = 0; i < 200; ++i) {
            std::string text = test::readFile("alarms.txt");
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) >= n)
                return text;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return test::readFile("alarms.txt");
    }
    std::string stamp() {
        return ini::read(dir.path() + "/TEVRAK.INI", "WatchDog", "LastAlarm").value_or("");
    }
    test::TempDir dir;
};

TEST_F(TechAlarm, NoSectionRaisesAndStamps) {
    raiseTechAlarm();
    EXPECT_EQ(alarmsAfter(1), "8999\n");
    char expected[16];
    std::snprintf(expected, sizeof expected, "%08X", static_cast<unsigned>(clock::wallSeconds()));
    EXPECT_EQ(stamp().size(), 8u);
    EXPECT_LE(std::abs(static_cast<long>(std::strtoul(stamp().c_str(), nullptr, 16)) -
                       static_cast<long>(clock::wallSeconds())), 2);
}

TEST_F(TechAlarm, QuietForFiftyNineMinutesThenRaisedAgain) {
    raiseTechAlarm();
    ASSERT_EQ(alarmsAfter(1), "8999\n");
    clock::setWallOffsetForTest(59 * 60);
    raiseTechAlarm();
    clock::setWallOffsetForTest(60 * 60);
    raiseTechAlarm();
    EXPECT_EQ(alarmsAfter(2), "8999\n8999\n");
}

TEST_F(TechAlarm, StampOfWrongLengthIsIgnoredAndOverwritten) {
    for (const char* bad : {"1234567", "123456789"}) {
        std::filesystem::remove("alarms.txt");
        ASSERT_TRUE(tevrakIni().writeString("WatchDog", "LastAlarm", bad));
        raiseTechAlarm();
        EXPECT_EQ(alarmsAfter(1), "8999\n") << bad;
        EXPECT_EQ(stamp().size(), 8u);
    }
}

TEST_F(TechAlarm, FutureStampSuppresses) {
    char future[16];
    std::snprintf(future, sizeof future, "%08X",
                  static_cast<unsigned>(clock::wallSeconds() + 3600));
    ASSERT_TRUE(tevrakIni().writeString("WatchDog", "LastAlarm", future));
    raiseTechAlarm();
    EXPECT_EQ(stamp(), future);
}

}  // namespace
}  // namespace gsms

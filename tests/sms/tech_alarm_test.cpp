#include "sms/tech_alarm.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

constexpr std::int64_t kMinute = 60;

class TechAlarm : public ::testing::Test {
protected:
    void SetUp() override {
        setProfileDir(dir.path());
        resetSettingsForTest();
        resetTechAlarmForTest();
        settings().techAlarmNbr = 8999;
        settings().sleepMinAfterAlarm = 60;
        installScript();
    }
    void TearDown() override {
        setNotifier(nullptr);
        resetLogQueueForTest();
        setProfileDir("");
    }
    // plasto.cmd in the current directory records each start.
    void installScript() {
        test::writeFile("plasto.cmd", "#!/bin/sh\necho \"$@\" >> alarms.txt\n");
        ::chmod("plasto.cmd", 0755);
    }
    // The script's runs so far, once every one started has ended.
    long runs() {
        EXPECT_TRUE(waitForTechAlarmScripts(60000));
        const std::string text = test::readFile("alarms.txt");
        return std::count(text.begin(), text.end(), '\n');
    }
    std::string stamp() {
        return ini::read(dir.path() + "/TEVRAK.INI", "WatchDog", "LastAlarm").value_or("");
    }
    static std::string hex(std::int64_t seconds) {
        char text[16];
        std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(seconds));
        return text;
    }
    // A moment of the run: wall and monotonic clock moved on by these amounts.
    TechAlarmTime at(std::int64_t wallSeconds, std::int64_t monotonicSeconds) const {
        return {base.wallSeconds + wallSeconds, base.monotonicMs + monotonicSeconds * 1000};
    }
    test::TempDir dir;
    const TechAlarmTime base{clock::wallSeconds(), clock::monotonicMs()};
};

TEST_F(TechAlarm, NoSectionRaisesAndStamps) {
    raiseTechAlarm();
    EXPECT_EQ(runs(), 1);
    EXPECT_EQ(test::readFile("alarms.txt"), "8999\n");
    ASSERT_EQ(stamp().size(), 8u);
    EXPECT_LE(std::abs(static_cast<long>(std::strtoul(stamp().c_str(), nullptr, 16)) -
                       static_cast<long>(clock::wallSeconds())), 2);
}

// Within a run the monotonic clock measures the quiet time; at the first alarm of a run the
// stamp of an earlier one does, unless it lies in the future.
TEST_F(TechAlarm, QuietTimeAcrossRestartsAndClockChanges) {
    struct Call {
        std::int64_t wall, monotonic;
    };
    const struct {
        const char* label;
        const char* stored;  // LastAlarm before the run; "" none
        std::int64_t storedAgo;
        std::vector<Call> calls;
        long expected;
    } cases[] = {
        {"59 minutes quiet, raised again at 60", "", 0,
         {{0, 0}, {59 * kMinute, 59 * kMinute}, {60 * kMinute, 60 * kMinute}}, 2},
        {"wall clock set back an hour within the run", "", 0,
         {{0, 0}, {-60 * kMinute, 1}, {-1 * kMinute, 60 * kMinute}}, 2},
        {"wall clock set two hours ahead within the run", "", 0,
         {{0, 0}, {120 * kMinute, kMinute}}, 1},
        {"an earlier run's alarm 59 minutes ago", "stamp", 59 * kMinute, {{0, 0}}, 0},
        {"an earlier run's alarm 60 minutes ago", "stamp", 60 * kMinute, {{0, 0}}, 1},
        {"a stamp in the future: the clock ran ahead and was set right", "stamp",
         -120 * kMinute, {{0, 0}, {kMinute, kMinute}}, 1},
        {"a stamp of 7 characters", "1234567", 0, {{0, 0}}, 1},
        {"a stamp of 9 characters", "123456789", 0, {{0, 0}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove("alarms.txt");
        std::filesystem::remove(dir.path() + "/TEVRAK.INI");
        resetTechAlarmForTest();
        const std::string stored =
            std::string(c.stored) == "stamp" ? hex(base.wallSeconds - c.storedAgo) : c.stored;
        if (!stored.empty()) {
            ASSERT_TRUE(tevrakIni().writeString("WatchDog", "LastAlarm", stored.c_str()));
        }
        for (const Call& call : c.calls) raiseTechAlarm(at(call.wall, call.monotonic));
        EXPECT_EQ(runs(), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(stamp(), stored);
        } else {
            EXPECT_EQ(stamp().size(), 8u);
        }
    }
}

// A script that cannot start is named in red and stamps nothing: the next attempt tries again.
TEST_F(TechAlarm, ScriptThatCannotStartIsNamedAndNotStamped) {
    setNotifier([](int) {});
    std::filesystem::remove("plasto.cmd");
    raiseTechAlarm(at(0, 0));
    EXPECT_EQ(stamp(), "");
    auto line = takeLogLine();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->colour, kColorRed);
    EXPECT_EQ(line->text.substr(20), "ERROR: tech alarm 8999 not raised: cannot start plasto.cmd "
                                     "(No such file or directory)");
    installScript();
    raiseTechAlarm(at(kMinute, kMinute));
    EXPECT_EQ(runs(), 1);
    EXPECT_EQ(stamp(), hex(base.wallSeconds + kMinute));
}

}  // namespace
}  // namespace gsms

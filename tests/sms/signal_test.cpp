#include "sms/signal_thread.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/profile_dir.h"
#include "sms/scripted_modem.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

using test::modem;

const std::vector<std::string> kCsqOnly{"at+csq"};
const std::vector<std::string> kCsqAndCops{"at+csq", "at+cops=0,0"};

class SignalPoll : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clearReplies();
        resetSettingsForTest();
        test::settleModem();
        resetLogQueueForTest();
        signalQuality() = 0;
        setNotifier([this](int code) {
            if (code == kNotifySignal) ++notified;
        });
    }
    void TearDown() override {
        resetLogQueueForTest();
        modem().clearReplies();
        signalQuality() = 0;
    }
    // The at+csq answer line; "" keeps the modem silent, "ERROR" answers ERROR.
    void csq(const std::string& line) {
        modem().setReply("at+csq", line.empty()      ? ""
                                   : line == "ERROR" ? "\r\nERROR\r\n"
                                                     : "\r\n" + line + "\r\n\r\nOK\r\n");
    }
    void cops(bool ok) { modem().setReply("at+cops=0,0", ok ? "\r\nOK\r\n" : ""); }
    SignalOutcome pollOnce() {
        modem().clear();
        return signalPoll(firstModem(), flag);
    }
    bool flag = false;
    std::atomic<int> notified{0};
};

TEST_F(SignalPoll, GoodReadingIsStoredAndSendsNoCops) {
    struct Case {
        const char* answer;
        int stored;
    } cases[] = {
        {"+CSQ: 15,99", 15},
        {"+CSQ:15,99", 5},  // read from the 7th character on: the first digit is lost
        {"+CSQ: 31,0", 31},
    };
    for (const Case& c : cases) {
        csq(c.answer);
        flag = true;
        notified = 0;
        EXPECT_EQ(pollOnce(), SignalOutcome::Good) << c.answer;
        EXPECT_EQ(signalQuality(), c.stored) << c.answer;
        EXPECT_FALSE(flag) << c.answer;
        EXPECT_EQ(modem().commands(), kCsqOnly) << c.answer;
        EXPECT_EQ(notified, 1) << c.answer;
    }
}

TEST_F(SignalPoll, NoUsableSignalStoresZeroAndReselects) {
    cops(true);
    for (const char* answer : {"+CSQ: 99,99", "+CSQ: 0,0", "ERROR", ""}) {
        csq(answer);
        signalQuality() = 20;
        flag = true;  // a successful reselection keeps the flag as it was
        notified = 0;
        EXPECT_EQ(pollOnce(), SignalOutcome::ReselectOk) << answer;
        EXPECT_EQ(signalQuality(), 0) << answer;
        EXPECT_TRUE(flag) << answer;
        EXPECT_EQ(modem().commands(), kCsqAndCops) << answer;
        EXPECT_EQ(notified, 1) << answer;
    }
}

TEST_F(SignalPoll, FailedReselectionThenGoodReadingClearsTheFlag) {
    csq("+CSQ: 99,99");
    cops(false);
    EXPECT_EQ(pollOnce(), SignalOutcome::ReselectFailed);
    EXPECT_TRUE(flag);
    EXPECT_EQ(modem().commands(), kCsqAndCops);

    csq("+CSQ: 20,99");
    EXPECT_EQ(pollOnce(), SignalOutcome::Good);
    EXPECT_FALSE(flag);
    EXPECT_EQ(signalQuality(), 20);
    EXPECT_EQ(notified, 2);
}

TEST_F(SignalPoll, SecondFailedReselectionInARowGivesUp) {
    csq("+CSQ: 0,0");
    cops(false);
    EXPECT_EQ(pollOnce(), SignalOutcome::ReselectFailed);
    EXPECT_EQ(pollOnce(), SignalOutcome::GiveUp);
    EXPECT_EQ(modem().commands(), kCsqAndCops);
    EXPECT_EQ(notified, 1);  // none for the poll that gives up
}

TEST_F(SignalPoll, SuccessfulReselectionDoesNotClearTheFlag) {
    csq("+CSQ: 99,99");
    cops(false);
    EXPECT_EQ(pollOnce(), SignalOutcome::ReselectFailed);
    cops(true);
    EXPECT_EQ(pollOnce(), SignalOutcome::ReselectOk);
    cops(false);
    EXPECT_EQ(pollOnce(), SignalOutcome::GiveUp);
}

// The thread itself, to its end: run in a fresh copy of this program (death test, re-executed
// so that it can have its own time scale), sharing a directory through the environment.
TEST(SignalThreadEnd, TwoFailedReselectionsEndTheProcessAfterLogAndTechAlarm) {
    constexpr const char* kDirVar = "GSMS_SIGNAL_TEST_DIR";
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::optional<test::TempDir> own;
    std::string dir;
    const char* scaleWas = std::getenv("GSMS_TIME_SCALE");
    const std::optional<std::string> oldScale =
        scaleWas ? std::optional<std::string>(scaleWas) : std::nullopt;
    if (const char* shared = std::getenv(kDirVar)) {  // the re-executed child
        dir = shared;
        ASSERT_EQ(::chdir(dir.c_str()), 0);
    } else {
        (void)clock::timeScale();  // this process keeps the scale it has
        own.emplace();
        dir = own->path();
        ::setenv(kDirVar, dir.c_str(), 1);
        ::setenv("GSMS_TIME_SCALE", "1000", 1);
        test::writeFile("plasto.cmd", "#!/bin/sh\necho \"$@\" >> alarms.txt\n");
        ::chmod("plasto.cmd", 0755);
    }

    EXPECT_EXIT(
        {
            setProfileDir(dir);
            resetSettingsForTest();
            settings().qualityPollMs = 5000;
            settings().techAlarmNbr = 8999;
            settings().sleepMinAfterAlarm = 60;
            setNotifier([](int code) {
                if (code != kNotifyLogLine) return;
                while (auto l = takeLogLine())
                    std::fprintf(stderr, "window %06X %s\n", l->colour, l->text.c_str());
            });
            modem().setReply("at+csq", "\r\n+CSQ: 99,99\r\n\r\nOK\r\n");
            modem().setReply("at+cops=0,0", "");
            signalThread(firstModem());
        },
        ::testing::ExitedWithCode(1), "window 0000FF [0-9. :]+Signal lost, exiting for reinit");

    ::unsetenv(kDirVar);
    if (oldScale) ::setenv("GSMS_TIME_SCALE", oldScale->c_str(), 1);
    else ::unsetenv("GSMS_TIME_SCALE");
    GTEST_FLAG_SET(death_test_style, style);

    std::string log;  // whichever day it was written on
    for (const auto& f : std::filesystem::directory_iterator("log"))
        log += test::readFile(f.path().string());
    EXPECT_NE(log.find(" Signal lost, exiting for reinit\n"), std::string::npos) << log;
    std::string alarms;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         alarms.empty() && std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        alarms = test::readFile("alarms.txt");
    EXPECT_EQ(alarms, "8999\n");
}

}  // namespace
}  // namespace gsms

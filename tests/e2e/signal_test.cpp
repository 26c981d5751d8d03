// gsmsd's signal supervision against gsms-modem-sim: what each at+csq answer leads to, when the
// network is reselected, and when the gateway gives up and ends for a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Poll = std::vector<std::string>;

const std::string kLow =
    "WARNING : Low signal quality, SMS submissions are impaired or even not operational.";
const std::string kReselect = "at+cops=0,0";
const std::string kGiveUp = "Signal lost, exiting for reinit";

class Signal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        installTechAlarmRecorder(dir.path());
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
    }
    // A poll period of 10 s is 1 s at the harness's time scale: room enough to change the
    // simulator between two polls, even on a slow machine.
    void start(std::map<std::string, std::string> keys = {}) {
        keys.emplace("QualityPollEverySecs", "10");
        keys.emplace("IncomingEnable", "0");  // the signal polls are the only traffic
        gateway.configure(sim, keys);
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    }
    // The commands of each poll: its at+csq and what followed up to the next at+csq. The
    // start-up sends no at+csq, so everything before the first one is left out.
    std::vector<Poll> polls() {
        std::vector<Poll> out;
        for (const auto& c : sim.commands()) {
            if (c == "at+csq") out.push_back({c});
            else if (!out.empty()) out.back().push_back(c);
        }
        return out;
    }
    // Waits until poll n (from 1) has sent what decides it: its at+csq, and the reselection
    // when one is due. The simulator has fixed its answer by the time a command is traced,
    // so a control sent afterwards applies from the next poll on.
    bool pollSent(std::size_t n, bool reselects) {
        return waitFor([&] {
            const auto p = polls();
            return p.size() >= n && (!reselects || p[n - 1].size() >= 2);
        });
    }
    int outputCount(const std::string& text) {
        const std::string out = gateway.output();
        int n = 0;
        for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++n;
        return n;
    }
    bool outputCounts(int low, int back) {
        return waitFor([&] {
            return outputCount(kLow) == low &&
                   outputCount("SMS submissions operational again.") == back;
        });
    }
    // Wall-clock time at which the simulator took the last `command` of its trace ("time" in
    // UTC, cut to the ms, so never later than the moment itself).
    std::chrono::system_clock::time_point lastTimeOf(const std::string& command) {
        const std::string trace = readText(dir / "sim-trace.jsonl");
        const auto line = trace.rfind("\"command\":\"" + command + "\"}");
        const auto at = line == std::string::npos ? line : trace.rfind("\"time\":\"", line);
        std::tm tm{};
        int ms = 0;
        if (at == std::string::npos ||
            std::sscanf(trace.c_str() + at + 8, "%d-%d-%dT%d:%d:%d.%dZ", &tm.tm_year, &tm.tm_mon,
                        &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
            return {};
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        return std::chrono::system_clock::from_time_t(::timegm(&tm)) +
               std::chrono::milliseconds(ms);
    }
    std::string techAlarm() { return readText(dir / "tech-alarm.txt"); }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

TEST_F(Signal, ReadingsDecideTheReselectionAndASingleFailureIsForgiven) {
    start();
    const Poll good{"at+csq"}, reselect{"at+csq", kReselect};

    // "+CSQ: 15,99" is a good reading, which the console does not mention.
    ASSERT_TRUE(pollSent(1, false));
    ASSERT_EQ(sim.control("csq-line +CSQ:15,99"), "ok");
    // Without the blank the number is read one character late: 5, still usable but low.
    ASSERT_TRUE(pollSent(2, false));
    ASSERT_TRUE(outputCounts(1, 0));
    ASSERT_EQ(sim.control("csq-line off"), "ok");
    ASSERT_TRUE(pollSent(3, false));
    ASSERT_TRUE(outputCounts(1, 1));
    EXPECT_NE(gateway.output().find("Signal quality 15, SMS submissions operational again."),
              std::string::npos);

    // No measurement, no signal and no answer all ask for a network; the modem obliges.
    ASSERT_EQ(sim.control("csq 99"), "ok");
    ASSERT_TRUE(pollSent(4, true));
    ASSERT_TRUE(outputCounts(2, 1));
    ASSERT_EQ(sim.control("csq 0"), "ok");
    ASSERT_TRUE(pollSent(5, true));
    ASSERT_EQ(sim.control("csq 15"), "ok");
    ASSERT_EQ(sim.control("csq-silent on"), "ok");
    ASSERT_TRUE(pollSent(6, true));
    ASSERT_EQ(sim.control("csq-silent off"), "ok");
    ASSERT_TRUE(pollSent(7, false));
    ASSERT_TRUE(outputCounts(2, 2));  // the warning stays through polls 4 to 6, said once

    // A reselection that times out, then a good reading: the next single failure is again
    // only the first one.
    ASSERT_EQ(sim.control("csq 99"), "ok");
    ASSERT_EQ(sim.control("cops fail on"), "ok");
    ASSERT_TRUE(pollSent(8, true));
    ASSERT_EQ(sim.control("csq 15"), "ok");
    ASSERT_EQ(sim.control("cops fail off"), "ok");
    ASSERT_TRUE(pollSent(9, false));
    ASSERT_EQ(sim.control("csq 99"), "ok");
    ASSERT_EQ(sim.control("cops fail on"), "ok");
    ASSERT_TRUE(pollSent(10, true));
    ASSERT_EQ(sim.control("csq 15"), "ok");
    ASSERT_EQ(sim.control("cops fail off"), "ok");
    ASSERT_TRUE(pollSent(12, false));  // poll 11 is complete once poll 12 has begun

    const auto p = polls();
    const std::vector<Poll> expected{good,     good,     good,     reselect, reselect, reselect,
                                     good,     reselect, good,     reselect, good};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(p[i], expected[i]) << "poll " << i + 1;
    EXPECT_TRUE(outputCounts(4, 4));
    EXPECT_EQ(gateway.process().exitCode(), -1);
    EXPECT_EQ(gateway.logCount(kGiveUp), 0);
    EXPECT_FALSE(fs::exists(dir / "tech-alarm.txt"));
    // Every modem line is in the daily log: the reading as the modem wrote it.
    EXPECT_TRUE(gateway.logHas("+CSQ:15,99"));
}

TEST_F(Signal, TwoTimedOutReselectionsInARowEndTheProcess) {
    ASSERT_EQ(sim.control("csq 99"), "ok");
    ASSERT_EQ(sim.control("cops next ok fail"), "ok");  // the start-up's answered, no poll's
    start();
    ASSERT_TRUE(gateway.waitLog(kGiveUp));
    ASSERT_EQ(gateway.process().waitExit(), 1);
    // The last reselection's wait (1 s scaled) and the pause of 20 s (2 s scaled) lie between
    // the last poll's at+csq and the end. The simulator stamped that at+csq before it
    // answered, and the reselection went out after the answer: a slow machine can only
    // lengthen what is measured.
    EXPECT_GE(std::chrono::system_clock::now() - lastTimeOf("at+csq"), 3000ms);

    const std::vector<Poll> expected{{"at+csq", kReselect}, {"at+csq", kReselect}};
    EXPECT_EQ(polls(), expected);  // nothing talked to the modem after the give-up
    EXPECT_EQ(gateway.logCount(kGiveUp), 1);
    EXPECT_NE(gateway.output().find(kGiveUp), std::string::npos);
    EXPECT_TRUE(waitFor([&] { return techAlarm() == "8999\n"; }));
    // The give-up comes after the second reselection (its echo is in the daily log).
    const std::string log = gateway.dailyLog();
    EXPECT_LT(log.rfind(kReselect), log.find(kGiveUp));
}

TEST_F(Signal, ASuccessfulReselectionDoesNotForgiveAnEarlierFailure) {
    ASSERT_EQ(sim.control("csq 99"), "ok");
    // The start-up's reselection answered, then the polls' in turn: none, OK, none.
    ASSERT_EQ(sim.control("cops next ok fail ok fail"), "ok");
    start();
    ASSERT_EQ(gateway.process().waitExit(), 1);

    const Poll reselect{"at+csq", kReselect};
    EXPECT_EQ(polls(), (std::vector<Poll>{reselect, reselect, reselect}));
    EXPECT_EQ(gateway.logCount(kGiveUp), 1);
    EXPECT_TRUE(waitFor([&] { return techAlarm() == "8999\n"; }));
}

TEST_F(Signal, PollingBackToBackStillLetsASubmissionThrough) {
    start({{"QualityPollEverySecs", "0"}, {"WatchTimeout", "1"}});
    ASSERT_TRUE(waitFor([&] { return sim.count("at+csq") >= 5; }));
    writeText(dir / "in/p.sms", "[Alarm]\r\nPhoneNumber=555\r\nMessage=between polls\r\n");
    ASSERT_TRUE(gateway.waitLog("Message sent to 555"));
    const auto records = sim.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"text\":\"between polls\""), std::string::npos);
    EXPECT_EQ(records[0].find("\"ref\":null"), std::string::npos);

    // The polls went on around the submission, never inside its exchange.
    const int before = sim.count("at+csq");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+csq") >= before + 5; }));
    const auto cmds = sim.commands();
    const auto cmgs = std::find_if(cmds.begin(), cmds.end(),
                                   [](const std::string& c) { return c.starts_with("at+cmgs="); });
    ASSERT_NE(cmgs, cmds.end());
    ASSERT_NE(cmgs, cmds.begin());
    EXPECT_TRUE(cmgs[-1].starts_with("at+csmp=")) << cmgs[-1];
    EXPECT_NE(std::find(cmds.begin(), cmgs, "at+csq"), cmgs);
    EXPECT_NE(std::find(cmgs, cmds.end(), "at+csq"), cmds.end());
    EXPECT_EQ(sim.count(kReselect), 1);  // the start-up's, no poll's
}

}  // namespace
}  // namespace gsms::e2e

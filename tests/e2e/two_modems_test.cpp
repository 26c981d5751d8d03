// gsmsd with two modems on two simulators, an alternative path each: both carry alarms, and one
// that cannot register holds back none on the other; a refusal or a lost modem moves the alarm
// to the other at once, a lost path is named, raises the tech alarm and is used again once it
// is back, and a gateway whose first modem is missing runs on the second.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "e2e/harness.h"
#include "support/status_table.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TwoModems : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "m2");
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
        ASSERT_TRUE(gsms::test::makeStatusTable(dir / "plant.dbf", 40, "SMS"));
        installTechAlarmRecorder(dir.path());
    }
    // Section Modem2 names the second simulator's link (or `port`).
    void start(std::map<std::string, std::string> keys = {}, const std::string& port = "",
               const std::map<std::string, std::string>& env = {}) {
        keys.emplace("QualityPollEverySecs", "1");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        gateway.configure(sim1, keys);
        const std::string ini = readText(dir / "TEVRAK.INI");
        writeText(dir / "TEVRAK.INI",
                  ini + "[Modem2]\nPort=" + (port.empty() ? sim2.link() : port) + "\n");
        ASSERT_TRUE(gateway.start("gsmsd", env));
        ASSERT_TRUE(gateway.waitLog("ReadJobsThread started"));
    }
    void alarm(int i, int to = -1) {
        writeText(dir / ("in/a" + std::to_string(i) + ".sms"),
                  "[Alarm]\r\nSzenario=plant\r\ndbentry=" + std::to_string(i) +
                      "\r\nPhoneNumber=+49170" + std::to_string(1000 + (to < 0 ? i : to)) +
                      "\r\nMessage=alarm " + std::to_string(i) + "\r\n");
    }
    // The numbers each simulator accepted, every one once.
    static std::multiset<std::string> accepted(Simulator& sim) {
        std::multiset<std::string> out;
        for (const std::string& r : sim.records()) {
            if (r.find("\"ref\":null") != std::string::npos) continue;  // refused
            const std::size_t at = r.find("+49170");
            if (at != std::string::npos) out.insert(r.substr(at, 10));
        }
        return out;
    }
    std::multiset<std::string> acceptedByBoth() {
        std::multiset<std::string> all = accepted(sim1);
        for (const std::string& n : accepted(sim2)) all.insert(n);
        return all;
    }
    static std::set<std::string> numbers(int from, int to) {
        std::set<std::string> out;
        for (int i = from; i < to; ++i) out.insert("+49170" + std::to_string(1000 + i));
        return out;
    }
    std::string techAlarms() {
        return fs::exists(dir / "tech-alarm.txt") ? readText(dir / "tech-alarm.txt") : "";
    }

    Scratch dir;
    Simulator sim1{dir.path()};
    Simulator sim2{dir / "m2"};
    Gateway gateway{dir.path()};
};

TEST_F(TwoModems, AlarmsGoOutOverBothAtOnce) {
    ASSERT_TRUE(sim1.start({"--send-delay", "400"}));
    ASSERT_TRUE(sim2.start({"--send-delay", "400"}));
    start();
    // Side by side, either may be first in service.
    for (const char* line : {"modem 1: SMSC ", "modem 2: SMSC ",
                             "modem 1: ProcessingThread started",
                             "modem 2: ProcessingThread started"})
        EXPECT_TRUE(gateway.waitLog(line)) << line;
    for (int i = 0; i < 20; ++i) alarm(i);
    ASSERT_TRUE(waitFor([&] { return acceptedByBoth().size() >= 20; }));
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    const std::multiset<std::string> all = acceptedByBoth();
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), numbers(0, 20));
    EXPECT_EQ(all.size(), 20u);  // none twice
    EXPECT_GE(accepted(sim1).size(), 5u);
    EXPECT_GE(accepted(sim2).size(), 5u);
    EXPECT_TRUE(gateway.logHas(" modem 2: +CMGS: "));  // the modem's own lines name it too
    EXPECT_EQ(gateway.logCount("ERROR"), 0);
    EXPECT_EQ(techAlarms(), "");
}

// Two alarms to a number the first modem refuses: each modem takes one (a submission takes a
// second), and the refused one goes out on the second modem at once, not after RetryDelay.
TEST_F(TwoModems, NumberRefusedByOneIsSentByTheOtherAtOnce) {
    ASSERT_TRUE(sim1.start({"--send-delay", "1000"}));
    ASSERT_TRUE(sim2.start({"--send-delay", "1000"}));
    ASSERT_EQ(sim1.control("refuse +491701000 500"), "ok");
    start({{"RetryDelay", "120"}, {"RetryCount", "3"}}, "", {{"GSMS_TIME_SCALE", "1"}});
    alarm(0);
    alarm(1, 0);
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }, 60s));
    EXPECT_EQ(accepted(sim1).count("+491701000"), 0u);
    EXPECT_EQ(accepted(sim2).count("+491701000"), 2u);
    // Each refused at most once by the first (a loaded machine may give it both).
    const int refused = gateway.logCount("modem 1: ERROR sending to +491701000 (try 1/3)");
    EXPECT_GE(refused, 1);
    EXPECT_LE(refused, 2);
    EXPECT_EQ(gateway.logCount("(try 2/3)"), 0);
    EXPECT_EQ(gateway.logCount("modem 2: Message sent to +491701000"), 2);
    EXPECT_TRUE(fs::is_empty(dir / "error"));
}

// The second simulator is killed amid a backlog: every alarm still goes out, none twice; the
// loss is named and the path marked down once, with the tech alarm; back, it carries alarms.
TEST_F(TwoModems, LostModemIsCoveredByTheOtherAndUsedAgainOnceBack) {
    ASSERT_TRUE(sim1.start({"--send-delay", "300"}));
    ASSERT_TRUE(sim2.start({"--send-delay", "300"}));
    start();
    for (int i = 0; i < 10; ++i) alarm(i);
    ASSERT_TRUE(waitFor([&] { return !accepted(sim2).empty(); }));
    sim2.process().kill();
    // Its link would point at a pseudo-terminal number the next test to open one may get:
    // gone, as a modem's device is when it is unplugged.
    fs::remove(sim2.link());
    ASSERT_TRUE(gateway.waitLog("modem 2: modem port hung up"));
    for (int i = 10; i < 20; ++i) alarm(i);
    ASSERT_TRUE(gateway.waitLog("modem 2: path down (modem port gone)"));
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    std::multiset<std::string> all = acceptedByBoth();
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), numbers(0, 20));
    // The one in flight at the kill got no answer: the simulator may or may not have taken it,
    // and the gateway sends it again rather than lose it. Every other went out once.
    const int unanswered = gateway.logCount("modem 2: ERROR sending to");
    EXPECT_LE(unanswered, 1);
    EXPECT_GE(all.size(), 20u);
    EXPECT_LE(all.size(), 20u + static_cast<unsigned>(unanswered));
    for (const std::string& n : numbers(0, 20))
        EXPECT_EQ(gateway.logCount("Message sent to " + n), 1) << n;
    EXPECT_EQ(gateway.logCount("modem port hung up"), 1);
    EXPECT_EQ(gateway.logCount("path down"), 1);
    // The script runs beside the gateway: its line may still be on its way.
    EXPECT_TRUE(waitFor([&] { return techAlarms() == "8999\n"; }, 10s)) << techAlarms();
    EXPECT_TRUE(waitFor([&] {
        return readText(dir / "gsmsd.status").find("down") != std::string::npos;
    }));
    EXPECT_EQ(gateway.process().exitCode(), -1);

    // The modem returns under the same link and takes its share again.
    ASSERT_TRUE(sim2.start({"--send-delay", "300"}));
    ASSERT_TRUE(gateway.waitLog("modem 2: path back in service"));
    for (int i = 20; i < 30; ++i) alarm(i);
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    EXPECT_FALSE(accepted(sim2).empty());
    all = acceptedByBoth();
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), numbers(0, 30));
}

// The second modem's network goes (no signal, reselections unanswered): its path is down while
// the first carries on; the network back, the path is too. Its received SMS are handed over,
// the line naming it.
TEST_F(TwoModems, SignalLostOnOnePathAndSmsReceivedOnTheOther) {
    ASSERT_TRUE(sim1.start());
    ASSERT_TRUE(sim2.start());
    start({{"IncomingEnable", "1"}, {"CmdLineFormat", "/bin/true \"%s\" \"%s\""}});
    ASSERT_EQ(sim1.control("incoming +4915550001 hello from one"), "ok");
    ASSERT_TRUE(gateway.waitLog("modem 1: 'hello from one' command received from \"+4915550001\""));
    ASSERT_EQ(sim2.control("csq 0"), "ok");
    ASSERT_EQ(sim2.control("cops fail on"), "ok");
    ASSERT_TRUE(gateway.waitLog("modem 2: path down (signal lost)"));
    alarm(0);
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    EXPECT_EQ(accepted(sim1).count("+491701000"), 1u);
    EXPECT_TRUE(waitFor([&] { return techAlarms() == "8999\n"; }));
    ASSERT_EQ(sim2.control("cops fail off"), "ok");
    ASSERT_EQ(sim2.control("csq 20"), "ok");
    ASSERT_TRUE(gateway.waitLog("modem 2: path back in service"));
    ASSERT_EQ(sim2.control("incoming +4915550002 hello from two"), "ok");
    EXPECT_TRUE(gateway.waitLog("modem 2: 'hello from two' command received from \"+4915550002\""));
    EXPECT_EQ(gateway.logCount("path down"), 1);
    EXPECT_EQ(gateway.process().exitCode(), -1);
}

TEST_F(TwoModems, GatewayRunsOnTheSecondWhenTheFirstIsMissingAtStart) {
    ASSERT_TRUE(sim2.start());
    start({{"Port", (dir / "missing-tty")}});
    ASSERT_TRUE(gateway.waitLog("modem 1: ** init_gsms ** ERROR: cannot open "));
    alarm(0);
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    EXPECT_EQ(accepted(sim2).count("+491701000"), 1u);
    EXPECT_TRUE(waitFor([&] { return techAlarms() == "8999\n"; }));
    EXPECT_EQ(gateway.process().exitCode(), -1);
}


// The modems start side by side: one that cannot register (five unanswered tries of a
// minute's time-outs) holds back no alarm on the other, and is named once its start has ended.
TEST_F(TwoModems, FirstModemThatCannotRegisterHoldsBackNoAlarm) {
    ASSERT_TRUE(sim1.start());
    ASSERT_EQ(sim1.control("cops fail on"), "ok");
    ASSERT_TRUE(sim2.start());
    start({}, "", {{"GSMS_TIME_SCALE", "2"}});
    alarm(0);
    ASSERT_TRUE(gateway.waitLog("modem 2: Message sent to +491701000"));
    ASSERT_TRUE(gateway.waitLog("modem 1: ** init_gsms ** ERROR: init of GSM modem", 90s));
    const std::string log = gateway.dailyLog();
    EXPECT_LT(log.find("modem 2: Message sent to"), log.find("modem 1: ** init_gsms ** ERROR"));
    EXPECT_TRUE(gateway.waitLog("modem 1: ProcessingThread started"));
    EXPECT_TRUE(waitFor([&] { return techAlarms() == "8999\n"; }));
    EXPECT_EQ(gateway.process().exitCode(), -1);
}

}  // namespace
}  // namespace gsms::e2e

// gsmsd against the faults real modems and serial lines produce: a hang-up (for good or for a
// moment), a late prompt, a refusal, an unsolicited line in text entry, a slow network, and
// numbers that carry commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "e2e/harness.h"
#include "support/status_table.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class ModemFaults : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
        ASSERT_TRUE(gsms::test::makeStatusTable(dir / "plant.dbf", 4, "SMS"));
    }
    void start(std::map<std::string, std::string> keys = {},
               const std::map<std::string, std::string>& env = {}) {
        keys.emplace("QualityPollEverySecs", "3600");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        gateway.configure(sim, keys);
        ASSERT_TRUE(gateway.start("gsmsd", env));
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    }
    void mini(const std::string& name, const std::string& number, const std::string& text) {
        writeText(dir / ("in/" + name), "[Alarm]\r\nPhoneNumber=" + number + "\r\nMessage=" + text + "\r\n");
    }
    void alarm(const std::string& name, const std::string& number, const std::string& text) {
        writeText(dir / ("in/" + name), "[Alarm]\r\nSzenario=plant\r\ndbentry=0\r\nPhoneNumber=" +
                                            number + "\r\nMessage=" + text + "\r\n");
    }
    // The commands the simulator received from the first one that starts with `from` on.
    std::vector<std::string> commandsFrom(const std::string& from) {
        const auto all = sim.commands();
        const auto at = std::find_if(all.begin(), all.end(),
                                     [&](const std::string& c) { return c.starts_with(from); });
        return {at, all.end()};
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

TEST_F(ModemFaults, HungUpModemCostsNoCpu) {
    start();
    ASSERT_EQ(sim.control("hangup"), "ok");  // the client now reads EIO, as when unplugged
    ASSERT_TRUE(gateway.waitLog("modem port hung up"));
    const pid_t pid = gateway.process().pid();
    const double before = cpuSeconds(pid);
    std::this_thread::sleep_for(10s);  // the measurement window itself
    // ThreadSanitizer's own background thread wakes every few milliseconds in the gateway.
#if defined(__SANITIZE_THREAD__)
    constexpr double kMostCpu = 0.5;
#else
    constexpr double kMostCpu = 0.2;
#endif
    EXPECT_LT(cpuSeconds(pid) - before, kMostCpu);
    EXPECT_EQ(gateway.logCount("modem port hung up"), 1);
    EXPECT_NE(gateway.output().find("modem port hung up"), std::string::npos);
    EXPECT_EQ(gateway.process().exitCode(), -1);
}

// A USB blip: the device goes and comes back 2 s later under the same link. The jobs queued
// meanwhile wait with their attempts, the mini-message too, and go out once the modem is back.
TEST_F(ModemFaults, PortThatComesBackIsOpenedAgainAndTheWaitingJobsGoOut) {
    start();
    ASSERT_EQ(sim.control("hangup 2"), "ok");
    const auto back = std::chrono::steady_clock::now() + 2s;
    ASSERT_TRUE(gateway.waitLog("modem port hung up"));
    mini("mini.sms", "+4961", "queued in the outage");
    alarm("alarm.sms", "+4962", "queued in the outage");
    ASSERT_TRUE(waitFor([&] { return sim.records().size() == 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - back, 10s);

    ASSERT_TRUE(waitFor([&] { return fs::is_empty(dir / "in"); }));
    EXPECT_TRUE(fs::is_empty(dir / "error"));
    EXPECT_EQ(gateway.logCount("ERROR sending to"), 0);
    const std::string log = gateway.dailyLog();
    std::smatch gone;
    ASSERT_TRUE(std::regex_search(log, gone, std::regex(" modem port back after (\\d+) s\n")));
    EXPECT_GE(std::stoi(gone[1]), 15);  // 2 s at the time scale of 10, less the time to notice
    EXPECT_NE(gateway.output().find("modem port back after"), std::string::npos);
    // The start's dialogue once more, before the first submission.
    const auto cmds = sim.commands();
    const auto first = std::find(cmds.begin(), cmds.end(), "at+csmp=17,167,0,0");
    for (const char* c : {"at+cpin?", "at+cops=0,0", "at+cscs=\"GSM\"", "at+csca?"})
        EXPECT_EQ(std::count(cmds.begin(), first, c), 2) << c;
    EXPECT_EQ(gateway.logCount("modem port hung up"), 1);
}

// A port that stays gone, or whose modem answers nothing once it is back, ends the process when
// the signal supervision would have given up on a silent modem: 2 x (10 s + 2 s + 10 s) after
// the loss, then its 20 s. The tech alarm comes once; nothing was submitted meanwhile.
TEST(ModemFaultsOutage, ModemThatStaysGoneEndsTheProcessAsALostSignalDoes) {
    struct Case {
        const char* label;
        std::vector<std::string> controls;
        int notFoundLines;  // "GSM modem not found", once per loss however often it is tried
    } cases[] = {
        {"port gone for good", {"hangup"}, 0},
        {"port back, modem silent", {"silent on", "hangup 1"}, 1},
    };
    for (const Case& c : cases) {
        Scratch dir;
        Simulator sim{dir.path()};
        Gateway gateway{dir.path()};
        ASSERT_TRUE(sim.start());
        installTechAlarmRecorder(dir.path());
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
        gateway.configure(sim, {{"QualityPollEverySecs", "10"}, {"IncomingEnable", "0"},
                                {"WatchTimeout", "1"}});
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
        const auto lost = std::chrono::steady_clock::now();  // no later than the loss itself
        for (const std::string& control : c.controls) ASSERT_EQ(sim.control(control), "ok");
        ASSERT_TRUE(gateway.waitLog("modem port hung up")) << c.label;
        writeText(dir / "in/mini.sms", "[Alarm]\r\nPhoneNumber=+4963\r\nMessage=waits\r\n");

        EXPECT_EQ(gateway.process().waitExit(), 1) << c.label;
        EXPECT_GE(std::chrono::steady_clock::now() - lost, 6s) << c.label;  // 64 s scaled
        EXPECT_EQ(gateway.logCount("Signal lost, exiting for reinit\n"), 1) << c.label;
        EXPECT_EQ(readText(dir / "tech-alarm.txt"), "8999\n") << c.label;
        EXPECT_EQ(gateway.logCount("** init_gsms ** ERROR: GSM modem not found on port " +
                                   sim.link() + "\n"),
                  c.notFoundLines)
            << c.label;
        EXPECT_FALSE(gateway.logHas("ERROR sending to")) << c.label;
        EXPECT_FALSE(gateway.logHas("modem port back")) << c.label;
        EXPECT_TRUE(fs::exists(dir / "in/mini.sms")) << c.label;  // for the next start
    }
}

TEST_F(ModemFaults, LatePromptIsCancelledAndTheNextJobGoesOutClean) {
    start();
    // 1 s of real time is 10 s at the harness's time scale: the gateway gives up after 5.
    ASSERT_EQ(sim.control("prompt-delay 1000 1"), "ok");
    mini("late.sms", "+4911", "first");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgs=\"+4911\"") == 1; }));
    mini("next.sms", "+4922", "second");  // queued while the first one waits for its prompt
    ASSERT_TRUE(gateway.waitLog("Message sent to +4922"));

    EXPECT_TRUE(gateway.logHas("Timed-out waiting for modem response [1]"));
    EXPECT_TRUE(gateway.logHas("ERROR sending to +4911"));
    // ESC came first and ended the text entry with nothing typed into it; then "at" (sent
    // again each second while the modem was busy) and "at+cmgf?" found the modem back on a
    // clean line, and only then came the next job's commands.
    const auto cmds = commandsFrom("at+cmgs=\"+4911\"");
    const auto fence = std::find(cmds.begin(), cmds.end(), "at+cmgf?");
    ASSERT_NE(fence, cmds.end());
    ASSERT_GE(fence - cmds.begin(), 3);
    EXPECT_EQ(cmds[1], "\x1b");
    EXPECT_TRUE(std::all_of(cmds.begin() + 2, fence, [](const std::string& c) { return c == "at"; }));
    ASSERT_LT(fence + 2, cmds.end());
    EXPECT_EQ(fence[1], "at+csmp=17,167,0,0");
    EXPECT_EQ(fence[2], "at+cmgs=\"+4922\"");
    const auto records = sim.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"to\":\"+4922\""), std::string::npos);
    EXPECT_NE(records[0].find("\"text\":\"second\""), std::string::npos);
    EXPECT_EQ(records[0].find("\"ref\":null"), std::string::npos);
}

TEST_F(ModemFaults, RefusalEndsTheSubmissionAtOnceAndTheRetryFollows) {
    // Real time: the refusal must not cost the 30 s the wait for OK allows.
    start({{"RetryCount", "3"}, {"RetryDelay", "1"}}, {{"GSMS_TIME_SCALE", "1"}});
    ASSERT_EQ(sim.control("send-fail cms 500 1"), "ok");
    alarm("r.sms", "555", "refused once");
    ASSERT_TRUE(waitFor([&] { return sim.records().size() == 1; }));
    const auto refusedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(gateway.waitLog("ERROR sending to 555 (try 1/3)"));
    // Far below the 30 s, and room for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - refusedAt, 10s);
    EXPECT_TRUE(gateway.logHas("Refused by the modem [2]: +CMS ERROR: 500\n"));

    ASSERT_TRUE(gateway.waitLog("Message sent to 555"));
    const auto records = sim.records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_NE(records[0].find("\"error\":\"+CMS ERROR: 500\""), std::string::npos);
    EXPECT_EQ(records[1].find("\"ref\":null"), std::string::npos);
    const auto cmds = commandsFrom("at+cmgs=\"555\"");
    ASSERT_GE(cmds.size(), 3u);
    EXPECT_EQ(cmds[1], "at");  // back on a clean line before the lock went
    EXPECT_EQ(cmds[2], "at+cmgf?");
}

TEST_F(ModemFaults, RingRightAfterThePromptDoesNotStopTheSubmission) {
    start();
    ASSERT_EQ(sim.control("after-prompt RING"), "ok");
    mini("ring.sms", "+4933", "despite the ring");
    ASSERT_TRUE(gateway.waitLog("Message sent to +4933"));
    // Logged, and otherwise ignored; marked as a possible SMS text when it comes after the
    // gateway took the prompt (which it may or may not have when the modem sends the RING).
    EXPECT_TRUE(gateway.logHas(" RING\n") || gateway.logHas(" SMS text: \"RING\"\n"))
        << gateway.dailyLog();
    const auto records = sim.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("\"text\":\"despite the ring\""), std::string::npos);
    EXPECT_FALSE(gateway.logHas("Timed-out waiting for modem response"));
}

TEST_F(ModemFaults, NumberWithACommandInItNeverReachesTheModem) {
    start();
    // The INI reader keeps a bare CR inside a value; '";' would chain a command as well.
    mini("cr.sms", "+4940\rAT+CFUN=0;+CSCA=\"+4917\"", "radio off?");
    mini("quote.sms", "+4940\";+CFUN=0;\"", "radio off?");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount(": not a phone number") == 2; }));
    mini("good.sms", "+4941", "still working");
    ASSERT_TRUE(gateway.waitLog("Message sent to +4941"));

    for (const std::string line :
         {"Sending mini-message to +4940\\rAT+CFUN=0;+CSCA=\"+4917\"",
          "ERROR sending to +4940\\rAT+CFUN=0;+CSCA=\"+4917\": not a phone number",
          "ERROR sending to +4940\";+CFUN=0;\": not a phone number"}) {
        EXPECT_EQ(gateway.logCount(line + "\n"), 1) << line;
        EXPECT_NE(gateway.output().find(line + "\n"), std::string::npos) << line;
    }
    EXPECT_EQ(gateway.logCount("ERROR sending to +4940"), 4);  // and the dispatch's own lines
    // Nothing of the two jobs reached the modem: one submission, the good one.
    EXPECT_EQ(sim.count("at+csmp="), 1);
    EXPECT_EQ(sim.count("at+cmgs="), 1);
    for (const auto& c : sim.commands()) {
        std::string lower = c;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        EXPECT_EQ(lower.find("cfun=0"), std::string::npos) << c;
    }
    EXPECT_EQ(sim.records().size(), 1u);
}

// The port goes while the modem works on a submission: its wait ends with the port, not 30 s
// later, so that the alarm is free for its retry (or another modem) at once.
TEST_F(ModemFaults, SubmissionInFlightEndsWithThePort) {
    ASSERT_EQ(sim.control("send-delay 60000"), "ok");
    start({}, {{"GSMS_TIME_SCALE", "1"}});
    alarm("lost.sms", "+4956", "in flight");
    ASSERT_TRUE(waitFor([&] { return sim.records().size() == 1; }));
    ASSERT_EQ(sim.control("hangup"), "ok");
    EXPECT_TRUE(gateway.waitLog("ERROR sending to +4956 (try 1/5)", 15s));  // not the 30 s
}

TEST_F(ModemFaults, SlowSubmissionIsReportedOnceAndItsLateAnswerStaysWithIt) {
    // 4.5 s of real time is 45 s scaled: 15 s past the 30 s wait for the answer and 15 s
    // before the 30 s of looking for a late one end, so a loaded machine keeps it in between.
    // The signal polls, 1 s apart, queue behind the submission for the modem.
    ASSERT_EQ(sim.control("send-delay 4500"), "ok");
    start({{"QualityPollEverySecs", "10"}, {"RetryDelay", "1"}});
    alarm("slow.sms", "+4955", "takes its time");
    ASSERT_TRUE(gateway.waitLog("Late answer from the modem [2]: the message was sent"));
    ASSERT_TRUE(gateway.waitLog("Message sent to +4955"));
    const int polls = sim.count("at+csq");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+csq") >= polls + 3; }));

    EXPECT_EQ(sim.records().size(), 1u);  // sent once, not again by a retry
    EXPECT_FALSE(gateway.logHas("ERROR sending to +4955"));
    // No poll took the late OK for its own and missed its +CSQ: no network reselection.
    EXPECT_EQ(sim.count("at+cops=0,0"), 1);  // the start-up's
}

}  // namespace
}  // namespace gsms::e2e

// What gsmsd tells those who watch it: the watchdog's judgement of the engine's loops, the
// gate that keeps a submission from starting once a stop is requested, and the status file,
// metrics and status line, compared whole.
#include "gateway/status_snapshot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>

#include "core/activity.h"
#include "platform/file_append.h"
#include "support/environment.h"

namespace gsms {
namespace {

TEST(Watchdog, JudgesTheLoopsByTheirLastBeat) {
    constexpr std::int64_t never = -1;
    const struct {
        const char* label;
        HeartAges ages;
        bool alive;
        const char* why;
    } cases[] = {
        {"starting: no heart has beaten yet", {never, never, never, false, EngineStage::Starting},
         true, ""},
        {"initialising: the reader turns, no dispatch yet",
         {400, never, 1000, false, EngineStage::Initialising}, true, ""},
        {"initialising: the reader stands still",
         {31000, never, 1000, false, EngineStage::Initialising}, false,
         "the modem reader has stood still for 31 s"},
        {"running and idle", {300, 450, 600000, false, EngineStage::Running}, true, ""},
        {"running: the dispatch hangs outside a submission",
         {300, 45000, 200, false, EngineStage::Running}, false,
         "the dispatch has stood still for 45 s"},
        {"a slow submission while the modem dialogue moves on",
         {300, 80000, 29000, true, EngineStage::Running}, true, ""},
        {"a submission that has heard nothing from the modem for too long",
         {300, 95000, 95000, true, EngineStage::Running}, false,
         "a submission has had no exchange with the modem for 95 s"},
        {"stopping: the submission in flight still counts",
         {300, 40000, 1000, true, EngineStage::Stopping}, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const Liveness l = judgeLiveness(c.ages);
        EXPECT_EQ(l.alive, c.alive);
        EXPECT_EQ(l.why, c.why);
    }
}

TEST(OrderlyStop, NoSubmissionStartsOnceAStopIsRequested) {
    resetActivityForTest();
    ASSERT_TRUE(beginSubmission());
    EXPECT_EQ(submissionsInFlight(), 1);
    requestStop();
    EXPECT_FALSE(beginSubmission());  // refused, and not counted
    EXPECT_EQ(submissionsInFlight(), 1);
    endSubmission();
    EXPECT_EQ(submissionsInFlight(), 0);
    resetActivityForTest();
}

class StatusFormats : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        oldTz = tz != nullptr ? tz : "";
        hadTz = tz != nullptr;
        test::setEnvironment("TZ", "UTC");
        ::tzset();
        s.pid = 4242;
        s.stage = EngineStage::Running;
        s.port = "/dev/serial/by-id/usb-Modem-if00";
        s.signalPolled = true;
        s.signal = 17;
        s.queued = 2;
        s.sending = 1;
        s.sent = 10;
        s.failed = 1;
        s.retried = 3;
        s.received = 4;
        s.partsSent = 12;
        s.lastError = {"ERROR sending to +4917012 (try 1/5)\nforged: line", 1767229500};
        s.started = 1767225600;      // 2026-01-01 00:00:00 UTC
        s.now = s.started + 93784;  // 1 d 2 h 3 min 4 s later
    }
    void TearDown() override {
        if (hadTz) test::setEnvironment("TZ", oldTz.c_str());
        else test::unsetEnvironment("TZ");
        ::tzset();
    }
    StatusSnapshot s;
    std::string oldTz;
    bool hadTz = false;
};

TEST_F(StatusFormats, StatusFileHasOneKeyALine) {
    s.pidStart = "0c1f:8812";
    // Lines ended as the platform's text files are: CR LF on Windows.
    std::string expected =
        "gsmsd " GSMS_VERSION " (Velkora GSM/SMS)\n"
        "pid: 4242\n"
        "pid start: 0c1f:8812\n"
        "state: running\n"
        "modem: in service\n"
        "port: /dev/serial/by-id/usb-Modem-if00\n"
        "signal: 17\n"
        "jobs queued: 2\n"
        "jobs sending: 1\n"
        "sent: 10\n"
        "failed: 1\n"
        "retried: 3\n"
        "received: 4\n"
        "last error: ERROR sending to +4917012 (try 1/5)\\nforged: line\n"
        "last error at: 2026-01-01 01:05:00\n"
        "started: 2026-01-01 00:00:00\n"
        "uptime: 1 d 2 h 3 min 4 s\n"
        "updated: 2026-01-02 02:03:04\n";
    const std::size_t end = files::kLineEnd.size();
    for (auto at = expected.find('\n'); at != std::string::npos; at = expected.find('\n', at + end))
        expected.replace(at, 1, files::kLineEnd);
    EXPECT_EQ(statusText(s), expected);
}

TEST_F(StatusFormats, StatusLineForTheServiceManager) {
    EXPECT_EQ(statusLine(s),
              "Running, modem in service, signal 17; 2 queued, 1 sending; 10 sent, 1 failed, "
              "3 retried, 4 received; last error 01:05:00 ERROR sending to +4917012 (try "
              "1/5)\\nforged: line");
    s.stage = EngineStage::Initialising;
    s.lastError = {};
    EXPECT_EQ(statusLine(s), "Initialising the modem; 2 queued, 1 sending; 10 sent, 1 failed, "
                             "3 retried, 4 received");
}

TEST_F(StatusFormats, MetricsInThePrometheusTextFormat) {
    s.signalPolled = false;  // no reading yet: no signal metric rather than a false 0
    s.portHungUp = true;
    const std::string m = metricsText(s);
    for (const char* line : {
             "\ngsms_info{version=\"" GSMS_VERSION "\"} 1\n",
             "\n# TYPE gsms_running gauge\ngsms_running 1\n",
             "\ngsms_modem_in_service 0\n",
             "\ngsms_jobs_queued 2\n",
             "\ngsms_jobs_sending 1\n",
             "\n# TYPE gsms_jobs_sent_total counter\ngsms_jobs_sent_total 10\n",
             "\ngsms_jobs_failed_total 1\n",
             "\ngsms_jobs_retried_total 3\n",
             "\n# TYPE gsms_sms_parts_sent_total counter\ngsms_sms_parts_sent_total 12\n",
             "\ngsms_sms_received_total 4\n",
             "\ngsms_last_error_timestamp_seconds 1767229500\n",
             "\ngsms_start_time_seconds 1767225600\n",
             "\ngsms_status_time_seconds 1767319384\n",
         })
        EXPECT_NE(m.find(line), std::string::npos) << line;
    EXPECT_EQ(m.find("gsms_signal_quality"), std::string::npos);
    EXPECT_EQ(m.back(), '\n');
}

// Two modems, the second's path down: every form names it, the first still carries alarms.
TEST_F(StatusFormats, EachOfTwoModemsIsShownWithItsState) {
    s.modems = {{1, "/dev/ttyUSB0", "in service", true, true, 17, 6, 1},
                {2, "/dev/ttyUSB1", "path down", false, false, 0, 4, 3}};
    const std::string text = statusText(s);
    for (const char* line : {"\nmodem: in service (modem 2 path down)", "\nmodem 1: in service",
                             "\nmodem 2: path down", "\nmodem 2 port: /dev/ttyUSB1",
                             "\nmodem 1 signal: 17", "\nmodem 2 signal: not read yet",
                             "\nmodem 2 sent: 4", "\nmodem 2 failed: 3"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_TRUE(statusLine(s).starts_with(
        "Running, modem 1 in service, signal 17, modem 2 path down; 2 queued"));
    const std::string m = metricsText(s);
    for (const char* line : {"\ngsms_modem_in_service{modem=\"1\"} 1\n",
                             "\ngsms_modem_in_service{modem=\"2\"} 0\n",
                             "\ngsms_signal_quality{modem=\"1\"} 17\n",
                             "\ngsms_modem_sms_sent_total{modem=\"2\"} 4\n",
                             "\ngsms_modem_attempts_failed_total{modem=\"2\"} 3\n"})
        EXPECT_NE(m.find(line), std::string::npos) << line;
    EXPECT_EQ(m.find("gsms_signal_quality{modem=\"2\"}"), std::string::npos);
    s.modems[0].inService = false;
    s.modems[0].state = "port hung up";
    EXPECT_NE(statusText(s).find("\nmodem: modem 1 port hung up, modem 2 path down"),
              std::string::npos);
}

}  // namespace
}  // namespace gsms

// Dispatch of queued jobs against a scripted modem: attempts, retries, captions, outcomes.
#include "jobs/dispatch.h"
#include "jobs/pipeline_support.h"
#include "sms/scripted_modem.h"

namespace gsms::test {
namespace {

class Dispatch : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        modem().clear();
        modem().noPrompt = false;
        modem().failPart = -1;
    }
    int queue(const char* szenario, const char* phone, const char* message, int flash = 0) {
        AlarmJob j{};
        std::snprintf(j.Szenario, sizeof j.Szenario, "%s", szenario);
        std::snprintf(j.PhoneNumber, sizeof j.PhoneNumber, "%s", phone);
        std::snprintf(j.Message, sizeof j.Message, "%s", message);
        std::snprintf(j.Name, sizeof j.Name, "Anna");
        std::snprintf(j.AlarmKey, sizeof j.AlarmKey, "K1");
        j.mini = szenario[0] == '\0';
        j.Flash = flash;
        return new_alarm(j);
    }
    AlarmJob& job(int slot) { return *jobTable().slots[slot]; }
};

TEST_F(Dispatch, SentAlarmIsFinishedWithStatusSent) {
    const int slot = queue("plant", "+49170", "fire", 1);
    dispatchSweep();
    EXPECT_EQ(job(slot).status, STATUS_SENT);
    EXPECT_EQ(job(slot).finished, 1);
    EXPECT_EQ(job(slot).tries, 0);
    EXPECT_NE(job(slot).sent_at, 0);
    EXPECT_TRUE(jobFinished().isSet());  // the report follows at once
    EXPECT_EQ(jobSlotView(slot).state, 2);
    EXPECT_EQ(jobSlotView(slot).text, "sending alarm K1 to Anna");
    EXPECT_EQ(countLines("Message sent to +49170", kColorGreen), 1);
    EXPECT_EQ(modem().commands().at(0), "at+csmp=17,167,0,16");  // flash
    EXPECT_EQ(modem().parts(), std::vector<std::string>{"fire"});
}

TEST_F(Dispatch, FailedAlarmIsRetriedAndThenSent) {
    modem().failPart = 0;
    const int slot = queue("plant", "7", "fire");
    dispatchSweep();
    EXPECT_EQ(job(slot).finished, 0);
    EXPECT_EQ(job(slot).sent_at, 0);
    EXPECT_FALSE(jobFinished().isSet());
    EXPECT_EQ(countLines("ERROR sending to 7 (try 1/5)", kColorRed), 1);
    dispatchSweep();
    EXPECT_EQ(job(slot).finished, 1);
    EXPECT_EQ(job(slot).status, STATUS_SENT);
    EXPECT_EQ(job(slot).tries, 1);
}

TEST_F(Dispatch, LastAllowedFailureSettlesTheAlarmAsFailed) {
    settings().retryCount = 1;
    modem().failPart = 0;
    const int slot = queue("plant", "7", "fire");
    dispatchSweep();
    EXPECT_EQ(job(slot).finished, 1);
    EXPECT_EQ(job(slot).status, STATUS_FAILED);
    EXPECT_EQ(countLines("ERROR sending to 7 (try 1/1)", kColorRed), 1);
    EXPECT_NE(dailyLog().find("ERROR sending to 7 (try 1/1)"), std::string::npos);
}

TEST_F(Dispatch, WaitingRetryDoesNotHoldUpANewJob) {
    settings().retryDelay = 120;
    modem().failPart = 0;
    const int first = queue("plant", "1", "one");
    dispatchSweep();
    const int second = queue("plant", "2", "two");
    dispatchSweep();
    EXPECT_EQ(job(first).finished, 0);
    EXPECT_GE(job(first).next_try_at, clock::wallSeconds() + 100);
    EXPECT_EQ(job(second).status, STATUS_SENT);
    EXPECT_EQ(modem().parts(), (std::vector<std::string>{"one", "two"}));
}

TEST_F(Dispatch, MiniMessageGetsOneAttemptAndAShortCaption) {
    modem().failPart = 0;
    const int failed = queue("", "9", "0123456789abcdef");
    dispatchSweep();
    EXPECT_EQ(job(failed).finished, 1);
    EXPECT_EQ(job(failed).status, STATUS_FAILED);
    EXPECT_TRUE(jobFinished().isSet());
    EXPECT_EQ(jobSlotView(failed).text, "sending '0123456789abcdef' to Anna");
    EXPECT_EQ(countLines("ERROR sending to 9", kColorRed), 1);
    EXPECT_EQ(countLines("(try", kColorRed), 0);

    const int longer = queue("", "9", "0123456789abcdefg");
    dispatchSweep();
    EXPECT_EQ(job(longer).status, STATUS_SENT);
    EXPECT_EQ(jobSlotView(longer).text, "sending '0123456789abcdef (...)' to Anna");
}

}  // namespace
}  // namespace gsms::test

// Dispatch of queued jobs against a modem that answers each submission as the test says:
// attempts, retries, captions, outcomes. What the modem makes of a submission is sendSms's.
#include "jobs/dispatch.h"

#include <string>
#include <vector>

#include "jobs/pipeline_support.h"

namespace gsms::test {
namespace {

// The modem as dispatch sees it: each submission accepted (0) or refused (-1, as sendSms also
// says of a modem that does not answer in time), and what was handed over.
struct Submission {
    std::string number, text;
    int flash;
};
std::vector<Submission> submitted;
int refused = -1;  // the zero-based submission the modem refuses

int answer(ModemLink&, const char* number, const char* text, int flash) {
    submitted.push_back({number, text, flash});
    return static_cast<int>(submitted.size()) - 1 == refused ? -1 : 0;
}

class Dispatch : public PipelineTest {
protected:
    void SetUp() override {
        PipelineTest::SetUp();
        submitted.clear();
        refused = -1;
        setSubmitFunction(&answer);
    }
    void TearDown() override {
        clock::setWallOffsetForTest(0);
        setSubmitFunction(nullptr);
        PipelineTest::TearDown();
    }
    static std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const Submission& s : submitted) out.push_back(s.text);
        return out;
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
    ASSERT_EQ(submitted.size(), 1u);
    EXPECT_EQ(submitted[0].number, "+49170");
    EXPECT_EQ(submitted[0].flash, 1);
    EXPECT_EQ(texts(), std::vector<std::string>{"fire"});
}

// A job queued into a slot freed meanwhile is younger than those behind it: it waits its turn.
TEST_F(Dispatch, OldestQueuedGoesFirstWhateverItsSlot) {
    const int first = queue("plant", "1", "one");
    queue("plant", "2", "two");
    free_alarm(first);
    EXPECT_EQ(queue("plant", "3", "three"), first);
    dispatchSweep();
    EXPECT_EQ(texts(), (std::vector<std::string>{"two", "three"}));
}

TEST_F(Dispatch, FailedAlarmIsRetriedAndThenSent) {
    refused = 0;
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
    refused = 0;
    const int slot = queue("plant", "7", "fire");
    dispatchSweep();
    EXPECT_EQ(job(slot).finished, 1);
    EXPECT_EQ(job(slot).status, STATUS_FAILED);
    EXPECT_EQ(countLines("ERROR sending to 7 (try 1/1)", kColorRed), 1);
    EXPECT_NE(dailyLog().find("ERROR sending to 7 (try 1/1)"), std::string::npos);
}

TEST_F(Dispatch, WaitingRetryDoesNotHoldUpANewJob) {
    settings().retryDelay = 120;
    refused = 0;
    const int first = queue("plant", "1", "one");
    dispatchSweep();
    const int second = queue("plant", "2", "two");
    dispatchSweep();
    EXPECT_EQ(job(first).finished, 0);
    EXPECT_GE(job(first).next_try_at, clock::monotonicMs() + 100000);
    EXPECT_EQ(job(second).status, STATUS_SENT);
    EXPECT_EQ(texts(), (std::vector<std::string>{"one", "two"}));
}

// The wall clock steps between a refusal and its retry (a time server, a daylight-saving fault):
// the retry comes RetryDelay after the refusal all the same, neither an hour late nor at once.
TEST_F(Dispatch, RetryDelayIsCountedOnTheMonotonicClock) {
    settings().retryDelay = 60;
    for (const std::int64_t step : {-3600, 3600}) {
        resetJobTableForTest();
        submitted.clear();
        refused = 0;
        const int slot = queue("plant", "7", "fire");
        const std::int64_t refusedAt = clock::monotonicMs();
        dispatchSweep();
        clock::setWallOffsetForTest(step);
        dispatchSweep();
        if (clock::monotonicMs() < refusedAt + 60000) {
            EXPECT_EQ(submitted.size(), 1u) << step;  // not yet
        }
        while (submitted.size() < 2 && clock::monotonicMs() < refusedAt + 120000) {
            clock::sleepMs(500);
            dispatchSweep();
        }
        EXPECT_GE(clock::monotonicMs() - refusedAt, 60000) << step;
        EXPECT_EQ(job(slot).status, STATUS_SENT) << step;
    }
}

TEST_F(Dispatch, MiniMessageGetsOneAttemptAndAShortCaption) {
    refused = 0;
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

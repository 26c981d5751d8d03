// The OperatorThread: one action at a time, only while the engine runs, its start and end
// posted to the front end (run under ThreadSanitizer too).
#include "gateway/operator_action.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>

#include "core/log.h"
#include "gateway/engine.h"
#include "modem/modem_state.h"

namespace gsms {
namespace {

struct Posted {
    std::mutex lock;
    std::condition_variable changed;
    int stateCodes = 0;
};

TEST(OperatorAction, OneAtATimeOnlyWhileTheEngineRuns) {
    resetLogQueueForTest();
    // Shared with the OperatorThread, which may post after the test has looked.
    auto posted = std::make_shared<Posted>();
    setNotifier([posted](int code) {
        std::lock_guard lock(posted->lock);
        if (code == kNotifyEngineState) ++posted->stateCodes;
        posted->changed.notify_all();
    });

    setEngineStageForTest(EngineStage::Starting);
    EXPECT_EQ(startOperatorAction(OperatorAction::SendSms, [] {}), -1);
    EXPECT_EQ(runningOperatorAction(), OperatorAction::None);

    setEngineStageForTest(EngineStage::Running);
    {
        std::lock_guard lock(posted->lock);
        posted->stateCodes = 0;  // the stage changes were posted too; count the action's own
    }
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    auto ran = std::make_shared<std::atomic<bool>>(false);
    ASSERT_EQ(startOperatorAction(OperatorAction::SendSms, [released, ran] {
                  released.wait();
                  ran->store(true);
              }),
              0);
    EXPECT_EQ(runningOperatorAction(), OperatorAction::SendSms);
    EXPECT_EQ(startOperatorAction(OperatorAction::ChangeSmsc, [] {}), -1);  // one at a time
    go.set_value();
    {
        std::unique_lock lock(posted->lock);
        // Posted at the start and at the end.
        ASSERT_TRUE(posted->changed.wait_for(lock, std::chrono::seconds(60),
                                             [&] { return posted->stateCodes >= 2; }));
    }
    EXPECT_TRUE(ran->load());
    EXPECT_EQ(runningOperatorAction(), OperatorAction::None);

    // An action that cannot start says so the way its failure would.
    setEngineStageForTest(EngineStage::Stopped);
    EXPECT_EQ(startHandSms("+4917011", "text", 0), -1);
    EXPECT_EQ(startSmscChange("+4917022", 145), -1);
    auto first = takeLogLine(), second = takeLogLine();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text.substr(20), "ERROR sending to +4917011");
    EXPECT_EQ(first->colour, kColorRed);
    EXPECT_EQ(second->text.substr(20), "ERROR changing the SMSC to +4917022");
    // A modem the engine does not have: nothing stored in the first one's state.
    EXPECT_EQ(changeSmsc("+4917033", 145, 2), -1);
    EXPECT_STRNE(modemState().smscNumber, "+4917033");

    setEngineStageForTest(EngineStage::NotStarted);
    setNotifier(nullptr);
}

}  // namespace
}  // namespace gsms

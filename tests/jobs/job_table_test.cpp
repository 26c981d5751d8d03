#include "jobs/job_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

AlarmJob makeJob(const char* szenario, const char* phone) {
    AlarmJob j{};
    std::snprintf(j.Szenario, sizeof j.Szenario, "%s", szenario);
    std::snprintf(j.PhoneNumber, sizeof j.PhoneNumber, "%s", phone);
    std::snprintf(j.Message, sizeof j.Message, "fire in hall 3");
    j.dbentry = 8;
    j.Rings = 8;
    j.ConfirmType = 8;
    j.SendConfirmAck = 1;
    return j;
}

class JobTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetJobTableForTest();
        resetLogQueueForTest();
        setNotifier([this](int code) {
            std::lock_guard lock(mutex);
            codes.push_back(code);
        });
    }
    void TearDown() override {
        resetLogQueueForTest();
        resetJobTableForTest();
    }
    std::string log() { return test::readFile(dailyLogPath(clock::localNow())); }
    test::TempDir dir;
    std::mutex mutex;
    std::vector<int> codes;
};

TEST_F(JobTableTest, FullTableRefusesAndLogsOverflow) {
    AlarmJob j = makeJob("s", "1");
    for (int i = 0; i < kJobSlots; ++i) ASSERT_EQ(new_alarm(j), i);
    EXPECT_EQ(new_alarm(j), -1);
    EXPECT_EQ(jobTable().count, kJobSlots);
    EXPECT_NE(log().find("** new_alarm ** ERROR: jobs overflow (>1024)\n"), std::string::npos);
}

TEST_F(JobTableTest, LowestFreeSlotIsReused) {
    AlarmJob j = makeJob("s", "1");
    for (int i = 0; i < 10; ++i) ASSERT_EQ(new_alarm(j), i);
    free_alarm(5);
    EXPECT_EQ(new_alarm(j), 5);
    EXPECT_EQ(jobTable().count, 10);
}

TEST_F(JobTableTest, DoubleFreeWritesAndPostsNothing) {
    ASSERT_EQ(new_alarm(makeJob("s", "1")), 0);
    free_alarm(0);
    std::string once = log();
    std::size_t posted = codes.size();
    free_alarm(0);
    EXPECT_EQ(log(), once);
    EXPECT_EQ(codes.size(), posted);
    EXPECT_NE(once.find("** free_alarm ** job 0 freed\n"), std::string::npos);
    EXPECT_EQ(jobTable().count, 0);
}

TEST_F(JobTableTest, ExistsIgnoresFlashButNotRingsOrCase) {
    AlarmJob queued = makeJob("Hall", "+491");
    queued.Flash = 0;
    ASSERT_EQ(new_alarm(queued), 0);
    AlarmJob flash = queued;
    flash.Flash = 1;
    std::snprintf(flash.path, sizeof flash.path, "/elsewhere/x.sms");
    EXPECT_TRUE(alarm_exists(flash));
    AlarmJob rings = queued;
    rings.Rings = 3;
    EXPECT_FALSE(alarm_exists(rings));
    AlarmJob lower = makeJob("hall", "+491");
    EXPECT_FALSE(alarm_exists(lower));
}

TEST_F(JobTableTest, SlotViewsAnnouncedAsSlotPlusOne) {
    update_job_slot(0, 2, "sending alarm K1 to Bob");
    update_job_slot(29, 2, "sending");
    update_job_slot(30, 2, "invisible");
    EXPECT_EQ(codes, (std::vector<int>{1, 30}));
    EXPECT_EQ(jobSlotView(0).state, 2);
    EXPECT_EQ(jobSlotView(0).text, "sending alarm K1 to Bob");
    ASSERT_EQ(new_alarm(makeJob("s", "1")), 0);
    free_alarm(0);
    EXPECT_EQ(jobSlotView(0).state, 0);
    EXPECT_EQ(jobSlotView(0).text, "");
    EXPECT_EQ(codes.back(), 1);
}

TEST_F(JobTableTest, LongCaptionIsCut) {
    update_job_slot(3, 2, std::string(400, 'c').c_str());
    EXPECT_EQ(jobSlotView(3).text.size(), 255u);
}

}  // namespace
}  // namespace gsms

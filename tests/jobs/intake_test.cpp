// The watcher's reading of job files: texts, defaults, rejections and what it remembers.
#include <filesystem>

#include "jobs/pipeline_support.h"

namespace gsms::test {
namespace {

using Intake = PipelineTest;

TEST_F(Intake, AlarmTextsComeFromTheFileTheTextsFileOrTheKey) {
    writeFile("KORLIN.INI", "[Messages]\r\nK1=Fire in hall 3\r\n");
    writeJob("a.sms", "Szenario=plant\r\nPhoneNumber=+4917011\r\nName=Anna\r\nAlarmKey=K1\r\n");
    ASSERT_EQ(scanJobDirectory(), 1);
    EXPECT_STREQ(onlyJob()->Message, "Fire in hall 3");
    EXPECT_EQ(onlyJob()->mini, 0);
    EXPECT_EQ(countLines("Sending alarm plant to +4917011", kColorGrey), 1);

    resetJobTableForTest();
    fs::remove("watch/a.sms");
    writeJob("b.SMS", "Szenario=plant\r\nPhoneNumber=1\r\nAlarmKey=K9\r\n");
    ASSERT_EQ(scanJobDirectory(), 1);  // the mask ignores letter case
    EXPECT_STREQ(onlyJob()->Message, "ALARM K9");
}

TEST_F(Intake, DefaultsAndTheMiniMessage) {
    writeJob("m.sms", "PhoneNumber=555\r\nMessage=hello\r\n");
    ASSERT_EQ(scanJobDirectory(), 1);
    const AlarmJob* j = onlyJob();
    EXPECT_EQ(j->mini, 1);
    EXPECT_EQ(j->dbentry, 8);
    EXPECT_EQ(j->Rings, 8);
    EXPECT_EQ(j->ConfirmType, 8);
    EXPECT_EQ(j->SendConfirmAck, 1);
    EXPECT_EQ(j->Flash, 0);
    EXPECT_EQ(std::string(j->path), dir.path() + "/watch/m.sms");
    EXPECT_EQ(countLines("Sending mini-message to 555", kColorGrey), 1);
    EXPECT_NE(dailyLog().find("Sending mini-message to 555"), std::string::npos);

    AlarmJob k;
    writeJob("r.sms", "PhoneNumber=1\r\nMessage=x\r\nRings=3\r\n");
    ASSERT_TRUE(readJobFile(dir.path() + "/watch/r.sms", k));
    EXPECT_EQ(k.ConfirmType, 3);  // follows Rings when missing
}

TEST_F(Intake, QueuedJobIsNotQueuedAgain) {
    writeFile("KORLIN.INI", "[Messages]\r\nK1=from the texts file\r\n");
    writeJob("a.sms", "Szenario=plant\r\nPhoneNumber=1\r\nAlarmKey=K1\r\n");
    ASSERT_EQ(scanJobDirectory(), 1);
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(jobTable().count.load(), 1);
}

TEST_F(Intake, BadRequestsGoToTheErrorDirectoryUnderTheirOwnName) {
    writeJob("nophone.sms", "Szenario=plant\r\nMessage=x\r\n");
    writeJob("notext.sms", "PhoneNumber=1\r\n");
    writeFile("watch/garbage.sms", std::string("\x01\x02\xff binary", 10));
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(filesIn("error"),
              (std::vector<std::string>{"garbage.sms", "nophone.sms", "notext.sms"}));
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 3);
    EXPECT_EQ(dailyLog().find("Bad request"), std::string::npos);
}

TEST_F(Intake, UnmovableBadRequestIsReportedAtEveryScanButItsMoveFailureOnce) {
    set(settings().errorPath, dir.path() + "/missing");
    writeJob("bad.sms", "PhoneNumber=1\r\n");
    scanJobDirectory();
    scanJobDirectory();
    EXPECT_TRUE(fs::exists("watch/bad.sms"));
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 2);
    EXPECT_EQ(countLines("could not move " + dir.path() + "/watch/bad.sms", kColorRed), 1);

    settings().moveJobs = 0;
    settings().watchLogPath[0] = '\0';  // no target at all: stays, no move line
    writeJob("bad2.sms", "Message=x\r\n");
    scanJobDirectory();
    EXPECT_TRUE(fs::exists("watch/bad2.sms"));
    EXPECT_EQ(countLines("could not move", kColorRed), 1);
}

TEST_F(Intake, JobLimitLeavesTheRestForALaterScan) {
    for (int i = 0; i < kJobLimit + 2; ++i)
        writeJob("j" + std::to_string(i) + ".sms",
                 "PhoneNumber=" + std::to_string(i) + "\r\nMessage=m\r\n");
    EXPECT_EQ(scanJobDirectory(), kJobLimit);
    EXPECT_EQ(scanJobDirectory(), 0);
    free_alarm(0);
    free_alarm(1);
    EXPECT_EQ(scanJobDirectory(), 2);
    EXPECT_EQ(jobTable().count.load(), kJobLimit);
}

TEST_F(Intake, SettledFileIsNotQueuedUntilItChanges) {
    writeJob("s.sms", "PhoneNumber=1\r\nMessage=once\r\n");
    rememberSettledFile(dir.path() + "/watch/s.sms");
    EXPECT_EQ(scanJobDirectory(), 0);
    // Rewritten by the alarm server: a new job.
    writeJob("s.sms", "PhoneNumber=1\r\nMessage=once more\r\n");
    EXPECT_EQ(scanJobDirectory(), 1);
}

TEST_F(Intake, OverlongPathStaysAndIsLoggedOnce) {
    const std::string deep = "watch/" + std::string(200, 'd');
    fs::create_directory(deep);
    set(settings().watchPath, dir.path() + "/" + deep);
    writeFile(deep + "/" + std::string(60, 'n') + ".sms", "[Alarm]\r\nPhoneNumber=1\r\nMessage=x\r\n");
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(countLines("ERROR: job file path too long", kColorRed), 1);
    EXPECT_EQ(filesIn(deep).size(), 1u);
}

}  // namespace
}  // namespace gsms::test

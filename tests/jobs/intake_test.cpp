// The watcher's reading of job files: texts, defaults, rejections and what it remembers.
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

#include "jobs/pipeline_support.h"
#include "support/utf16_text.h"

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

// An alarm server that writes Unicode INI files, as Windows programs do, is understood: the
// texts reach the gateway in ISO 8859-1.
TEST_F(Intake, UnicodeJobFilesAndTextsAreReadIntoLatin1) {
    writeFile("watch/u.sms",
              utf16(u"[Alarm]\r\nPhoneNumber=+4917011\r\nMessage=Grüße aus Köln €\r\n", false));
    AlarmJob j;
    ASSERT_TRUE(readJobFile(dir.path() + "/watch/u.sms", j));
    EXPECT_STREQ(j.Message, "Gr\xFC\xDF" "e aus K\xF6ln ?");

    writeFile("KORLIN.INI", utf16(u"[Messages]\r\nK1=Überdruck in Halle 3\r\n", true));
    writeFile("watch/b.sms",
              "\xEF\xBB\xBF[Alarm]\r\nSzenario=plant\r\nPhoneNumber=1\r\nAlarmKey=K1\r\n");
    fs::remove("watch/u.sms");
    ASSERT_EQ(scanJobDirectory(), 1);
    EXPECT_STREQ(onlyJob()->Message, "\xDC" "berdruck in Halle 3");
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

// A job file whose full path is longer than the system takes is named, never cut into another
// file's name.
TEST_F(Intake, OverlongPathStaysAndIsLoggedOnce) {
    // A watch folder nearly as deep as a path may be, built a level at a time.
    std::string deep = dir.path() + "/watch";
    std::vector<int> levels{::open(deep.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    const std::string level(250, 'd');
    while (deep.size() + level.size() + 1 < paths::kPathSize - 1) {
        ASSERT_EQ(::mkdirat(levels.back(), level.c_str(), 0755), 0);
        levels.push_back(::openat(levels.back(), level.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        deep += "/" + level;
    }
    const std::string name = std::string(250, 'n') + ".sms";  // together beyond kPathSize
    const std::string body = "[Alarm]\r\nPhoneNumber=1\r\nMessage=x\r\n";
    const int fd = ::openat(levels.back(), name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
    ::close(fd);
    set(settings().watchPath, deep);

    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(countLines("ERROR: job file path too long", kColorRed), 1);
    const std::string whole = "ERROR: job file path too long, left in place: " + deep + "/" + name;
    const std::string daily = dailyLog();
    EXPECT_NE(daily.find(whole + "\n"), std::string::npos);  // the daily log has it whole
    EXPECT_EQ(daily.find(whole), daily.rfind(whole));
    struct stat st {};
    EXPECT_EQ(::fstatat(levels.back(), name.c_str(), &st, 0), 0);

    // Too deep for a path-based clean-up: taken down a level at a time.
    ::unlinkat(levels.back(), name.c_str(), 0);
    for (std::size_t i = levels.size() - 1; i > 0; --i) {
        ::close(levels[i]);
        ::unlinkat(levels[i - 1], level.c_str(), AT_REMOVEDIR);
    }
    ::close(levels[0]);
}

}  // namespace
}  // namespace gsms::test

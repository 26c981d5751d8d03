// The watcher's reading of job files: texts, defaults, rejections and what it remembers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

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
// texts reach the gateway whole, in UTF-8, and are cut after 2047 characters, not bytes.
TEST_F(Intake, UnicodeJobFilesAndTextsAreReadIntoUtf8) {
    writeFile("watch/u.sms",
              utf16(u"[Alarm]\r\nPhoneNumber=+4917011\r\nMessage=Grüße aus Köln €\r\n", false));
    AlarmJob j;
    ASSERT_TRUE(readJobFile(dir.path() + "/watch/u.sms", j));
    EXPECT_STREQ(j.Message, "Grüße aus Köln €");
    std::string longest;
    for (int i = 0; i < 2100; ++i) longest += "\U0001F525";
    writeFile("watch/u.sms", "[Alarm]\r\nPhoneNumber=1\r\nMessage=" + longest + "\r\n");
    ASSERT_TRUE(readJobFile(dir.path() + "/watch/u.sms", j));
    EXPECT_EQ(std::string(j.Message), longest.substr(0, 2047 * 4));

    writeFile("KORLIN.INI", utf16(u"[Messages]\r\nK1=Überdruck in Halle 3\r\n", true));
    writeFile("watch/b.sms",
              "\xEF\xBB\xBF[Alarm]\r\nSzenario=plant\r\nPhoneNumber=1\r\nAlarmKey=K1\r\n");
    fs::remove("watch/u.sms");
    ASSERT_EQ(scanJobDirectory(), 1);
    EXPECT_STREQ(onlyJob()->Message, "Überdruck in Halle 3");
}

TEST_F(Intake, QueuedJobIsNotQueuedAgain) {
    writeFile("KORLIN.INI", "[Messages]\r\nK1=from the texts file\r\n");
    writeJob("a.sms", "Szenario=plant\r\nPhoneNumber=1\r\nAlarmKey=K1\r\n");
    ASSERT_EQ(scanJobDirectory(), 1);
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(jobTable().count.load(), 1);
}

// A bad request is one only once it has stayed unchanged: its writer may not be done.
TEST_F(Intake, BadRequestsSettleThenGoToTheErrorDirectoryNamedInTheDailyLog) {
    writeJob("nophone.sms", "Szenario=plant\r\nMessage=x\r\n");
    writeJob("notext.sms", "PhoneNumber=1\r\n");
    writeFile("watch/garbage.sms", std::string("\x01\x02\xff binary", 10));
    writeFile("watch/huge.sms", std::string((16u << 20) + 1, '\n'));
    writeFile("error/notext.sms", "an earlier reject");
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(filesIn("error"), std::vector<std::string>{"notext.sms"});
    settle();
    EXPECT_EQ(scanJobDirectory(), 0);
    const std::vector<std::string> rejected = filesIn("error");
    ASSERT_EQ(rejected.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(rejected.begin() + 1, rejected.end()),
              (std::vector<std::string>{"garbage.sms", "huge.sms", "nophone.sms", "notext.sms"}));
    EXPECT_EQ(rejected[0].substr(8), "-notext.sms");  // the taken name counted up, as results
    EXPECT_EQ(readFile("error/notext.sms"), "an earlier reject");
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 4);
    const std::string daily = dailyLog();
    const std::string in = dir.path() + "/watch/";
    for (const char* line :
         {"nophone.sms: no PhoneNumber\n", "notext.sms: neither Message nor Szenario\n",
          "garbage.sms: no PhoneNumber\n", "huge.sms: not readable (File too large)\n"})
        EXPECT_NE(daily.find("Bad request: " + in + line), std::string::npos) << line;
}

TEST_F(Intake, UnmovableBadRequestIsReportedAtEveryScanButItsMoveFailureOnce) {
    set(settings().errorPath, dir.path() + "/missing");
    writeJob("bad.sms", "PhoneNumber=1\r\n");
    scanJobDirectory();
    settle();
    scanJobDirectory();
    scanJobDirectory();
    EXPECT_TRUE(fs::exists("watch/bad.sms"));
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 2);
    EXPECT_EQ(countLines("could not move " + dir.path() + "/watch/bad.sms", kColorRed), 1);

    settings().moveJobs = 0;
    settings().watchLogPath[0] = '\0';  // no target at all: stays, no move line
    writeJob("bad2.sms", "Message=x\r\n");
    scanJobDirectory();
    settle();
    scanJobDirectory();
    EXPECT_TRUE(fs::exists("watch/bad2.sms"));
    EXPECT_EQ(countLines("could not move", kColorRed), 1);
}

// Files that may be cut short by a writer that is not done: neither taken nor rejected before
// they have stayed unchanged; a writer that finishes meanwhile gets its whole file sent.
TEST_F(Intake, FileThatLooksUnfinishedWaitsUntilItSettles) {
    struct Case {
        const char* label;
        std::string bytes;
        std::string rest;     // what the writer adds later ("": nothing, it has settled)
        const char* message;  // what is sent
    } const cases[] = {
        {"last line without its line end", "[Alarm]\r\nPhoneNumber=1\r\nMessage=Feuer", "",
         "Feuer"},
        {"UTF-16 cut inside a character",
         utf16(u"[Alarm]\r\nPhoneNumber=1\r\nMessage=Tor 2\r\n", false) + "T", "", "Tor 2"},
        {"phone number not there yet", "[Alarm]\r\nMessage=Tor 3\r\n", "PhoneNumber=3\r\n",
         "Tor 3"},
    };
    for (const Case& c : cases) {
        resetJobTableForTest();
        writeFile("watch/u.sms", c.bytes);
        EXPECT_EQ(scanJobDirectory(), 0) << c.label;
        if (c.rest.empty()) {
            settle();
        } else {
            writeFile("watch/u.sms", c.bytes + c.rest);
        }
        ASSERT_EQ(scanJobDirectory(), 1) << c.label;
        EXPECT_STREQ(onlyJob()->Message, c.message) << c.label;
        fs::remove("watch/u.sms");
    }
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 0);
}

// A local writer that keeps the file open between its pieces: the file waits for the close,
// even when every piece ends a line and the request is valid before the last one.
TEST_F(Intake, FileStillOpenToItsWriterWaitsForTheClose) {
    DirWatch watch;
    ASSERT_TRUE(watch.arm(dir.path() + "/watch"));
    const int fd = ::open("watch/w.sms", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    const std::string first = "[Alarm]\r\nPhoneNumber=1\r\nMessage=Feuer in Halle 3\r\n";
    const std::string last = "Szenario=plant\r\n";
    ASSERT_EQ(::write(fd, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    EXPECT_EQ(scanJobDirectory(&watch), 0);
    ASSERT_EQ(::write(fd, last.data(), last.size()), static_cast<ssize_t>(last.size()));
    ::close(fd);
    ASSERT_EQ(watch.wait(60000), 1);
    ASSERT_EQ(scanJobDirectory(&watch), 1);
    EXPECT_STREQ(onlyJob()->Szenario, "plant");  // an alarm, not a mini-message
}

// One job per file version for as long as the file stays (reporting could not move it): a
// touch or the same bytes written again send nothing; new bytes are a new job; a file that
// left the folder and came back (a failed job moved back from the error folder) is a new drop.
TEST_F(Intake, AJobFileVersionIsQueuedOnce) {
    const std::string body = "[Alarm]\r\nPhoneNumber=1\r\nMessage=once\r\n";
    writeFile("watch/s.sms", body);
    ASSERT_EQ(scanJobDirectory(), 1);
    struct Case {
        const char* label;
        std::function<void()> change;
        int queued;
    } const cases[] = {
        {"left as it was", [] {}, 0},
        {"touched", [] { ::utimensat(AT_FDCWD, "watch/s.sms", nullptr, 0); }, 0},
        {"the same bytes written again", [&] { writeFile("watch/s.sms", body); }, 0},
        {"new bytes", [&] { writeFile("watch/s.sms", body + "Name=Anna\r\n"); }, 1},
        {"moved out and back",
         [] {
             fs::rename("watch/s.sms", "s.sms");
             scanJobDirectory();
             scanJobDirectory();
             fs::rename("s.sms", "watch/s.sms");
         },
         1},
    };
    for (const Case& c : cases) {
        free_alarm(0);  // reported, the file left where it was
        c.change();
        EXPECT_EQ(scanJobDirectory(), c.queued) << c.label;
    }
}

TEST_F(Intake, LeadingDotIsAnOrdinaryCharacterButOurTemporariesAreNoJobs) {
    set(settings().fileMask, "*");
    writeJob(".dot.sms", "PhoneNumber=1\r\nMessage=x\r\n");
    writeJob(".TEVRAK.INI.gsms-a1B2c3", "PhoneNumber=2\r\nMessage=y\r\n");
    EXPECT_EQ(scanJobDirectory(), 1);
    EXPECT_STREQ(onlyJob()->PhoneNumber, "1");
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

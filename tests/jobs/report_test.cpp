// Reporting of finished jobs: the status row, the move with its stamp, the success line.
#include <cstring>
#include <optional>

#include "jobs/job_move.h"
#include "jobs/pipeline_support.h"
#include "jobs/report.h"
#include "platform/text_encoding.h"
#include "support/unwritable.h"

namespace gsms::test {
namespace {

class Report : public PipelineTest {
protected:
    // Queues a finished job for the file watch/<name> and returns its slot.
    int finished(const std::string& name, const char* szenario, int status, int dbentry = 0) {
        writeJob(name, "x=1\r\n");
        AlarmJob j{};
        std::snprintf(j.path, sizeof j.path, "%s/watch/%s", dir.path().c_str(), name.c_str());
        std::snprintf(j.Szenario, sizeof j.Szenario, "%s", szenario);
        std::snprintf(j.PhoneNumber, sizeof j.PhoneNumber, "1");
        j.mini = szenario[0] == '\0';
        j.dbentry = dbentry;
        j.status = status;
        j.finished = 1;
        const int slot = new_alarm(j);
        jobTable().slots[slot]->sent_at = static_cast<std::int32_t>(sentAt);  // new_alarm clears it
        return slot;
    }
    std::string table(const char* name) { return dir.path() + "/dbf/" + name + ".dbf"; }
    std::string timeText() {
        const std::tm t = clock::localTime(sentAt);
        char b[16];
        std::snprintf(b, sizeof b, "%02d%02d%02d", t.tm_hour, t.tm_min, t.tm_sec);
        return b;
    }
    std::int64_t sentAt = 1700000000;  // 2023-11-14
};

TEST_F(Report, SentAlarmUpdatesItsRowAndTheFirstSmsChannel) {
    makeTable(table("plant"), 3, "MAIL", "SMS  ");
    const int slot = finished("a.sms", "plant", STATUS_SENT, 1);
    reportJob(slot, 0x6553F100);
    const Row r = row(table("plant"), 1);
    EXPECT_EQ(r.status, 8);
    EXPECT_EQ(r.time, timeText());
    EXPECT_EQ(r.ti1, "");
    EXPECT_EQ(r.ti2, timeText());  // "SMS" followed by blanks counts
    EXPECT_EQ(r.to2, 8);
    EXPECT_EQ(row(table("plant"), 0).status, 0);  // other rows untouched
    EXPECT_EQ(jobTable().count.load(), 0);
    const std::tm t = clock::localTime(sentAt);
    char line[64];
    std::snprintf(line, sizeof line, "%d.%d.%d %d:%d ALARM successfully sent", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
    EXPECT_EQ(readFile("done/6553F100-a.sms"), "[Alarm]\r\nx=1\r\n" + std::string(line));
    EXPECT_NE(dailyLog().find("** free_alarm ** job 0 freed"), std::string::npos);
}

TEST_F(Report, ChannelTypesAreMatchedExactly) {
    makeTable(table("lower"), 1, "sms");
    reportJob(finished("a.sms", "lower", STATUS_FAILED), 1);
    Row r = row(table("lower"), 0);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.time, timeText());
    EXPECT_EQ(r.ti1, "");
    EXPECT_EQ(r.to1, 0);
    EXPECT_EQ(filesIn("error"), std::vector<std::string>{"00000001-a.sms"});
    EXPECT_EQ(readFile("error/00000001-a.sms"), "[Alarm]\r\nx=1\r\n");  // no success line
}

TEST_F(Report, TableIsFoundInAnyLetterCase) {
    makeTable(dir.path() + "/dbf/PLANT.DBF", 1, "SMS");
    reportJob(finished("a.sms", "plant", STATUS_SENT), 1);
    EXPECT_EQ(row(dir.path() + "/dbf/PLANT.DBF", 0).to1, 8);
}

TEST_F(Report, MissingTableOrUnsafeScenarioWritesNothing) {
    reportJob(finished("a.sms", "nosuch", STATUS_SENT), 1);
    EXPECT_EQ(countLines("ERROR : could not update " + table("nosuch"), kColorRed), 1);
    EXPECT_EQ(filesIn("done").size(), 1u);  // moved all the same

    makeTable(dir.path() + "/outside.dbf", 1, "SMS");
    reportJob(finished("c.sms", "../outside", STATUS_SENT), 3);
    EXPECT_EQ(row(dir.path() + "/outside.dbf", 0).status, 0);
    EXPECT_EQ(countLines("ERROR : could not update " + dir.path() + "/dbf/../outside.dbf",
                         kColorRed),
              1);
}

// The row is not written, the operator learns it, and the job goes its way all the same.
TEST_F(Report, RowThatCannotBeWrittenIsReportedAndTheJobStillMoved) {
    struct Case {
        const char* label;
        long counted;  // record count in the header (-1: the 2 records held)
        int dbentry;
        int lockedRecord;  // held by another program, 0: none
        bool unwritable;   // a file the gateway may not write (copied in with umask 022)
    } const cases[] = {
        {"record 6 of 2", -1, 5, 0, false},
        {"record 3 counted by the header, not in the file", 3, 2, 0, false},
        {"record 2 locked by another program", -1, 1, 2, false},
        {"a table the gateway may not write", -1, 1, 0, true},
    };
    int stamp = 1;
    for (const Case& c : cases) {
        DbfLayout layout = statusTableLayout(2, "SMS");
        layout.counted = c.counted;
        const std::string path = table("plant");
        writeBytes(path, dbfBytes(layout));
        const std::string before = readBytes(path);
        std::optional<ForeignLock> lock;
        if (c.lockedRecord) lock.emplace(path, foxRecordLockByte(layout, c.lockedRecord));
        ASSERT_TRUE(!lock || lock->taken()) << c.label;
        std::optional<Unwritable> locked;
        if (c.unwritable) locked.emplace(path);
        if (locked && !locked->usable()) continue;
        reportJob(finished("a.sms", "plant", STATUS_SENT, c.dbentry), stamp);
        const std::string line = "ERROR : could not update " + path;
        EXPECT_EQ(countLines(line, kColorRed), stamp) << c.label;
        // With the system's reason when it refuses the file.
        const std::string reason =
            locked ? std::string(" (") + std::strerror(locked->reason()) + ")" : "";
        EXPECT_NE(dailyLog().find(line + reason + "\n"), std::string::npos) << c.label;
        EXPECT_EQ(readBytes(path), before) << c.label;
        EXPECT_EQ(filesIn("done").size(), static_cast<std::size_t>(stamp)) << c.label;
        EXPECT_EQ(jobTable().count.load(), 0) << c.label;
        ++stamp;
    }
}

TEST_F(Report, ResultNamesNeverReplaceAnEarlierResult) {
    makeTable(table("s1"), 1, "SMS");
    makeTable(table("s2"), 1, "SMS");
    fs::create_directory("watch/x");
    finished("a.sms", "s1", STATUS_SENT);
    reportSweep();
    finished("a.sms", "s2", STATUS_SENT);
    writeFile("done/00000010-a.sms", "earlier");
    writeFile("done/00000011-a.sms", "earlier too");
    // Same name in two scenarios, same stamp: counted up to the first free name.
    reportJob(finished("a.sms", "s2", STATUS_SENT), 0x10);
    EXPECT_EQ(readFile("done/00000010-a.sms"), "earlier");
    EXPECT_TRUE(fs::exists("done/00000012-a.sms"));
    EXPECT_EQ(resultFileName(dir.path() + "/done", 0xFFFFFFFF, "n", ".sms"),
              dir.path() + "/done/FFFFFFFF-n.sms");
    // A 250-byte job name leaves no room for the stamp within 255 bytes: the name is cut
    // before the "é" that byte 242 would split, stamp and extension kept.
    const std::string kept(241, 'n');
    reportJob(finished(kept + "\xC3\xA9xxx.sms", "", STATUS_SENT), 0x20);
    EXPECT_TRUE(fs::exists("done/00000020-" + kept + ".sms"));
    EXPECT_EQ(filesIn("watch"), std::vector<std::string>{"x"});
}

TEST_F(Report, MiniMessageAndTheWatchLogFallback) {
    makeTable(table("plant"), 1, "SMS");
    settings().moveJobs = 0;
    reportJob(finished("m.sms", "", STATUS_SENT), 7);
    reportJob(finished("f.sms", "plant", STATUS_FAILED), 7);
    EXPECT_EQ(readFile("dbf/00000007-f.sms"), "[Alarm]\r\nx=1\r\n");
    EXPECT_NE(readFile("dbf/00000007-m.sms").find("ALARM successfully sent"), std::string::npos);
    EXPECT_EQ(row(table("plant"), 0).status, 3);
    EXPECT_TRUE(filesIn("done").empty());
}

// The job as the watcher queues it, then finished by dispatch with the status (and the
// journal told so).
int queuedAndFinished(int status) {
    const int slot = scanJobDirectory() == 1 ? 0 : -1;
    if (slot == 0) {
        AlarmJob& job = *jobTable().slots[0];
        job.status = status;
        job.sent_at = 1700000000;
        jobJournal().finished(jobFileVersion(job), status, job.sent_at);
        job.finished = 1;
    }
    return slot;
}

// The success line in the job file's own encoding, so that its writer reads the file back.
TEST_F(Report, SuccessLineInTheJobFilesOwnEncoding) {
    const std::string body = "[Alarm]\r\nPhoneNumber=1\r\nMessage=Łódź\r\n";
    for (const auto e : {text::Encoding::Utf16Le, text::Encoding::Utf16Be,
                         text::Encoding::Utf8Bom, text::Encoding::Plain}) {
        writeFile("watch/u.sms", text::encode(e, body));
        reportJob(queuedAndFinished(STATUS_SENT), 9);
        const text::Decoded d = text::decode(readFile("done/00000009-u.sms"));
        EXPECT_EQ(d.encoding, e);
        EXPECT_TRUE(d.text.starts_with(body));
        EXPECT_TRUE(d.text.ends_with(" ALARM successfully sent")) << d.text;
        fs::remove("done/00000009-u.sms");
    }
}

TEST_F(Report, FileThatCouldNotBeMovedIsNotSentAgain) {
    set(settings().donePath, dir.path() + "/gone");
    writeJob("a.sms", "PhoneNumber=1\r\nMessage=m\r\n");
    reportJob(queuedAndFinished(STATUS_SENT), 9);
    EXPECT_EQ(countLines("could not move " + dir.path() + "/watch/a.sms to " + dir.path() +
                             "/gone/00000009-a.sms (No such file or directory)",
                         kColorRed),
              1);
    EXPECT_NE(dailyLog().find("/gone/00000009-a.sms (No such file or directory)\n"),
              std::string::npos);
    EXPECT_TRUE(fs::exists("watch/a.sms"));
    EXPECT_EQ(scanJobDirectory(), 0);
    // Tried again, quietly, until the folder is there.
    EXPECT_EQ(pendingMoveCount(), 1u);
    fs::create_directory("gone");
    for (int i = 0; i < 100 && pendingMoveCount() > 0; ++i, clock::sleepMs(500))
        retryPendingMoves();
    ASSERT_EQ(filesIn("gone").size(), 1u);
    EXPECT_TRUE(readFile("gone/" + filesIn("gone")[0]).ends_with(" ALARM successfully sent"));
    EXPECT_EQ(countLines("moved " + dir.path() + "/watch/a.sms to " + dir.path() + "/gone/",
                         kColorGrey),
              1);
    EXPECT_EQ(countLines("could not move", kColorRed), 1);
    EXPECT_EQ(jobJournal().size(), 0u);

    settings().donePath[0] = '\0';  // no target: stays, and is not sent again either
    writeJob("b.sms", "PhoneNumber=1\r\nMessage=b\r\n");
    reportJob(queuedAndFinished(STATUS_SENT), 9);
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_EQ(jobTable().count.load(), 0);
}

// A job file the journal knows as finished (the gateway was killed before its report, or its
// move failed) is reported at the next start as the journal says, never sent again; a torn
// record is skipped.
TEST_F(Report, JournalledJobIsReportedAfterARestartNotSentAgain) {
    struct Case {
        const char* label;
        int status;
        bool rowWritten;   // before the restart
        const char* tail;  // appended to the journal
        std::size_t cut;   // bytes taken off its end
        bool recovered;
        int row;  // its status afterwards
    } const cases[] = {
        {"sent, row not written yet", STATUS_SENT, false, "", 0, true, 8},
        {"sent, row written before", STATUS_SENT, true, "", 0, true, 0},
        {"failed for good", STATUS_FAILED, false, "", 0, true, 3},
        {"a torn record after it", STATUS_SENT, false, "R 1 2 0badc0de", 0, true, 8},
        {"its own record torn", STATUS_SENT, false, "", 4, false, 0},
    };
    const std::string journal = dir.path() + "/" + kJournalFileName;
    for (const Case& c : cases) {
        for (const char* d : {"watch", "done", "error"}) {
            fs::remove_all(d);
            fs::create_directory(d);
        }
        fs::remove(journal);
        resetFileMemoryForTest();  // a new file may take the inode of the last one
        makeTable(table("plant"), 1, "SMS");
        writeJob("a.sms", "Szenario=plant\r\nPhoneNumber=1\r\nMessage=m\r\ndbentry=0\r\n");
        ASSERT_EQ(queuedAndFinished(c.status), 0) << c.label;
        if (c.rowWritten) jobJournal().rowWritten(jobFileVersion(*onlyJob()).id);
        // The kill, and the next start.
        resetJobTableForTest();
        resetFileMemoryForTest();
        jobJournal().reset();
        const std::string bytes = readFile(journal);
        writeFile(journal, bytes.substr(0, bytes.size() - c.cut) + c.tail);

        const std::string said =
            std::string(c.status == STATUS_SENT ? "Already sent" : "Already failed") +
            ", not sent again: " + paths::join(paths::fromConfig(settings().watchPath), "a.sms");
        const int before = countLines(said, kColorGrey);
        ASSERT_EQ(scanJobDirectory(), 1) << c.label;
        EXPECT_EQ(onlyJob()->finished, c.recovered ? 1 : 0) << c.label;
        if (!c.recovered) continue;
        EXPECT_EQ(countLines(said, kColorGrey), before + 1) << c.label;
        reportJob(0, 0x20);
        EXPECT_EQ(row(table("plant"), 0).status, c.row) << c.label;
        const bool sent = c.status == STATUS_SENT;
        const std::string moved = sent ? "done/00000020-a.sms" : "error/00000020-a.sms";
        EXPECT_EQ(readFile(moved).ends_with(" ALARM successfully sent"), sent) << c.label;
        EXPECT_TRUE(fs::is_empty("watch")) << c.label;
        EXPECT_EQ(jobJournal().size(), 0u) << c.label;
    }
}

// Results kept in the watch folder (no moving, WatchLogPath the watch folder) are never jobs,
// nor is a rejected request that had to take a counted-up name there.
TEST_F(Report, ResultsKeptInTheWatchFolderAreNeverTakenAsJobs) {
    settings().moveJobs = 0;
    set(settings().watchLogPath, dir.path() + "/watch");
    writeJob("a.sms", "PhoneNumber=1\r\nMessage=m\r\n");
    reportJob(queuedAndFinished(STATUS_SENT), 0x6B18025C);
    writeJob("bad.sms", "Message=no number\r\n");
    for (int scan = 0; scan < 3; ++scan, settle()) EXPECT_EQ(scanJobDirectory(), 0) << scan;
    const std::vector<std::string> kept = filesIn("watch");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], "6B18025C-a.sms");
    EXPECT_EQ(kept[1].substr(8), "-bad.sms");
    EXPECT_NE(readFile("watch/6B18025C-a.sms").find("ALARM successfully sent"), std::string::npos);
    EXPECT_EQ(countLines("Bad request !", kColorBlue), 1);
}

// A watch folder on another file system than the done and error folders (tmpfs here; NFS or
// SMB in service): the file is copied, synced and the source removed, with its success line.
TEST_F(Report, JobFilesMoveAcrossFileSystems) {
    OtherFileSystemDir other(dir.path());
    if (!other.usable()) GTEST_SKIP() << "no writable tmpfs at /dev/shm beside " << dir.path();
    const std::string& shm = other.path();
    set(settings().watchPath, shm);
    writeFile(shm + "/a.sms", "[Alarm]\r\nPhoneNumber=1\r\nMessage=m\r\n");
    writeFile(shm + "/bad.sms", "[Alarm]\r\nMessage=m\r\n");
    reportJob(queuedAndFinished(STATUS_SENT), 0x10);
    settle();
    EXPECT_EQ(scanJobDirectory(), 0);
    EXPECT_TRUE(fs::is_empty(shm));
    EXPECT_EQ(filesIn("error"), std::vector<std::string>{"bad.sms"});
    const std::string moved = readFile("done/00000010-a.sms");
    const std::string body = "[Alarm]\r\nPhoneNumber=1\r\nMessage=m\r\n";
    EXPECT_EQ(moved.substr(0, body.size()), body);
    EXPECT_TRUE(moved.ends_with(" ALARM successfully sent")) << moved;
    EXPECT_EQ(countLines("could not", kColorRed), 0);
}

}  // namespace
}  // namespace gsms::test

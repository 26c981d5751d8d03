// The road of alarm jobs through gsmsd and gsms-modem-sim: job files in, SMS out, status rows
// written, files moved.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "e2e/harness.h"
#include "support/status_table.h"
#include "support/temp_dir.h"
#include "support/utf16_text.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        for (const char* d : {"in", "done", "error", "dbf"}) fs::create_directories(dir / d);
    }
    void start(std::map<std::string, std::string> keys = {},
               const std::map<std::string, std::string>& env = {},
               const std::vector<std::string>& wrapper = {}) {
        keys.emplace("WatchLogPath", dir / "dbf");
        keys.emplace("QualityPollEverySecs", "3600");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        gateway.configure(sim, keys);
        if (before) before();
        ASSERT_TRUE(gateway.start("gsmsd", env, wrapper));
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    }
    // How many submissions went to this number.
    int sentTo(const std::string& number) {
        int n = 0;
        for (const auto& r : sim.records())
            if (r.find("\"to\":\"" + number + "\"") != std::string::npos) ++n;
        return n;
    }
    void job(const std::string& name, const std::string& body) {
        writeText(dir / ("in/" + name), "[Alarm]\r\n" + body);
    }
    std::vector<std::string> files(const std::string& sub) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir / sub)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The moved result of a job file: "<8 hex digits>-<name>".
    std::string result(const std::string& sub, const std::string& name) {
        for (const auto& f : files(sub)) {
            if (f.size() != 9 + name.size() || f[8] != '-' || f.substr(9) != name) continue;
            if (std::all_of(f.begin(), f.begin() + 8, [](char c) {
                    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
                }))
                return dir / (sub + "/" + f);
        }
        return {};
    }
    bool recorded(const std::string& fragment) {
        for (const auto& r : sim.records())
            if (r.find(fragment) != std::string::npos) return true;
        return false;
    }
    static void makeTable(const std::string& path, int records, const char* ty1,
                          const char* ty2 = "") {
        ASSERT_TRUE(gsms::test::makeStatusTable(path, records, ty1, ty2));
    }
    using Row = gsms::test::StatusRow;
    static Row row(const std::string& path, int record) { return gsms::test::statusRow(path, record); }

    // The numbers the simulator was given, in the order it took them.
    std::vector<std::string> sentNumbers() {
        std::vector<std::string> out;
        for (const auto& r : sim.records()) {
            const auto at = r.find("\"to\":\"") + 6;
            out.push_back(r.substr(at, r.find('"', at) - at));
        }
        return out;
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
    std::function<void()> before;  // runs between writing the configuration and the start
};

TEST_F(Pipeline, AlarmsAndMiniMessagesTravelTheWholeRoad) {
    makeTable(dir / "dbf/plant.dbf", 2, "sms", "SMS  ");
    // An alarm server that writes Unicode, as Windows programs do: the texts keep their umlauts.
    writeText(dir / "KORLIN.INI",
              test::utf16(u"[Messages]\r\nK1=Druck zu niedrig in Halle 3, Kühlung prüfen\r\n", true));
    start();
    job("a1.sms", "Szenario=plant\r\nPhoneNumber=+49 170 123 45\r\nName=Anna\r\nAlarmKey=K1\r\ndbentry=0\r\n");
    job("a2.sms", "Szenario=plant\r\nPhoneNumber=+49222\r\nAlarmKey=K7\r\ndbentry=1\r\nFlash=1\r\n");
    writeText(dir / "in/m1.sms",
              test::utf16(u"[Alarm]\r\nPhoneNumber=+49333\r\nMessage=Rundgang erledigt, Grüße\r\n", false));
    job("bad.sms", "Szenario=plant\r\nMessage=no number\r\n");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 3; }));
    // A bad request waits until it has stayed unchanged: its writer may not be done.
    ASSERT_TRUE(waitFor([&] { return !files("error").empty(); }));

    EXPECT_TRUE(recorded("\"to\":\"+4917012345\""));  // blanks removed from the number
    EXPECT_TRUE(recorded("Druck zu niedrig in Halle 3, Kühlung prüfen"));
    EXPECT_TRUE(recorded("\"text\":\"ALARM K7\""));
    EXPECT_TRUE(recorded("Rundgang erledigt, Grüße"));
    EXPECT_EQ(sim.count("at+csmp=17,167,0,16"), 1);  // the flash job
    EXPECT_EQ(sim.count("at+csmp=17,167,0,0"), 2);

    const Row r0 = row(dir / "dbf/plant.dbf", 0);
    EXPECT_EQ(r0.status, 8);
    EXPECT_EQ(r0.time.size(), 6u);
    EXPECT_EQ(r0.ti1, "");  // lower-case "sms" is not the SMS channel
    EXPECT_EQ(r0.ti2, r0.time);
    EXPECT_EQ(r0.to2, 8);
    EXPECT_EQ(row(dir / "dbf/plant.dbf", 1).status, 8);

    for (const char* name : {"a1.sms", "a2.sms", "m1.sms"}) {
        const std::string moved = result("done", name);
        ASSERT_FALSE(moved.empty()) << name;
        // The UTF-16 job file gets its line in UTF-16.
        const std::string line = name == std::string("m1.sms")
                                     ? test::utf16(u" ALARM successfully sent", false).substr(2)
                                     : " ALARM successfully sent";
        EXPECT_TRUE(readText(moved).ends_with(line)) << name;
    }
    EXPECT_EQ(files("error"), std::vector<std::string>{"bad.sms"});
    EXPECT_TRUE(files("in").empty());
    // The window line comes a moment after the move.
    EXPECT_TRUE(
        waitFor([&] { return gateway.output().find("Bad request !") != std::string::npos; }));
    EXPECT_TRUE(gateway.logHas("Sending mini-message to +49333"));
    EXPECT_TRUE(gateway.logHas("Message sent to +49 170 123 45"));
}

TEST_F(Pipeline, FailingAlarmIsRetriedThenMovedToTheErrorDirectory) {
    makeTable(dir / "dbf/plant.dbf", 1, "SMS", "");
    ASSERT_EQ(sim.control("send-fail error"), "ok");
    start({{"RetryCount", "3"}, {"RetryDelay", "1"}});
    job("f.sms", "Szenario=plant\r\nPhoneNumber=555\r\nMessage=x\r\ndbentry=0\r\n");
    ASSERT_TRUE(waitFor([&] { return !result("error", "f.sms").empty(); }));
    for (const char* t : {"ERROR sending to 555 (try 1/3)", "ERROR sending to 555 (try 2/3)",
                          "ERROR sending to 555 (try 3/3)"})
        EXPECT_TRUE(gateway.logHas(t)) << t;
    EXPECT_EQ(sim.count("at+cmgs="), 3);
    EXPECT_EQ(row(dir / "dbf/plant.dbf", 0).status, 3);
    EXPECT_EQ(row(dir / "dbf/plant.dbf", 0).to1, 3);
    EXPECT_EQ(readText(result("error", "f.sms")).find("successfully"), std::string::npos);
}

TEST_F(Pipeline, FortyFilesAtOnceAreEachSentOnceWithinThirtySlots) {
    start();
    for (int i = 0; i < 40; ++i)
        job("j" + std::to_string(i) + ".sms",
            "PhoneNumber=" + std::to_string(1000 + i) + "\r\nMessage=m" + std::to_string(i) + "\r\n");
    ASSERT_TRUE(waitFor([&] { return files("done").size() == 40; }, std::chrono::seconds(120)));
    EXPECT_EQ(sim.records().size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(recorded("\"to\":\"" + std::to_string(1000 + i) + "\"")) << i;
    // Every job had a visible slot: none beyond the thirtieth was ever used. A slot is freed
    // just after its file moved.
    const std::string marker = "** free_alarm ** job ";
    std::string log;
    const auto freed = [&] {
        log = gateway.dailyLog();
        int n = 0;
        for (auto pos = log.find(marker); pos != std::string::npos; pos = log.find(marker, pos + 1))
            ++n;
        return n;
    };
    EXPECT_TRUE(waitFor([&] { return freed() == 40; })) << freed();
    for (auto pos = log.find(marker); pos != std::string::npos; pos = log.find(marker, pos + 1))
        EXPECT_LT(std::stoi(log.substr(pos + marker.size())), 30);
}

// Reporting settles and frees jobs while the watcher reads their files (a slow modem keeps
// both busy): each of 60 jobs whose files cannot be moved is sent once, also after a touch.
TEST_F(Pipeline, UnwritableDoneDirectoryLeavesEveryFileUnsentAgain) {
    // A plain file where the done directory's parent should be: no user, root included, can
    // create or write the directory.
    writeText(dir / "blocker", "not a directory");
    ASSERT_EQ(sim.control("send-delay 150"), "ok");
    start({{"DonePath", dir / "blocker/done"}});
    constexpr int kJobs = 60;
    for (int i = 0; i < kJobs; ++i)
        job("s" + std::to_string(i) + ".sms",
            "PhoneNumber=" + std::to_string(5000 + i) + "\r\nMessage=once only\r\n");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("could not move") == kJobs; },
                        std::chrono::seconds(240)));
    for (int i = 0; i < kJobs; ++i)
        fs::last_write_time(dir / ("in/s" + std::to_string(i) + ".sms"),
                            fs::file_time_type::clock::now());
    // A later job is taken up by scans that also see the touched files again.
    job("marker.sms", "PhoneNumber=778\r\nMessage=later job\r\n");
    ASSERT_TRUE(gateway.waitLog("Message sent to 778", std::chrono::seconds(120)));
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == kJobs + 1; }));
    EXPECT_EQ(sim.records().size(), static_cast<std::size_t>(kJobs + 1));
    for (int i = 0; i < kJobs; ++i) EXPECT_EQ(sentTo(std::to_string(5000 + i)), 1) << i;
    EXPECT_EQ(files("in").size(), static_cast<std::size_t>(kJobs + 1));
    EXPECT_EQ(gateway.logCount("could not move " + (dir / "in/s0.sms")), 1);
}

TEST_F(Pipeline, WithoutMovingFlagResultsGoToTheWatchLogDirectory) {
    start({{"MoveJobToDoneOrErrorPath", "0"}});
    job("w.sms", "PhoneNumber=888\r\nMessage=to the log dir\r\n");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 1; }));
    EXPECT_NE(readText(result("dbf", "w.sms")).find("ALARM successfully sent"), std::string::npos);
    EXPECT_TRUE(files("done").empty());
}

// Results kept in the watch folder (no moving, WatchLogPath the watch folder) match FileMask
// but are never jobs: one SMS per job, and the configuration is named at start.
TEST_F(Pipeline, ResultsIntoTheWatchFolderAreNeverSentAgain) {
    start({{"MoveJobToDoneOrErrorPath", "0"}, {"WatchLogPath", dir / "in"}});
    // ReadJobsThread says it once it runs, which may be after "SignalThread started".
    EXPECT_TRUE(gateway.waitLog("WatchLogPath is the watch folder " + (dir / "in") +
                                ": the results kept there are never taken as jobs"));
    job("w.sms", "PhoneNumber=888\r\nMessage=kept beside the jobs\r\n");
    job("bad.sms", "Message=no number\r\n");
    ASSERT_TRUE(waitFor([&] { return !result("in", "w.sms").empty(); }));
    ASSERT_TRUE(gateway.waitLog("Bad request: " + (dir / "in/bad.sms") + ": no PhoneNumber"));
    job("marker.sms", "PhoneNumber=889\r\nMessage=later job\r\n");
    ASSERT_TRUE(waitFor([&] { return !result("in", "marker.sms").empty(); }));
    EXPECT_EQ(sim.records().size(), 2u);
    EXPECT_EQ(sentTo("888"), 1);
    EXPECT_NE(readText(result("in", "w.sms")).find("ALARM successfully sent"), std::string::npos);
    EXPECT_FALSE(result("in", "bad.sms").empty());  // its own name was taken: by itself
    EXPECT_EQ(gateway.logCount("Bad request: "), 1);
}

// Alarm servers that write slowly, in pieces, keeping the file open (as over a share): each
// file is sent once, whole, and its result holds the whole file and the success line.
TEST_F(Pipeline, SlowWritersInPiecesAreSentWholeAndOnce) {
    // Real time: the pieces come at the pace of a real writer.
    start({}, {{"GSMS_TIME_SCALE", "1"}});
    struct Writer {
        std::string name;
        std::vector<std::string> pieces;
    };
    const std::vector<Writer> writers = {
        {"number-last.sms",
         {"[Alarm]\r\nSzenario=plant\r\nMessage=Einbruch Tor 1\r\n", "Name=Pforte\r\n",
          "PhoneNumber=+49111\r\n"}},
        {"cut-text.sms", {"[Alarm]\r\nPhoneNumber=+49222\r\nMessage=Feuer", " in Halle 3,",
                          " Tor 2\r\n"}},
        {"scenario-last.sms", {"[Alarm]\r\nPhoneNumber=+49333\r\nMessage=Wasser im Keller\r\n",
                               "AlarmKey=K3\r\n", "Szenario=plant\r\n"}},
    };
    std::vector<std::thread> threads;
    for (const Writer& w : writers)
        threads.emplace_back([&dir = dir, w] {
            std::FILE* f = std::fopen((dir / ("in/" + w.name)).c_str(), "wb");
            for (std::size_t i = 0; i < w.pieces.size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(900));
                std::fputs(w.pieces[i].c_str(), f);
                std::fflush(f);
            }
            std::fclose(f);
        });
    for (auto& t : threads) t.join();
    // Freed once the success line is in.
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 3; }));
    for (const char* number : {"+49111", "+49222", "+49333"}) EXPECT_EQ(sentTo(number), 1);
    EXPECT_TRUE(recorded("\"text\":\"Einbruch Tor 1\""));
    EXPECT_TRUE(recorded("\"text\":\"Feuer in Halle 3, Tor 2\""));
    EXPECT_TRUE(recorded("\"text\":\"Wasser im Keller\""));
    EXPECT_TRUE(gateway.logHas("Sending alarm plant to +49333"));  // not a mini-message
    EXPECT_EQ(sim.records().size(), writers.size());
    for (const Writer& w : writers) {
        std::string whole;
        for (const auto& p : w.pieces) whole += p;
        const std::string moved = readText(result("done", w.name));
        EXPECT_EQ(moved.substr(0, whole.size()), whole) << w.name;
        EXPECT_TRUE(moved.ends_with(" ALARM successfully sent")) << w.name;
        EXPECT_EQ(moved.find("ALARM successfully sent"), moved.rfind("ALARM successfully sent"));
    }
    EXPECT_TRUE(files("error").empty());
    EXPECT_FALSE(gateway.logHas("Bad request"));
}

// A watch folder on another file system than the done and error folders: the files are
// copied there, synced, and taken out of the watch folder, the success line with them.
TEST_F(Pipeline, WatchFolderOnAnotherFileSystemIsEmptiedWithTheSuccessLine) {
    test::OtherFileSystemDir other(dir.path());
    if (!other.usable()) GTEST_SKIP() << "no writable tmpfs at /dev/shm beside " << dir.path();
    const std::string& shm = other.path();
    start({{"WatchPath", shm}});
    writeText(shm + "/t.sms", "[Alarm]\r\nPhoneNumber=999\r\nMessage=from tmpfs\r\n");
    writeText(shm + "/bad.sms", "[Alarm]\r\nMessage=no number\r\n");
    ASSERT_TRUE(waitFor([&] { return !result("done", "t.sms").empty(); }));
    // The copy on its way in bears a temporary name: wait for the final one.
    ASSERT_TRUE(waitFor([&] { return files("error") == std::vector<std::string>{"bad.sms"}; }));
    ASSERT_TRUE(waitFor([&] { return fs::is_empty(shm); }));  // the sources go last
    EXPECT_NE(readText(result("done", "t.sms")).find("ALARM successfully sent"), std::string::npos);
    EXPECT_EQ(sim.records().size(), 1u);
    EXPECT_FALSE(gateway.logHas("could not"));
}

// The alarm server runs as its own user: its job file is one the gateway may read and rename
// but not write. The result is then a copy of the gateway's own, with the success line.
TEST_F(Pipeline, JobFileOfAnotherUserGetsItsSuccessLine) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the gateway and the writer as two users";
    constexpr uid_t kGateway = 65534;  // nobody
    constexpr uid_t kAlarmServer = 1;  // daemon
    before = [&] {
        // Everything of the gateway's belongs to its user, the modem's device included.
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            ::lchown(e.path().c_str(), kGateway, kGateway);
        ::chown(dir.path().c_str(), kGateway, kGateway);
        ::chown(fs::read_symlink(sim.link()).c_str(), kGateway, kGateway);
    };
    start({}, {}, {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    const std::string body = "[Alarm]\r\nPhoneNumber=4711\r\nMessage=from the alarm server\r\n";
    writeText(dir / "o.sms.part", body);
    ::chown((dir / "o.sms.part").c_str(), kAlarmServer, kAlarmServer);
    ::chmod((dir / "o.sms.part").c_str(), 0644);
    fs::rename(dir / "o.sms.part", dir / "in/o.sms");
    // The source goes once its copy is in place.
    ASSERT_TRUE(waitFor([&] { return !result("done", "o.sms").empty() && files("in").empty(); }));
    const std::string moved = result("done", "o.sms");
    EXPECT_EQ(readText(moved).substr(0, body.size()), body);
    EXPECT_TRUE(readText(moved).ends_with(" ALARM successfully sent"));
    struct ::stat st {};
    ASSERT_EQ(::stat(moved.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kGateway);  // the gateway's own copy
    EXPECT_FALSE(gateway.logHas("could not"));
}

// A small tmpfs of its own (root only), unmounted at the end.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string& at) : at_(at) {
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    // Fills it up with one file; removing that file gives the space back.
    void fill(const std::string& file) {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        const std::string block(4096, '\0');
        while (f != nullptr && std::fwrite(block.data(), 1, block.size(), f) == block.size() &&
               std::fflush(f) == 0) {
        }
        if (f != nullptr) std::fclose(f);
    }

private:
    std::string at_;
    bool mounted_ = false;
};

// A full done folder: each sent job stays in the watch folder, is not sent again after a
// restart, and moves as soon as there is space again, without a restart. A status row the
// alarm server has used since its report is not written again.
TEST_F(Pipeline, FullDoneFolderMovesOnceSpaceIsBackAndNothingIsSentTwice) {
    SmallFileSystem done(dir / "done");
    if (!done.mounted()) GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    done.fill(dir / "done/filler");
    makeTable(dir / "dbf/plant.dbf", 3, "SMS");
    start();
    constexpr int kJobs = 3;
    for (int i = 0; i < kJobs; ++i)
        job("f" + std::to_string(i) + ".sms", "Szenario=plant\r\nPhoneNumber=" +
                                                  std::to_string(600 + i) +
                                                  "\r\nMessage=once\r\ndbentry=" +
                                                  std::to_string(i) + "\r\n");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("could not move") == kJobs; }));
    EXPECT_TRUE(gateway.logHas("(No space left on device)"));
    EXPECT_EQ(row(dir / "dbf/plant.dbf", 0).status, 8);
    makeTable(dir / "dbf/plant.dbf", 3, "SMS");  // the alarm server starts the rows afresh

    gateway.process().kill();
    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("could not move") == 2 * kJobs; }));
    for (int i = 0; i < kJobs; ++i)
        EXPECT_TRUE(gateway.logHas("Already sent, not sent again: " +
                                   (dir / ("in/f" + std::to_string(i) + ".sms"))));
    fs::remove(dir / "done/filler");
    // The line follows the move: wait for both.
    ASSERT_TRUE(waitFor([&] {
        for (int i = 0; i < kJobs; ++i)
            if (gateway.logCount("moved " + (dir / ("in/f" + std::to_string(i) + ".sms")) + " to ") == 0)
                return false;
        return files("in").empty();
    }));
    for (int i = 0; i < kJobs; ++i) {
        const std::string name = "f" + std::to_string(i) + ".sms";
        EXPECT_TRUE(readText(result("done", name)).ends_with(" ALARM successfully sent"));
        EXPECT_EQ(gateway.logCount("moved " + (dir / ("in/" + name)) + " to "), 1);
        EXPECT_EQ(sentTo(std::to_string(600 + i)), 1);
        EXPECT_EQ(row(dir / "dbf/plant.dbf", i).status, 0);  // written once, before the restart
    }
    EXPECT_EQ(sim.records().size(), static_cast<std::size_t>(kJobs));
}

// Killed between the modem's acceptance and the report (held up here by the alarm server's
// lock on the status row): the next start writes the row and moves the file, sending nothing.
TEST_F(Pipeline, KillRightAfterTheModemAcceptedSendsNothingTwice) {
    const test::DbfLayout layout = test::statusTableLayout(1, "SMS");
    test::writeBytes(dir / "dbf/plant.dbf", test::dbfBytes(layout));
    std::optional<test::ForeignLock> lock;
    lock.emplace(dir / "dbf/plant.dbf", test::foxRecordLockByte(layout, 1));
    ASSERT_TRUE(lock->taken());
    // Real time: the report waits 5 s for the row's lock, time enough to kill it meanwhile.
    start({}, {{"GSMS_TIME_SCALE", "1"}});
    job("k.sms", "Szenario=plant\r\nPhoneNumber=4711\r\nMessage=once\r\ndbentry=0\r\n");
    ASSERT_TRUE(gateway.waitLog("Message sent to 4711"));
    gateway.process().kill();
    ASSERT_EQ(files("in"), std::vector<std::string>{"k.sms"});
    lock.reset();

    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(waitFor([&] { return files("in").empty(); }));
    EXPECT_TRUE(gateway.logHas("Already sent, not sent again: " + (dir / "in/k.sms")));
    EXPECT_TRUE(readText(result("done", "k.sms")).ends_with(" ALARM successfully sent"));
    EXPECT_EQ(row(dir / "dbf/plant.dbf", 0).status, 8);
    EXPECT_EQ(sim.records().size(), 1u);
}

// A backlog goes out oldest first, whatever the directory's order or the names say: each job
// within the thirty that the job table holds at a time of its place in the drop order.
TEST_F(Pipeline, BacklogGoesOutOldestFirst) {
    constexpr int kJobs = 200;
    before = [&] {
        const auto oldest = fs::file_time_type::clock::now() - std::chrono::hours(1);
        for (int i = 0; i < kJobs; ++i) {
            // Names in the reverse order of the drops.
            const std::string name = dir / ("in/" + std::to_string(9999 - i) + ".sms");
            job(std::to_string(9999 - i) + ".sms",
                "PhoneNumber=" + std::to_string(7000 + i) + "\r\nMessage=backlog\r\n");
            fs::last_write_time(name, oldest + std::chrono::seconds(i));
        }
    };
    start();
    ASSERT_TRUE(waitFor([&] { return sim.records().size() == kJobs; }, std::chrono::seconds(240)));
    const std::vector<std::string> sent = sentNumbers();
    int worst = 0;
    for (int rank = 0; rank < kJobs; ++rank)
        worst = std::max(worst, std::abs(std::stoi(sent[rank]) - 7000 - rank));
    EXPECT_LE(worst, 30);
}

}  // namespace
}  // namespace gsms::e2e

namespace gsms::e2e {
namespace {

// A job file as every Linux editor writes it (UTF-8 without a mark) reaches the phone as
// written with SmsCoding 1, a long one as one concatenated message; with 0 as text mode can
// carry it. What arrived is read from the simulator's record.
TEST(PipelineCoding, Utf8JobFilesArriveAsTheCodingCarriesThem) {
    const std::string fire = "Požár v hale 3 – Größe €5 Ωmega";
    const std::string longText = "Alarm €: " + std::string(200, 'x');
    struct Case {
        const char* coding;
        std::vector<std::string> fragments;  // each in some record
        std::size_t records;
    } const cases[] = {
        {"1",
         {"\"mode\":\"pdu\",\"alphabet\":\"ucs2\",\"class\":null,\"message\":\"" + fire + "\"",
          "\"udh\":{\"ref\":", "\"part\":2},\"message\":\"" + longText + "\"",
          "\"to\":\"+49222\",\"csmp\":[81,167,0,0]"},
         3},
        {"0",
         {"\"text\":\"Poz r v hale 3 - Größe ?5 ?mega\"",
          "\"text\":\"Alarm ?: " + std::string(151, 'x') + "\"", "\"csmp\":[17,167,0,0]"},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("SmsCoding=") + c.coding);
        Scratch dir;
        Simulator sim{dir.path()};
        Gateway gateway{dir.path()};
        ASSERT_TRUE(sim.start());
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
        gateway.configure(sim, {{"SmsCoding", c.coding}, {"QualityPollEverySecs", "3600"},
                                {"IncomingEnable", "0"}, {"WatchTimeout", "1"}});
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
        writeText(dir / "in/fire.sms", "[Alarm]\nPhoneNumber=+49111\nMessage=" + fire + "\n");
        writeText(dir / "in/long.sms", "[Alarm]\nPhoneNumber=+49222\nMessage=" + longText + "\n");
        ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 2; }));
        const auto records = sim.records();
        EXPECT_EQ(records.size(), c.records);
        for (const std::string& f : c.fragments) {
            EXPECT_TRUE(std::any_of(records.begin(), records.end(),
                                    [&](const std::string& r) { return r.find(f) != r.npos; }))
                << f;
        }
        if (std::string(c.coding) == "1") {
            EXPECT_EQ(sim.count("at+cmgf=1"), 2 + 1);  // + start
        }
    }
}

}  // namespace
}  // namespace gsms::e2e

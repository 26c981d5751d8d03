// The road of alarm jobs through gsmsd and gsms-modem-sim: job files in, SMS out, status rows
// written, files moved.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <cctype>

#include "e2e/harness.h"
#include "support/status_table.h"
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
    void start(std::map<std::string, std::string> keys = {}) {
        keys.emplace("WatchLogPath", dir / "dbf");
        keys.emplace("QualityPollEverySecs", "3600");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        gateway.configure(sim, keys);
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
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

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
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
        EXPECT_NE(readText(moved).find("ALARM successfully sent"), std::string::npos);
    }
    EXPECT_EQ(files("error"), std::vector<std::string>{"bad.sms"});
    EXPECT_TRUE(files("in").empty());
    EXPECT_NE(gateway.output().find("Bad request !"), std::string::npos);
    EXPECT_TRUE(gateway.logHas("Sending mini-message to +49333"));
    EXPECT_TRUE(gateway.logHas("Message sent to +49 170 123 45"));
}

TEST_F(Pipeline, FailingAlarmIsRetriedThenMovedToTheErrorDirectory) {
    makeTable(dir / "dbf/plant.dbf", 1, "SMS", "");
    sim.control("send-fail error");
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
    // Every job had a visible slot: none beyond the thirtieth was ever used.
    const std::string log = gateway.dailyLog();
    const std::string marker = "** free_alarm ** job ";
    int freed = 0;
    for (auto pos = log.find(marker); pos != std::string::npos; pos = log.find(marker, pos + 1)) {
        EXPECT_LT(std::stoi(log.substr(pos + marker.size())), 30);
        ++freed;
    }
    EXPECT_EQ(freed, 40);
}

TEST_F(Pipeline, UnwritableDoneDirectoryLeavesTheFileUnsentAgain) {
    // A plain file where the done directory's parent should be: no user, root included, can
    // create or write the directory.
    writeText(dir / "blocker", "not a directory");
    start({{"DonePath", dir / "blocker/done"}});
    job("s.sms", "PhoneNumber=777\r\nMessage=once only\r\n");
    ASSERT_TRUE(gateway.waitLog("could not move"));
    // The later job is taken up by a scan that also sees the settled file again.
    job("marker.sms", "PhoneNumber=778\r\nMessage=later job\r\n");
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 2; }));
    ASSERT_TRUE(gateway.waitLog("Message sent to 778"));
    EXPECT_TRUE(fs::exists(dir / "in/s.sms"));
    EXPECT_EQ(sim.records().size(), 2u);
    EXPECT_EQ(gateway.logCount("could not move " + (dir / "in/s.sms")), 1);
}

TEST_F(Pipeline, WithoutMovingFlagResultsGoToTheWatchLogDirectory) {
    start({{"MoveJobToDoneOrErrorPath", "0"}});
    job("w.sms", "PhoneNumber=888\r\nMessage=to the log dir\r\n");
    ASSERT_TRUE(waitFor([&] { return !result("dbf", "w.sms").empty(); }));
    EXPECT_NE(readText(result("dbf", "w.sms")).find("ALARM successfully sent"), std::string::npos);
    EXPECT_TRUE(files("done").empty());
}

}  // namespace
}  // namespace gsms::e2e

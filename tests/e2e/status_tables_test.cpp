// Status tables shared with the alarm server: gsmsd against gsms-modem-sim writes only the
// fields of each job's row, beside another program appending rows, in the common table
// versions; the tables are read back with Debian's python3-dbfread (tests/e2e/dbf_tool.py).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "support/status_table.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;
using test::DbfLayout;

const std::string kTool = std::string(GSMS_TESTS_DIR) + "/e2e/dbf_tool.py";

// A table as python3-dbfread reads it.
struct Read {
    bool ok = false;
    long count = -1, records = -1, deleted = -1;
    std::vector<std::map<std::string, std::string>> rows;  // records not deleted, in order
    std::string output;
};

class StatusTables : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        for (const char* d : {"in", "done", "error", "dbf"}) fs::create_directories(dir / d);
    }
    void start() {
        gateway.configure(sim, {{"WatchLogPath", dir / "dbf"},
                                {"QualityPollEverySecs", "3600"},
                                {"IncomingEnable", "0"},
                                {"WatchTimeout", "1"}});
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    }
    void job(const std::string& name, const std::string& scenario, int dbentry) {
        writeText(dir / ("in/" + name), "[Alarm]\r\nSzenario=" + scenario +
                                            "\r\nPhoneNumber=555\r\nMessage=m\r\ndbentry=" +
                                            std::to_string(dbentry) + "\r\n");
    }
    bool reported(int jobs) {
        return waitFor([&] { return gateway.logCount("** free_alarm ** job") == jobs; },
                       std::chrono::seconds(120));
    }
    Read dbfread(const std::string& table) {
        const std::string out = dir / "dbfread.txt";
        fs::remove(out);
        Child reader;
        Read r;
        if (!reader.start({kTool, "read", table}, dir.path(), out) || reader.waitExit() != 0) {
            r.output = readText(out);
            return r;
        }
        std::istringstream in(readText(out));
        std::string line;
        std::getline(in, line);
        r.ok = std::sscanf(line.c_str(), "count=%ld records=%ld deleted=%ld", &r.count, &r.records,
                           &r.deleted) == 3;
        while (std::getline(in, line)) {
            std::map<std::string, std::string> row;
            std::istringstream fields(line);
            for (std::string f; std::getline(fields, f, '\t');)
                row[f.substr(0, f.find('='))] = f.substr(f.find('=') + 1);
            r.rows.push_back(row);
        }
        return r;
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

bool isTimeText(const std::string& s) {
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The alarm server appends rows the ordinary dBASE way while the gateway reports jobs on the
// same table: the gateway never writes the record count, so no row is lost.
TEST_F(StatusTables, RowsAppendedMeanwhileByAnotherProgramAreAllKept) {
    const std::string table = dir / "dbf/shared.dbf";
    test::writeBytes(table, test::dbfBytes(test::statusTableLayout(3, "SMS")));
    start();
    Child appender;
    ASSERT_TRUE(appender.start({kTool, "append", table, "TY2", dir / "stop"}, dir.path(),
                               dir / "appender.txt"));
    ASSERT_TRUE(waitFor([&] { return fs::file_size(table) > 2000; }));  // appending
    constexpr int kJobs = 24;
    for (int i = 0; i < kJobs; ++i) job("j" + std::to_string(i) + ".sms", "shared", i % 3);
    ASSERT_TRUE(reported(kJobs));
    writeText(dir / "stop", "");
    ASSERT_EQ(appender.waitExit(), 0);
    long appended = -1;
    ASSERT_EQ(std::sscanf(readText(dir / "appender.txt").c_str(), "appended=%ld", &appended), 1);

    const Read r = dbfread(table);
    ASSERT_TRUE(r.ok) << r.output;
    EXPECT_EQ(r.count, 3 + appended);
    EXPECT_EQ(r.records, 3 + appended);
    ASSERT_EQ(static_cast<long>(r.rows.size()), 3 + appended);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r.rows[i].at("STATUS"), "8") << i;
        EXPECT_TRUE(isTimeText(r.rows[i].at("TIME"))) << i;
        EXPECT_EQ(r.rows[i].at("TO1"), "8") << i;
    }
    std::set<std::string> numbers;
    for (long i = 3; i < 3 + appended; ++i) numbers.insert(r.rows[i].at("TY2"));
    EXPECT_EQ(static_cast<long>(numbers.size()), appended);
    EXPECT_TRUE(numbers.count("0") && numbers.count(std::to_string(appended - 1)));
    EXPECT_EQ(gateway.logCount("could not update"), 0);
}

struct RowCase {
    const char* label;
    unsigned char version;
    bool memo;
    int rows;           // records in the file
    long counted;       // record count in the header; -1: rows
    int dbentry;        // the job's row is dbentry + 1
    int lockedRecord;   // held by another program while the job is reported; 0: none
    bool written;
    char channelStatusType = 'N';  // of TO1 to TO4: N 3 wide, I 4, D 8
    const char* why = "";          // of "could not update <table>"
};

// Each job's row gets its four fields and nothing else changes, whatever the table's version;
// a row that is not there, or stays locked, is reported and nothing at all is written.
TEST_F(StatusTables, OnlyTheFieldsOfTheJobsRowChange) {
    const RowCase cases[] = {
        {"five rows, job on row 3", 0x03, false, 5, -1, 2, 0, true},
        {"append in progress, job on the last counted row", 0x03, false, 4, 3, 2, 0, true},
        {"append in progress, job on the uncounted row", 0x03, false, 4, 3, 3, 0, false},
        {"row counted by the header, not in the file", 0x03, false, 5, 6, 5, 0, false},
        {"row locked by another program", 0x03, false, 2, -1, 0, 1, false},
        {"dBASE III with memo", 0x83, true, 3, -1, 1, 0, true},
        {"dBASE IV with memo", 0x8B, true, 3, -1, 1, 0, true},
        {"FoxPro 2 with memo", 0xF5, true, 3, -1, 1, 0, true},
        {"Visual FoxPro with memo", 0x30, true, 3, -1, 1, 0, true},
        {"Visual FoxPro, channel status an integer", 0x30, false, 3, -1, 1, 0, true, 'I'},
        {"channel status a date: no field written", 0x30, false, 3, -1, 1, 0, false, 'D',
         ": field TO1 (type D) cannot hold 8"},
    };
    std::vector<std::string> before;
    std::vector<DbfLayout> layouts;
    std::vector<std::optional<test::ForeignLock>> locks(std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const RowCase& c = cases[i];
        const std::string table = dir / ("dbf/t" + std::to_string(i) + ".dbf");
        DbfLayout s = test::statusTableLayout(c.rows, "SMS");
        s.version = c.version;
        s.counted = c.counted;
        for (auto& f : s.fields)
            if (f.name.starts_with("TO") && c.channelStatusType != 'N')
                f = {f.name, c.channelStatusType, c.channelStatusType == 'I' ? 4 : 8};
        if (c.memo) {
            const bool vfp = test::isVisualFoxPro(c.version);
            s.fields.push_back({"NOTE", 'M', vfp ? 4 : 10});
            const int block = test::writeMemoFile(table, c.version, "kept note");
            for (auto& row : s.rows) row.resize(s.fields.size());
            s.rows[0].back() = std::to_string(block);
        }
        layouts.push_back(s);
        before.push_back(test::dbfBytes(s));
        test::writeBytes(table, before.back());
        if (c.lockedRecord) {
            locks[i].emplace(table, test::foxRecordLockByte(s, c.lockedRecord));
            ASSERT_TRUE(locks[i]->taken()) << c.label;
        }
    }
    start();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        job("j" + std::to_string(i) + ".sms", "t" + std::to_string(i), cases[i].dbentry);
    ASSERT_TRUE(reported(static_cast<int>(std::size(cases))));

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const RowCase& c = cases[i];
        const DbfLayout& s = layouts[i];
        const std::string table = dir / ("dbf/t" + std::to_string(i) + ".dbf");
        const std::string after = readText(table);
        const std::string line = "ERROR : could not update " + table + c.why + "\n";
        EXPECT_EQ(gateway.logCount(line), c.written ? 0 : 1) << c.label;

        // Every byte outside the row's four fields (and the header's date) is as it was.
        std::set<std::size_t> allowed;
        const std::size_t record = test::dbfHeaderLength(s) +
                                   static_cast<std::size_t>(c.dbentry) * test::dbfRecordLength(s);
        for (const auto& f : s.fields) {
            const bool ours = f.name == "STATUS" || f.name == "TIME" || f.name == "TI1" ||
                              f.name == "TO1";
            for (int k = 0; k < f.length && ours && c.written; ++k)
                allowed.insert(record + test::dbfFieldOffset(s, f.name) +
                               static_cast<std::size_t>(k));
        }
        ASSERT_EQ(after.size(), before[i].size()) << c.label;
        for (std::size_t k = 0; k < after.size(); ++k)
            if ((k < 1 || k > 3) && after[k] != before[i][k]) {
                EXPECT_TRUE(allowed.count(k)) << c.label << ": byte " << k << " changed";
            }

        if (c.counted >= 0) continue;  // dbfread reads to the end of the file, not the count
        const Read r = dbfread(table);
        ASSERT_TRUE(r.ok) << c.label << ": " << r.output;
        EXPECT_EQ(r.count, c.rows) << c.label;
        EXPECT_EQ(r.records, c.rows) << c.label;
        ASSERT_EQ(static_cast<int>(r.rows.size()), c.rows) << c.label;
        const auto& row = r.rows[static_cast<std::size_t>(c.dbentry)];
        EXPECT_EQ(row.at("STATUS"), c.written ? "8" : "0") << c.label;
        EXPECT_EQ(isTimeText(row.at("TIME")), c.written) << c.label;
        EXPECT_EQ(row.at("TI1"), row.at("TIME")) << c.label;
        EXPECT_EQ(row.at("TO1"), c.written ? "8" : "") << c.label;
        if (c.memo) {
            EXPECT_EQ(r.rows[0].at("NOTE"), "kept note") << c.label;
        }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "done"), fs::directory_iterator()),
              static_cast<long>(std::size(cases)));
}

}  // namespace
}  // namespace gsms::e2e

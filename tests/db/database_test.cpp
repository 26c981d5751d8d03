// CDatabase and its DBF engine on real files, made and read back byte by byte (dbf_bytes.h).
#include "db/database.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/dbf_bytes.h"

namespace fs = std::filesystem;
using gsms::CDatabase;
using namespace gsms::test;

namespace {

// A record lock held by another program is waited for 5 s of gateway time: 100 ms here. The
// clock reads the factor once, at its first use.
const int kTimeScale = ::setenv("GSMS_TIME_SCALE", "50", 0);

struct BoxCall {
    std::string text, caption;
};

// Offsets (outside the header's date of last update) where two files differ.
std::vector<std::size_t> changedOffsets(const std::string& a, const std::string& b) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i)
        if ((i < 1 || i > 3) && (i >= a.size() || i >= b.size() || a[i] != b[i])) out.push_back(i);
    return out;
}

std::vector<std::size_t> range(std::size_t from, std::size_t length) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < length; ++i) out.push_back(from + i);
    return out;
}

class CDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gsms_db_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = (dir_ / "status.dbf").string();
        layout_ = statusLayout(3);
        writeBytes(path_, dbfBytes(layout_));
        boxes_.clear();
        gsms::setDbErrorBoxHook([this](const char* t, const char* c) {
            boxes_.push_back({t, c});
        });
    }
    void TearDown() override {
        gsms::setDbErrorBoxHook(nullptr);
        fs::remove_all(dir_);
    }

    // The gateway's status table layout; records hold known values.
    static DbfLayout statusLayout(int records) {
        DbfLayout s;
        s.fields = {{"STATUS", 'N', 3}, {"TIME", 'C', 6}};
        for (int i = 1; i <= 4; ++i) s.fields.push_back({"TY" + std::to_string(i), 'C', 10});
        for (int i = 1; i <= 4; ++i) s.fields.push_back({"TI" + std::to_string(i), 'C', 6});
        for (int i = 1; i <= 4; ++i) s.fields.push_back({"TO" + std::to_string(i), 'N', 3});
        for (int r = 0; r < records; ++r)
            s.rows.push_back({std::to_string(10 * (r + 1)), "T" + std::to_string(r + 1),
                              r == 0 ? "SMS" : "", "", "MAIL"});
        return s;
    }
    std::string bytes() const { return readBytes(path_); }
    std::size_t fieldAt(int record, const std::string& name) const {
        return dbfHeaderLength(layout_) + static_cast<std::size_t>(record - 1) * dbfRecordLength(layout_) +
               dbfFieldOffset(layout_, name);
    }

    fs::path dir_;
    std::string path_;
    DbfLayout layout_;
    std::vector<BoxCall> boxes_;
};

TEST_F(CDatabaseTest, OpenMissingFileReturnsZeroWithoutBox) {
    CDatabase db;
    EXPECT_EQ(db.Open((dir_ / "none.dbf").string().c_str()), 0);
    EXPECT_EQ(db.Open(dir_.string().c_str()), 0);  // a directory
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(CDatabaseTest, GetFieldTextTrimsTrailingBlanks) {
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(1), 0);
    EXPECT_EQ(db.FieldLength("TY1"), 10);
    char buf[11];
    ASSERT_EQ(db.GetField("TY1", buf), 1);
    EXPECT_STREQ(buf, "SMS");
    ASSERT_EQ(db.GetField("TY2", buf), 1);
    EXPECT_STREQ(buf, "");
    int status = 0;
    ASSERT_EQ(db.GetField("STATUS", status), 1);
    EXPECT_EQ(status, 10);
    char num[4];
    ASSERT_EQ(db.GetField("STATUS", num), 1);
    EXPECT_EQ(std::atoi(num), 10);
    EXPECT_EQ(db.GetField("NOPE", buf), 0);
    EXPECT_EQ(db.FieldLength("NOPE"), 0);
    EXPECT_TRUE(db.HasField("TIME"));
    EXPECT_TRUE(db.HasField("time"));  // dBASE field names know no letter case
    EXPECT_FALSE(db.HasField("NOPE"));
    db.Close();
}

TEST_F(CDatabaseTest, ReplaceMissingFieldWritesNothingAndNoBox) {
    const std::string before = bytes();
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Replace("NOPE", 5), 0);
    EXPECT_EQ(db.Replace("NOPE", "x"), 0);
    db.Close();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(bytes(), before);
}

TEST_F(CDatabaseTest, GoOutOfRangeShowsBoxAndBlocksLaterReplace) {
    const std::string before = bytes();
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    EXPECT_NE(db.Go(99), 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "CDatabase::Go");
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_EQ(db.Replace("STATUS", 7), 0);
    EXPECT_EQ(db.Replace("TIME", "123456"), 0);
    EXPECT_NE(db.Go(0), 0);
    EXPECT_EQ(db.Replace("STATUS", 7), 0);
    db.Close();
    EXPECT_EQ(bytes(), before);
}

TEST_F(CDatabaseTest, OpenTwiceClosesFirst) {
    const std::string other = (dir_ / "other.dbf").string();
    writeBytes(other, dbfBytes(statusLayout(5)));
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    EXPECT_EQ(db.Forward66(), 3);
    ASSERT_EQ(db.Open(other.c_str()), 1);
    EXPECT_EQ(db.Forward66(), 5);
    EXPECT_EQ(db.Bottom(), 0);
    EXPECT_EQ(db.RecNo(), 5);
    db.Close();
}

TEST_F(CDatabaseTest, FindSearchesForwardFromCurrentRecord) {
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Find("NOPE", 20), 0);
    EXPECT_EQ(db.RecNo(), 2);
    EXPECT_EQ(db.Find("STATUS", 30), 3);
    EXPECT_EQ(db.Top(), 0);
    EXPECT_EQ(db.Find("TIME", "T2"), 2);
    EXPECT_EQ(db.Find("TIME", "T1"), 0);  // does not wrap to the first record
    EXPECT_EQ(db.Top(), 0);
    EXPECT_EQ(db.Find("TY3", "MAIL"), 1);
    EXPECT_EQ(db.Find("TY3", "mail"), 0);  // case significant
    EXPECT_EQ(db.Skip(-5), 1);
    db.Close();
}

// Each change is on disk as soon as Replace returns, and nothing but its field's bytes (and
// the header's date of last update) changed: no record count, no end byte, no other record.
TEST_F(CDatabaseTest, ReplaceWritesOnlyTheFieldsBytesAtOnce) {
    const std::string before = bytes();
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Replace("STATUS", 42), 1);
    EXPECT_EQ(db.Replace("TI1", "1234"), 1);
    const std::string after = bytes();  // still open
    std::vector<std::size_t> expected = range(fieldAt(2, "STATUS") + 1, 2);  // " 20" -> " 42"
    for (std::size_t i : range(fieldAt(2, "TI1"), 4)) expected.push_back(i);  // "1234" over blanks
    EXPECT_EQ(changedOffsets(before, after), expected);
    EXPECT_EQ(after.substr(fieldAt(2, "STATUS"), 3), " 42");
    EXPECT_EQ(after.substr(fieldAt(2, "TI1"), 6), "1234  ");
    db.Close();
    EXPECT_EQ(bytes(), after);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(CDatabaseTest, AppendDeleteRecallBlankAndCopy) {
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Append(), 1);
    EXPECT_EQ(db.RecNo(), 4);
    db.Flush();
    db.CopyRecord(1, 4);
    ASSERT_EQ(db.Go(2), 0);
    db.Delete();
    EXPECT_EQ(db.Forward43(), 1);
    ASSERT_EQ(db.Go(3), 0);
    db.Delete();
    db.Recall();
    ASSERT_EQ(db.Go(1), 0);
    db.Blank();
    db.Close();
    EXPECT_TRUE(boxes_.empty());

    const std::string b = bytes();
    const std::size_t hl = dbfHeaderLength(layout_), rl = dbfRecordLength(layout_);
    EXPECT_EQ(b.size(), hl + 4 * rl + 1);
    EXPECT_EQ(b.back(), '\x1A');
    EXPECT_EQ(static_cast<unsigned char>(b[4]), 4);  // the record count
    EXPECT_EQ(b[hl], ' ');
    EXPECT_EQ(b[hl + rl], '*');
    EXPECT_EQ(b[hl + 2 * rl], ' ');
    const auto rows = readDbfRows(path_);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].at("TY1"), "SMS");
    EXPECT_EQ(rows[3].at("STATUS"), "10");
    EXPECT_EQ(rows[0].at("TY1"), "");
    EXPECT_EQ(rows[0].at("STATUS"), "");
}

TEST_F(CDatabaseTest, CreateMakesOpenTable) {
    const gsms::db::DbfFieldDesc fields[] = {
        {"NAME", 'C', 8, 0}, {"COUNT", 'N', 4, 0}, {nullptr, 0, 0, 0}};
    const std::string p = (dir_ / "new.dbf").string();
    CDatabase db;
    ASSERT_EQ(db.Create(p.c_str(), fields), 1);
    EXPECT_EQ(db.FieldLength("NAME"), 8);
    ASSERT_EQ(db.Append(), 1);
    EXPECT_EQ(db.Replace("NAME", "abc"), 1);
    EXPECT_EQ(db.Replace("COUNT", 12), 1);
    db.Close();
    const auto rows = readDbfRows(p);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("NAME"), "abc");
    EXPECT_EQ(rows[0].at("COUNT"), "12");
    EXPECT_EQ(readBytes(p)[0], '\x03');
    EXPECT_TRUE(boxes_.empty());

    const gsms::db::DbfFieldDesc bad[] = {{"MUCH_TOO_LONG", 'C', 8, 0}, {nullptr, 0, 0, 0}};
    EXPECT_EQ(db.Create(p.c_str(), bad), 0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "CDatabase::Create");
}

// ---- Headers -------------------------------------------------------------------------------

struct HeaderCase {
    const char* label;
    std::function<void(DbfLayout&)> layout;         // changes to the good table's description
    std::function<void(std::string&)> bytes;    // then changes to its bytes
    bool opens;
};

void setLe16(std::string& b, std::size_t at, unsigned v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}

TEST_F(CDatabaseTest, HeadersThatCannotBeTrustedAreRefused) {
    const auto none = [](auto&) {};
    const HeaderCase cases[] = {
        {"good dBASE III table", none, none, true},
        {"lower-case field names", [](DbfLayout& s) { for (auto& f : s.fields) for (auto& c : f.name) c = static_cast<char>(std::tolower(c)); }, none, true},
        {"Clipper character field of 300", [](DbfLayout& s) { s.fields.push_back({"LONG", 'C', 300}); }, none, true},
        {"record count 2^31-1 over 3 records", none, [](std::string& b) { b.replace(4, 4, "\xFF\xFF\xFF\x7F"); }, true},
        {"no end-of-file byte", [](DbfLayout& s) { s.endByte = false; }, none, true},
        {"empty file", none, [](std::string& b) { b.clear(); }, false},
        {"only 31 bytes", none, [](std::string& b) { b.resize(31); }, false},
        {"version 0x02 (dBASE II)", none, [](std::string& b) { b[0] = 0x02; }, false},
        {"version 0x00", none, [](std::string& b) { b[0] = 0x00; }, false},
        {"encrypted dBASE IV table", none, [](std::string& b) { b[15] = 0x01; }, false},
        {"record length one more than the fields", none, [](std::string& b) { setLe16(b, 10, 79); }, false},
        {"record length one less than the fields", none, [](std::string& b) { setLe16(b, 10, 77); }, false},
        {"header length past the end of the file", none, [](std::string& b) { setLe16(b, 8, 60000); }, false},
        {"header length inside the descriptors", none, [](std::string& b) { setLe16(b, 8, 100); }, false},
        {"no 0x0D after the descriptors", none, [](std::string& b) { b[32 + 14 * 32] = 'X'; }, false},
        {"no fields", [](DbfLayout& s) { s.fields.clear(); s.rows.clear(); }, none, false},
        {"empty field name", none, [](std::string& b) { b[64] = '\0'; }, false},
        {"field name with a control character", none, [](std::string& b) { b[65] = '\n'; }, false},
        {"unknown field type X", none, [](std::string& b) { b[32 + 11] = 'X'; }, false},
        {"field of width 0", [](DbfLayout& s) { s.fields.push_back({"ZERO", 'C', 0}); }, none, false},
        {"date 6 wide", [](DbfLayout& s) { s.fields.push_back({"DAY", 'D', 6}); }, none, false},
        {"logical 2 wide", [](DbfLayout& s) { s.fields.push_back({"FLAG", 'L', 2}); }, none, false},
        {"numeric 3 wide with 2 decimals", [](DbfLayout& s) { s.fields.push_back({"NUM", 'N', 3, 2}); }, none, false},
    };
    for (const HeaderCase& c : cases) {
        DbfLayout s = statusLayout(3);
        c.layout(s);
        std::string b = dbfBytes(s);
        c.bytes(b);
        writeBytes(path_, b);
        CDatabase db;
        EXPECT_EQ(db.Open(path_.c_str()), c.opens ? 1 : 0) << c.label;
        db.Close();
        EXPECT_EQ(bytes(), b) << c.label;  // opening and closing writes nothing
    }
    EXPECT_TRUE(boxes_.empty());
}

// Every version byte of the family opens, reads and takes a change in its field's bytes only;
// memo fields stay as they were.
TEST_F(CDatabaseTest, EveryCommonVersionIsReadAndUpdated) {
    for (const unsigned char version : {0x03, 0x04, 0x30, 0x31, 0x32, 0x43, 0x63, 0x7B, 0x83,
                                        0x8B, 0x8C, 0xCB, 0xE5, 0xF5, 0xFB}) {
        SCOPED_TRACE(testing::Message() << "version 0x" << std::hex << int{version});
        DbfLayout s;
        s.version = version;
        const int memoWidth = isVisualFoxPro(version) ? 4 : 10;
        s.fields = {{"NAME", 'C', 6}, {"NOTE", 'M', memoWidth}, {"COUNT", 'N', 4}};
        s.rows = {{"abc", "1", "7"}, {"def", "", "8"}};
        const std::string before = dbfBytes(s);
        writeBytes(path_, before);
        CDatabase db;
        ASSERT_EQ(db.Open(path_.c_str()), 1);
        ASSERT_EQ(db.Go(2), 0);
        char text[11];
        ASSERT_EQ(db.GetField("NAME", text), 1);
        EXPECT_STREQ(text, "def");
        ASSERT_EQ(db.GetField("NOTE", text), 1);
        EXPECT_STREQ(text, "");  // memo fields are not read
        EXPECT_EQ(db.Replace("COUNT", 12), 1);
        EXPECT_EQ(db.Replace("NOTE", "2"), 0);
        db.CopyRecord(1, 2);
        db.Close();
        const std::size_t at = dbfHeaderLength(s) + dbfRecordLength(s);
        std::vector<std::size_t> expected = range(at + dbfFieldOffset(s, "NAME"), 3);
        expected.push_back(at + dbfFieldOffset(s, "COUNT") + 3);
        EXPECT_EQ(changedOffsets(before, bytes()), expected);
        EXPECT_EQ(bytes().substr(at + dbfFieldOffset(s, "COUNT"), 4), "   7");
    }
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(CDatabaseTest, ClaimedRecordsThatAreNotThereAreNeverWritten) {
    std::string b = dbfBytes(layout_);
    b.replace(4, 4, "\xFF\xFF\xFF\x7F");  // 2^31 - 1 records claimed, 3 held
    writeBytes(path_, b);
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    EXPECT_EQ(db.Forward66(), 3);
    EXPECT_EQ(db.Find("STATUS", 99), 0);  // ends at the last record held
    EXPECT_EQ(db.RecNo(), 3);
    EXPECT_NE(db.Go(4), 0);
    EXPECT_EQ(db.Append(), 0);  // would leave a hole of 2^31 records
    db.Close();
    EXPECT_EQ(bytes(), b);
}

TEST_F(CDatabaseTest, AppendInProgressLeavesTheUncountedRecordAlone) {
    layout_.counted = 2;  // the third record is written, the count not yet
    const std::string before = dbfBytes(layout_);
    writeBytes(path_, before);
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    EXPECT_NE(db.Go(3), 0);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Replace("STATUS", 8), 1);
    db.Close();
    EXPECT_EQ(changedOffsets(before, bytes()), range(fieldAt(2, "STATUS") + 1, 2));
}

TEST_F(CDatabaseTest, TableRebuiltSinceOpeningIsNotWritten) {
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(1), 0);
    DbfLayout wider = statusLayout(3);
    wider.fields[1].length = 8;  // TIME
    const std::string rebuilt = dbfBytes(wider);
    writeBytes(path_, rebuilt);
    EXPECT_EQ(db.Replace("TIME", "120000"), 0);
    db.Close();
    EXPECT_EQ(bytes(), rebuilt);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "CDatabase::Replace");
}

// ---- Field types ---------------------------------------------------------------------------

struct FieldCase {
    const char* label;
    DbfFieldLayout field;
    const char* stored;  // before
    const char* text;    // Replace (name, text) when set, else Replace (name, number)
    int number;
    const char* after;   // stored afterwards; nullptr: refused, nothing written
    const char* read;    // GetField (text) afterwards
    int integer;         // GetField (integer) afterwards
};

TEST_F(CDatabaseTest, EveryOperationOnEveryFieldType) {
    const FieldCase cases[] = {
        {"character text", {"F", 'C', 6}, "old", "1234", 0, "1234  ", "1234", 1234},
        {"character text cut to the width", {"F", 'C', 6}, "", "1234567", 0, "123456", "123456", 123456},
        {"character number", {"F", 'C', 6}, "", nullptr, 42, "42    ", "42", 42},
        {"character number too wide", {"F", 'C', 2}, "ab", nullptr, 123, nullptr, "ab", 0},
        {"numeric number", {"F", 'N', 3}, "0", nullptr, 8, "  8", "  8", 8},
        {"numeric negative number", {"F", 'N', 3}, "0", nullptr, -12, "-12", "-12", -12},
        {"numeric number too wide", {"F", 'N', 3}, "5", nullptr, 1000, nullptr, "  5", 5},
        {"numeric text", {"F", 'N', 3}, "", "7", 0, "  7", "  7", 7},
        {"numeric blank text empties", {"F", 'N', 3}, "5", "", 0, "   ", "", 0},
        {"numeric text not a number", {"F", 'N', 3}, "5", "1e2", 0, nullptr, "  5", 5},
        {"numeric number with decimals", {"F", 'N', 6, 2}, "", nullptr, 3, "  3.00", "  3.00", 3},
        {"numeric text with decimals", {"F", 'N', 6, 2}, "", "-2.5", 0, " -2.50", " -2.50", -2},
        {"float text", {"F", 'F', 8, 3}, "", "3.25", 0, "   3.250", "   3.250", 3},
        {"date text", {"F", 'D', 8}, "", "20240131", 0, "20240131", "20240131", 20240131},
        {"date text with dashes", {"F", 'D', 8}, "20240131", "2024-01-31", 0, nullptr, "20240131", 20240131},
        {"date month 13", {"F", 'D', 8}, "", "20241301", 0, nullptr, "", 0},
        {"date number", {"F", 'D', 8}, "20240131", nullptr, 20240201, nullptr, "20240131", 20240131},
        {"date blank text empties", {"F", 'D', 8}, "20240131", " ", 0, "        ", "", 0},
        {"logical text y", {"F", 'L', 1}, "F", "y", 0, "T", "T", 1},
        {"logical number 0", {"F", 'L', 1}, "T", nullptr, 0, "F", "F", 0},
        {"logical text x", {"F", 'L', 1}, "?", "x", 0, nullptr, "?", 0},
        {"memo text", {"F", 'M', 10}, "         1", "2", 0, nullptr, "", 0},
        {"memo number", {"F", 'M', 10}, "         1", nullptr, 2, nullptr, "", 0},
    };
    for (const FieldCase& c : cases) {
        DbfLayout s;
        s.fields = {{"KEEP", 'C', 2}, c.field};
        s.rows = {{"ab", c.stored}};
        const std::string before = dbfBytes(s);
        writeBytes(path_, before);
        const std::size_t at = dbfHeaderLength(s) + dbfFieldOffset(s, "F");
        const auto width = static_cast<std::size_t>(c.field.length);
        CDatabase db;
        ASSERT_EQ(db.Open(path_.c_str()), 1) << c.label;
        EXPECT_EQ(c.text ? db.Replace("f", c.text) : db.Replace("f", c.number), c.after ? 1 : 0)
            << c.label;
        std::string expected = before;
        if (c.after) expected.replace(at, width, c.after);
        EXPECT_EQ(changedOffsets(expected, bytes()), std::vector<std::size_t>{}) << c.label;
        char text[12];
        int value = -1;
        ASSERT_EQ(db.GetField("F", text), 1);
        EXPECT_STREQ(text, c.read) << c.label;
        ASSERT_EQ(db.GetField("F", value), 1);
        EXPECT_EQ(value, c.integer) << c.label;
        db.Close();
    }
    EXPECT_TRUE(boxes_.empty());
}

// Visual FoxPro's binary numbers, little-endian: I a 32-bit integer, B an IEEE double. The
// same letters elsewhere are other things and stay as they are.
struct BinaryCase {
    const char* label;
    unsigned char version;
    DbfFieldLayout field;
    const char* text;  // Replace (name, text) when set, else Replace (name, number)
    int number;
    std::optional<std::string> after;  // nullopt: refused, nothing written
    const char* read;
};

TEST_F(CDatabaseTest, BinaryNumbersOfVisualFoxPro) {
    const std::string minus2("\xFE\xFF\xFF\xFF", 4), lowest("\0\0\0\x80", 4);
    const BinaryCase cases[] = {
        {"integer number", 0x30, {"F", 'I', 4}, nullptr, -2, minus2, "-2"},
        {"integer text", 0x31, {"F", 'I', 4}, "-2147483648", 0, lowest, "-2147483648"},
        {"integer text not whole", 0x30, {"F", 'I', 4}, "2.5", 0, std::nullopt, "0"},
        {"integer text too large", 0x32, {"F", 'I', 4}, "2147483648", 0, std::nullopt, "0"},
        {"double text", 0x30, {"F", 'B', 8, 2}, "-2.5", 0,
         std::string("\0\0\0\0\0\0\x04\xC0", 8), "-2.5"},
        {"dBASE 7 integer", 0x04, {"F", 'I', 4}, nullptr, 8, std::nullopt, ""},
    };
    for (const BinaryCase& c : cases) {
        DbfLayout s;
        s.version = c.version;
        s.fields = {{"KEEP", 'C', 2}, c.field};
        s.rows = {{"ab", ""}};
        const std::string before = dbfBytes(s);
        writeBytes(path_, before);
        CDatabase db;
        ASSERT_EQ(db.Open(path_.c_str()), 1) << c.label;
        EXPECT_EQ(c.text ? db.Replace("F", c.text) : db.Replace("F", c.number), c.after ? 1 : 0)
            << c.label;
        std::string expected = before;
        if (c.after) expected.replace(dbfHeaderLength(s) + 3, c.after->size(), *c.after);
        EXPECT_EQ(changedOffsets(expected, bytes()), std::vector<std::size_t>{}) << c.label;
        std::vector<char> text(static_cast<std::size_t>(db.FieldLength("F")) + 1);
        int value = 1;
        ASSERT_EQ(db.GetField("F", text.data()), 1);
        EXPECT_STREQ(text.data() + std::strspn(text.data(), " "), c.read) << c.label;
        ASSERT_EQ(db.GetField("F", value), 1);
        EXPECT_EQ(value, std::atoi(c.read)) << c.label;
        db.Close();
    }
}

TEST_F(CDatabaseTest, CopyRecordCopiesEveryFieldTypeButMemos) {
    DbfLayout s;
    s.version = 0x83;
    s.fields = {{"NAME", 'C', 6}, {"COUNT", 'N', 5, 1}, {"DAY", 'D', 8}, {"OK", 'L', 1},
                {"NOTE", 'M', 10}};
    s.rows = {{"abc", "12.5", "20240131", "T", "1"}, {"xyz", "3.0", "19991231", "F", "2"}};
    const std::string before = dbfBytes(s);
    writeBytes(path_, before);
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    db.CopyRecord(1, 2);
    db.CopyRecord(1, 3);  // no record 3: box, nothing written
    db.Close();
    const std::string b = bytes();
    const std::size_t hl = dbfHeaderLength(s), rl = dbfRecordLength(s);
    EXPECT_EQ(b.substr(hl + rl + 1, rl - 11), before.substr(hl + 1, rl - 11));  // all but NOTE
    EXPECT_EQ(b.substr(hl + 2 * rl - 10, 10), "         2");                   // its memo stays
    EXPECT_EQ(b.substr(0, hl + rl).substr(4), before.substr(0, hl + rl).substr(4));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text, "CDatabase::Go");
}

// ---- Sharing the table ---------------------------------------------------------------------

struct LockCase {
    const char* label;
    unsigned char version;
    bool structuralIndex;
    std::uint64_t (*offset)(const DbfLayout&, int record);  // the byte another program locks
};

TEST_F(CDatabaseTest, RecordLockedByAnotherProgramIsNotWritten) {
    const LockCase cases[] = {
        {"dBASE III: FoxPro's 0x40000000 + the record's offset", 0x03, false,
         foxRecordLockByte},
        {"structural index: 0x7FFFFFFE - record", 0x03, true,
         [](const DbfLayout&, int r) -> std::uint64_t { return 0x7FFFFFFEu - static_cast<std::uint64_t>(r); }},
        {"Visual FoxPro: 0x7FFFFFFE - record", 0x30, false,
         [](const DbfLayout&, int r) -> std::uint64_t { return 0x7FFFFFFEu - static_cast<std::uint64_t>(r); }},
    };
    for (const LockCase& c : cases) {
        boxes_.clear();
        DbfLayout s = statusLayout(3);
        s.version = c.version;
        std::string before = dbfBytes(s);
        if (c.structuralIndex) before[28] = 0x01;
        writeBytes(path_, before);
        const ForeignLock lock(path_, c.offset(s, 2));
        ASSERT_TRUE(lock.taken()) << c.label;
        CDatabase db;
        ASSERT_EQ(db.Open(path_.c_str()), 1);
        ASSERT_EQ(db.Go(2), 0);
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(db.Replace("STATUS", 8), 0) << c.label;
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(90)) << c.label;
        int status = 0;
        ASSERT_EQ(db.GetField("STATUS", status), 1);
        EXPECT_EQ(status, 20) << c.label;  // the dropped change is not shown either
        ASSERT_EQ(db.Go(3), 0);
        EXPECT_EQ(db.Replace("STATUS", 9), 1) << c.label;  // other records are free
        db.Close();
        EXPECT_EQ(changedOffsets(before, bytes()).size(), 2u) << c.label;  // " 30" -> "  9"
        ASSERT_EQ(boxes_.size(), 1u) << c.label;
        EXPECT_EQ(boxes_[0].text, "CDatabase::Replace");
    }
}

TEST_F(CDatabaseTest, TableFileIsNotInheritedByChildProcesses) {
    gsms::db::DbfContext ctx;
    gsms::db::dbfInitContext(ctx);
    gsms::db::DbfTable* t = gsms::db::dbfOpen(ctx, path_.c_str());
    ASSERT_NE(t, nullptr);
    EXPECT_NE(::fcntl(static_cast<int>(t->file), F_GETFD) & FD_CLOEXEC, 0);
    gsms::db::dbfClose(t);
}

}  // namespace

#include "db/database.h"

#include <gtest/gtest.h>
#include <shapefil.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using gsms::CDatabase;

namespace {

struct BoxCall {
    std::string text, caption;
};

class CDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/gsms_db_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = (dir_ / "status.dbf").string();
        makeTable(path_, 3);
        boxes_.clear();
        gsms::setDbErrorBoxHook([this](const char* t, const char* c) {
            boxes_.push_back({t, c});
        });
    }
    void TearDown() override {
        gsms::setDbErrorBoxHook(nullptr);
        fs::remove_all(dir_);
    }

    // Table layout the gateway's status tables use; records hold known values.
    static void makeTable(const std::string& path, int records) {
        DBFHandle h = DBFCreate(path.c_str());
        ASSERT_NE(h, nullptr);
        DBFAddField(h, "STATUS", FTInteger, 3, 0);
        DBFAddField(h, "TIME", FTString, 6, 0);
        for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TY" + std::to_string(i)).c_str(), FTString, 10, 0);
        for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TI" + std::to_string(i)).c_str(), FTString, 6, 0);
        for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TO" + std::to_string(i)).c_str(), FTInteger, 3, 0);
        for (int r = 0; r < records; ++r) {
            DBFWriteIntegerAttribute(h, r, 0, 10 * (r + 1));
            DBFWriteStringAttribute(h, r, 1, ("T" + std::to_string(r + 1)).c_str());
            DBFWriteStringAttribute(h, r, 2, r == 0 ? "SMS" : "");
            DBFWriteAttributeDirectly(h, r, 3, const_cast<char*>(""));
            DBFWriteStringAttribute(h, r, 4, "MAIL");
        }
        DBFClose(h);
    }

    // Snapshot of every record's raw bytes, to prove nothing was written.
    std::vector<std::string> snapshot() const {
        std::vector<std::string> out;
        DBFHandle h = DBFOpen(path_.c_str(), "rb");
        if (!h) return out;
        for (int r = 0; r < DBFGetRecordCount(h); ++r) {
            const char* t = DBFReadTuple(h, r);
            out.emplace_back(t, h->nRecordLength);
        }
        DBFClose(h);
        return out;
    }

    fs::path dir_;
    std::string path_;
    std::vector<BoxCall> boxes_;
};

TEST_F(CDatabaseTest, OpenMissingFileReturnsZeroWithoutBox) {
    CDatabase db;
    EXPECT_EQ(db.Open((dir_ / "none.dbf").string().c_str()), 0);
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
    EXPECT_FALSE(db.HasField("NOPE"));
    db.Close();
}

TEST_F(CDatabaseTest, ReplaceMissingFieldWritesNothingAndNoBox) {
    auto before = snapshot();
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Replace("NOPE", 5), 0);
    EXPECT_EQ(db.Replace("NOPE", "x"), 0);
    db.Close();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CDatabaseTest, GoOutOfRangeShowsBoxAndBlocksLaterReplace) {
    auto before = snapshot();
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
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CDatabaseTest, OpenTwiceClosesFirst) {
    std::string other = (dir_ / "other.dbf").string();
    makeTable(other, 5);
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

TEST_F(CDatabaseTest, ReplaceValuesReadBackWithShapelib) {
    CDatabase db;
    ASSERT_EQ(db.Open(path_.c_str()), 1);
    ASSERT_EQ(db.Go(2), 0);
    EXPECT_EQ(db.Replace("STATUS", 42), 1);
    EXPECT_EQ(db.Replace("TI1", "1234"), 1);
    EXPECT_EQ(db.Replace("TO2", "7"), 1);
    // Auto-flush puts the change on disk while the table is still open.
    DBFHandle h = DBFOpen(path_.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(DBFReadIntegerAttribute(h, 1, DBFGetFieldIndex(h, "STATUS")), 42);
    EXPECT_STREQ(DBFReadStringAttribute(h, 1, DBFGetFieldIndex(h, "TI1")), "1234");
    EXPECT_EQ(DBFReadIntegerAttribute(h, 1, DBFGetFieldIndex(h, "TO2")), 7);
    EXPECT_EQ(DBFReadIntegerAttribute(h, 0, DBFGetFieldIndex(h, "STATUS")), 10);
    DBFClose(h);
    db.Close();
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(CDatabaseTest, AppendDeleteRecallAndCopy) {
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

    DBFHandle h = DBFOpen(path_.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(DBFGetRecordCount(h), 4);
    EXPECT_FALSE(DBFIsRecordDeleted(h, 0));
    EXPECT_TRUE(DBFIsRecordDeleted(h, 1));
    EXPECT_FALSE(DBFIsRecordDeleted(h, 2));
    EXPECT_STREQ(DBFReadStringAttribute(h, 3, DBFGetFieldIndex(h, "TY1")), "SMS");
    EXPECT_EQ(DBFReadIntegerAttribute(h, 3, DBFGetFieldIndex(h, "STATUS")), 10);
    EXPECT_STREQ(DBFReadStringAttribute(h, 0, DBFGetFieldIndex(h, "TY1")), "");
    DBFClose(h);
}

TEST_F(CDatabaseTest, CreateMakesOpenTable) {
    const gsms::db::DbfFieldDesc fields[] = {
        {"NAME", 'C', 8, 0}, {"COUNT", 'N', 4, 0}, {nullptr, 0, 0, 0}};
    std::string p = (dir_ / "new.dbf").string();
    CDatabase db;
    ASSERT_EQ(db.Create(p.c_str(), fields), 1);
    EXPECT_EQ(db.FieldLength("NAME"), 8);
    ASSERT_EQ(db.Append(), 1);
    EXPECT_EQ(db.Replace("NAME", "abc"), 1);
    EXPECT_EQ(db.Replace("COUNT", 12), 1);
    db.Close();
    DBFHandle h = DBFOpen(p.c_str(), "rb");
    ASSERT_NE(h, nullptr);
    EXPECT_STREQ(DBFReadStringAttribute(h, 0, 0), "abc");
    EXPECT_EQ(DBFReadIntegerAttribute(h, 0, 1), 12);
    DBFClose(h);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace

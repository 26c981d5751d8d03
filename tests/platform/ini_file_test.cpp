#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace gsms {
namespace {

TEST(IniRead, NamesAreCaseInsensitiveAndValuesTrimmedAndUnquoted) {
    test::TempDir dir;
    test::writeFile("a.ini",
                    "; comment\n[ Alarm ]\n  PhoneNumber =  +49 170 123  \nMessage=\"hi there\"\n"
                    "Key='x'\nHalf=\"open\n");
    EXPECT_EQ(ini::read("a.ini", "alarm", "phonenumber"), "+49 170 123");
    EXPECT_EQ(ini::read("a.ini", "ALARM", "message"), "hi there");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Key"), "x");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Half"), "\"open");
    EXPECT_FALSE(ini::read("a.ini", "Alarm", "Missing"));
    EXPECT_FALSE(ini::read("missing.ini", "Alarm", "Key"));
}

TEST(IniRead, FirstOfDuplicateSectionsAndKeysWins) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(ini::read("a.ini", "S", "k"), "1");
    EXPECT_FALSE(ini::read("a.ini", "S", "j"));
}

TEST(IniRead, CommentedKeyIsNotAKey) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\n;k=1\n");
    EXPECT_FALSE(ini::read("a.ini", "S", "k"));
}

TEST(IniWrite, KeepsOtherLinesAndAppendsAtEndOfSection) {
    test::TempDir dir;
    test::writeFile("a.ini", "; top\n[One]\na=1\n; note\nodd line\n\n[Two]\nb=2\n");
    ASSERT_TRUE(ini::write("a.ini", "one", "A", "10"));
    ASSERT_TRUE(ini::write("a.ini", "One", "c", "3"));
    ASSERT_TRUE(ini::write("a.ini", "Three", "d", "4"));
    EXPECT_EQ(test::readFile("a.ini"),
              "; top\n[One]\nA=10\n; note\nodd line\nc=3\n\n[Two]\nb=2\n[Three]\nd=4\n");
}

TEST(IniWrite, CreatesMissingFileAndKeepsCrLf) {
    test::TempDir dir;
    ASSERT_TRUE(ini::write("new.ini", "S", "k", "v"));
    EXPECT_EQ(test::readFile("new.ini"), "[S]\nk=v\n");
    test::writeFile("dos.ini", "[S]\r\nk=1\r\n");
    ASSERT_TRUE(ini::write("dos.ini", "S", "k", "2"));
    EXPECT_EQ(test::readFile("dos.ini"), "[S]\r\nk=2\r\n");
}

TEST(IniWrite, UnwritableDirectoryFails) {
    EXPECT_FALSE(ini::write("/proc/nope/a.ini", "S", "k", "v"));
}

TEST(IniParseInt, WindowsIntegerRules) {
    EXPECT_EQ(ini::parseInt("  42"), 42);
    EXPECT_EQ(ini::parseInt("-9"), -9);
    EXPECT_EQ(ini::parseInt("+7x"), 7);
    EXPECT_EQ(ini::parseInt("abc"), 0);
    EXPECT_EQ(ini::parseInt(""), 0);
    EXPECT_EQ(ini::parseInt("99999999999"), 2147483647);
}

}  // namespace
}  // namespace gsms

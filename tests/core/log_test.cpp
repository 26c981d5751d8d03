#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <regex>
#include <thread>

#include "platform/clock.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

class Logs : public ::testing::Test {
protected:
    void SetUp() override { resetLogQueueForTest(); }
    void TearDown() override {
        resetLogQueueForTest();
        clock::setWallOffsetForTest(0);
    }
    test::TempDir dir;
};

// Offset that makes the wall clock read the given local time today.
std::int64_t offsetTo(int hour, int min, int sec) {
    std::tm t = clock::localNow();
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) - clock::wallSeconds();
}

TEST_F(Logs, WindowLineCarriesDateTimeAndText) {
    std::atomic<int> posted{0};
    setNotifier([&](int code) { if (code == kNotifyLogLine) ++posted; });
    clock::setWallOffsetForTest(offsetTo(7, 5, 9));
    windowLog(nullptr, "Settings parameters updated", kColorGrey);
    windowLog("scen1", "could not move", kColorRed);
    EXPECT_EQ(posted, 2);
    auto first = takeLogLine();
    ASSERT_TRUE(first);
    EXPECT_TRUE(std::regex_match(first->text,
                                 std::regex(R"(\d\d\.\d\d\.\d{4} 07:05:09 Settings parameters updated)")))
        << first->text;
    EXPECT_EQ(first->colour, kColorGrey);
    auto second = takeLogLine();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->text.ends_with(" 07:05:09 scen1 could not move")) << second->text;
    EXPECT_FALSE(takeLogLine());
}

TEST_F(Logs, FileLineHasTimeAndText) {
    clock::setWallOffsetForTest(offsetTo(7, 5, 9));
    fileLog("Settings parameters updated");
    EXPECT_EQ(test::readFile(dailyLogPath(clock::localNow())), "07:05:09 Settings parameters updated\n");
}

TEST_F(Logs, ThirtyThirdLineIsDroppedUntilTheWindowTakesOne) {
    std::atomic<int> posted{0};
    setNotifier([&](int) { ++posted; });
    for (int i = 0; i < 33; ++i) windowLog(nullptr, "line " + std::to_string(i), 0);
    EXPECT_EQ(posted, 32);
    auto l = takeLogLine();
    ASSERT_TRUE(l);
    EXPECT_TRUE(l->text.ends_with("line 0"));
    windowLog(nullptr, "late", 0);
    EXPECT_EQ(posted, 33);
    int n = 0;
    while (takeLogLine()) ++n;
    EXPECT_EQ(n, 32);
}

TEST_F(Logs, LinesBeforeAReceiverExistsAreDropped) {
    windowLog(nullptr, "too early", 0);
    setNotifier([](int) {});
    EXPECT_FALSE(takeLogLine());
}

TEST_F(Logs, LongTextsAreCutNeverOverrun) {
    setNotifier([](int) {});
    std::string huge(3 * kFileLineSize, 'x');
    windowLog("prefix", huge, 0);
    auto l = takeLogLine();
    ASSERT_TRUE(l);
    EXPECT_EQ(l->text.size(), kWindowLineSize - 1);
    fileLog(huge);
    std::string file = test::readFile(dailyLogPath(clock::localNow()));
    EXPECT_EQ(file.size(), kFileLineSize - 1);
    EXPECT_EQ(file.back(), '\n');
    std::string euros;  // shown, then cut between characters, whatever the offset
    for (std::size_t i = 0; i < kFileLineSize; ++i) euros += "\u20AC";
    for (const char* lead : {"", "\xE9", "\n"}) {  // ISO 8859-1, LF: 0, 4 and 2 bytes shown
        std::filesystem::remove(dailyLogPath(clock::localNow()));
        fileLog(lead + euros);
        file = test::readFile(dailyLogPath(clock::localNow()));
        EXPECT_TRUE(file.ends_with("\u20AC\n") && file.find_first_of("\xE9\n") == file.size() - 1);
    }
}

TEST_F(Logs, ConcurrentFileLinesStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string text(100, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) fileLog(text);
        });
    }
    for (auto& th : threads) th.join();
    std::istringstream in(test::readFile(dailyLogPath(clock::localNow())));
    std::string line;
    int count = 0;
    std::regex whole(R"(\d\d:\d\d:\d\d (a{100}|b{100}|c{100}|d{100}))");
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST_F(Logs, MidnightStartsTheFileOfTheNewDay) {
    const std::int64_t offset = offsetTo(23, 59, 59);
    clock::setWallOffsetForTest(offset);
    std::tm before = clock::localNow();
    fileLog("last of the day");
    clock::setWallOffsetForTest(offset + 1);
    std::tm after = clock::localNow();
    fileLog("first of the next");
    ASSERT_NE(dailyLogPath(before), dailyLogPath(after));
    EXPECT_EQ(test::readFile(dailyLogPath(before)), "23:59:59 last of the day\n");
    EXPECT_EQ(test::readFile(dailyLogPath(after)), "00:00:00 first of the next\n");
}

TEST_F(Logs, MissingLogDirectoryIsCreatedAndUncreatableOneIsSurvived) {
    const mode_t umask = ::umask(0);  // the modes asked for, not what a umask leaves of them
    fileLog("hello");
    ::umask(umask);
    EXPECT_TRUE(std::filesystem::is_directory("log"));
    // The daily log names the site's numbers and paths: not for everyone's eyes.
    struct stat st {};
    ASSERT_EQ(::stat("log", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    ASSERT_EQ(::stat(dailyLogPath(clock::localNow()).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    std::filesystem::remove_all("log");
    test::writeFile("log", "a file where the directory should be");
    fileLog("nowhere to go");
    EXPECT_EQ(test::readFile("log"), "a file where the directory should be");
}

}  // namespace
}  // namespace gsms

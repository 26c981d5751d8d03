// The daily log on a file system that cannot take its lines: a full disk (a small tmpfs mounted
// on log/, which needs root) and a file size limit (EFBIG, as a quota gives it). POSIX only.
#include <sys/mount.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>

#include "core/log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

std::int64_t offsetTo(int hour, int min, int sec) {
    std::tm t = clock::localNow();
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) - clock::wallSeconds();
}

// Fills the file system of `path` with it until the file system refuses.
void fillUp(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    const std::string block(512, 'f');
    while (out.write(block.data(), block.size()) && out.flush()) {
    }
}

struct OutageCase {
    const char* label;
    // Makes the log folder refuse lines from the fifth kilobyte of the daily file on; false
    // where that cannot be done here.
    std::function<bool(const std::string& daily)> start;
    std::function<void()> end;
    const char* reason;
};

// A line that the file takes only in part is cut back out: the next line never runs into it;
// the window is told once, and of the lines lost when the log takes lines again.
TEST(LogOutage, LinesAreWholeOrLostAndTheLossIsTold) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const OutageCase cases[] = {
        {"full tmpfs",
         [](const std::string& daily) {
             if (::mount("tmpfs", "log", "tmpfs", 0, "size=64k,mode=0750") != 0) return false;
             test::writeFile(daily, std::string(4000, 'p') + "\n");
             fillUp("log/filler");  // the daily file's first page keeps 95 bytes free
             return true;
         },
         [] { std::remove("log/filler"); }, "No space left on device"},
        {"file size limit",
         [limit](const std::string& daily) {
             test::writeFile(daily, std::string(4000, 'p') + "\n");
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit small = limit;
             small.rlim_cur = 4096;
             return ::setrlimit(RLIMIT_FSIZE, &small) == 0;
         },
         [limit] { ::setrlimit(RLIMIT_FSIZE, &limit); }, "File too large"},
    };
    for (const OutageCase& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        // Undone also when a check ends the case early, before the folder is removed.
        struct Restore {
            rlimit limit;
            ~Restore() {
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ::umount2("log", MNT_DETACH);
            }
        } restore{limit};
        resetLogQueueForTest();
        setNotifier([](int) {});
        clock::setWallOffsetForTest(0);
        clock::setWallOffsetForTest(offsetTo(7, 5, 9));
        std::filesystem::create_directory("log");
        const std::string daily = dailyLogPath(clock::localNow());
        if (!c.start(daily)) {
            std::cout << "skipped (" << std::strerror(errno) << "): " << c.label << "\n";
            continue;
        }
        const std::string before = test::readFile(daily);
        for (int i = 0; i < 3; ++i) fileLog(std::string(150, static_cast<char>('a' + i)));
        EXPECT_TRUE(test::readFile(daily) == before);  // not a byte more (not shown: 4 KiB)
        auto told = takeLogLine();
        ASSERT_TRUE(told);
        EXPECT_TRUE(told->text.ends_with(" 07:05:09 ERROR: cannot write the daily log " + daily +
                                         " (" + c.reason + ")"))
            << told->text;
        EXPECT_EQ(told->colour, kColorRed);
        EXPECT_FALSE(takeLogLine());

        c.end();
        fileLog("back");
        const std::string after = test::readFile(daily);
        ASSERT_EQ(after.substr(0, before.size()), before);
        EXPECT_EQ(after.substr(before.size()),
                  "07:05:09 3 lines could not be written to the daily log\n07:05:09 back\n");
        told = takeLogLine();
        ASSERT_TRUE(told);
        EXPECT_TRUE(told->text.ends_with(" 07:05:09 3 lines could not be written to the daily log"))
            << told->text;
        EXPECT_EQ(told->colour, kColorRed);
        EXPECT_FALSE(takeLogLine());
    }
    resetLogQueueForTest();
    clock::setWallOffsetForTest(0);
}

}  // namespace
}  // namespace gsms

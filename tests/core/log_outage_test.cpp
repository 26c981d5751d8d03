// The daily log on a file system that takes only part of a line: a full tmpfs mounted on log/
// (needs root) and a file size limit (EFBIG). POSIX only.
#include <sys/mount.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <regex>

#include "core/log.h"
#include "platform/clock.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

void expectRedLine(const std::string& ending) {
    const auto line = takeLogLine();
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->text.ends_with(ending) && line->colour == kColorRed) << line->text;
}

// The torn line is cut back out; the window hears once of the outage and, when the log takes
// lines again, of the lines lost, which the file notes before the first line written again.
TEST(LogOutage, LinesAreWholeOrLostAndTheLossIsTold) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    const struct {
        const char* label;
        bool tmpfs;  // else a file size limit 95 bytes past the daily file
        const char* reason;
    } cases[] = {{"full tmpfs", true, "No space left on device"},
                 {"file size limit", false, "File too large"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::TempDir dir;
        struct Undo {  // also when a check ends the case early
            rlimit limit;
            ~Undo() { ::setrlimit(RLIMIT_FSIZE, &limit), ::umount2("log", MNT_DETACH); }
        } undo{limit};
        resetLogQueueForTest();
        setNotifier([](int) {});
        std::filesystem::create_directory("log");
        if (c.tmpfs && ::mount("tmpfs", "log", "tmpfs", 0, "size=64k") != 0) {
            std::cout << "skipped (no tmpfs can be mounted): " << c.label << "\n";
            continue;
        }
        const std::string daily = dailyLogPath(clock::localNow());
        const std::string before = std::string(4000, 'p') + "\n";  // 95 bytes left in its page
        test::writeFile(daily, before);
        std::ofstream fill(c.tmpfs ? "log/filler" : "/dev/null");  // to the last byte
        while (c.tmpfs && fill << std::string(512, 'f') << std::flush) {
        }
        rlimit small{c.tmpfs ? limit.rlim_cur : 4096, limit.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        for (int i = 0; i < 3; ++i) fileLog(std::string(150, 'x'));
        EXPECT_TRUE(test::readFile(daily) == before);  // not shown: 4 KiB
        expectRedLine(" ERROR: cannot write the daily log " + daily + " (" + c.reason + ")");
        EXPECT_FALSE(takeLogLine());

        std::remove("log/filler");
        ::setrlimit(RLIMIT_FSIZE, &limit);
        fileLog("back");
        const std::string after = test::readFile(daily);
        ASSERT_TRUE(after.starts_with(before));
        EXPECT_TRUE(std::regex_match(after.substr(before.size()),
                                     std::regex(R"(\d\d:\d\d:\d\d 3 lines could not be written to )"
                                                R"(the daily log\n\d\d:\d\d:\d\d back\n)")))
            << after.substr(before.size());
        expectRedLine(" 3 lines could not be written to the daily log");
    }
    resetLogQueueForTest();
}

}  // namespace
}  // namespace gsms

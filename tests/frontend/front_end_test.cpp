// The console receiver of gsmsd: window lines on a stream, coloured for a terminal or with
// their syslog priority for the journal, and the low-signal warning once per fall below 12.
#include "frontend/front_end.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "sms/signal_thread.h"
#include "support/environment.h"

namespace gsms {
namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file in /tmp with a stream on it, removed at the end. The stream stays open: the
// receiver may still hold its descriptor.
struct TempStream {
    std::string path = "/tmp/gsms-console-XXXXXX";
    int fd = ::mkstemp(path.data());
    std::FILE* out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    ~TempStream() { std::remove(path.c_str()); }
};

// The receiver is process-wide and started once: one test covers its behaviour in order.
TEST(ConsoleReceiver, ColouredLinesAndSignalChanges) {
    TempStream file;
    ASSERT_NE(file.out, nullptr);
    const std::string& path = file.path;
    resetLogQueueForTest();
    startConsoleReceiver(file.out, ConsoleStyle::Colours);
    windowLog(nullptr, "plain line", kColorDefault);
    windowLog(nullptr, "failure", kColorRed);
    windowLog(nullptr, "started", kColorBlue);
    // The receiver writes on its own thread and flushes per line; like the signal thread,
    // the test lets each reading be shown before the next one is taken.
    std::string text;
    auto waitFor = [&](const std::string& line) {
        for (int i = 0; i < 3000 && text.find(line) == std::string::npos; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            text = contents(path);
        }
    };
    for (int q : {15, 11, 5, 12, 20, 3}) {
        signalQuality() = q;
        notify(kNotifySignal);
        windowLog(nullptr, "poll " + std::to_string(q), kColorDefault);
        waitFor("poll " + std::to_string(q) + "\n");
    }
    EXPECT_NE(text.find("plain line\n"), std::string::npos);
    EXPECT_NE(text.find("\033[38;2;255;0;0m"), std::string::npos);  // red, from 0x0000FF
    EXPECT_NE(text.find("\033[38;2;0;0;255m"), std::string::npos);  // blue, from 0xFF0000
    // One warning per fall below 12, one line per rise back.
    std::size_t warnings = 0;
    for (auto p = text.find(kLowSignalText); p != std::string::npos;
         p = text.find(kLowSignalText, p + 1))
        ++warnings;
    EXPECT_EQ(warnings, 2u);
    EXPECT_NE(text.find(signalBackText(12)), std::string::npos);
    EXPECT_EQ(text.find(signalBackText(20)), std::string::npos);
    setNotifier(nullptr);
}

// The same receiver, switched to a stream that is the journal: every line starts with its
// priority, so that "journalctl -p err" finds the red ones.
TEST(ConsoleReceiver, JournalLinesCarryTheirPriority) {
    TempStream file;
    ASSERT_NE(file.out, nullptr);
    const std::string& path = file.path;
    resetLogQueueForTest();
    startConsoleReceiver(file.out, ConsoleStyle::Journal);
    // A good signal first, so that whatever an earlier test left shown is taken back.
    signalQuality() = 20;
    notify(kNotifySignal);
    (void)drainConsole(10000);
    const std::size_t before = contents(path).size();
    // One step at a time: the receiver looks at the signal after the lines of its pass.
    windowLog(nullptr, "failure", kColorRed);
    windowLog(nullptr, "sent", kColorGreen);
    (void)drainConsole(10000);
    signalQuality() = 5;
    notify(kNotifySignal);
    (void)drainConsole(10000);
    windowLog(nullptr, "last", kColorDefault);
    windowLogFailure(nullptr, "init failed", kColorDefault);
    (void)drainConsole(10000);
    // The journal has a time of its own: the lines carry none.
    const std::string expected = "<3>failure\n<6>sent\n<4>" + std::string(kLowSignalText) +
                                 "\n<6>last\n<3>init failed\n";
    EXPECT_EQ(contents(path).substr(before), expected);
    setNotifier(nullptr);
}

// Journal only for the very stream systemd connected; colours only on a terminal.
TEST(ConsoleStyle, FollowsJournalStreamAndTerminal) {
    TempStream file;
    const int fd = file.fd;
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    const struct {
        const char* label;
        std::string journalStream;  // "" unset
        ConsoleStyle expected;
    } cases[] = {
        {"no JOURNAL_STREAM, a file", "", ConsoleStyle::Plain},
        {"JOURNAL_STREAM names this file", mine, ConsoleStyle::Journal},
        {"JOURNAL_STREAM names another stream", "1:2", ConsoleStyle::Plain},
        {"JOURNAL_STREAM garbled", "journal", ConsoleStyle::Plain},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.journalStream.empty()) test::unsetEnvironment("JOURNAL_STREAM");
        else test::setEnvironment("JOURNAL_STREAM", c.journalStream.c_str());
        EXPECT_EQ(consoleStyleFor(fd), c.expected);
    }
    test::unsetEnvironment("JOURNAL_STREAM");
}

}  // namespace
}  // namespace gsms

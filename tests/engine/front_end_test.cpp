// The console receiver of gsmsd: window lines on a stream, coloured for a terminal, and the
// low-signal warning once per fall below 12.
#include "engine/front_end.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "engine/log.h"
#include "sms/signal_thread.h"

namespace gsms {
namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The receiver is process-wide and started once: one test covers its behaviour in order.
TEST(ConsoleReceiver, ColouredLinesAndSignalChanges) {
    char path[] = "/tmp/gsms-console-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    std::FILE* out = ::fdopen(fd, "w");
    ASSERT_NE(out, nullptr);
    resetLogQueueForTest();
    startConsoleReceiver(out, true);
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
    std::remove(path);
}

}  // namespace
}  // namespace gsms

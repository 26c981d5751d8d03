// The operator window gsms as a whole program against gsms-modem-sim: a dropped job's slot
// goes to sending and back to idle, its log line appears, and the window can be pictured.
//
// The window is followed through its trace (GSMS_WINDOW_TRACE): one line per notification it
// has shown, in the order shown. It runs on Qt's offscreen platform, so no display is needed.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kSendingState = 2;
constexpr int kIdleState = 0;

// The ThreadSanitizer build needs the suppressions of Qt's own (uninstrumented) libraries.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

std::string tsanSuppressions() {
    return (fs::path(__FILE__).parent_path().parent_path() / "ui/tsan.supp").string();
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(binary("gsms"))) GTEST_SKIP() << "the operator window is not built";
        if (kThreadSanitizer && !fs::exists(tsanSuppressions()))
            GTEST_SKIP() << "no ThreadSanitizer suppressions for Qt at " << tsanSuppressions();
        for (const char* d : {"in", "done", "error", "tables"}) fs::create_directories(dir / d);
        // Without the flag the window asks a modal question before it starts the engine.
        writeText(dir / "hestrum.ini", "[drobel]\r\nSendWithTevrak=1\r\n");
    }

    // The simulator's submissions take sendDelayMs each, so a slot stays "sending" long
    // enough to be seen even when the window lags behind on a loaded machine.
    void startSimulator(int sendDelayMs, int csq = 15) {
        ASSERT_TRUE(sim.start({"--send-delay", std::to_string(sendDelayMs), "--csq",
                               std::to_string(csq)}));
    }

    void startWindow(std::map<std::string, std::string> keys = {},
                     std::map<std::string, std::string> env = {}) {
        keys.emplace("WatchLogPath", dir / "tables");
        keys.emplace("QualityPollEverySecs", "3600");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        keys.emplace("RetryCount", "3");
        keys.emplace("RetryDelay", "10");
        gateway.configure(sim, keys);
        env["QT_QPA_PLATFORM"] = "offscreen";
        env["GSMS_WINDOW_TRACE"] = trace();
        // The answer to a submission is awaited 30 s of gateway time: scaled by 4 that still
        // leaves room for the simulator's delay, while start-up pauses pass quickly.
        env.emplace("GSMS_TIME_SCALE", "4");
        if (kThreadSanitizer) {
            const char* own = std::getenv("TSAN_OPTIONS");
            env["TSAN_OPTIONS"] = std::string(own != nullptr && *own ? std::string(own) + ":" : "") +
                                  "suppressions=" + tsanSuppressions();
        }
        ASSERT_TRUE(gateway.start("gsms", env));
        ASSERT_TRUE(waitFor([&] { return shown("log ", "SignalThread started") >= 0; }))
            << gateway.output();
    }

    void job(const std::string& name, const std::string& body) {
        writeText(dir / ("in/" + name), "[Alarm]\r\n" + body);
    }

    std::string trace() const { return dir / "window-trace.txt"; }

    // The complete lines of the window's trace (a line still being written is left out).
    std::vector<std::string> traced() {
        const std::string text = readText(trace());
        std::vector<std::string> out;
        std::size_t start = 0;
        for (auto end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
            out.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }

    // Index of the first trace line from `from` on that starts with prefix and contains text,
    // or -1.
    int shown(const std::string& prefix, const std::string& text, int from = 0) {
        const auto lines = traced();
        for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
            const std::string& l = lines[static_cast<std::size_t>(i)];
            if (l.rfind(prefix, 0) == 0 && l.find(text) != std::string::npos) return i;
        }
        return -1;
    }

    static std::string slot(int n, int state) {
        return "slot " + std::to_string(n) + " state " + std::to_string(state) + " ";
    }

    // How many slots the window shows as sending right now.
    int slotsSending() {
        std::map<int, int> state;
        for (const auto& l : traced()) {
            std::istringstream in(l);
            std::string word, stateWord;
            int n = -1, s = -1;
            if (in >> word >> n >> stateWord >> s && word == "slot") state[n] = s;
        }
        int sending = 0;
        for (const auto& [n, s] : state) sending += s == kSendingState;
        return sending;
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

TEST_F(Window, DroppedJobShowsItsSlotSendingThenIdleAndItsLogLine) {
    startSimulator(2000);
    startWindow();
    ASSERT_EQ(shown("slot ", ""), -1);  // nothing queued yet: no slot touched

    job("m1.sms", "PhoneNumber=+49333\r\nName=Guard\r\nMessage=Guard round done\r\n");

    int sending = -1, sent = -1, idle = -1;
    ASSERT_TRUE(waitFor([&] { return (sending = shown(slot(0, kSendingState), "")) >= 0; }))
        << readText(trace());
    EXPECT_EQ(traced()[static_cast<std::size_t>(sending)],
              slot(0, kSendingState) + "sending 'Guard round done' to Guard");
    ASSERT_TRUE(waitFor([&] { return (sent = shown("log 00ff00 ", "Message sent to +49333", sending)) >= 0; }))
        << readText(trace());
    ASSERT_TRUE(waitFor([&] { return (idle = shown(slot(0, kIdleState), "", sent)) >= 0; }))
        << readText(trace());
    EXPECT_EQ(traced()[static_cast<std::size_t>(idle)], slot(0, kIdleState));

    // The engine's side of the same story.
    EXPECT_TRUE(gateway.waitLog("** free_alarm ** job 0 freed"));
    EXPECT_TRUE(gateway.logHas("Message sent to +49333"));
    EXPECT_EQ(sim.records().size(), 1u);
    EXPECT_TRUE(gateway.process().running());
}

TEST_F(Window, BusyWindowIsPicturedWithSlotsSendingColouredLogAndGauge) {
    startSimulator(2500, 22);
    writeText(dir / "KORLIN.INI", "[Messages]\r\nK17=Boiler pressure low, hall 3\r\n");
    const std::string picture = dir / "window.png";
    startWindow({{"QualityPollEverySecs", "1"}}, {{"GSMS_SCREENSHOT", picture}});
    // The gauge first: while the modem sends, the signal poll waits for it.
    ASSERT_TRUE(waitFor([&] { return shown("signal 22", "") >= 0; })) << readText(trace());

    // The demo's four jobs: an alarm with its own text, one with its text from KORLIN.INI, a
    // mini-message and a bad request.
    Child table;
    ASSERT_TRUE(table.start({binary("gsms-sample-table"), dir / "tables/plant.dbf", "5"},
                            dir.path(), dir / "table-output.txt"));
    ASSERT_EQ(table.waitExit(), 0) << readText(dir / "table-output.txt");
    // Names as long as a site gives them: the captions take two lines, cut with "…".
    job("fire.sms", "Szenario=plant\r\nPhoneNumber=+49 170 1234567\r\n"
                    "Name=Anna Schmidt, caretaker of hall B\r\n"
                    "Message=Fire alarm, building B\r\nAlarmKey=F1\r\ndbentry=0\r\n");
    job("boiler.sms", "Szenario=plant\r\nPhoneNumber=+491709876543\r\nName=Ben Miller\r\n"
                      "AlarmKey=K17\r\ndbentry=1\r\n");
    job("round.sms", "PhoneNumber=+491705550000\r\nName=Guard\r\nMessage=Guard round completed\r\n");
    job("broken.sms", "Szenario=plant\r\nMessage=no number given\r\n");

    // A coloured log (blue bad request, green sent line) and a slot sending: the jobs take
    // 2.5 s each, one after the other, so the last two are still on show after the first
    // sent line.
    ASSERT_TRUE(waitFor([&] {
        return shown("log 0000ff ", "Bad request !") >= 0 &&
               shown("log 00ff00 ", "Message sent to") >= 0 && slotsSending() >= 1;
    })) << readText(trace());

    gateway.process().signal(SIGUSR1);
    ASSERT_TRUE(waitFor([&] { return fs::exists(picture); })) << gateway.output();
    const std::string png = readText(picture);
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    // For the documentation: GSMS_WINDOW_PICTURE=path keeps a copy of the picture.
    if (const char* keep = std::getenv("GSMS_WINDOW_PICTURE"); keep != nullptr && *keep)
        fs::copy_file(picture, keep, fs::copy_options::overwrite_existing);

    // Every good job is sent and its slot idle again.
    ASSERT_TRUE(waitFor([&] { return gateway.logCount("** free_alarm ** job") == 3; }))
        << readText(trace());
    ASSERT_TRUE(waitFor([&] { return slotsSending() == 0; })) << readText(trace());
    EXPECT_EQ(sim.records().size(), 3u);
}

TEST_F(Window, FatalStopShowsNoSignalAndWhyTheModemButtonsAreOff) {
    gateway.configure({{"Port", dir / "no-such-modem"}, {"WatchPath", dir / "in"}});
    ASSERT_TRUE(gateway.start("gsms", {{"QT_QPA_PLATFORM", "offscreen"},
                                       {"GSMS_WINDOW_TRACE", trace()},
                                       {"GSMS_TIME_SCALE", "20"}}));
    ASSERT_TRUE(waitFor([&] {
        return shown("log ff0000 ", "** init_gsms ** ERROR: cannot open") >= 0;
    })) << readText(trace());
    // The gauge falls from its opening 29 to no signal; the status line says why. Each is
    // its own notification, which may come after the log line's.
    EXPECT_TRUE(waitFor([&] {
        return shown("status Stopped after an error (see the log): Send SMS and Change SMSC "
                     "are not available", "") >= 0;
    })) << readText(trace());
    EXPECT_TRUE(waitFor([&] { return shown("signal 0", "") >= 0; })) << readText(trace());
    EXPECT_EQ(gateway.process().waitExit(), 1);
}

}  // namespace
}  // namespace gsms::e2e

// Received SMS through gsmsd and gsms-modem-sim: the listing, the hand-over to the command of
// "CmdLineFormat" (a recorder of its arguments here), the log line and the deletion.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;
using Call = std::vector<std::string>;

class Incoming : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        for (const char* d : {"in", "done", "error", "calls", "calls.part"})
            fs::create_directories(dir / d);
        // One file per call, NUL between the arguments so that any byte may be in them;
        // written aside and renamed so that only whole calls are seen. Its output goes to
        // /dev/null, hence the absolute paths.
        writeText(dir / "recorder",
                  "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + (dir / "calls.part/$$") + " && mv " +
                      (dir / "calls.part/$$") + " " + (dir / "calls/$$") + "\n");
        fs::permissions(dir / "recorder", fs::perms::owner_all);
    }
    void configure(std::map<std::string, std::string> keys) {
        keys.emplace("QualityPollEverySecs", "3600");  // no signal polls in between
        // Fixed text around both values and a last argument: a message must not be able
        // to shift or add any.
        keys.emplace("CmdLineFormat", (dir / "recorder") + " \"from %s\" \"%s\" tail");
        gateway.configure(sim, keys);
    }
    void start(std::map<std::string, std::string> keys = {}) {
        configure(keys);
        ASSERT_TRUE(gateway.start());
        ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    }
    // The recorded calls, sorted (the detached commands may finish in any order).
    std::vector<Call> calls() {
        std::vector<Call> out;
        for (const auto& f : fs::directory_iterator(dir / "calls")) {
            const std::string bytes = readText(f.path());
            Call c;
            for (std::size_t at = 0; at < bytes.size();) {
                const std::size_t end = bytes.find('\0', at);
                c.push_back(bytes.substr(at, end - at));
                at = end + 1;
            }
            out.push_back(c);
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    bool callCount(std::size_t n) {
        return waitFor([&] { return calls().size() == n; });
    }
    static Call call(const std::string& sender, const std::string& text) {
        return {"from " + sender, text, "tail"};
    }
    static std::string logLine(const std::string& text, const std::string& sender) {
        return "'" + text + "' command received from \"" + sender + "\"";
    }
    // Positions in the daily log strictly in this order, each found after the one before.
    bool inOrder(const std::vector<std::string>& texts, std::size_t from = 0) {
        const std::string log = gateway.dailyLog();
        for (const auto& t : texts) {
            from = log.find(t, from);
            if (from == std::string::npos) return false;
            from += t.size();
        }
        return true;
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

TEST_F(Incoming, MessagesAreListedHandedOverAndDeleted) {
    // Two lines of text, as a modem gives them: an LF inside the default-alphabet bytes.
    ASSERT_EQ(sim.control("incoming-gsm +4911 5a65696c652065696e730a5a65696c65207a776569"), "ok");
    start();
    ASSERT_TRUE(gateway.waitLog("IncomingThread started"));

    // One message: one call with the lines joined by CR, one log line, one deletion.
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 1; }));
    EXPECT_EQ(sim.count("at+cmgl=?"), 1);
    EXPECT_GE(sim.count("at+cmgl=\"all\""), 1);  // the modem offers ALL
    EXPECT_EQ(sim.count("at+cmgl=4"), 0);
    EXPECT_EQ(sim.count("at+cmgd=1"), 1);
    ASSERT_TRUE(callCount(1));
    EXPECT_EQ(calls()[0], call("+4911", "Zeile eins\rZeile zwei\r"));
    EXPECT_EQ(gateway.logCount(logLine("Zeile eins\rZeile zwei\r", "+4911")), 1);
    EXPECT_EQ(gateway.logCount("command received from"), 1);
    EXPECT_NE(gateway.output().find(logLine("Zeile eins\rZeile zwei\r", "+4911")),
              std::string::npos);

    // Three messages, stored between two listings (1.5 s apart): handed over in the order of
    // the listing, each deleted before the next is handed over.
    const auto listings = sim.count("at+cmgl=\"all\"");
    ASSERT_EQ(sim.control("incoming +4921 erste"), "ok");
    ASSERT_EQ(sim.control("incoming +4922 zweite"), "ok");
    ASSERT_EQ(sim.control("incoming +4923 dritte"), "ok");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 4; }));
    ASSERT_TRUE(callCount(4));
    EXPECT_EQ(sim.count("at+cmgl=\"all\""), listings + 1);
    const auto cmds = sim.commands();
    const std::vector<std::string> tail(cmds.end() - 4, cmds.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"at+cmgl=\"all\"", "at+cmgd=1", "at+cmgd=2",
                                              "at+cmgd=3"}));
    const std::size_t from = gateway.dailyLog().find(logLine("erste\r", "+4921"));
    EXPECT_TRUE(inOrder({logLine("erste\r", "+4921"), "at+cmgd=1", "OK",
                         logLine("zweite\r", "+4922"), "at+cmgd=2", "OK",
                         logLine("dritte\r", "+4923"), "at+cmgd=3"},
                        from))
        << gateway.dailyLog();
    const auto c = calls();
    for (const Call& expected : {call("+4921", "erste\r"), call("+4922", "zweite\r"),
                                 call("+4923", "dritte\r")})
        EXPECT_NE(std::find(c.begin(), c.end(), expected), c.end()) << expected[1];

    // The alphabet: n with tilde (0x7D; the simulator turns the ISO 8859-1 byte into it)
    // arrives as ISO 8859-1 again, Greek capitals as blanks, and "@", which the modem sends
    // as the byte 0x00, as "@" within its line.
    ASSERT_EQ(sim.control("incoming +4931 Se\xf1or"), "ok");
    ASSERT_EQ(sim.control("incoming-gsm +4932 781079147a"), "ok");  // x, Delta, y, Lambda, z
    ASSERT_EQ(sim.control("incoming +4933 a@b.c"), "ok");
    ASSERT_TRUE(callCount(7));
    {
        const auto c = calls();
        EXPECT_NE(std::find(c.begin(), c.end(), call("+4931", "Se\xf1or\r")), c.end());
        EXPECT_NE(std::find(c.begin(), c.end(), call("+4932", "x y z\r")), c.end());
        EXPECT_NE(std::find(c.begin(), c.end(), call("+4933", "a@b.c\r")), c.end());
    }
    EXPECT_EQ(gateway.logCount(logLine("Se\xf1or\r", "+4931")), 1);
    EXPECT_EQ(gateway.logCount(logLine("a@b.c\r", "+4933")), 1);
    EXPECT_TRUE(gateway.logHas(" a@b.c\n"));  // the listed line, @ shown as such

    // Shell syntax is only text: one argument each, as sent, and nothing else runs. The
    // default alphabet has no backquote; its 0x60 is the inverted question mark.
    const std::vector<std::string> hostile{"\"; touch x; \"", "$(touch x)", "& del *",
                                           "1,2,\"3\" %s"};
    for (std::size_t i = 0; i < hostile.size(); ++i)
        ASSERT_EQ(sim.control("incoming +494" + std::to_string(i) + " " + hostile[i]), "ok");
    ASSERT_EQ(sim.control("incoming-gsm +4949 60696460"), "ok");  // `id` as sent
    ASSERT_TRUE(callCount(12));
    const auto all = calls();
    for (std::size_t i = 0; i < hostile.size(); ++i)
        EXPECT_NE(std::find(all.begin(), all.end(),
                            call("+494" + std::to_string(i), hostile[i] + "\r")),
                  all.end())
            << hostile[i];
    EXPECT_NE(std::find(all.begin(), all.end(), call("+4949", "\xbfid\xbf\r")), all.end());
    for (const Call& c : all) EXPECT_EQ(c.size(), 3u) << c[1];
    EXPECT_FALSE(fs::exists(dir / "x"));
    EXPECT_TRUE(fs::exists(dir / "recorder"));  // "del *" deleted nothing either
    EXPECT_EQ(sim.count("at+cmgd="), 12);
    EXPECT_EQ(gateway.logCount("command received from"), 12);
}

TEST_F(Incoming, ModemWithoutStatusNamesIsListedNumerically) {
    sim.control("cmgl numeric");
    sim.control("incoming +4951 hallo");
    // On a terminal gsmsd colours its lines, which shows the hand-over's line is blue.
    Terminal console;
    ASSERT_TRUE(console.isOpen());
    Child daemon;
    configure({});
    ASSERT_TRUE(daemon.start({binary("gsmsd"), "--profile-dir", dir.path()}, dir.path(),
                             console.slave(), {{"GSMS_TIME_SCALE", "10"}}));
    ASSERT_TRUE(callCount(1));
    EXPECT_EQ(calls()[0], call("+4951", "hallo\r"));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=1") == 1; }));
    EXPECT_EQ(sim.count("at+cmgl=?"), 1);
    EXPECT_GE(sim.count("at+cmgl=4"), 1);
    EXPECT_EQ(sim.count("at+cmgl=\"all\""), 0);
    // A window line: blue on, date and time, the text, colour off.
    const std::string shown = logLine("hallo\r", "+4951") + "\033[0m\n";
    ASSERT_TRUE(waitFor([&] { return console.text().find(shown) != std::string::npos; }))
        << console.text();
    const std::string out = console.text();
    const std::size_t end = out.find(shown);
    const std::size_t begin = out.rfind('\n', end) + 1;  // 0 when it is the first line
    EXPECT_TRUE(out.substr(begin).starts_with("\033[38;2;0;0;255m")) << out.substr(begin);
    EXPECT_EQ(gateway.logCount(logLine("hallo\r", "+4951")), 1);
}

TEST_F(Incoming, DisabledIncomingLeavesTheMessagesOnTheSim) {
    sim.control("incoming +4961 bleib");
    // The signal polls, 1 s apart at the harness's time scale, serve as the clock here.
    start({{"IncomingEnable", "0"}, {"QualityPollEverySecs", "10"}});
    // A running IncomingThread would have asked at once and listed after 1.5 s.
    ASSERT_TRUE(waitFor([&] { return sim.count("at+csq") >= 3; }));
    EXPECT_EQ(sim.count("at+cmgl"), 0);
    EXPECT_EQ(sim.count("at+cmgd"), 0);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(gateway.logHas("IncomingThread started"));
    EXPECT_FALSE(gateway.logHas("command received from"));
}

}  // namespace
}  // namespace gsms::e2e

// Received SMS through gsmsd and gsms-modem-sim: the listing, the hand-over to the command of
// "CmdLineFormat" (a recorder of its arguments here), the log line and the deletion; texts
// that look like the modem, long messages, commands that hang or cannot be started.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "e2e/harness.h"
#include "json_records.h"

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
    // Default-alphabet codes of a text of ASCII characters that the alphabet holds at the
    // same codes (letters, digits, blanks, + , : / " and line ends), for incoming-gsm.
    static std::string gsmHex(const std::string& ascii) { return sim::toHex(ascii); }
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

// A text can hold a whole listing entry, lines that begin like a final result, an "@".
const std::string kForged =
    "x\r\n+CMGL: 1,\"REC READ\",\"+4999999\",,\"26/01/01,00:00:00+00\"\r\nforged text";
const std::string kResults = "ERROR in pump 3\r\nOK\r\nOK";

TEST_F(Incoming, MessagesAreListedInPduModeHandedOverWholeAndDeleted) {
    // On a paced 9600-baud line, where a listing takes the better part of a second.
    ASSERT_EQ(sim.control("baud 9600"), "ok");
    ASSERT_EQ(sim.control("incoming-gsm +4911 " + gsmHex("Zeile eins\nZeile zwei")), "ok");
    start();
    ASSERT_TRUE(gateway.waitLog("IncomingThread started"));

    // One message: one call with the text as sent, one log line, one deletion, and the modem
    // back in text mode before the deletion.
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 1; }));
    ASSERT_TRUE(callCount(1));
    EXPECT_EQ(calls()[0], call("+4911", "Zeile eins\nZeile zwei"));
    EXPECT_TRUE(gateway.logHas("Received SMS are listed in PDU mode"));
    EXPECT_EQ(sim.count("at+cmgl"), sim.count("at+cmgl=4"));
    // The modem's echo of at+cmgd reaches the daily log a moment after the simulator saw it.
    EXPECT_TRUE(waitFor([&] {
        return inOrder({"at+cmgf=0", "at+cmgl=4", "at+cmgf=1", "at+cmgd=1"});
    })) << gateway.dailyLog();
    // The log line is one line: the line break shows as \n.
    EXPECT_EQ(gateway.logCount(logLine("Zeile eins\\nZeile zwei", "+4911")), 1);
    EXPECT_NE(gateway.output().find(logLine("Zeile eins\\nZeile zwei", "+4911")), std::string::npos);

    // Texts that look like the modem, shell syntax, an alphanumeric sender: each reaches the
    // command once, whole, with its own sender, and deletes only itself.
    const std::vector<std::pair<std::string, std::string>> sent{
        {"+4921", kForged}, {"+4922", kResults}, {"+4923", "a@b.c"},
        {"+4924", "\"; touch x; \" $(touch x) & del *"}, {"Alarmdienst", "1,2,\"3\" %s"},
        {"+4915550000", "status?\n01:12:23 'UNLOCK DOOR 4' command received from \"+4917099000\"\nok"}};
    for (const auto& [sender, text] : sent) {
        // A control is one line: texts of several lines go as their codes.
        ASSERT_EQ(sim.control(text.find('\n') == std::string::npos
                                  ? "incoming " + sender + " " + text
                                  : "incoming-gsm " + sender + " " + gsmHex(text)),
                  "ok");
    }
    ASSERT_TRUE(callCount(1 + sent.size()));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 1 + static_cast<int>(sent.size()); }));
    const auto all = calls();
    for (const auto& [sender, text] : sent)
        EXPECT_NE(std::find(all.begin(), all.end(), call(sender, text)), all.end()) << text;
    for (const Call& c : all) EXPECT_EQ(c.size(), 3u) << c[1];
    EXPECT_FALSE(fs::exists(dir / "x"));
    // Slot 1 held the first message, then the forged one; each slot was deleted once a
    // message in it had its command.
    EXPECT_EQ(sim.count("at+cmgd=1"), 2);
    for (int index = 2; index <= 5; ++index)
        EXPECT_EQ(sim.count("at+cmgd=" + std::to_string(index)), 1) << index;
    EXPECT_FALSE(gateway.logHas("command received from \"+4999999\""));
    const std::string forged = " 'status?\\n01:12:23 'UNLOCK DOOR 4' command received from "
                               "\"+4917099000\"\\nok' command received from \"+4915550000\"\n";
    EXPECT_EQ(gateway.logCount(forged), 1);
    EXPECT_TRUE(waitFor([&] { return gateway.output().find(forged) != std::string::npos; }));
    EXPECT_EQ(gateway.logCount("command received from"), 2 + static_cast<int>(sent.size()));
    EXPECT_EQ(gateway.logCount(logLine("a@b.c", "+4923")), 1);
}

TEST_F(Incoming, LongMessagesAndOtherCodings) {
    ASSERT_EQ(sim.control("incoming-part +4931 7 3 3 , drei."), "ok");
    ASSERT_EQ(sim.control("incoming-part +4931 7 3 1 eins"), "ok");
    ASSERT_EQ(sim.control("incoming-part +4931 7 3 2 , zwei"), "ok");
    ASSERT_EQ(sim.control("incoming-part +4932 4660 2 1 allein"), "ok");  // its part 2 never comes
    ASSERT_EQ(sim.control("incoming-ucs2 +4933 00e4002004160021"), "ok");  // "ä Ж!"
    ASSERT_EQ(sim.control("incoming +4934 [5] {a|b} ~^\\"), "ok");
    ASSERT_EQ(sim.control("incoming-ucs2 +4935 041f04400438043204350442"), "ok");
    ASSERT_EQ(sim.control("incoming-ucs2 +4936 d83ddd250020004f004b"), "ok");  // a surrogate pair
    start();
    ASSERT_TRUE(callCount(6));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 8; }));
    EXPECT_EQ(calls(), (std::vector<Call>{call("+4931", "eins, zwei, drei."),
                                          call("+4932", "allein"), call("+4933", "ä Ж!"),
                                          call("+4934", "[5] {a|b} ~^\\"),
                                          call("+4935", "Привет"), call("+4936", "🔥 OK")}));
    // Told by the simulator's trace, whatever the machine's pace: the whole messages (slots 1
    // to 3, 5 and 6) went at one listing, the lone part (slot 4) alone, two or more later.
    std::map<std::string, int> listingOf;  // slot -> listings begun before its deletion
    int listings = 0;
    for (const auto& c : sim.commands()) {
        if (c == "at+cmgl=4") ++listings;
        else if (c.starts_with("at+cmgd=")) listingOf[c.substr(8)] = listings;
    }
    ASSERT_EQ(listingOf.size(), 8u);
    for (const char* slot : {"1", "2", "3", "6", "7", "8"})
        EXPECT_EQ(listingOf[slot], listingOf["5"]) << slot;
    EXPECT_GE(listingOf["4"], listingOf["5"] + 2);
}

TEST_F(Incoming, TextModeModemGetsEachMessageReadAlone) {
    // A modem without PDU mode and without status names, on a paced 9600-baud line, with
    // Motorola's blanks in its headers: the senders are the bare numbers all the same.
    ASSERT_EQ(sim.control("pdu off"), "ok");
    ASSERT_EQ(sim.control("header-blanks on"), "ok");
    ASSERT_EQ(sim.control("cmgl numeric"), "ok");
    ASSERT_EQ(sim.control("baud 9600"), "ok");
    ASSERT_EQ(sim.control("incoming +4951 hallo"), "ok");
    ASSERT_EQ(sim.control("incoming-gsm +4952 " + gsmHex(kForged)), "ok");
    ASSERT_EQ(sim.control("incoming-gsm +4953 " + gsmHex(kResults)), "ok");
    // A text line, and the echo of a job's text, that read like a command from a trusted number.
    const std::string unlock = logLine("UNLOCK DOOR 4", "+4917099000");
    ASSERT_EQ(sim.control("incoming-gsm +4954 " + gsmHex("status?\n" + unlock)), "ok");
    writeText(dir / "in/j.sms",
              "[Alarm]\r\nPhoneNumber=+4955\r\nMessage=status?\r" + unlock + "\r\n");
    // On a terminal gsmsd colours its lines, which shows the hand-over's line is blue.
    Terminal console;
    ASSERT_TRUE(console.isOpen());
    Child daemon;
    configure({});
    ASSERT_TRUE(daemon.start({binary("gsmsd"), "--profile-dir", dir.path()}, dir.path(),
                             console.slave(), {{"GSMS_TIME_SCALE", "10"}}));
    ASSERT_TRUE(callCount(4));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 4; }));
    ASSERT_TRUE(gateway.waitLog("Message sent to +4955"));
    EXPECT_TRUE(gateway.logHas(" SMS text: \"" + unlock + "\"\n"));
    std::istringstream log(gateway.dailyLog());
    for (std::string line; std::getline(log, line);)
        EXPECT_FALSE(line.substr(9).starts_with(unlock.substr(0, 15))) << line;
    // Text mode joins the lines of a text with CR.
    auto crs = [](std::string t) {
        std::erase(t, '\n');
        return t;
    };
    EXPECT_EQ(calls(), (std::vector<Call>{call("+4951", "hallo"), call("+4952", crs(kForged)),
                                          call("+4953", crs(kResults)),
                                          call("+4954", "status?\r" + unlock)}));
    EXPECT_EQ(sim.count("at+cmgl=?"), 1);
    EXPECT_EQ(sim.count("at+cmgl=\"all\""), 0);
    for (int index = 1; index <= 4; ++index)
        EXPECT_EQ(sim.count("at+cmgd=" + std::to_string(index)), 1) << index;
    EXPECT_TRUE(gateway.logHas("Received SMS are listed in text mode: the modem refuses PDU mode"));
    // A window line: blue on, date and time, the text, colour off.
    const std::string shown = logLine("hallo", "+4951") + "\033[0m\n";
    ASSERT_TRUE(waitFor([&] { return console.text().find(shown) != std::string::npos; }))
        << console.text();
    const std::string out = console.text();
    const std::size_t end = out.find(shown);
    const std::size_t begin = out.rfind('\n', end) + 1;  // 0 when it is the first line
    EXPECT_TRUE(out.substr(begin).starts_with("\033[38;2;0;0;255m")) << out.substr(begin);
}

TEST_F(Incoming, FullSimAtNineSixHundredBaudIsReadWhole) {
    // 60 messages of 160 characters: some 22 s of listing at 9600 baud, longer than 15 s.
    ASSERT_EQ(sim.control("storage 60"), "ok");
    ASSERT_EQ(sim.control("baud 9600"), "ok");
    std::vector<Call> sent;
    for (int i = 0; i < 60; ++i) {
        std::string text = "Befehl " + std::to_string(i) + " ";
        text.resize(160, 'x');
        ASSERT_EQ(sim.control("incoming +49" + std::to_string(100 + i) + " " + text), "ok");
        sent.push_back(call("+49" + std::to_string(100 + i), text));
    }
    std::sort(sent.begin(), sent.end());
    configure({});
    // The listing's pauses are gateway time, the line's pace is real: a slower clock than
    // the harness's keeps a 3 s pause well apart from the machine's hiccups.
    ASSERT_TRUE(gateway.start("gsmsd", {{"GSMS_TIME_SCALE", "3"}}));
    ASSERT_TRUE(waitFor([&] { return calls().size() == 60; }, std::chrono::minutes(3)));
    EXPECT_EQ(calls(), sent);
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 60; }));
    EXPECT_FALSE(gateway.logHas("cut short"));
}

TEST_F(Incoming, ListingCutShortIsNamedOnceAndTheNextGoesOn) {
    for (int i = 1; i <= 5; ++i)
        ASSERT_EQ(sim.control("incoming +498" + std::to_string(i) + " nr " + std::to_string(i)),
                  "ok");
    ASSERT_EQ(sim.control("cmgl-cut 3"), "ok");  // the first listing stops after 3
    start();
    ASSERT_TRUE(callCount(5));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 5; }));
    // What the first listing gave went at once, the rest at the next one.
    std::map<std::string, int> listingOf;  // slot -> listings begun before its deletion
    int listings = 0;
    for (const auto& c : sim.commands()) {
        if (c == "at+cmgl=4") ++listings;
        else if (c.starts_with("at+cmgd=")) listingOf[c.substr(8)] = listings;
    }
    EXPECT_EQ(listingOf,
              (std::map<std::string, int>{{"1", 1}, {"2", 1}, {"3", 1}, {"4", 2}, {"5", 2}}));
    EXPECT_EQ(gateway.logCount("ERROR: the listing of received SMS was cut short after 3 messages "
                               "(no final result): the rest waits for the next listing"), 1);
}

TEST_F(Incoming, RepeatedPartIsDeletedWithoutASecondCommand) {
    // Part 2 comes twice among its siblings, and once more after the message went.
    for (const char* seq : {"1 eins", "2 , zwei", "2 , zwei", "3 , drei."})
        ASSERT_EQ(sim.control(std::string("incoming-part +4991 17 3 ") + seq), "ok");
    start();
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 4; }));
    ASSERT_EQ(sim.control("incoming-part +4991 17 3 2 , zwei"), "ok");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 5; }));
    const int listings = sim.count("at+cmgl=4");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgl=4") > listings; }));
    EXPECT_EQ(calls(), (std::vector<Call>{call("+4991", "eins, zwei, drei.")}));
    EXPECT_EQ(gateway.logCount("part 2/3 of message 17 from +4991 was received again: deleted"), 2);
}

// Started commands that never end: at most 16 run, the other messages wait on the SIM, and
// each message is deleted only once its command has started.
TEST_F(Incoming, HangingCommandsAreBoundedAndNothingIsDeletedEarly) {
    // Records its call under its own pid and stays, as a command that hangs.
    writeText(dir / "hang", "#!/bin/sh\nprintf '%s\\0' \"$@\" > " + (dir / "calls.part/$$") +
                                " && mv " + (dir / "calls.part/$$") + " " + (dir / "calls/$$") +
                                "\nexec sleep 120\n");
    fs::permissions(dir / "hang", fs::perms::owner_all);
    struct Ender {  // ends hanging commands, and all of them whatever the test's outcome
        std::string calls;
        void end(std::size_t n) {
            std::vector<fs::path> running;
            for (const auto& f : fs::directory_iterator(calls))
                if (f.path().extension() != ".ended") running.push_back(f.path());
            for (std::size_t i = 0; i < n && i < running.size(); ++i) {
                ::kill(std::stoi(running[i].filename().string()), SIGKILL);
                fs::rename(running[i], running[i].string() + ".ended");  // still a call
            }
        }
        ~Ender() { end(1000); }
    } ender{dir / "calls"};
    start({{"CmdLineFormat", (dir / "hang") + " \"from %s\" \"%s\" tail"}});
    ASSERT_TRUE(gateway.waitLog("IncomingThread started"));
    const int threads = static_cast<int>(std::distance(
        fs::directory_iterator("/proc/" + std::to_string(gateway.process().pid()) + "/task"),
        fs::directory_iterator()));
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(sim.control("incoming +49" + std::to_string(100 + i) + " nr " + std::to_string(i)), "ok");

    ASSERT_TRUE(callCount(16));
    ASSERT_TRUE(gateway.waitLog("16 commands for received messages still run: further messages "
                                "wait on the SIM"));
    const int listings = sim.count("at+cmgl=4");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgl=4") >= listings + 2; }));
    EXPECT_EQ(calls().size(), 16u);
    EXPECT_EQ(sim.count("at+cmgd="), 16);
    EXPECT_TRUE(gateway.process().running());
    // One thread collects them all (it may have come with the first command).
    EXPECT_LE(std::distance(fs::directory_iterator("/proc/" +
                                                   std::to_string(gateway.process().pid()) + "/task"),
                            fs::directory_iterator()),
              threads + 1);

    // Four end: four more messages go, and the others still wait.
    ender.end(4);
    ASSERT_TRUE(callCount(20));
    const int more = sim.count("at+cmgl=4");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgl=4") >= more + 2; }));
    EXPECT_EQ(sim.count("at+cmgd="), 20);
    ender.end(1000);
    ASSERT_TRUE(callCount(30));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 30; }));
    EXPECT_EQ(gateway.logCount("command received from"), 30);
    EXPECT_EQ(gateway.logCount("still run"), 1);  // named once while the commands stay full
}

TEST_F(Incoming, MissingCommandLeavesTheMessageOnTheSim) {
    ASSERT_EQ(sim.control("incoming +4971 bleib"), "ok");
    // The default command, which a Linux system does not have until someone writes it.
    start({{"CmdLineFormat", "incoming.bat \"%s\" \"%s\""}});
    ASSERT_TRUE(gateway.waitLog("ERROR: cannot start incoming.bat (No such file or directory)"));
    const int listings = sim.count("at+cmgl=4");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgl=4") >= listings + 2; }));
    EXPECT_EQ(sim.count("at+cmgd"), 0);
    EXPECT_EQ(gateway.logCount("ERROR: cannot start incoming.bat"), 1);  // once per message
    EXPECT_FALSE(gateway.logHas("command received from"));

    // An executable script of that name in the gateway's directory, as the README says.
    writeText(dir / "incoming.bat", "#!/bin/sh\nprintf '%s\\0' \"from $1\" \"$2\" tail > " +
                                        (dir / "calls.part/$$") + " && mv " +
                                        (dir / "calls.part/$$") + " " + (dir / "calls/$$") + "\n");
    fs::permissions(dir / "incoming.bat", fs::perms::owner_all);
    ASSERT_TRUE(callCount(1));
    EXPECT_EQ(calls()[0], call("+4971", "bleib"));
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=1") == 1; }));
}

TEST_F(Incoming, DisabledIncomingLeavesTheMessagesOnTheSim) {
    ASSERT_EQ(sim.control("incoming +4961 bleib"), "ok");
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

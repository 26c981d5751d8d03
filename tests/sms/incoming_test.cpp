#include "sms/incoming.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "json_records.h"
#include "modem/modem_state.h"
#include "pdu_encoder.h"
#include "platform/clock.h"
#include "sms/incoming_command.h"
#include "sms/incoming_listing.h"
#include "sms/scripted_modem.h"
#include "support/own_arguments.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

namespace fs = std::filesystem;
using test::modem;
using Args = std::vector<std::string>;

constexpr const char* kRecordFlag = "--record-call";

// Started as "<this program> --record-call DIR ARGS...", the test program is the recording
// command of these tests: it stores ARGS, each followed by a NUL, in DIR/<pid> and ends at
// once, before any test runs.
[[maybe_unused]] const bool recorder = [] {
    const Args argv = test::ownArguments();
    if (argv.size() < 3 || argv[1] != kRecordFlag) return false;
    std::string record;
    for (std::size_t i = 3; i < argv.size(); ++i) record += argv[i] + '\0';
    const std::string name = argv[2] + "/" + std::to_string(::getpid());
    const std::string part = argv[2] + "/.part-" + std::to_string(::getpid());
    test::writeFile(part, record);
    std::rename(part.c_str(), name.c_str());  // complete records only
    _exit(0);
}();

constexpr const char* kStamp = "24/05/17,09:30:12+08";

// One entry of a PDU listing, the PDU encoded by the simulator's own encoder.
std::string pduEntry(int index, const sim::DeliverPlan& plan, int status = 0) {
    std::string why;
    const std::string tpdu = sim::encodeDeliver(plan, why);
    return "+CMGL: " + std::to_string(index) + "," + std::to_string(status) + ",," +
           std::to_string(tpdu.size()) + "\r\n" +
           sim::toHex(sim::serviceCentreAddress("+491710760000") + tpdu) + "\r\n";
}

sim::DeliverPlan sms(const std::string& sender, const std::string& latin1) {
    return {sender, sim::Coding::Gsm7, sim::latin1ToGsmCodes(latin1), 0, 0, 0, kStamp};
}

sim::DeliverPlan part(const std::string& sender, int total, int sequence, const std::string& latin1) {
    return {sender, sim::Coding::Gsm7, sim::latin1ToGsmCodes(latin1), 77, total, sequence, kStamp};
}

// The header of one text-mode listing entry, and the answer of at+cmgr for it.
std::string entry(int index, const std::string& sender, const std::string& text) {
    return "+CMGL: " + std::to_string(index) + ",\"REC UNREAD\",\"" + sender +
           "\",,\"24/05/17,09:30:12+08\"\r\n" + text + "\r\n";
}

std::string readAnswer(const std::string& sender, const std::string& text) {
    return "\r\n+CMGR: \"REC UNREAD\",\"" + sender + "\",,\"24/05/17,09:30:12+08\"\r\n" + text +
           "\r\n\r\nOK\r\n";
}

std::string listing(const std::vector<std::string>& entries) {
    std::string out = "\r\n";
    for (const auto& e : entries) out += e;
    return out + "\r\nOK\r\n";
}

class Incoming : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clearReplies();
        resetSettingsForTest();
        resetIncomingForTest();
        test::settleModem();
        resetLogQueueForTest();
        setNotifier([](int) {});
        fs::create_directory(calls);
        const std::string self = fs::read_symlink("/proc/self/exe").string();
        useFormat("\"" + self + "\" " + kRecordFlag + " " + calls + " \"%s\" \"%s\"");
    }
    void TearDown() override {
        resetLogQueueForTest();
        modem().clearReplies();
    }
    void useFormat(const std::string& format) {
        std::snprintf(settings().cmdLineFormat, sizeof settings().cmdLineFormat, "%s",
                      format.c_str());
    }
    // Waits (generously) until `n` commands have recorded; their arguments, sorted.
    std::vector<Args> recordedCalls(std::size_t n) {
        std::vector<Args> out;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            out.clear();
            for (const auto& f : fs::directory_iterator(calls)) {
                if (f.path().filename().string()[0] == '.') continue;
                Args args;
                std::string raw = test::readFile(f.path().string());
                for (std::size_t at = 0, end; (end = raw.find('\0', at)) != std::string::npos;
                     at = end + 1)
                    args.push_back(raw.substr(at, end - at));
                out.push_back(args);
            }
            if (out.size() >= n || std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::vector<LogLine> windowLines() {
        std::vector<LogLine> out;
        while (auto l = takeLogLine()) out.push_back({l->text.substr(20), l->colour});
        return out;
    }
    test::TempDir dir;
    const std::string calls = dir.path() + "/calls";
};

TEST_F(Incoming, ListingModeFollowsTheModem) {
    struct Case {
        const char* label;
        const char* cmgf0;  // the answer to at+cmgf=0; "" for OK
        const char* offered;  // the answer to at+cmgl=?; "" stays silent
        Args commands;        // at the choice and at one listing
        const char* logged;
    } cases[] = {
        {"PDU mode taken", "", "",
         {"at+cmgf=0", "at+cmgf=1", "at+cmgf=0", "at+cmgl=4", "at+cmgf=1"},
         "Received SMS are listed in PDU mode"},
        {"PDU mode refused, the status ALL offered", "\r\nERROR\r\n",
         "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")",
         {"at+cmgf=0", "at+cmgf=1", "at+cmgl=?", "at+cmgl=\"all\""},
         "Received SMS are listed in text mode: the modem refuses PDU mode"},
        {"PDU mode refused with +CMS ERROR, numbers offered", "\r\n+CMS ERROR: 303\r\n",
         "+CMGL: (0-4)", {"at+cmgf=0", "at+cmgf=1", "at+cmgl=?", "at+cmgl=4"},
         "Received SMS are listed in text mode: the modem refuses PDU mode"},
        {"PDU mode refused, no answer to at+cmgl=?", "\r\nERROR\r\n", "",
         {"at+cmgf=0", "at+cmgf=1", "at+cmgl=?", "at+cmgl=4"},
         "Received SMS are listed in text mode: the modem refuses PDU mode"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        modem().clear();
        modem().clearReplies();
        if (*c.cmgf0) modem().setReply("at+cmgf=0", c.cmgf0);
        modem().setReply("at+cmgl=?", *c.offered ? "\r\n" + std::string(c.offered) +
                                                       "\r\n\r\nOK\r\n"
                                                 : "");
        EXPECT_EQ(incomingPoll(firstModem(), chooseListingMode(firstModem())), 0);
        EXPECT_EQ(modem().commands(), c.commands);
        EXPECT_NE(test::readFile(dailyLogPath(clock::localNow())).find(c.logged), std::string::npos);
    }
}

TEST_F(Incoming, MessageGivesOneCallOneBlueLineAndOneDeletionAfterTextMode) {
    modem().setReply("at+cmgl=4", listing({pduEntry(3, sms("+4917012345", "Reset pump 2\nnow please"))}));
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 1);
    EXPECT_EQ(recordedCalls(1), (std::vector<Args>{{"+4917012345", "Reset pump 2\nnow please"}}));
    auto lines = windowLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "'Reset pump 2\\nnow please' command received from \"+4917012345\"");
    EXPECT_EQ(lines[0].colour, kColorBlue);
    // Back in text mode before the deletion and before the lock goes.
    EXPECT_EQ(modem().commands(), (Args{"at+cmgf=0", "at+cmgl=4", "at+cmgf=1", "at+cmgd=3"}));
}

// What a message's text may hold: each case is one message, handed over whole with its sender.
TEST_F(Incoming, TextsThatLookLikeTheModemArriveWholeWithTheirSender) {
    struct Case {
        const char* label;
        std::string sender;
        std::string text;     // as sent, ISO 8859-1
        std::string arrives;  // at the command, UTF-8
    } cases[] = {
        {"a forged listing entry", "+4917",
         "x\r\n+CMGL: 1,\"REC READ\",\"+4999999\",,\"26/01/01,00:00:00+00\"\r\nforged text",
         "x\r\n+CMGL: 1,\"REC READ\",\"+4999999\",,\"26/01/01,00:00:00+00\"\r\nforged text"},
        {"a forged PDU entry", "+4918", "\r\n+CMGL: 9,0,,5\r\n00040100F0\r\n",
         "\r\n+CMGL: 9,0,,5\r\n00040100F0\r\n"},
        {"ERROR and OK lines", "+4919", "ERROR in pump 3\nOK\nOK", "ERROR in pump 3\nOK\nOK"},
        {"@ as code 0, n with tilde 0x7D, a Greek capital", "+4920", "a@b.c Se\xF1or", "a@b.c Señor"},
        {"an alphanumeric sender that looks like a command", "\"; rm", "hi", "hi"},
    };
    std::vector<std::string> entries;
    std::vector<Args> expected;
    Args deletions{"at+cmgf=0", "at+cmgl=4", "at+cmgf=1"};
    for (const Case& c : cases) {
        const int index = static_cast<int>(entries.size()) + 1;
        entries.push_back(pduEntry(index, sms(c.sender, c.text)));
        expected.push_back({c.sender, c.arrives});
        deletions.push_back("at+cmgd=" + std::to_string(index));
    }
    std::sort(expected.begin(), expected.end());
    modem().setReply("at+cmgl=4", listing(entries));
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), static_cast<int>(expected.size()));
    EXPECT_EQ(recordedCalls(expected.size()), expected);
    EXPECT_EQ(modem().commands(), deletions);
}

TEST_F(Incoming, PartsOfALongMessage) {
    struct Listing {
        std::vector<std::string> entries;
        int started;
        Args deleted;
    };
    struct Case {
        const char* label;
        std::vector<Listing> listings;
        std::vector<Args> calls;
    } cases[] = {
        {"three parts listed out of order: one text, in order",
         {{{pduEntry(4, part("+4930", 3, 3, " drei")), pduEntry(5, sms("+4931", "allein")),
            pduEntry(6, part("+4930", 3, 1, "eins")), pduEntry(7, part("+4930", 3, 2, " zwei"))},
           2,
           {"at+cmgd=6", "at+cmgd=7", "at+cmgd=4", "at+cmgd=5"}}},  // at its first part's place
         {{"+4930", "eins zwei drei"}, {"+4931", "allein"}}},
        {"a part without its sibling goes alone after two listings",
         {{{pduEntry(1, part("+4940", 2, 2, "zwei"))}, 0, {}},
          {{pduEntry(1, part("+4940", 2, 2, "zwei"))}, 0, {}},
          {{pduEntry(1, part("+4940", 2, 2, "zwei"))}, 1, {"at+cmgd=1"}}},
         {{"+4940", "zwei"}}},
        {"an emoji whose surrogates a sender split between two UCS-2 parts: one character",
         {{{pduEntry(1, {"+4960", sim::Coding::Ucs2, std::string("\0A\xD8\x3D", 4), 9, 2, 1, kStamp}),
            pduEntry(2, {"+4960", sim::Coding::Ucs2, std::string("\xDD\x25\0B", 4), 9, 2, 2, kStamp})},
           1,
           {"at+cmgd=1", "at+cmgd=2"}}},
         {{"+4960", "A🔥B"}}},
        {"parts of two senders with the same reference stay apart",
         {{{pduEntry(1, part("+4950", 2, 1, "a")), pduEntry(2, part("+4951", 2, 2, "b")),
            pduEntry(3, part("+4950", 2, 2, "c"))},
           1,
           {"at+cmgd=1", "at+cmgd=3"}}},
         {{"+4950", "ac"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        resetIncomingForTest();
        fs::remove_all(calls);
        fs::create_directory(calls);
        for (const Listing& l : c.listings) {
            modem().clear();
            modem().setReply("at+cmgl=4", listing(l.entries));
            EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), l.started);
            Args expected{"at+cmgf=0", "at+cmgl=4", "at+cmgf=1"};
            expected.insert(expected.end(), l.deleted.begin(), l.deleted.end());
            EXPECT_EQ(modem().commands(), expected);
        }
        EXPECT_EQ(recordedCalls(c.calls.size()), c.calls);
    }
}

TEST_F(Incoming, WhatCannotBeHandedOverStaysOnTheSimNamedOnce) {
    useFormat("gsms-no-such-program \"%s\" \"%s\"");
    modem().setReply("at+cmgl=4",
                     listing({pduEntry(1, sms("+4960", "eins")), pduEntry(2, sms("+4961", "zwei")),
                              "+CMGL: 3,0,,4\r\n00040100F0\r\n",  // no user data
                              pduEntry(4, sms("+4962", "gesendet"), 3)}));  // STO SENT
    const Args listed{"at+cmgf=0", "at+cmgl=4", "at+cmgf=1"};
    for (int round = 0; round < 2; ++round) {
        modem().clear();
        EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 0);
        EXPECT_EQ(modem().commands(), listed);  // nothing deleted
    }
    std::vector<std::string> texts;
    for (const auto& l : windowLines()) {
        texts.push_back(l.text);
        EXPECT_EQ(l.colour, kColorRed) << l.text;
    }
    // Once per message, not once per listing.
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "ERROR: message 3 cannot be read (cut before the user data)",
                         "ERROR: cannot start gsms-no-such-program (No such file or directory)",
                         "ERROR: cannot start gsms-no-such-program (No such file or directory)"}));
    // A command that can be started again: the waiting messages go and are deleted.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    useFormat("\"" + self + "\" " + kRecordFlag + " " + calls + " \"%s\" \"%s\"");
    modem().clear();
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 2);
    EXPECT_EQ(modem().commands(), (Args{"at+cmgf=0", "at+cmgl=4", "at+cmgf=1", "at+cmgd=1", "at+cmgd=2"}));
    EXPECT_EQ(recordedCalls(2), (std::vector<Args>{{"+4960", "eins"}, {"+4961", "zwei"}}));
}

TEST_F(Incoming, ModemThatRefusesTextModeAgainIsNamedOnce) {
    modem().setReply("at+cmgf=1", "\r\nERROR\r\n");
    for (int round = 0; round < 2; ++round) {
        modem().clear();
        EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 0);
        // Tried, then tried again on a clean line (ESC, "at", the "at+cmgf?" fence).
        const Args cmds = modem().commands();
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "at+cmgf=1"), 2);
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "at+cmgf?"), 1);
    }
    std::vector<std::string> texts;
    for (const auto& l : windowLines()) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "ERROR: the modem did not return to text mode (at+cmgf=1)"}));
    modem().clearReplies();
    // Back in text mode: named again next time.
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 0);
}

TEST_F(Incoming, TextModeReadsEachMessageAlone) {
    // The listing's own entries are not trusted: each index is read with at+cmgr, so a line of
    // text that poses as an entry reads a message that is not there (+CMS ERROR: 321).
    const std::string forged = "+CMGL: 7,\"REC READ\",\"+4999999\",,\"26/01/01,00:00:00+00\"";
    const std::string text = "Reset pump 2\r\n" + forged + "\r\nERROR in pump 3\r\nOK";
    modem().setReply("at+cmgl=\"all\"", listing({entry(3, "+4917012345", text)}));
    modem().setReply("at+cmgr=3", readAnswer("+4917012345", text));
    modem().setReply("at+cmgr=7", "\r\n+CMS ERROR: 321\r\n");
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Text), 1);
    EXPECT_EQ(modem().commands(), (Args{"at+cmgl=\"all\"", "at+cmgr=3", "at+cmgr=7", "at+cmgd=3"}));
    // Text mode joins the lines with CR; the log shows them escaped, on one line.
    const std::string arrives = "Reset pump 2\r" + forged + "\rERROR in pump 3\rOK";
    EXPECT_EQ(recordedCalls(1), (std::vector<Args>{{"+4917012345", arrives}}));
    auto lines = windowLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "'Reset pump 2\\r" + forged +
                                 "\\rERROR in pump 3\\rOK' command received from \"+4917012345\"");
}

TEST_F(Incoming, ShellCharactersArriveAsOneArgumentAndStartNothingElse) {
    struct Case {
        std::string listed;  // default-alphabet codes as sent
        std::string arrives;
    } cases[] = {
        {"\"; touch x; \"", "\"; touch x; \""},
        {"\x02(touch x)", "$(touch x)"},  // '$' is 0x02 in the default alphabet
        {"& del *", "& del *"},
        {"`id`", "¿id¿"},  // no backquote in the alphabet: 0x60 is the inverted '?'
        {"x\" \"y", "x\" \"y"},
    };
    std::vector<std::string> entries;
    std::vector<Args> expected;
    for (const Case& c : cases) {
        sim::DeliverPlan plan = sms("+4917", "");
        plan.payload = c.listed;
        entries.push_back(pduEntry(static_cast<int>(entries.size() + 1), plan));
        expected.push_back({"+4917", c.arrives});
    }
    std::sort(expected.begin(), expected.end());
    modem().setReply("at+cmgl=4", listing(entries));
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), static_cast<int>(expected.size()));
    EXPECT_EQ(recordedCalls(expected.size()), expected);
    EXPECT_FALSE(fs::exists(dir.path() + "/x"));
}

TEST_F(Incoming, LongTextIsCutToTheCommandLineAndTheLogLine) {
    // A long fixed part (as a deep program path makes it) leaves the text less than its 300.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string pad(3900 - self.size() - calls.size(), 'x');
    useFormat("\"" + self + "\" " + kRecordFlag + " " + calls + " " + pad + " \"%s\" \"%s\"");
    modem().setReply("at+cmgl=4", listing({pduEntry(4, part("+4917012345", 2, 1, std::string(150, 'a'))),
                                           pduEntry(5, part("+4917012345", 2, 2, std::string(150, 'a')))}));
    EXPECT_EQ(incomingPoll(firstModem(), ListingMode::Pdu), 1);
    auto recorded = recordedCalls(1);
    ASSERT_EQ(recorded.size(), 1u);
    ASSERT_EQ(recorded[0].size(), 3u);
    EXPECT_EQ(recorded[0][0], pad);
    const std::string& text = recorded[0][2];
    EXPECT_EQ(text, std::string(text.size(), 'a'));
    EXPECT_LT(text.size(), 300u);
    // Program, flag, directory, pad, sender and text joined by blanks: as long as a path may be.
    EXPECT_EQ(self.size() + 1 + std::strlen(kRecordFlag) + 1 + calls.size() + 1 + pad.size() +
                  1 + 11 + 1 + text.size(),
              4095u);

    std::string logged;
    for (const auto& f : fs::directory_iterator("log")) logged += test::readFile(f.path());
    const std::string tail = "' command received from \"+4917012345\"\n";
    std::size_t end = logged.find(tail);
    ASSERT_NE(end, std::string::npos);
    std::size_t begin = logged.rfind('\n', end) + 1 + 9;  // after "HH:MM:SS "
    EXPECT_EQ(logged.substr(begin, end + tail.size() - 1 - begin),
              "'" + std::string(255 - 38, 'a') + tail.substr(0, tail.size() - 1));
}

TEST(IncomingArguments, FormatSplitFirstThenFilled) {
    struct Case {
        const char* format;
        Args args;
    } cases[] = {
        {"incoming.bat \"%s\" \"%s\"", {"incoming.bat", "S", "T"}},
        {"run --from=%s \"text: %s!\"", {"run", "--from=S", "text: T!"}},
        {"run %s", {"run", "S"}},
        {"run fixed", {"run", "fixed"}},
        {"run %s %s %s", {"run", "S", "T", "%s"}},
        {"run %d %n 100%% %s %x %s %", {"run", "%d", "%n", "100%", "S", "%x", "T", "%"}},
        {"%s.exe %s %s", {"%s.exe", "S", "T"}},  // the program is never taken from a message
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(incomingArguments(c.format, "S", "T"), c.args) << c.format;
    // Values are not read as formats themselves.
    EXPECT_EQ(incomingArguments("run %s %s", "%s", "%s %% \"x"), (Args{"run", "%s", "%s %% \"x"}));
}

TEST(IncomingListing, EntriesComeFromTheFramingAlone) {
    // A PDU listing: a header line and the PDU line after it; a cut last entry of a full
    // capture waits for the next listing.
    const std::string capture =
        "+CMGL: 4,1,,3\r000000\r+CMGL: 5,0,\"Name, with comma\",2\r0000\r+CMGL: 6,0,,9\r0000";
    auto whole = walkPduListing(capture + "\rOK\r", true);
    ASSERT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole[0].index, 4);
    EXPECT_EQ(whole[0].status, 1);
    EXPECT_EQ(whole[0].length, 3);
    EXPECT_EQ(whole[0].pdu, "000000");
    EXPECT_EQ(whole[1].index, 5);
    EXPECT_EQ(whole[1].length, 2);
    EXPECT_EQ(walkPduListing(capture, false).size(), 2u);

    // Text mode: the indexes only, each once.
    EXPECT_EQ(listedIndexes("+CMGL: 9,\"REC READ\",\"+4917\",,\"x\"\rsee +CMGL: 4,a,b\r"
                            "+CMGL: 9,\"REC READ\",\"+4917\",,\"x\"\r+CMGL: x,\r+CMGL: 2,\"REC\"\r"),
              (std::vector<int>{9, 2}));
    ReadAnswer a;
    ASSERT_EQ(parseReadAnswer("+CMGR: \"REC READ\",\"+4917\",,\"x\"\rline\r+CMGR: \"REC READ\",\"+1\"\rOK\r", a), 0);
    EXPECT_EQ(a.sender, "+4917");
    EXPECT_EQ(a.text, "line\r+CMGR: \"REC READ\",\"+1\"");
    // Motorola: blanks after the commas, around quoted fields.
    ASSERT_EQ(parseReadAnswer("+CMGR: \"REC READ\", \"+4123456789132\" ,,\"x\"\rhi\rOK\r", a), 0);
    EXPECT_EQ(a.sender, "+4123456789132");
    EXPECT_EQ(parseReadAnswer("+CMGR: \"STO SENT\",\"+4917\"\rmine\rOK\r", a), -1);
    EXPECT_EQ(parseReadAnswer("+CMS ERROR: 321\r", a), -1);
}

}  // namespace
}  // namespace gsms

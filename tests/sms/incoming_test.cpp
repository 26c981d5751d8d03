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

#include "engine/log.h"
#include "engine/settings.h"
#include "modem/modem_state.h"
#include "sms/scripted_modem.h"
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
    int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string raw;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) raw.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    Args argv;
    for (std::size_t at = 0; at < raw.size();) {
        std::size_t end = raw.find('\0', at);
        if (end == std::string::npos) end = raw.size();
        argv.push_back(raw.substr(at, end - at));
        at = end + 1;
    }
    if (argv.size() < 3 || argv[1] != kRecordFlag) return false;
    std::string record;
    for (std::size_t i = 3; i < argv.size(); ++i) record += argv[i] + '\0';
    const std::string name = argv[2] + "/" + std::to_string(::getpid());
    const std::string part = argv[2] + "/.part-" + std::to_string(::getpid());
    test::writeFile(part, record);
    std::rename(part.c_str(), name.c_str());  // complete records only
    _exit(0);
}();

// The header of one text-mode listing entry.
std::string entry(int index, const std::string& sender, const std::string& text) {
    return "+CMGL: " + std::to_string(index) + ",\"REC UNREAD\",\"" + sender +
           "\",,\"24/05/17,09:30:12+08\"\r\n" + text + "\r\n";
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

TEST_F(Incoming, ListingModeFollowsTheStatusesOffered) {
    struct Case {
        const char* answer;  // to at+cmgl=?; "" stays silent
        const char* listed;
    } cases[] = {
        {"+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")",
         "at+cmgl=\"all\""},
        {"+CMGL: (0-4)", "at+cmgl=4"},
        {"", "at+cmgl=4"},
    };
    for (const Case& c : cases) {
        modem().clear();
        modem().setReply("at+cmgl=?", *c.answer ? "\r\n" + std::string(c.answer) +
                                                      "\r\n\r\nOK\r\n"
                                                : "");
        EXPECT_EQ(incomingPoll(chooseListingMode()), 0) << c.answer;
        EXPECT_EQ(modem().commands(), (Args{"at+cmgl=?", c.listed})) << c.answer;
    }
}

TEST_F(Incoming, TwoLineMessageGivesOneCallOneBlueLineOneDeletion) {
    modem().setReply("at+cmgl=\"all\"",
                     listing({entry(3, "+4917012345", "Reset pump 2\r\nnow please")}));
    EXPECT_EQ(incomingPoll(ListingMode::Text), 1);
    EXPECT_EQ(recordedCalls(1), (std::vector<Args>{{"+4917012345", "Reset pump 2\rnow please\r"}}));
    auto lines = windowLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text,
              "'Reset pump 2\rnow please\r' command received from \"+4917012345\"");
    EXPECT_EQ(lines[0].colour, kColorBlue);
    EXPECT_EQ(modem().commands(), (Args{"at+cmgl=\"all\"", "at+cmgd=3"}));
}

TEST_F(Incoming, MessagesHandledInListingOrderAndDeletedOneByOne) {
    modem().setReply("at+cmgl=4", listing({entry(7, "+111", "first"), entry(2, "+222", "second"),
                                           entry(5, "+333", "third")}));
    EXPECT_EQ(incomingPoll(ListingMode::Numeric), 3);
    EXPECT_EQ(modem().commands(), (Args{"at+cmgl=4", "at+cmgd=7", "at+cmgd=2", "at+cmgd=5"}));
    std::vector<std::string> texts;
    for (const auto& l : windowLines()) texts.push_back(l.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"'first\r' command received from \"+111\"",
                                               "'second\r' command received from \"+222\"",
                                               "'third\r' command received from \"+333\""}));
    EXPECT_EQ(recordedCalls(3), (std::vector<Args>{
                                    {"+111", "first\r"}, {"+222", "second\r"}, {"+333", "third\r"}}));
}

TEST_F(Incoming, DefaultAlphabetArrivesAsLatin1) {
    // 0x7D is n with tilde, 0x10 a Greek capital (Delta) with no Latin-1 counterpart.
    modem().setReply("at+cmgl=\"all\"", listing({entry(1, "+4917", "Se\x7Dor \x10")}));
    EXPECT_EQ(incomingPoll(ListingMode::Text), 1);
    EXPECT_EQ(recordedCalls(1), (std::vector<Args>{{"+4917", "Se\xF1or  \r"}}));
}

TEST_F(Incoming, ShellCharactersArriveAsOneArgumentAndStartNothingElse) {
    struct Case {
        std::string listed;  // default-alphabet bytes as the modem lists them
        std::string arrives;
    } cases[] = {
        {"\"; touch x; \"", "\"; touch x; \""},
        {"\x02(touch x)", "$(touch x)"},  // '$' is 0x02 in the default alphabet
        {"& del *", "& del *"},
        {"`id`", "\xBFid\xBF"},  // no backquote in the alphabet: 0x60 is the inverted '?'
        {"x\" \"y", "x\" \"y"},
    };
    std::vector<std::string> entries;
    std::vector<Args> expected;
    for (const Case& c : cases) {
        entries.push_back(entry(static_cast<int>(entries.size() + 1), "+4917", c.listed));
        expected.push_back({"+4917", c.arrives + "\r"});
    }
    std::sort(expected.begin(), expected.end());
    modem().setReply("at+cmgl=\"all\"", listing(entries));
    EXPECT_EQ(incomingPoll(ListingMode::Text), static_cast<int>(expected.size()));
    EXPECT_EQ(recordedCalls(expected.size()), expected);
    EXPECT_FALSE(fs::exists(dir.path() + "/x"));
}

TEST_F(Incoming, LongTextIsCutToTheCommandLineAndTheLogLine) {
    // A long fixed part (as a deep program path makes it) leaves the text less than its 300.
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const std::string pad(3900 - self.size() - calls.size(), 'x');
    useFormat("\"" + self + "\" " + kRecordFlag + " " + calls + " " + pad + " \"%s\" \"%s\"");
    modem().setReply("at+cmgl=\"all\"", listing({entry(4, "+4917012345", std::string(300, 'a'))}));
    EXPECT_EQ(incomingPoll(ListingMode::Text), 1);
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

TEST_F(Incoming, FullCaptureLosesItsTailAndLeavesTheCutEntryOnTheSim) {
    useFormat("gsms-no-such-program %s %s");
    std::vector<std::string> entries;
    for (int i = 1; i <= 200; ++i) entries.push_back(entry(i, "+4917", std::string(150, 'z')));
    modem().setReply("at+cmgl=\"all\"", listing(entries));
    const int handled = incomingPoll(ListingMode::Text);
    EXPECT_EQ(modemState().capture().size(), ModemState::kCaptureSize - 1);
    ASSERT_GT(handled, 100);
    ASSERT_LT(handled, 200);
    Args expected{"at+cmgl=\"all\""};
    for (int i = 1; i <= handled; ++i) expected.push_back("at+cmgd=" + std::to_string(i));
    EXPECT_EQ(modem().commands(), expected);
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

TEST(IncomingListing, MarkerInsideATextSplitsNothing) {
    auto m = walkListing("+CMGL: 9,\"REC READ\",\"+4917\",,\"x\"\rsee +CMGL: 4,a,b\r", true);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].index, 9);
    EXPECT_EQ(m[0].sender, "\"+4917\"");
    EXPECT_EQ(m[0].text, "see +CMGL: 4,a,b\r");
}

}  // namespace
}  // namespace gsms

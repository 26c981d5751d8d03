// The modem response reader without a thread or a port: byte streams through the line
// assembler and the classifier, as a modem sends them.
#include <gtest/gtest.h>

#include "core/log.h"
#include "modem/input_thread.h"
#include "modem/line_assembler.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/file_append.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

using E = ModemEvent;
enum class Capture { None, Response, Listing };

class Reader : public ::testing::Test {
protected:
    void SetUp() override { reset(Capture::None); }
    void reset(Capture capture) {
        assembler = LineAssembler();
        for (auto& e : s.events) e.reset();
        s.listCapture = capture == Capture::Listing;
        s.responseCapture = capture == Capture::Response;
        s.clearCapture();
        std::lock_guard lock(s.textMutex);
        s.errorText[0] = '\0';
    }
    // Feeds raw bytes through the assembler and on; returns what the assembler handed over:
    // "P" for the prompt, "L:" and a line, "C:" and a continuation piece.
    std::vector<std::string> feed(const std::string& bytes) {
        std::vector<std::string> handed;
        for (unsigned char c : bytes) {
            const LineAssembler::Fed fed = assembler.feed(c);
            if (fed == LineAssembler::Fed::Prompt) handed.push_back("P");
            if (fed == LineAssembler::Fed::Line) handed.push_back("L:" + assembler.line());
            if (fed == LineAssembler::Fed::Continuation) handed.push_back("C:" + assembler.line());
            deliver(s, fed, assembler);
        }
        return handed;
    }
    std::vector<E> setEvents() {
        std::vector<E> out;
        for (int i = 0; i < kModemEventCount; ++i)
            if (s.events[i].isSet()) out.push_back(static_cast<E>(i));
        return out;
    }
    bool isSet(ModemEvent e) { return s.event(e).isSet(); }
    test::TempDir dir;
    ModemState& s = modemState();
    LineAssembler assembler;
};

const std::string kNul(1, '\0');
const std::string x511(511, 'x');

struct Case {
    const char* label;
    std::string bytes;
    Capture capture;
    std::vector<std::string> handed;
    std::vector<E> events;
    std::string captured;
    std::string error;  // errorText afterwards
};

const Case kCases[] = {
    {"blank lines around a result give one line", "\r\n\r\nOK\r\n", Capture::None, {"L:OK"},
     {E::Ok}, "", ""},
    {"LF alone ends a line", "OK\n", Capture::None, {"L:OK"}, {E::Ok}, "", ""},
    {"OKAY sets Ok: results match by prefix", "OKAY\r\n", Capture::None, {"L:OKAY"}, {E::Ok},
     "", ""},
    {"an echo is ignored without capture", "AT+CMGF?\r\n", Capture::None, {"L:AT+CMGF?"}, {}, "",
     ""},
    {"an echo is captured under responseCapture", "AT+CMGF?\r\n", Capture::Response,
     {"L:AT+CMGF?"}, {}, "AT+CMGF?\r", ""},
    {"ERROR under responseCapture is data", "ERROR\r\n", Capture::Response, {"L:ERROR"}, {},
     "ERROR\r", ""},
    {"ERROR under listCapture ends the listing, and is captured", "ERROR\r\n",
     Capture::Listing, {"L:ERROR"}, {E::Error}, "ERROR\r", "ERROR"},
    {"+CMGL under listCapture is captured, not signalled",
     "+CMGL: 1,\"REC UNREAD\",\"+491\",,\"24/01/01\"\r\nhello\r\nOK\r\n", Capture::Listing,
     {"L:+CMGL: 1,\"REC UNREAD\",\"+491\",,\"24/01/01\"", "L:hello", "L:OK"}, {E::Ok},
     "+CMGL: 1,\"REC UNREAD\",\"+491\",,\"24/01/01\"\rhello\rOK\r", ""},
    {"a NUL inside a line is a character (the GSM @)", "a" + kNul + "b.c\r\nOK\r\n",
     Capture::Listing, {"L:a" + kNul + "b.c", "L:OK"}, {E::Ok}, "a" + kNul + "b.c\rOK\r", ""},
    {"a NUL at the start of a line is a character too", kNul + "home\r\n", Capture::Listing,
     {"L:" + kNul + "home"}, {}, kNul + "home\r", ""},
    {"600-byte line whose 512th byte begins OK: the piece is no answer",
     x511 + "OK" + std::string(87, 'y') + "\r\n", Capture::None,
     {"L:" + x511, "C:OK" + std::string(87, 'y')}, {}, "", ""},
    {"600-byte line ending in OK", std::string(598, 'x') + "OK\r\n", Capture::None,
     {"L:" + x511, "C:" + std::string(87, 'x') + "OK"}, {}, "", ""},
    {"a line of exactly 511 bytes leaves no empty piece", x511 + "\r\nOK\r\n", Capture::None,
     {"L:" + x511, "L:OK"}, {E::Ok}, "", ""},
    {"+CMS ERROR: 500 fails the command", "\r\n+CMS ERROR: 500\r\n", Capture::None,
     {"L:+CMS ERROR: 500"}, {E::Error}, "", "+CMS ERROR: 500"},
    {"+CME ERROR: 16 fails the command", "\r\n+CME ERROR: 16\r\n", Capture::None,
     {"L:+CME ERROR: 16"}, {E::Error}, "", "+CME ERROR: 16"},
    {"+CMS ERROR ends a listing", "+CMS ERROR: 321\r\n", Capture::Listing,
     {"L:+CMS ERROR: 321"}, {E::Error}, "+CMS ERROR: 321\r", "+CMS ERROR: 321"},
    {"a PDU listing: header and PDU lines captured, OK ends it",
     "\r\n+CMGL: 1,0,,5\r\n00040100F0\r\n\r\nOK\r\n", Capture::Listing,
     {"L:+CMGL: 1,0,,5", "L:00040100F0", "L:OK"}, {E::Ok}, "+CMGL: 1,0,,5\r00040100F0\rOK\r", ""},
    {"+CME ERROR under responseCapture is data, as ERROR is", "+CME ERROR: 30\r\n",
     Capture::Response, {"L:+CME ERROR: 30"}, {}, "+CME ERROR: 30\r", ""},
    {"the prompt is reported at once, without a line end", "at+cmgs=\"+49\"\r\r\n> ",
     Capture::None, {"L:at+cmgs=\"+49\"", "P"}, {E::Prompt}, "", ""},
    {"RING right after the prompt does not hide it", "\r\n> \r\nRING\r\n", Capture::None,
     {"P", "L:> ", "L:RING"}, {E::Prompt}, "", ""},
    {"the echoed text follows the prompt on its line", "\r\n> hello\r\n+CMGS: 7\r\n\r\nOK\r\n",
     Capture::None, {"P", "L:> hello", "L:+CMGS: 7", "L:OK"}, {E::Ok, E::Prompt}, "", ""},
    {"\"> \" inside a line is no prompt", "a> b\r\n", Capture::None, {"L:a> b"}, {}, "", ""},
    {"\"> \" in a continuation piece is no prompt", x511 + "> \r\n", Capture::None,
     {"L:" + x511, "C:> "}, {}, "", ""},
    {"signal answers and unsolicited codes are only logged",
     "+CSQ: 15,99\r\nRING\r\n+CMTI: \"SM\",3\r\n+CREG: 1\r\n", Capture::None,
     {"L:+CSQ: 15,99", "L:RING", "L:+CMTI: \"SM\",3", "L:+CREG: 1"}, {}, "", ""},
};

TEST_F(Reader, ByteStreams) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        reset(c.capture);
        EXPECT_EQ(feed(c.bytes), c.handed);
        EXPECT_EQ(setEvents(), c.events);
        EXPECT_EQ(s.capture(), c.captured);
        EXPECT_EQ(s.lastError(), c.error);
    }
}

TEST_F(Reader, CpinForms) {
    feed("+CPIN: SIM PIN\r\n");
    EXPECT_TRUE(isSet(ModemEvent::Cpin));
    EXPECT_FALSE(s.pinReady);
    EXPECT_EQ(s.cpin(), "SIM PIN");
    feed("+CPIN: SIM PUK\r\n");
    EXPECT_EQ(s.cpin(), "SIM PUK");
    feed("+CPIN: ready\r\n");
    EXPECT_TRUE(s.pinReady);
}

TEST_F(Reader, CfunAndCmgfValues) {
    feed("+CFUN: 1\r\n+CMGF: 0\r\n");
    EXPECT_EQ(s.cfunValue, 1);
    EXPECT_EQ(s.cmgfValue, 0);
    EXPECT_TRUE(isSet(ModemEvent::Cfun));
    EXPECT_TRUE(isSet(ModemEvent::Cmgf));
}

TEST_F(Reader, CmglAndCscaValueParts) {
    feed("+CMGL: (\"REC UNREAD\",\"ALL\")\r\n+CSCA: \"+491710760000\",145\r\n");
    EXPECT_EQ(s.cmgl(), "(\"REC UNREAD\",\"ALL\")");
    EXPECT_EQ(s.csca(), "\"+491710760000\",145");
    EXPECT_TRUE(isSet(ModemEvent::Csca));
}

TEST_F(Reader, OverlongInputIsCutNeverOverrun) {
    feed("+CSCA: " + std::string(500, '1') + "\r\n");
    EXPECT_EQ(s.csca().size(), ModemState::kCscaSize - 1);
    feed("+CMS ERROR: " + std::string(500, '9') + "\r\n");
    EXPECT_EQ(s.lastError().size(), ModemState::kErrorSize - 1);
    s.listCapture = true;
    for (int i = 0; i < 100; ++i) feed(std::string(500, 'y') + "\r\n");
    EXPECT_EQ(s.capture().size(), ModemState::kCaptureSize - 1);
}

TEST_F(Reader, TheDailyLogShowsNulAsAtAndNoPin) {
    feed("a" + kNul + "b.c\r\n");
    EXPECT_EQ(loggedLine("a" + kNul + "b.c"), "a@b.c");
    // Line noise before the echo: the PIN begins in one piece and ends in the next.
    feed(std::string(500, 'x') + "at+cpin=\"4711\"\r\n");
    const std::string end(files::kLineEnd);
    const std::string log = test::readFile(dailyLogPath(clock::localNow()));
    EXPECT_NE(log.find(" a@b.c" + end), std::string::npos);
    EXPECT_NE(log.find("xat+cpin=\"**" + end), std::string::npos) << log;
    EXPECT_NE(log.find(" **\"" + end), std::string::npos) << log;
    EXPECT_EQ(log.find("=\"47"), std::string::npos) << log;
    EXPECT_EQ(log.find(" 11\""), std::string::npos) << log;
}

TEST_F(Reader, RawTraceOnlyWhenTheFileExists) {
    rawTrace('A');
    EXPECT_FALSE(std::filesystem::exists("tevrak.log"));
    test::writeFile("tevrak.log", "");
    rawTrace('A');
    rawTrace('\n');
    EXPECT_EQ(test::readFile("tevrak.log"), "A\n");
}

}  // namespace
}  // namespace gsms

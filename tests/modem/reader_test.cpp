#include <gtest/gtest.h>

#include "engine/log.h"
#include "modem/modem_state.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

class Reader : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& e : s.events) e.reset();
        s.listCapture = false;
        s.responseCapture = false;
        s.clearCapture();
    }
    // Feeds raw bytes through the assembler and classifier; returns the lines produced.
    std::vector<std::string> feed(const std::string& bytes) {
        std::vector<std::string> lines;
        std::string line;
        for (unsigned char c : bytes) {
            if (assembler.feed(c, line)) {
                lines.push_back(line);
                classifyLine(s, line);
            }
        }
        return lines;
    }
    bool isSet(ModemEvent e) { return s.event(e).isSet(); }
    test::TempDir dir;
    ModemState& s = modemState();
    LineAssembler assembler{s};
};

TEST_F(Reader, CrLfFramingGivesExactlyOneOkLine) {
    EXPECT_EQ(feed("\r\n\r\nOK\r\n"), std::vector<std::string>{"OK"});
    EXPECT_TRUE(isSet(ModemEvent::Ok));
}

TEST_F(Reader, CpinForms) {
    feed("+CPIN: SIM PIN\r\n");
    EXPECT_TRUE(isSet(ModemEvent::Cpin));
    EXPECT_FALSE(s.pinReady);
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

TEST_F(Reader, EchoIgnoredWithoutCaptureButCapturedWithOne) {
    feed("AT+CMGF?\r\n");
    EXPECT_EQ(s.capture(), "");
    s.responseCapture = true;
    feed("AT+CMGF?\r\n");
    EXPECT_EQ(s.capture(), "AT+CMGF?\r");
}

TEST_F(Reader, ErrorUnderEachCapture) {
    s.responseCapture = true;
    feed("ERROR\r\n");
    EXPECT_FALSE(isSet(ModemEvent::Error));
    EXPECT_EQ(s.capture(), "ERROR\r");
    s.responseCapture = false;
    s.listCapture = true;
    feed("ERROR\r\n");
    EXPECT_TRUE(isSet(ModemEvent::Error));
}

TEST_F(Reader, CmglUnderListCaptureIsCapturedNotSignalled) {
    s.listCapture = true;
    feed("+CMGL: 1,\"REC UNREAD\",\"+491\",,\"24/01/01\"\r\nhello\r\nOK\r\n");
    EXPECT_FALSE(isSet(ModemEvent::Cmgl));
    EXPECT_TRUE(isSet(ModemEvent::Ok));
    EXPECT_EQ(s.capture(), "+CMGL: 1,\"REC UNREAD\",\"+491\",,\"24/01/01\"\rhello\r");
}

TEST_F(Reader, CmglAndCscaValueParts) {
    feed("+CMGL: (\"REC UNREAD\",\"ALL\")\r\n+CSCA: \"+491710760000\",145\r\n");
    EXPECT_EQ(s.cmgl(), "(\"REC UNREAD\",\"ALL\")");
    EXPECT_EQ(s.csca(), "\"+491710760000\",145");
    EXPECT_TRUE(isSet(ModemEvent::Csca));
}

TEST_F(Reader, PrefixMatchOkay) {
    feed("OKAY\r\n");
    EXPECT_TRUE(isSet(ModemEvent::Ok));
}

TEST_F(Reader, PromptIsHeldInLineBufferWithoutALine) {
    EXPECT_TRUE(feed("\r\n> ").empty());
    EXPECT_EQ(s.lineBuffer[0].load(), '>');
    EXPECT_EQ(s.lineBuffer[1].load(), ' ');
    EXPECT_EQ(feed("hi\r\n"), std::vector<std::string>{"> hi"});
    EXPECT_EQ(s.lineBuffer[0].load(), '\0');
}

TEST_F(Reader, OverlongInputIsCutNeverOverrun) {
    std::string longLine(2000, 'x');
    auto lines = feed(longLine + "\r\n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].size(), ModemState::kLineSize - 1);
    feed("+CSCA: " + std::string(500, '1') + "\r\n");
    EXPECT_EQ(s.csca().size(), ModemState::kCscaSize - 1);
    s.listCapture = true;
    for (int i = 0; i < 100; ++i) feed(std::string(500, 'y') + "\r\n");
    EXPECT_EQ(s.capture().size(), ModemState::kCaptureSize - 1);
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

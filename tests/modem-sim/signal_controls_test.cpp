// The controls that shape the signal answer and store messages as raw default-alphabet bytes,
// which the gateway's whole-program tests need for odd modems and texts no ISO 8859-1 line
// can carry (line breaks, Greek capitals).
#include <gtest/gtest.h>

#include "modem-sim/sim_client.h"
#include "modem_simulator.h"

namespace gsms::test {
namespace {

const std::string kOk = "\r\nOK\r\n";

std::string ask(SimClient& c, const std::string& command) {
    c.send(command);
    return maskTimestamps(c.readFinal());
}

TEST(ModemSimSignalControls, CsqLineAndSilenceReplaceTheAnswer) {
    sim::ModemSimulator s;
    ASSERT_TRUE(s.start()) << s.error();
    SimClient c(s.slavePath());
    ASSERT_TRUE(c.isOpen());
    c.send("ate0\r");
    ASSERT_EQ(c.readUntil("OK\r\n"), "ate0\r" + kOk);

    EXPECT_EQ(s.control("csq-line +CSQ:15,99"), "ok");
    EXPECT_EQ(ask(c, "at+csq\r"), "\r\n+CSQ:15,99\r\n" + kOk);
    EXPECT_EQ(ask(c, "at+csq=?\r"), "\r\n+CSQ: (0-31,99),(0-7,99)\r\n" + kOk);
    EXPECT_EQ(s.control("csq-line off"), "ok");
    EXPECT_EQ(s.control("csq 7"), "ok");
    EXPECT_EQ(ask(c, "at+csq\r"), "\r\n+CSQ: 7,99\r\n" + kOk);

    EXPECT_EQ(s.control("csq-silent on"), "ok");
    c.send("at+csq\r");
    EXPECT_EQ(c.readFor(Ms(300)), "");
    EXPECT_EQ(ask(c, "at\r"), kOk);  // only AT+CSQ is hushed
    EXPECT_EQ(s.control("csq-silent off"), "ok");
    EXPECT_EQ(ask(c, "at+csq\r"), "\r\n+CSQ: 7,99\r\n" + kOk);
    EXPECT_EQ(s.commands().back(), "at+csq");

    EXPECT_EQ(s.control("csq-line"), "error: usage: csq-line LINE|off");
    for (const char* name : {"  csq-line LINE|off", "  csq-silent on|off", "  incoming-gsm SENDER HEX"})
        EXPECT_NE(sim::AtModem::controlHelp().find(name), std::string::npos) << name;
    EXPECT_EQ(s.control("csq-silent maybe"), "error: usage: csq-silent on|off");
}

TEST(ModemSimSignalControls, IncomingGsmStoresTheBytesAsGiven) {
    sim::ModemSimulator s;
    ASSERT_TRUE(s.start()) << s.error();
    SimClient c(s.slavePath());
    ASSERT_TRUE(c.isOpen());
    c.send("ate0\r");
    ASSERT_EQ(c.readUntil("OK\r\n"), "ate0\r" + kOk);
    ASSERT_EQ(ask(c, "at+cmgf=1\r"), kOk);
    ASSERT_EQ(ask(c, "at+cscs=\"GSM\"\r"), kOk);

    EXPECT_EQ(s.control("incoming-gsm +4911 410a7d10"), "ok");
    EXPECT_EQ(s.control("incoming +4922 Zwei"), "ok");  // the ISO 8859-1 form shares the slots
    const std::string stamp = "\"yy/MM/dd,hh:mm:ss+zz\"";
    EXPECT_EQ(ask(c, "at+cmgl=4\r"),
              "\r\n+CMGL: 1,\"REC UNREAD\",\"+4911\",," + stamp + "\r\nA\n}\x10\r\n" +
                  "+CMGL: 2,\"REC UNREAD\",\"+4922\",," + stamp + "\r\nZwei\r\n" + kOk);

    EXPECT_EQ(s.control("incoming-gsm +4933"), "error: usage: incoming-gsm SENDER HEX");
    EXPECT_EQ(s.control("incoming-gsm +4933 4"), "error: usage: incoming-gsm SENDER HEX");
    EXPECT_EQ(s.control("incoming-gsm +4933 41 42"), "error: usage: incoming-gsm SENDER HEX");
}

}  // namespace
}  // namespace gsms::test

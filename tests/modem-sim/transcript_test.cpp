// Transcripts with the simulator, driven through SerialPort on the slave side. A step sends
// bytes and expects exactly these bytes back; a step whose send starts with '!' is a control
// line and expects its answer. Time stamps read as "yy/MM/dd,hh:mm:ss+zz".
#include <gtest/gtest.h>

#include "modem-sim/sim_client.h"
#include "modem_simulator.h"

namespace gsms::test {
namespace {

struct Step {
    std::string send;
    std::string expect;
};

struct Transcript {
    const char* name;
    std::vector<Step> steps;
};

const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";
const Step kEchoOff{"ate0\r", "ate0\r" + kOk};
const Step kTextMode{"at+cmgf=1\r", kOk};
const std::string kStamp = "\"yy/MM/dd,hh:mm:ss+zz\"";

std::string info(const std::string& line) { return "\r\n" + line + "\r\n" + kOk; }

std::string allBytesThenCr() {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s + "\r";
}

const Transcript kTranscripts[] = {
    {"EchoAndFraming",
     {{"at\r", "at\r" + kOk},
      {"AT+CSQ\r", "AT+CSQ\r\r\n+CSQ: 15,99\r\n" + kOk},
      {"at+nonsense\r", "at+nonsense\r" + kError},
      {"ATE0\r", "ATE0\r" + kOk},
      {"at\r\n", kOk},  // the LF of a CR LF ending is no second line
      {"\r\r\nat+csq\r", info("+CSQ: 15,99")},  // empty lines get no answer
      {"hello\r", kError},
      {"ate1\r", kOk},
      {"aT\r", "aT\r" + kOk}}},
    {"QueriesAndSettings",
     {kEchoOff,
      {"at+cgmi\r", info("Velkora")},
      {"at+cgsn\r", info("356938035643809")},
      {"at+cimi\r", info("262011234567890")},
      {"at+cmgf?\r", info("+CMGF: 0")},
      {"at+cmgf=1\r", kOk},
      {"at+cmgf?\r", info("+CMGF: 1")},
      {"at+cmgf=2\r", kError},
      {"at+cscs=\"GSM\"\r", kOk},
      {"at+cscs?\r", info("+CSCS: \"GSM\"")},
      {"at+cscs=\"KOI8\"\r", "\r\n+CME ERROR: 4\r\n"},
      {"at+csca?\r", info("+CSCA: \"+491710760000\",145")},
      {"at+csca=\"+4917222\",145\r", kOk},
      {"at+csca?\r", info("+CSCA: \"+4917222\",145")},
      {"at+csmp=17,167,0,16\r", kOk},
      {"at+csmp?\r", info("+CSMP: 17,167,0,16")},
      {"at+cfun=0\r", kOk},
      {"at+csq\r", info("+CSQ: 99,99")},
      {"at+cops?\r", info("+COPS: 0")},
      {"at+cfun=1\r", kOk},
      {"at+cops=0,0\r", kOk},
      {"at+cops?\r", info("+COPS: 0,0,\"SIM NET\"")},
      {"at+creg?\r", info("+CREG: 0,1")},
      {"at+cnmi=2,1,0,0,0\r", kOk},
      {"at+cnmi?\r", info("+CNMI: 2,1,0,0,0")},
      {"atz\r", kOk},
      {"at\r", "at\r" + kOk}}},  // ATZ turned echo back on
    {"PinFlow",
     {{"!pin 1234", "ok"},
      kEchoOff,
      {"at+cpin?\r", info("+CPIN: SIM PIN")},
      {"at+cmgl=4\r", "\r\n+CMS ERROR: 311\r\n"},
      {"at+cpin=\"0000\"\r", "\r\n+CME ERROR: 16\r\n"},
      {"at+cmee=0\r", kOk},
      {"at+cpin=\"0000\"\r", kError},
      {"at+cmee=2\r", kOk},
      {"at+cpin=\"1234\"\r", kOk},  // right before the third try: all tries back
      {"at+cpin?\r", info("+CPIN: READY")},
      {"at+cpin=\"1234\"\r", "\r\n+CME ERROR: operation not allowed\r\n"},
      {"!pin 4711", "ok"},
      {"at+cpin?\r", info("+CPIN: SIM PIN")},
      {"at+cpin=\"0000\"\r", "\r\n+CME ERROR: incorrect password\r\n"},
      {"at+cpin=\"0000\"\r", "\r\n+CME ERROR: incorrect password\r\n"},
      {"at+cpin=\"0000\"\r", "\r\n+CME ERROR: incorrect password\r\n"},
      {"at+cpin?\r", info("+CPIN: SIM PUK")},  // the third wrong PIN locked it
      {"at+cpin=\"4711\"\r", "\r\n+CME ERROR: SIM PUK required\r\n"},
      {"!sim-lock PH-SIM PIN", "ok"},
      {"at+cpin?\r", info("+CPIN: PH-SIM PIN")},
      {"at+cpin=\"4711\"\r", "\r\n+CME ERROR: PH-SIM PIN required\r\n"},
      {"!sim-lock off", "ok"},
      {"!pin-entered", "ok"},
      {"at+cpin?\r", info("+CPIN: READY")}}},
    {"SubmissionPromptEchoAndEscape",
     {{"at+cmgf=1\r", "at+cmgf=1\r" + kOk},
      {"at+cmgs=\"+4917012345\"\r", "at+cmgs=\"+4917012345\"\r\r\n> "},
      {"Hi\x1a", "Hi\r\n+CMGS: 1\r\n" + kOk},
      kEchoOff,
      {"at+cmgs=\"+4917012345\"\r", "\r\n> "},
      {"Ho\x1a", "\r\n+CMGS: 2\r\n" + kOk},
      {"at+cmgs=\"+4917012345\"\r", "\r\n> "},
      {"never sent\x1b", kOk},
      {"at+cmgs=\"+4917012345\"\r", "\r\n> "},
      {"again\x1a", "\r\n+CMGS: 3\r\n" + kOk},
      {"at+cmgf=0\r", kOk},
      {"at+cmgs=\"+4917012345\"\r", "\r\n+CMS ERROR: 304\r\n"},
      // PDU mode: the TPDU's length, the PDU line ("Hi" to +4917012345), Ctrl-Z.
      {"at+cmgs=15\r", "\r\n> "},
      {"0011000A9194711032540000A702C834\x1a", "\r\n+CMGS: 4\r\n" + kOk},
      {"at+cmgs=14\r", "\r\n> "},
      {"0011000A9194711032540000A702C834\x1a", "\r\n+CMS ERROR: 304\r\n"}}},
    {"SubmissionFailures",
     {kEchoOff,
      kTextMode,
      {"!send-fail cms 500 2", "ok"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"a\x1a", "\r\n+CMS ERROR: 500\r\n"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"b\x1a", "\r\n+CMS ERROR: 500\r\n"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"c\x1a", "\r\n+CMGS: 1\r\n" + kOk},
      {"!send-fail error 1", "ok"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"d\x1a", kError},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {std::string(161, 'e') + "\x1a", "\r\n+CMS ERROR: 305\r\n"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {std::string(5000, 'f') + "\x1a", "\r\n+CMS ERROR: 305\r\n"},
      {"!csq 99", "ok"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"g\x1a", "\r\n+CMS ERROR: 331\r\n"}}},
    {"FaultsOfRealModems",
     {kEchoOff,
      kTextMode,
      {"!after-prompt RING", "ok"},
      {"at+cmgs=\"+49\"\r", "\r\n> \r\nRING\r\n"},
      {"a\x1a", "\r\n+CMGS: 1\r\n" + kOk},
      {"!after-prompt off", "ok"},
      {"!refuse +4940 500", "ok"},
      {"at+cmgs=\"+4940\"\r", "\r\n> "},
      {"b\x1a", "\r\n+CMS ERROR: 500\r\n"},
      {"at+cmgs=\"+4941\"\r", "\r\n> "},
      {"c\x1a", "\r\n+CMGS: 2\r\n" + kOk},
      {"!refuse off", "ok"},
      {"!prompt-delay 200 1", "ok"},
      // A late prompt: the ESC sent meanwhile waits behind it and cancels the text entry.
      {"at+cmgs=\"+49\"\r\x1b", "\r\n> \r\nOK\r\n"},
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"d\x1a", "\r\n+CMGS: 3\r\n" + kOk}}},
    {"MissingAnswers",
     {kEchoOff,
      kTextMode,
      {"!no-prompt 1", "ok"},
      {"at+cmgs=\"+49\"\r", ""},
      {"at\r", kOk},  // taken as a command, so no text entry had begun
      {"at+cmgs=\"+49\"\r", "\r\n> "},
      {"\x1b", kOk},
      {"!cops fail on", "ok"},
      {"at+cops=0,0\r", ""},
      {"at+csq\r", info("+CSQ: 15,99")},
      {"!cops fail off", "ok"},
      {"at+cops=0,0\r", kOk},
      {"!cops next ok fail", "ok"},  // one answered, then none: the last choice stays
      {"at+cops=0,0\r", kOk},
      {"at+cops=0,0\r", ""},
      {"at+cops=0,0\r", ""},
      {"!cops next fail fail", "ok"},
      {"at+cops=0,0\r", ""},
      {"!cops fail off", "ok"},  // drops the rest of the plan
      {"at+cops=0,0\r", kOk},
      {"!ignore-first 2", "ok"},
      {"at+csq\r", ""},
      {"\x1a" "at\r", ""},  // a stray Ctrl-Z is no text end in command state
      {"at\r", kOk},
      {"!silent on", "ok"},
      {"at+csq\r", ""},
      {"!silent off", "ok"},
      {"at\r", kOk}}},  // what was swallowed in silence would come first
    {"ControlTakesEffectAtNextCommand",
     {kEchoOff,
      {"at+csq\r", info("+CSQ: 15,99")},
      {"!csq 7", "ok"},
      {"at+csq\r", info("+CSQ: 7,99")},
      {"!csq-error on", "ok"},
      {"at+csq\r", kError},
      {"!cfun-query error", "ok"},
      {"at+cfun?\r", kError},
      {"!cfun-query ok", "ok"},
      {"at+cfun?\r", info("+CFUN: 1")},
      {"!cmgf 1", "ok"},
      {"at+cmgf?\r", info("+CMGF: 1")},
      {"!garbage 0d0a2b4353513a", "ok"},
      {"", "\r\n+CSQ:"}}},
    {"StoredMessages",
     {{"!incoming +4911 Erste", "ok"},
      {"!incoming +4922 Zweite   Nachricht", "ok"},
      {"!incoming +4933 Dritte \xe4\xf6", "ok"},
      kEchoOff,
      kTextMode,
      {"at+cmgl=?\r",
       info("+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")")},
      {"!cmgl numeric", "ok"},
      {"at+cmgl=?\r", info("+CMGL: (0-4)")},
      {"at+cmgl=\"ALL\"\r",
       "\r\n+CMGL: 1,\"REC UNREAD\",\"+4911\",," + kStamp + "\r\nErste\r\n" +
           "+CMGL: 2,\"REC UNREAD\",\"+4922\",," + kStamp + "\r\nZweite   Nachricht\r\n" +
           "+CMGL: 3,\"REC UNREAD\",\"+4933\",," + kStamp + "\r\nDritte \xe4\xf6\r\n" + kOk},
      {"at+cmgl=\"REC UNREAD\"\r", kOk},  // listed once, they are read
      {"at+cmgr=2\r",
       info("+CMGR: \"REC READ\",\"+4922\",," + kStamp + "\r\nZweite   Nachricht")},
      {"at+cmgd=2\r", kOk},
      {"at+cmgr=2\r", "\r\n+CMS ERROR: 321\r\n"},
      {"at+cscs=\"GSM\"\r", kOk},  // the same text as default-alphabet bytes
      {"at+cmgl=4\r",
       "\r\n+CMGL: 1,\"REC READ\",\"+4911\",," + kStamp + "\r\nErste\r\n" +
           "+CMGL: 3,\"REC READ\",\"+4933\",," + kStamp + "\r\nDritte {|\r\n" + kOk},
      {"!incoming +4944 Neu", "ok"},  // into the lowest free slot
      {"at+cmgl=0\r", info("+CMGL: 2,\"REC UNREAD\",\"+4944\",," + kStamp + "\r\nNeu")},
      {"at+cnmi=2,1\r", kOk},
      {"!incoming +4955 Meldung", "ok"},
      {"", "\r\n+CMTI: \"SM\",4\r\n"},
      {"at+cmgd=1,4\r", kOk},
      {"at+cmgl=4\r", kOk}}},
    {"StoredMessagesInPduMode",
     {{"!incoming-pdu 040B911346610089F60000208062917314480CC8F71D14969741F977FD07", "ok"},
      kEchoOff,
      {"at+cmgl=?\r", info("+CMGL: (0-4)")},
      {"at+cmgl=\"ALL\"\r", "\r\n+CMS ERROR: 302\r\n"},  // PDU mode: the status as a number
      {"at+cmgl=4\r",
       "\r\n+CMGL: 1,0,,30\r\n0791947101670000"
       "040B911346610089F60000208062917314480CC8F71D14969741F977FD07\r\n" + kOk},
      {"at+cmgr=1\r",
       info("+CMGR: 1,,30\r\n0791947101670000"
            "040B911346610089F60000208062917314480CC8F71D14969741F977FD07")},
      kTextMode,  // the same message as text mode shows a PDU it cannot read
      {"at+cmgr=1\r",
       info("+CMGR: \"REC READ\",\"?\",," + kStamp +
            "\r\n040B911346610089F60000208062917314480CC8F71D14969741F977FD07")},
      {"!pdu off", "ok"},
      {"at+cmgf=0\r", kError},
      {"at+cmgf?\r", info("+CMGF: 1")},
      {"!pdu on", "ok"},
      {"at+cmgf=0\r", kOk}}},
    {"OverlongAndBinaryInput",
     {kEchoOff,
      {std::string(5000, 'A') + "\r", kError},
      {"at\r", kOk},
      {allBytesThenCr(), kError},  // controls dropped, the rest one (capped) line
      {"at\r", kOk}}},
};

void PrintTo(const Transcript& t, std::ostream* os) { *os << t.name; }

class Transcripts : public ::testing::TestWithParam<Transcript> {};

TEST_P(Transcripts, RunAsWritten) {
    sim::ModemSimulator sim;
    ASSERT_TRUE(sim.start()) << sim.error();
    SimClient client(sim.slavePath());
    ASSERT_TRUE(client.isOpen());
    std::size_t stepNo = 0;
    for (const Step& step : GetParam().steps) {
        ++stepNo;
        if (step.send.starts_with("!")) {
            EXPECT_EQ(sim.control(step.send.substr(1)), step.expect) << "step " << stepNo;
            continue;
        }
        client.send(step.send);
        if (step.expect.empty()) {
            // No answer is due: wait until the line has been taken, so a control that
            // follows cannot overtake it.
            std::string line;  // as the modem takes it: control bytes dropped
            for (char c : step.send)
                if (static_cast<unsigned char>(c) >= 0x20) line.push_back(c);
            EXPECT_TRUE(waitFor([&] {
                auto c = sim.commands();
                return !c.empty() && c.back() == line;
            })) << "step " << stepNo;
            continue;
        }
        EXPECT_EQ(maskTimestamps(client.read(step.expect.size())), step.expect)
            << "step " << stepNo;
    }
}

INSTANTIATE_TEST_SUITE_P(ModemSim, Transcripts, ::testing::ValuesIn(kTranscripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace gsms::test

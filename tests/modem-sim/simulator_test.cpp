// The simulator's parts and paths: line assembly, records, pacing, the port's life cycle,
// the link and the control socket.
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "input_assembler.h"
#include "json_records.h"
#include "modem-sim/sim_client.h"
#include "modem_simulator.h"
#include "sms/gsm_alphabet.h"
#include "support/temp_dir.h"

namespace gsms::test {
namespace {

using Step = sim::InputAssembler::Step;

sim::Options options(std::string link, std::string control, std::vector<std::string> controls = {}) {
    sim::Options o;
    o.linkPath = std::move(link);
    o.controlPath = std::move(control);
    o.startControls = std::move(controls);
    return o;
}

// Feeds bytes and writes one letter per step: h held, d dropped, L line, S send, C cancel.
std::string steps(sim::InputAssembler& a, std::string_view bytes) {
    std::string out;
    for (unsigned char b : bytes) out.push_back("hdLSC"[static_cast<int>(a.feed(b))]);
    return out;
}

TEST(ModemSimInput, CommandLinesAndTexts) {
    sim::InputAssembler a;
    EXPECT_EQ(steps(a, "at\r\n"), "hhLd");
    EXPECT_EQ(a.line(), "at");
    EXPECT_EQ(steps(a, "\r\n\x01\x1a\x1b\r"), "dddddd") << "empty lines and controls";
    a.beginText();
    EXPECT_EQ(steps(a, "a\r\nb\x1a"), "hhhhS");
    EXPECT_EQ(a.text(), "a\r\nb");
    EXPECT_FALSE(a.inText());
    a.beginText();
    EXPECT_EQ(steps(a, "x\x1b"), "hC");
    EXPECT_EQ(steps(a, std::string(300, 'A') + "\r").substr(254), std::string(2, 'h') + std::string(44, 'd') + "L");
    EXPECT_TRUE(a.overflowed());
    EXPECT_EQ(a.line().size(), sim::InputAssembler::kMaxCommand);
    EXPECT_EQ(steps(a, "at\r"), "hhL");
    EXPECT_FALSE(a.overflowed());
}

TEST(ModemSimRecords, JsonStringsAreEscapedAndUtf8) {
    EXPECT_EQ(sim::jsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(sim::jsonString("\r\n\t\x01\x7f"), R"("\r\n\t\u0001\u007f")");
    EXPECT_EQ(sim::jsonString("Gr\xfc\xdf"), "\"Gr\xc3\xbc\xc3\x9f\"");
    std::string bytes;
    EXPECT_TRUE(sim::fromHex("00ff7A", bytes));
    EXPECT_EQ(sim::toHex(bytes), "00ff7a");
    EXPECT_FALSE(sim::fromHex("abc", bytes));
    EXPECT_FALSE(sim::fromHex("zz", bytes));
}

TEST(ModemSimControls, MalformedControlsSayWhy) {
    sim::ModemSimulator s;
    struct Case {
        const char* line;
        const char* answer;
    } cases[] = {
        {"", "error: empty control"},
        {"reboot now", "error: unknown control: reboot"},
        {"csq 32", "error: usage: csq N"},
        {"csq", "error: usage: csq N"},
        {"pin 12", "error: usage: pin CODE|off"},
        {"silent maybe", "error: usage: silent on|off"},
        {"cops fail", "error: usage: cops fail on|off|next ok|fail..."},
        {"cops next ok maybe", "error: usage: cops fail on|off|next ok|fail..."},
        {"send-fail cms", "error: usage: send-fail cms CODE [COUNT]|error [COUNT]|off"},
        {"send-fail error 0", "error: usage: send-fail cms CODE [COUNT]|error [COUNT]|off"},
        {"garbage 0", "error: usage: garbage HEX"},
        {"incoming", "error: usage: incoming SENDER TEXT"},
        {"baud 10", "error: usage: baud N"},
        {"storage 256", "error: usage: storage N"},
        {"cmgl-cut", "error: usage: cmgl-cut N"},
        {"pin-entered now", "error: usage: pin-entered"},
        {"csq 99\r\n", "ok"},
    };
    for (const Case& c : cases) EXPECT_EQ(s.control(c.line), c.answer) << c.line;
    for (int i = 0; i < sim::AtModem::kStorageSlots; ++i) EXPECT_EQ(s.control("incoming 1 x"), "ok");
    EXPECT_EQ(s.control("incoming 1 x"), "error: message storage full");
}

// Sends one submission and waits for its answer.
std::string submit(SimClient& c, const std::string& to, const std::string& gsm) {
    c.send("at+cmgs=\"" + to + "\"\r");
    if (c.read(4) != "\r\n> ") return "no prompt";
    c.send(gsm + "\x1a");
    return c.readFinal();
}

TEST(ModemSimRecords, SubmissionsAndCommandsAreRecorded) {
    TempDir dir;
    sim::Options o;
    o.recordPath = dir.path() + "/r.jsonl";
    o.tracePath = dir.path() + "/t.jsonl";
    o.startControls = {"cmgf 1", "send-fail cms 500 1"};
    sim::ModemSimulator s(o);
    ASSERT_TRUE(s.start()) << s.error();
    SimClient c(s.slavePath());
    c.send("ate0\r");
    ASSERT_EQ(c.readUntil("OK\r\n"), "ate0\r\r\nOK\r\n");
    c.send("at+cscs=\"GSM\";+csmp=17,167,0,16\r");  // one command per line only
    ASSERT_EQ(c.read(9), "\r\nERROR\r\n");
    c.send("at+cscs=\"GSM\"\rat+csmp=17,167,0,16\r");
    ASSERT_EQ(c.read(12), "\r\nOK\r\n\r\nOK\r\n");
    std::string gsm;
    for (unsigned char ch : std::string("Gr\xfc\xdf\"e\"")) gsm.push_back(static_cast<char>(latin1ToGsm[ch]));
    EXPECT_EQ(submit(c, "+4917012345", "first"), "\r\n+CMS ERROR: 500\r\n");
    c.send("at+cmgs=\"+49\"\rcancelled\x1b");
    EXPECT_EQ(c.read(10), "\r\n> \r\nOK\r\n");
    EXPECT_EQ(submit(c, "+4917012345", gsm), "\r\n+CMGS: 1\r\n\r\nOK\r\n");

    auto subs = s.submissions();
    ASSERT_EQ(subs.size(), 2u) << "a cancelled text is no submission";
    EXPECT_EQ(subs[0].ref, -1);
    EXPECT_EQ(subs[0].error, "+CMS ERROR: 500");
    EXPECT_EQ(subs[1].to, "+4917012345");
    EXPECT_EQ(subs[1].csmp, (std::array<int, 4>{17, 167, 0, 16}));
    EXPECT_EQ(subs[1].bytes, gsm);
    EXPECT_EQ(subs[1].latin1, "Gr\xfc\xdf\"e\"");
    EXPECT_EQ(subs[1].ref, 1);

    EXPECT_EQ(maskJsonTimes(readFile(o.recordPath)),
              "{\"time\":T,\"to\":\"+4917012345\",\"csmp\":[17,167,0,16],\"hex\":\"6669727374\","
              "\"text\":\"first\",\"ref\":null,\"error\":\"+CMS ERROR: 500\"}\n"
              "{\"time\":T,\"to\":\"+4917012345\",\"csmp\":[17,167,0,16],"
              "\"hex\":\"47727e1e226522\",\"text\":\"Gr\xc3\xbc\xc3\x9f\\\"e\\\"\",\"ref\":1}\n");
    std::string trace = maskJsonTimes(readFile(o.tracePath));
    EXPECT_TRUE(trace.starts_with("{\"time\":T,\"command\":\"ate0\"}\n"
                                  "{\"time\":T,\"command\":\"at+cscs=\\\"GSM\\\";+csmp=17,167,0,16\"}\n"))
        << trace;
    EXPECT_EQ(s.commands().size(), 8u);
    EXPECT_EQ(s.commands()[6], "cancelled\x1b") << "a text ended by ESC is traced with it";
}

TEST(ModemSimPacing, SendDelayHoldsTheAnswerAndLaterInput) {
    sim::ModemSimulator s(options("", "", {"cmgf 1", "send-delay 300"}));
    ASSERT_TRUE(s.start()) << s.error();
    SimClient c(s.slavePath());
    c.send("ate0\r");
    ASSERT_EQ(c.readUntil("OK\r\n"), "ate0\r\r\nOK\r\n");
    c.send("at+cmgs=\"+49\"\r");
    ASSERT_EQ(c.read(4), "\r\n> ");
    auto start = std::chrono::steady_clock::now();
    c.send("x\x1a" "at\r");
    const std::string answers = "\r\n+CMGS: 1\r\n\r\nOK\r\n\r\nOK\r\n";
    EXPECT_EQ(c.read(answers.size()), answers);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

TEST(ModemSimPacing, BaudSpacesTheBytes) {
    sim::ModemSimulator s(options("", "", {"baud 1200"}));
    ASSERT_TRUE(s.start()) << s.error();
    SimClient c(s.slavePath());
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(s.control("garbage " + std::string(120, '4')), "ok");  // 60 bytes: 500 ms
    EXPECT_EQ(c.read(60), std::string(60, 'D'));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
}

TEST(ModemSimPort, ClientClosesAndReopens) {
    TempDir dir;
    const std::string link = dir.path() + "/ttyGSM0";
    sim::ModemSimulator s(options(link, ""));
    ASSERT_TRUE(s.start()) << s.error();
    for (int round = 0; round < 3; ++round) {
        {
            SimClient c(round % 2 ? link : s.slavePath());
            ASSERT_TRUE(c.isOpen()) << "round " << round;
            if (round > 0) {
                // The modem still waits for the text the last client left unfinished.
                c.send("\x1b");
                EXPECT_EQ(c.read(6), "\r\nOK\r\n") << "round " << round;
            }
            c.send("at+cmgf=1\rat+cmgs=\"+49\"\rhalf a text");
            EXPECT_EQ(c.readUntil("half a text"),
                      "at+cmgf=1\r\r\nOK\r\nat+cmgs=\"+49\"\r\r\n> half a text")
                << "round " << round;
        }
        // Our own look at the slave: the hold the client took is lifted once it is gone.
        int fd = ::open(s.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(waitFor([&] {
            int exclusive = 1;
            return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive == 0;
        }));
        ::close(fd);
    }
}

// As a USB modem's /dev/serial/by-id link: gone with the line, back with a new one.
TEST(ModemSimPort, HangupClosesTheLineAndControlsGoOnUntilItComesBack) {
    TempDir dir;
    const std::string link = dir.path() + "/ttyGSM0";
    sim::ModemSimulator s(options(link, dir.path() + "/ctl"));
    ASSERT_TRUE(s.start()) << s.error();
    SerialPort port(link.c_str());
    ASSERT_EQ(port.open(), 1);
    port.setTimeouts(50);
    EXPECT_EQ(controlSocket(dir.path() + "/ctl", "hangup 1\n"), "ok\n");
    char byte = 0;
    EXPECT_TRUE(waitFor([&] { return port.read(&byte, 1) == -1; }));  // EIO, as unplugged
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(std::filesystem::symlink_status(link)); }));
    EXPECT_EQ(controlSocket(dir.path() + "/ctl", "csq 7\n"), "ok\n");
    port.close();
    ASSERT_TRUE(waitFor([&] { return port.open() == 1; }));
    port.setTimeouts(50);
    ASSERT_EQ(port.write("at+csq\r", 7), 7);
    std::string got;
    EXPECT_TRUE(waitFor([&] {
        if (port.read(&byte, 1) == 1) got += byte;
        return got == "at+csq\r\r\n+CSQ: 7,99\r\n\r\nOK\r\n";
    })) << got;
    EXPECT_EQ(controlSocket(dir.path() + "/ctl", "hangup 1 2\n"), "error: usage: hangup [N]\n");
}

TEST(ModemSimPaths, LinkAndControlSocketAreReplacedRefusedAndRemoved) {
    TempDir dir;
    const std::string link = dir.path() + "/ttyGSM0";
    const std::string ctl = dir.path() + "/ctl";
    ASSERT_EQ(::symlink("/dev/pts/does-not-exist", link.c_str()), 0);
    {
        sim::ModemSimulator s(options(link, ctl));
        ASSERT_TRUE(s.start()) << s.error();
        EXPECT_EQ(std::filesystem::read_symlink(link), s.slavePath());
        // One client after another; an overlong line is answered once, at its end.
        EXPECT_EQ(controlSocket(ctl, "csq 3\nbogus\n" + std::string(5000, 'x') + "\n"),
                  "ok\nerror: unknown control: bogus\nerror: line too long\n");
        EXPECT_EQ(controlSocket(ctl, "csq 4\n"), "ok\n");
        SimClient c(link);
        c.send("ate0\rat+csq\r");
        EXPECT_EQ(c.readUntil("+CSQ: 4,99\r\n\r\nOK\r\n"), "ate0\r\r\nOK\r\n\r\n+CSQ: 4,99\r\n\r\nOK\r\n");

        sim::ModemSimulator second(options("", ctl));
        EXPECT_FALSE(second.start());
        EXPECT_EQ(second.error(), ctl + " is in use by another simulator");
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ctl)));

    writeFile(link, "a real file");
    sim::ModemSimulator refused(options(link, ctl));
    EXPECT_FALSE(refused.start());
    EXPECT_EQ(refused.error(), link + " exists and is not a symbolic link");
    EXPECT_EQ(readFile(link), "a real file");
    sim::ModemSimulator badStart(options("", "", {"csq 42"}));
    EXPECT_FALSE(badStart.start());
    EXPECT_EQ(badStart.error(), "start control \"csq 42\": error: usage: csq N");
}

}  // namespace
}  // namespace gsms::test

// gsmsd brought up against gsms-modem-sim: the modem initialisation and the engine start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <signal.h>

#include <filesystem>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        // The tech-alarm script leaves its argument behind.
        installTechAlarmRecorder(dir.path());
        fs::create_directories(dir / "in");
    }
    void configure(std::map<std::string, std::string> keys = {}) {
        keys.emplace("QualityPollEverySecs", "3600");
        gateway.configure(sim, keys);
    }
    bool techAlarmRaised() { return fs::exists(dir / "tech-alarm.txt"); }
    // The alarm's script runs detached: it may write after the gateway has ended.
    bool techAlarmSays(const std::string& text) {
        return waitFor([&] { return readText(dir / "tech-alarm.txt") == text; });
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
};

TEST_F(Startup, ReadyModemIsBroughtIntoServiceAndTheWorkersStart) {
    ASSERT_EQ(sim.control("pin 1234"), "ok");
    ASSERT_EQ(sim.control("pin-entered"), "ok");
    configure({{"PIN", "1234"}, {"IncomingEnable", "0"}});
    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    const std::string log = gateway.dailyLog();
    // Order of the start-up lines; no IncomingThread when incoming is off.
    const char* order[] = {"InputThread started", "ReportThread started",
                           "ProcessingThread started", "ReadJobsThread started",
                           "SignalThread started"};
    std::size_t at = 0;
    for (const char* line : order) {
        const auto pos = log.find(line, at);
        ASSERT_NE(pos, std::string::npos) << line;
        at = pos;
    }
    EXPECT_EQ(log.find("IncomingThread started"), std::string::npos);
    const auto cmds = sim.commands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds[0], "at");
    EXPECT_EQ(sim.count("at&f"), 0);        // answered the first probe: no wake-up
    EXPECT_EQ(sim.count("at+cpin="), 0);    // READY: no PIN sent though one is configured
    EXPECT_EQ(sim.count("at+cmgf=1"), 1);
    EXPECT_EQ(sim.count("at+cscs=\"GSM\""), 1);
    EXPECT_TRUE(gateway.logHas("SMSC +491710760000 type 145"));

    // The console shows the window lines; SIGTERM stops the gateway with exit code 0.
    EXPECT_TRUE(waitFor([&] { return gateway.output().find("SignalThread started") != std::string::npos; }));
    gateway.process().signal(SIGTERM);
    EXPECT_EQ(gateway.process().waitExit(), 0);
    EXPECT_TRUE(gateway.logHas("Gateway stopped"));
    EXPECT_NE(gateway.output().find("Gateway stopped"), std::string::npos);
}

TEST_F(Startup, SilentModemIsNotFound) {
    ASSERT_EQ(sim.control("silent on"), "ok");
    configure();
    ASSERT_TRUE(gateway.start());
    EXPECT_EQ(gateway.process().waitExit(), 1);
    EXPECT_TRUE(gateway.logHas("** init_gsms ** ERROR: GSM modem not found on port " + sim.link()));
    EXPECT_TRUE(techAlarmSays("8999\n")) << readText(dir / "tech-alarm.txt");
    EXPECT_EQ(gateway.logCount("SignalThread started"), 0);
}

TEST_F(Startup, WakeUpAfterAMissedProbe) {
    ASSERT_EQ(sim.control("ignore-first 1"), "ok");  // the first command gets no answer
    configure({{"CapitalizeCommands", "1"}});
    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    EXPECT_EQ(sim.count("AT&f"), 1);  // the command word upper-cased, its suffix kept
    EXPECT_FALSE(techAlarmRaised());
}

TEST_F(Startup, PinFlows) {
    ASSERT_EQ(sim.control("pin 4711"), "ok");
    configure();
    ASSERT_TRUE(gateway.start());
    EXPECT_EQ(gateway.process().waitExit(), 1);
    EXPECT_TRUE(gateway.logHas("** init_gsms ** ERROR: PIN not entered."));
    EXPECT_FALSE(techAlarmRaised());
}

// A USB modem on its stable Linux name (a /dev/serial/by-id link, far beyond the 39 characters
// the port once held) whose SIM asks for the PIN; the raw trace is switched on. The PIN goes
// out, but reaches neither the daily log nor the trace.
TEST_F(Startup, PinIsSentOnALongByIdPortAndNeverLogged) {
    fs::create_directories(dir / "serial/by-id");
    const std::string byId = dir / ("serial/by-id/usb-Quectel_Incorporated_LTE_Module_EC25-EUX_"
                                    "0123456789ABCDEF-if02-port0");
    ASSERT_GT(byId.size(), 80u);
    fs::create_symlink(sim.link(), byId);
    writeText(dir / "tevrak.log", "");
    ASSERT_EQ(sim.control("pin 4711"), "ok");
    configure({{"Port", byId}, {"PIN", "4711"}, {"CapitalizeCommands", "1"}});
    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    EXPECT_EQ(sim.count("AT+CPIN=\"4711\""), 1);
    EXPECT_NE(gateway.output().find("** init_gsms ** Entering PIN code..."), std::string::npos);

    const std::string log = gateway.dailyLog();
    const std::string trace = readText(dir / "tevrak.log");
    EXPECT_NE(log.find("AT+CPIN=\"****\""), std::string::npos);  // the modem's echo, masked
    EXPECT_NE(trace.find("AT+CPIN=\"****\"\r"), std::string::npos);
    EXPECT_NE(trace.find("OK"), std::string::npos);
    EXPECT_EQ(log.find("4711"), std::string::npos);
    EXPECT_EQ(trace.find("4711"), std::string::npos);
    EXPECT_EQ(gateway.output().find("4711"), std::string::npos);
}

// The SIM's tries are spent only on the PIN it asks for; a refusal or a lock ends the start
// with exit code 6, on which the systemd unit does not start the gateway again.
TEST(StartupSim, RefusedPinOrLockedSimStopsForGood) {
    struct Case {
        const char* label;
        std::vector<std::string> controls;
        const char* pin;
        int pinsSent;
        const char* message;
    } cases[] = {
        {"wrong PIN", {"pin 4711"}, "1111", 1, "** init_gsms ** ERROR: PIN refused by the SIM"},
        {"SIM PUK", {"pin 4711", "sim-lock SIM PUK"}, "4711", 0,
         "** init_gsms ** ERROR: SIM locked (SIM PUK): enter the PUK in a phone"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Scratch dir;
        Simulator sim{dir.path()};
        Gateway gateway{dir.path()};
        ASSERT_TRUE(sim.start());
        for (const auto& control : c.controls) ASSERT_EQ(sim.control(control), "ok");
        gateway.configure(sim, {{"PIN", c.pin}, {"QualityPollEverySecs", "3600"}});
        ASSERT_TRUE(gateway.start());
        EXPECT_EQ(gateway.process().waitExit(), 6);
        EXPECT_EQ(gateway.logCount(c.message), 1);
        EXPECT_NE(gateway.output().find(c.message), std::string::npos);
        EXPECT_EQ(sim.count("at+cpin="), c.pinsSent);
    }
}

TEST_F(Startup, UnknownFunctionalityQueryAndTextModeAlreadySet) {
    ASSERT_EQ(sim.control("cfun-query error"), "ok");
    ASSERT_EQ(sim.control("cmgf 1"), "ok");
    configure();
    ASSERT_TRUE(gateway.start());
    ASSERT_TRUE(gateway.waitLog("IncomingThread started"));
    // None from the initialisation; the IncomingThread returns to text mode after trying PDU.
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgf=0") >= 1; }));
    EXPECT_EQ(sim.count("at+cfun=1"), 0);
    const auto cmds = sim.commands();
    EXPECT_EQ(std::count(cmds.begin(), std::find(cmds.begin(), cmds.end(), "at+cmgf=0"),
                         "at+cmgf=1"),
              0);
}

TEST_F(Startup, NetworkThatNeverRegistersFailsTheInitialisation) {
    ASSERT_EQ(sim.control("cops fail on"), "ok");
    configure();
    ASSERT_TRUE(gateway.start());
    EXPECT_EQ(gateway.process().waitExit(), 1);
    EXPECT_EQ(sim.count("at+cops=0,0"), 5);
    EXPECT_TRUE(gateway.logHas("** init_gsms ** ERROR: init of GSM modem on port " + sim.link() +
                               " failed."));
}

TEST_F(Startup, MissingPortIsFatal) {
    configure({{"Port", (dir / "no-such-tty")}});
    ASSERT_TRUE(gateway.start());
    EXPECT_EQ(gateway.process().waitExit(), 1);
    // The system's reason tells a missing device from a busy one or missing rights.
    EXPECT_TRUE(gateway.logHas("** init_gsms ** ERROR: cannot open " + (dir / "no-such-tty") +
                               " (No such file or directory)\n"));
    EXPECT_TRUE(techAlarmSays("8999\n")) << readText(dir / "tech-alarm.txt");
    // The console shows it in red when it is a terminal; here it is a file: plain text.
    EXPECT_NE(gateway.output().find("cannot open " + (dir / "no-such-tty") +
                                    " (No such file or directory)"),
              std::string::npos);
}

TEST(Gsmsd, HelpVersionAndBadArguments) {
    Scratch dir;
    Child c;
    ASSERT_TRUE(c.start({binary("gsmsd"), "--help"}, dir.path(), dir / "out.txt"));
    EXPECT_EQ(c.waitExit(), 0);
    EXPECT_NE(readText(dir / "out.txt").find("--profile-dir"), std::string::npos);
    Child v;
    ASSERT_TRUE(v.start({binary("gsmsd"), "--version"}, dir.path(), dir / "ver.txt"));
    EXPECT_EQ(v.waitExit(), 0);
    EXPECT_NE(readText(dir / "ver.txt").find("1.5"), std::string::npos);
    Child b;
    ASSERT_TRUE(b.start({binary("gsmsd"), "--bogus"}, dir.path(), dir / "bad.txt"));
    EXPECT_EQ(b.waitExit(), 2);
}

}  // namespace
}  // namespace gsms::e2e

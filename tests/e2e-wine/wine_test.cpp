// gsmsd.exe and gsms.exe, the Windows builds of the headless gateway and of the gateway with
// its native window, under Wine against gsms-modem-sim: the
// simulator's pseudo-terminal is a COM port to Wine (a link in the prefix's dosdevices folder,
// which Wine reads when a program opens the port), and every path the gateway is given is a
// Windows path on Wine's drive Z:. The status table is read back with python3-dbfread.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "support/status_table.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kWindowsBin = GSMS_WINDOWS_BIN_DIR;
const std::string kPrefix = GSMS_WINEPREFIX;
const std::string kTool = std::string(GSMS_TESTS_DIR) + "/e2e/dbf_tool.py";

// The Windows name of a Linux path: drive Z: is the root.
std::string windowsPath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return "Z:" + path;
}

// The records of a table as python3-dbfread reads them (dbf_tool.py read), by field name.
std::vector<std::map<std::string, std::string>> dbfRows(const std::string& table,
                                                       const std::string& scratch) {
    std::vector<std::map<std::string, std::string>> rows;
    Child reader;
    if (!reader.start({kTool, "read", table}, scratch, scratch + "/dbfread.txt") ||
        reader.waitExit() != 0)
        return rows;
    std::istringstream in(readText(scratch + "/dbfread.txt"));
    std::string line;
    std::getline(in, line);  // the counts
    while (std::getline(in, line)) {
        std::map<std::string, std::string> row;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');)
            row[f.substr(0, f.find('='))] = f.substr(f.find('=') + 1);
        rows.push_back(row);
    }
    return rows;
}

class WineGateway : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(GSMS_WINE).empty() || !fs::exists(kWindowsBin + "/gsmsd.exe"))
            GTEST_SKIP() << "no Wine or no Windows build in " << kWindowsBin;
        ASSERT_TRUE(sim.start(simulatorArguments()));
        // The first free COM number; the link is made whole or not at all, so tests running
        // at the same time never share one. A link left by a test that was killed points to
        // a pseudo-terminal that is gone: it is free again.
        const std::string pty = fs::canonical(sim.link()).string();
        for (int n = 10; n < 250 && port.empty(); ++n) {
            const std::string link = kPrefix + "/dosdevices/com" + std::to_string(n);
            std::error_code ec;
            if (fs::is_symlink(link, ec) && !fs::exists(link, ec)) ::unlink(link.c_str());
            if (::symlink(pty.c_str(), link.c_str()) == 0) {
                port = "COM" + std::to_string(n);
                portLink = link;
            }
        }
        ASSERT_FALSE(port.empty());
        for (const char* d : {"in", "done", "error"}) fs::create_directories(dir / d);
    }
    virtual std::vector<std::string> simulatorArguments() const { return {}; }
    void TearDown() override {
        gsmsd.kill();
        if (!portLink.empty()) ::unlink(portLink.c_str());
    }
    // TEVRAK.INI as an administrator would write it on Windows: CR LF, Windows paths.
    void configure(std::map<std::string, std::string> keys = {}) {
        keys.emplace("Port", port);
        keys.emplace("WatchPath", windowsPath(dir / "in"));
        keys.emplace("DonePath", windowsPath(dir / "done"));
        keys.emplace("ErrorPath", windowsPath(dir / "error"));
        keys.emplace("WatchLogPath", windowsPath(dir.path()));
        keys.emplace("QualityPollEverySecs", "3600");
        std::string ini = "[Config]\r\n";
        for (const auto& [k, v] : keys) ini += k + "=" + v + "\r\n";
        writeText(dir / "TEVRAK.INI", ini);
    }
    // Runs a program of the Windows build with the profile directory given the Windows way.
    bool run(Child& child, const std::string& program, const std::string& output,
             const char* option = nullptr, const std::string& winedebug = "-all",
             const std::string& profile = {}) {
        std::vector<std::string> argv{GSMS_WINE, kWindowsBin + "/" + program, "--profile-dir",
                                      windowsPath(profile.empty() ? dir.path() : profile)};
        if (option != nullptr) argv.emplace_back(option);
        return child.start(argv, dir.path(), output,
                           {{"WINEPREFIX", kPrefix}, {"WINEDEBUG", winedebug},
                            {"GSMS_TIME_SCALE", "10"}});
    }
    // A program of the prefix (sc, taskkill, ...); its exit code, its output in `output`.
    int wineProgram(const std::vector<std::string>& args, std::string& output) {
        std::vector<std::string> argv{GSMS_WINE};
        argv.insert(argv.end(), args.begin(), args.end());
        Child child;
        if (!child.start(argv, dir.path(), dir / "program.txt",
                         {{"WINEPREFIX", kPrefix}, {"WINEDEBUG", "-all"}}))
            return -1;
        const int code = child.waitExit();
        output = readText(dir / "program.txt");
        return code;
    }
    bool startGateway() {
        return run(gsmsd, "gsmsd.exe", dir / "output.txt") &&
               gateway.waitLog("SignalThread started", std::chrono::seconds(120));
    }
    // A batch file in the profile folder (the current folder) that appends its arguments, as
    // cmd.exe hands them over, to <name>.txt.
    void recorder(const std::string& batch, const std::string& arguments) {
        writeText(dir / batch, "@echo off\r\necho " + arguments + ">>\"%~dpn0.txt\"\r\n");
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};  // reads the daily log
    Child gsmsd;
    std::string port, portLink;
};

TEST_F(WineGateway, StartsOnItsComPortReloadsAndStopsOnCtrlCAfterTheSubmissionInFlight) {
    configure({{"IncomingEnable", "0"}, {"RetryCount", "5"}});
    // gsms-config.exe opens the port and applies the mode text the way the gateway does.
    Child config;
    ASSERT_TRUE(run(config, "gsms-config.exe", dir / "config.txt"));
    ASSERT_EQ(config.waitExit(), 0);
    EXPECT_NE(readText(dir / "config.txt").find("port " + port + " opened: 9600 baud\r\n"),
              std::string::npos)
        << readText(dir / "config.txt");

    ASSERT_TRUE(startGateway()) << gateway.dailyLog();
    const std::string log = gateway.dailyLog();
    std::size_t at = 0;
    for (const char* line : {"InputThread started\r\n", "SMSC +491710760000 type 145\r\n",
                             "ReportThread started\r\n", "ProcessingThread started\r\n",
                             "ReadJobsThread started\r\n", "SignalThread started\r\n"}) {
        at = log.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << log;
    }
    EXPECT_EQ(sim.commands().at(0), "at");
    EXPECT_EQ(sim.count("at+cmgf=1"), 1);

    // `gsmsd --reload` finds the running gsmsd through the status file and has it re-read.
    configure({{"IncomingEnable", "0"}, {"RetryCount", "3"}});
    Child reload;
    ASSERT_TRUE(run(reload, "gsmsd.exe", dir / "reload.txt", "--reload"));
    EXPECT_EQ(reload.waitExit(), 0) << readText(dir / "reload.txt");
    EXPECT_TRUE(gateway.waitLog("Settings re-read on gsmsd --reload: RetryCount 5 -> 3\r\n"))
        << gateway.dailyLog();

    // Ctrl+C (Wine turns SIGINT into it) with a submission in flight: it ends and is reported,
    // then the gateway stops with 0.
    ASSERT_EQ(sim.control("send-delay 1500"), "ok");
    writeText(dir / "in/slow.sms", "[Alarm]\r\nPhoneNumber=+4917011\r\nMessage=slow\r\n");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgs") == 1; })) << gateway.dailyLog();
    gsmsd.signal(SIGINT);
    EXPECT_EQ(gsmsd.waitExit(), 0);
    const std::string end = gateway.dailyLog();
    const auto stopping = end.find(
        "Stopping on Ctrl+C: no job is taken and no submission starts any more\r\n");
    const auto sent = end.find("Message sent to +4917011\r\n");
    ASSERT_NE(stopping, std::string::npos) << end;
    ASSERT_NE(sent, std::string::npos) << end;
    EXPECT_LT(stopping, sent);
    EXPECT_LT(sent, end.find("Gateway stopped\r\n"));
    EXPECT_FALSE(fs::exists(dir / "in/slow.sms"));
    EXPECT_NE(readText(dir / "gsmsd.status").find("\r\nstate: stopped\r\n"), std::string::npos);
    // The console writer's lines, in text mode.
    EXPECT_TRUE(readText(dir / "output.txt").ends_with(" Gateway stopped\r\n"))
        << readText(dir / "output.txt");
}

TEST_F(WineGateway, JobIsSentReportedIntoItsTableAndMoved) {
    ASSERT_TRUE(test::makeStatusTable(dir / "plant.dbf", 3, "SMS"));
    configure({{"IncomingEnable", "0"}, {"WatchTimeout", "1"}});
    ASSERT_TRUE(startGateway());
    const std::string jobText =
        "[Alarm]\r\nSzenario=plant\r\nPhoneNumber=+491701234567\r\nName=Anna\r\n"
        "Message=Fire alarm, building B\r\ndbentry=1\r\n";
    writeText(dir / "in/fire.sms", jobText);
    writeText(dir / "in/nobody.sms", "[Alarm]\r\nMessage=Fire alarm, building C\r\n");
    ASSERT_TRUE(gateway.waitLog("** free_alarm ** job", std::chrono::seconds(120)))
        << gateway.dailyLog();
    // A bad request waits to be finished, then goes to the error folder under its own name.
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "error/nobody.sms"); }))
        << gateway.dailyLog();
    EXPECT_TRUE(gateway.logHas("Bad request: " + windowsPath(dir / "in") +
                               "\\nobody.sms: no PhoneNumber\r\n"));
    ASSERT_EQ(sim.records().size(), 1u);
    EXPECT_NE(sim.records()[0].find("\"text\":\"Fire alarm, building B\""), std::string::npos);
    EXPECT_TRUE(gateway.logHas("Sending alarm plant to +491701234567\r\n"));

    // Record dbentry + 1 = 2 holds the outcome; the others are as they were.
    const auto rows = dbfRows(dir / "plant.dbf", dir.path());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].at("STATUS"), "8");
    EXPECT_EQ(rows[1].at("TIME").size(), 6u);
    EXPECT_EQ(rows[1].at("TO1"), "8");
    EXPECT_EQ(rows[0].at("STATUS"), "0");
    EXPECT_EQ(rows[2].at("STATUS"), "0");

    // Moved under a time-stamped name, the success line after the job's text.
    EXPECT_FALSE(fs::exists(dir / "in/fire.sms"));
    std::vector<fs::path> done;
    for (const auto& f : fs::directory_iterator(dir / "done")) done.push_back(f.path());
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].filename().string().ends_with("-fire.sms")) << done[0];
    const std::string result = readText(done[0].string());
    EXPECT_TRUE(result.starts_with(jobText)) << result;
    EXPECT_TRUE(result.ends_with(" ALARM successfully sent")) << result;
}

// UTF-16 LE bytes of a text, as Notepad writes them ("Unicode").
std::string utf16le(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

// A name outside the ANSI code page is a job like any other; a UTF-16 file keeps UTF-16 for
// its success line; the scenario names its table, the profile and watch folders are named in
// the same letters.
TEST_F(WineGateway, JobFileNamedInAnyLanguageIsSentAndMoved) {
    ASSERT_TRUE(test::makeStatusTable(dir / "Łódź.dbf", 1, "SMS"));
    fs::create_directories(dir / "in/Wejście");
    configure({{"IncomingEnable", "0"}, {"WatchTimeout", "1"},
               {"WatchPath", windowsPath(dir / "in/Wejście")}});
    fs::create_directories(dir / "Zażółć");
    fs::rename(dir / "TEVRAK.INI", dir / "Zażółć/TEVRAK.INI");
    // gsms-config.exe writes its settings into a pipe in UTF-8.
    Child config;
    ASSERT_TRUE(config.start({"/bin/sh", "-c", "\"$0\" \"$@\" | cat", GSMS_WINE,
                              kWindowsBin + "/gsms-config.exe", "--profile-dir",
                              windowsPath(dir / "Zażółć")},
                             dir.path(), dir / "config.txt", {{"WINEPREFIX", kPrefix}}));
    ASSERT_EQ(config.waitExit(), 0);
    EXPECT_NE(readText(dir / "config.txt")
                  .find("WatchPath                " + windowsPath(dir / "in/Wejście") + "\r\n"),
              std::string::npos)
        << readText(dir / "config.txt");
    ASSERT_TRUE(run(gsmsd, "gsmsd.exe", dir / "output.txt", nullptr, "-all", dir / "Zażółć"));
    ASSERT_TRUE(gateway.waitLog("SignalThread started", std::chrono::seconds(120)));
    const std::string job =
        "\xFF\xFE" + utf16le(u"[Alarm]\r\nSzenario=Łódź\r\nPhoneNumber=+4917012\r\n"
                             u"Message=Pożar w hali 3\r\ndbentry=0\r\n");
    writeText(dir / "in/Wejście/Łódź alarm.sms", job);
    ASSERT_TRUE(gateway.waitLog("** free_alarm ** job", std::chrono::seconds(120)))
        << gateway.dailyLog();
    EXPECT_TRUE(gateway.logHas("Sending alarm Łódź to +4917012\r\n")) << gateway.dailyLog();
    EXPECT_NE(readText(dir / "output.txt").find("Sending alarm Łódź to +4917012\r\n"),
              std::string::npos);  // redirected: UTF-8
    ASSERT_EQ(sim.records().size(), 1u);
    EXPECT_EQ(dbfRows(dir / "Łódź.dbf", dir.path()).at(0).at("STATUS"), "8");
    std::vector<fs::path> done;
    for (const auto& f : fs::directory_iterator(dir / "done")) done.push_back(f.path());
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].filename().string().ends_with("-Łódź alarm.sms")) << done[0];
    const std::string result = readText(done[0].string());
    EXPECT_TRUE(result.starts_with(job));
    EXPECT_TRUE(result.ends_with(utf16le(u" ALARM successfully sent"))) << result;
}

TEST_F(WineGateway, IncomingSmsIsHandedToTheBatchFileAsText) {
    // A program in a folder with a blank, in quotes of its own before its arguments.
    fs::create_directories(dir / "Alarm Scripts");
    recorder("Alarm Scripts/on sms.cmd", "%1 %2");
    // cmd.exe syntax in a received text stays text: nothing else runs.
    ASSERT_EQ(sim.control("incoming +4911 Pump 3 & echo x > owned.txt"), "ok");
    configure({{"CmdLineFormat",
                "\"" + windowsPath(dir / "Alarm Scripts/on sms.cmd") + "\" \"%s\" \"%s\""}});
    ASSERT_TRUE(startGateway());
    const std::string got = dir / "Alarm Scripts/on sms.txt";
    ASSERT_TRUE(waitFor([&] { return readText(got).ends_with("\n"); })) << gateway.dailyLog();
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=1") == 1; }));
    EXPECT_EQ(readText(got), "\"+4911\" \"Pump 3 & echo x > owned.txt\"\r\n");
    EXPECT_FALSE(fs::exists(dir / "owned.txt"));
    EXPECT_TRUE(gateway.logHas(
        "'Pump 3 & echo x > owned.txt' command received from \"+4911\"\r\n"));
}

TEST_F(WineGateway, SilentModemRaisesTheTechAlarmAndEndsWithOne) {
    recorder("plasto.cmd", "%1");
    sim.control("silent on");
    configure();
    ASSERT_TRUE(run(gsmsd, "gsmsd.exe", dir / "output.txt"));
    EXPECT_EQ(gsmsd.waitExit(), 1);
    EXPECT_TRUE(gateway.logHas("** init_gsms ** ERROR: GSM modem not found on port " + port));
    ASSERT_TRUE(waitFor([&] { return readText(dir / "plasto.txt").ends_with("\n"); }));
    EXPECT_EQ(readText(dir / "plasto.txt"), "8999\r\n");
    // The quiet time is kept in TEVRAK.INI, whose other lines stay as they were.
    EXPECT_NE(readText(dir / "TEVRAK.INI").find("[Config]\r\n"), std::string::npos);
    EXPECT_NE(readText(dir / "TEVRAK.INI").find("[WatchDog]\r\nLastAlarm="), std::string::npos);
}

// Wine keeps no event log: its ReportEventW writes each entry to its debug channel "eventlog",
// an error as err:, a warning as warn:, an information as trace:. That is what is read back.
TEST_F(WineGateway, RedLinesAndTheStartGoToTheEventLog) {
    configure({{"Port", "COM249"}});
    ASSERT_TRUE(run(gsmsd, "gsmsd.exe", dir / "output.txt", nullptr, "-all,+eventlog"));
    EXPECT_EQ(gsmsd.waitExit(), 1);
    const std::string entries = readText(dir / "output.txt");
    EXPECT_NE(entries.find(":trace:eventlog:ReportEventW L\"Gateway started\"\n"),
              std::string::npos)
        << entries;
    EXPECT_NE(entries.find(":err:eventlog:ReportEventW L\"** init_gsms ** ERROR: cannot open "
                           "COM249 (No such file or directory)\"\n"),
              std::string::npos)
        << entries;
}

// The shipped example for received SMS: messages that come in one listing start it several
// times at once, and each gets a file of its own in %ProgramData%\Velkora\GSMS\incoming.
TEST_F(WineGateway, ShippedIncomingBatchKeepsEveryMessageOfOneListing) {
    const fs::path kept = kPrefix + "/drive_c/ProgramData/Velkora/GSMS/incoming";
    fs::remove_all(kept);
    fs::copy_file(std::string(GSMS_SOURCE_DIR) + "/packaging/windows/incoming.bat",
                  dir / "incoming.bat");
    for (int i = 1; i <= 7; ++i)
        ASSERT_EQ(sim.control("incoming +491" + std::to_string(i) + " Message " +
                              std::to_string(i)),
                  "ok");
    configure();
    ASSERT_TRUE(startGateway());
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgd=") == 7; })) << gateway.dailyLog();
    std::string texts;
    ASSERT_TRUE(waitFor([&] {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& f : fs::directory_iterator(kept, ec))
            if (f.path().extension() == ".txt") found.push_back(readText(f.path()));
        texts.clear();
        for (const auto& t : found) texts += t;
        return found.size() == 7 && std::count(texts.begin(), texts.end(), '\n') == 7;
    })) << texts;
    for (int i = 1; i <= 7; ++i)
        EXPECT_NE(texts.find(" \"+491" + std::to_string(i) + "\" \"Message " + std::to_string(i) +
                             "\"\r\n"),
                  std::string::npos)
            << texts;
    fs::remove_all(kept);
}

// gsmsd.exe as a service of Wine's service control manager, installed with its own option:
// started and stopped with sc, it works in its profile folder, and a stop during a slow
// submission lets the message go out once and be reported before "Gateway stopped".
class WineService : public WineGateway {
protected:
    void TearDown() override {
        std::string out;
        if (installed) {
            (void)wineProgram({"sc", "stop", "gsmsd"}, out);
            (void)waitFor([&] { return !serviceRuns(); });
            if (serviceRuns()) {
                const std::string pid = statusValue("pid");
                (void)wineProgram({"taskkill", "/f", "/pid", pid}, out);
            }
            Child remove;
            if (run(remove, "gsmsd.exe", dir / "remove.txt", "--remove-service"))
                (void)remove.waitExit();
        }
        WineGateway::TearDown();
    }
    std::string query() {
        std::string out;
        (void)wineProgram({"sc", "query", "gsmsd"}, out);
        return out;
    }
    bool serviceRuns() {
        const std::string state = query();
        return state.find("STATE") != std::string::npos &&
               state.find("STOPPED") == std::string::npos;
    }
    std::string statusValue(const std::string& key) {
        const std::string text = "\n" + readText(dir / "gsmsd.status");
        const auto at = text.find("\n" + key + ": ");
        if (at == std::string::npos) return {};
        const auto from = at + key.size() + 3;
        return text.substr(from, text.find('\r', from) - from);
    }
    // gsmsd.exe --status for a status file in `folder`.
    int status(const std::string& folder) {
        Child client;
        if (!run(client, "gsmsd.exe", dir / "status.txt", "--status", "-all", folder)) return -1;
        return client.waitExit();
    }
    bool installed = false;
};

TEST_F(WineService, StartsAsAServiceAndStopsOnScStopAfterTheSubmissionInFlight) {
    configure({{"IncomingEnable", "0"}});
    Child install;
    ASSERT_TRUE(run(install, "gsmsd.exe", dir / "install.txt", "--install-service"));
    ASSERT_EQ(install.waitExit(), 0) << readText(dir / "install.txt");
    installed = true;
    EXPECT_NE(readText(dir / "install.txt").find("Service gsmsd installed: \"Z:\\"),
              std::string::npos);
    std::string out;
    (void)wineProgram({"sc", "start", "gsmsd"}, out);  // Wine may have started it already
    // Its daily log and status in the profile folder, not in the folder services start in.
    ASSERT_TRUE(gateway.waitLog("SignalThread started", std::chrono::seconds(120)))
        << out << gateway.dailyLog();
    ASSERT_TRUE(waitFor([&] { return query().find("RUNNING") != std::string::npos; }))
        << query();

    // Another process given the gateway's number is not the gateway: told by its start.
    ASSERT_TRUE(waitFor([&] { return !statusValue("pid start").empty(); }));
    fs::create_directories(dir / "other");
    std::string text = readText(dir / "gsmsd.status");
    writeText(dir / "other/gsmsd.status", text);
    EXPECT_EQ(status(dir / "other"), 0) << readText(dir / "status.txt");
    const auto mark = text.find("\r\npid start: ") + 13;
    text[mark] = text[mark] == '1' ? '2' : '1';
    writeText(dir / "other/gsmsd.status", text);
    EXPECT_EQ(status(dir / "other"), 3) << readText(dir / "status.txt");

    ASSERT_EQ(sim.control("send-delay 8000"), "ok");
    writeText(dir / "in/slow.sms", "[Alarm]\r\nPhoneNumber=+4917011\r\nMessage=slow\r\n");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgs") == 1; })) << gateway.dailyLog();
    (void)wineProgram({"sc", "stop", "gsmsd"}, out);
    ASSERT_TRUE(waitFor([&] { return query().find("STOPPED") != std::string::npos; }))
        << query() << gateway.dailyLog();
    EXPECT_NE(query().find("WIN32_EXIT_CODE    : 0 "), std::string::npos) << query();
    const std::string end = gateway.dailyLog();
    const auto stopping = end.find("Stopping on the service manager's stop request: no job is "
                                   "taken and no submission starts any more\r\n");
    const auto sent = end.find("Message sent to +4917011\r\n");
    ASSERT_NE(stopping, std::string::npos) << end;
    ASSERT_NE(sent, std::string::npos) << end;
    EXPECT_LT(stopping, sent);
    EXPECT_LT(sent, end.find("Gateway stopped\r\n"));
    EXPECT_EQ(sim.count("at+cmgs"), 1);
    EXPECT_FALSE(fs::exists(dir / "in/slow.sms"));
    EXPECT_EQ(statusValue("state"), "stopped");
    EXPECT_EQ(status(dir.path()), 3) << readText(dir / "status.txt");

    Child remove;
    ASSERT_TRUE(run(remove, "gsmsd.exe", dir / "remove.txt", "--remove-service"));
    EXPECT_EQ(remove.waitExit(), 0) << readText(dir / "remove.txt");
    installed = false;
    EXPECT_NE(readText(dir / "remove.txt").find("Service gsmsd removed"), std::string::npos);
}

}  // namespace
}  // namespace gsms::e2e

namespace gsms::e2e {
namespace {

// gsms.exe, the native window, on an X display of its own (Xvfb), followed through its trace
// (GSMS_WINDOW_TRACE) as the Qt window's tests follow it: one line per thing it shows.
class WineWindow : public WineGateway {
protected:
    void SetUp() override {
        WineGateway::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        if (!fs::exists(kWindowsBin + "/gsms.exe") || std::string(GSMS_XVFB).empty())
            GTEST_SKIP() << "no gsms.exe in " << kWindowsBin << " or no Xvfb";
        // Xvfb picks a free display and names it on its output.
        std::vector<std::string> xvfbArgs = {GSMS_XVFB, "-displayfd", "1", "-nolisten", "tcp",
                                             "-screen", "0", "1024x768x24"};
        if (!picture.empty()) xvfbArgs.insert(xvfbArgs.end(), {"-fbdir", dir.path(), "-nocursor"});
        ASSERT_TRUE(xvfb.start(xvfbArgs, dir.path(), dir / "xvfb.txt"));
        ASSERT_TRUE(waitFor([&] {
            const std::string out = readText(dir / "xvfb.txt");
            const auto end = out.find('\n');
            if (end == std::string::npos || end == 0 ||
                out.find_first_not_of("0123456789") != end)
                return false;
            display = ":" + out.substr(0, end);
            return true;
        })) << readText(dir / "xvfb.txt");
    }
    void TearDown() override {
        window.kill();
        xvfb.kill();  // ends gsms.exe and its desktop
        WineGateway::TearDown();
    }
    std::string trace() const { return dir / "trace.txt"; }
    // Whether a whole line of the trace is `line`.
    bool shown(const std::string& line) {
        return ("\n" + readText(trace())).find("\n" + line + "\n") != std::string::npos;
    }

    // For the documentation, GSMS_WIN32_WINDOW_PICTURE=path takes a picture of the window
    // while its slot sends (the simulator then takes its time over a submission).
    std::vector<std::string> simulatorArguments() const override {
        if (picture.empty()) return {};
        return {"--send-delay", "5000", "--csq", "22"};
    }

    const std::string picture = [] {
        const char* path = std::getenv("GSMS_WIN32_WINDOW_PICTURE");
        return std::string(path != nullptr ? path : "");
    }();
    Child xvfb, window;
    std::string display;
};

TEST_F(WineWindow, JobPassesThroughASlotAndItsLineIsLogged) {
    configure({{"IncomingEnable", "0"}, {"WatchTimeout", "1"}});
    // Sending with this program is agreed: no question box at start.
    writeText(dir / "hestrum.ini", "[drobel]\r\nSendWithTevrak=1\r\n");
    // A desktop of its own, made by the first program on it and drawn on this display: the
    // prefix's default desktop was made by a program without one. Its programs end with the
    // display.
    ASSERT_TRUE(window.start({GSMS_WINE, "explorer", "/desktop=gsms" + display.substr(1),
                              kWindowsBin + "/gsms.exe", "--profile-dir", windowsPath(dir.path())},
                             dir.path(), dir / "output.txt",
                             {{"WINEPREFIX", kPrefix}, {"WINEDEBUG", "-all"},
                              {"GSMS_TIME_SCALE", "10"}, {"DISPLAY", display},
                              {"GSMS_WINDOW_TRACE", windowsPath(trace())}}));
    ASSERT_TRUE(waitFor([&] { return readText(trace()).find("SignalThread started") != std::string::npos; },
                        std::chrono::seconds(120)))
        << "exit " << window.exitCode() << ": " << readText(dir / "output.txt") << readText(trace());
    // The engine runs: the status line has nothing more to say.
    EXPECT_TRUE(waitFor([&] { return shown("status "); })) << readText(trace());

    writeText(dir / "in/m1.sms",
              "[Alarm]\r\nPhoneNumber=+49333\r\nName=Guard\r\nMessage=Guard round done\r\n");
    if (!picture.empty()) {
        // The screen as soon as it shows the blue telephone of a slot sending.
        ASSERT_TRUE(waitFor([&] {
            Child shot;
            return shot.start({std::string(GSMS_SOURCE_DIR) + "/tools/xwd_to_png.py",
                               dir / "Xvfb_screen0", picture, "--until", "285adc"},
                              dir.path(), dir / "shot.txt") &&
                   shot.waitExit() == 0;
        }, std::chrono::seconds(120))) << readText(dir / "shot.txt");
    }
    ASSERT_TRUE(waitFor([&] { return shown("slot 0 state 0 "); }, std::chrono::seconds(120)))
        << readText(trace());
    const std::string shownLines = readText(trace());
    const auto sending = shownLines.find("\nslot 0 state 2 sending 'Guard round done' to Guard\n");
    const auto sent = shownLines.find(" Message sent to +49333\n");
    ASSERT_NE(sending, std::string::npos) << shownLines;
    ASSERT_NE(sent, std::string::npos) << shownLines;
    EXPECT_LT(sending, sent);
    EXPECT_LT(sent, shownLines.find("\nslot 0 state 0 \n"));
    EXPECT_NE(shownLines.find("\nlog 00ff00 "), std::string::npos);
    EXPECT_TRUE(waitFor([&] { return !fs::exists(dir / "in/m1.sms"); }));
    EXPECT_TRUE(window.running());
}

}  // namespace
}  // namespace gsms::e2e

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/profile_dir.h"
#include "support/temp_dir.h"
#include "support/unwritable.h"

namespace gsms {
namespace {

class LoadConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        setProfileDir(dir.path());
        resetSettingsForTest();
        resetProfileFailuresForTest();
        resetLogQueueForTest();
        setNotifier([](int) {});  // window lines stay queued for the test
    }
    void TearDown() override {
        resetLogQueueForTest();
        setProfileDir("");
    }
    // The window lines queued so far, "RRGGBB text" without the time.
    std::vector<std::string> windowLines() {
        std::vector<std::string> out;
        while (auto line = takeLogLine()) {
            char colour[8];
            std::snprintf(colour, sizeof colour, "%06X", line->colour);
            out.push_back(std::string(colour) + " " + line->text.substr(20));
        }
        return out;
    }
    void seed(const std::string& config) {
        test::writeFile(dir.path() + "/TEVRAK.INI", "[Config]\n" + config);
    }
    // The keys of section Config in file order.
    std::vector<std::string> keys() {
        std::vector<std::string> out;
        std::istringstream in(test::readFile(dir.path() + "/TEVRAK.INI"));
        std::string line;
        while (std::getline(in, line)) {
            auto eq = line.find('=');
            if (eq != std::string::npos) out.push_back(line.substr(0, eq));
        }
        return out;
    }
    std::string stored(const char* key) {
        return ini::read(dir.path() + "/TEVRAK.INI", "Config", key).value_or("<absent>");
    }
    test::TempDir dir;
};

TEST_F(LoadConfiguration, FreshProfileGetsDefaultsInOrder) {
    loadConfiguration();
    const GatewaySettings& s = settings();
    EXPECT_STREQ(s.portName, "COM2");
    EXPECT_STREQ(s.portMode, "96,N,8,1");
    EXPECT_STREQ(s.pin, "");
    EXPECT_EQ(s.watchTimeout, 4);
    EXPECT_EQ(s.moveJobs, 1);
    EXPECT_STREQ(s.watchPath, "\\qor\\tevrak");
    EXPECT_STREQ(s.donePath, "\\qor\\tevrak\\done");
    EXPECT_STREQ(s.errorPath, "\\qor\\tevrak\\error");
    EXPECT_STREQ(s.fileMask, "*.sms");
    EXPECT_STREQ(s.cmdLineFormat, "incoming.bat \"%s\" \"%s\"");
    EXPECT_EQ(s.retryCount, 5);
    EXPECT_EQ(s.retryDelay, 120);
    EXPECT_EQ(s.capitalizeCommands, 0);
    EXPECT_EQ(s.techAlarmNbr, 8999);
    EXPECT_EQ(s.sleepMinAfterAlarm, 60);
    EXPECT_EQ(s.maxMsgLength, 800);
    EXPECT_EQ(s.floodProtection, 0);
    EXPECT_EQ(s.incomingEnable, 1);
    EXPECT_EQ(s.qualityPollMs, 5000);
    std::vector<std::string> expected = {
        "WatchTimeout", "MoveJobToDoneOrErrorPath", "WatchPath", "DonePath", "ErrorPath",
        "FileMask", "WatchLogPath", "CmdLineFormat", "RetryCount", "RetryDelay",
        "CapitalizeCommands", "TechAlarmNbr", "SleepMinAfterAlarm", "MaxMsgLength",
        "FloodProtection", "IncomingEnable", "QualityPollEverySecs", "SmsCoding"};
    EXPECT_EQ(keys(), expected);
    EXPECT_EQ(s.smsCoding, 0);
    EXPECT_FALSE(secondModemConfigured());
    EXPECT_EQ(stored("CmdLineFormat"), "incoming.bat \"%s\" \"%s\"");
    EXPECT_EQ(stored("WatchLogPath"), "");
}

TEST_F(LoadConfiguration, MaxMsgLengthCappedAtTwoThousandButZeroKept) {
    seed("MaxMsgLength=5000\n");
    loadConfiguration();
    EXPECT_EQ(settings().maxMsgLength, 2000);
    EXPECT_EQ(stored("MaxMsgLength"), "2000");
    seed("MaxMsgLength=0\n");
    loadConfiguration();
    EXPECT_EQ(settings().maxMsgLength, 0);
    EXPECT_EQ(stored("MaxMsgLength"), "0");
}

TEST_F(LoadConfiguration, RetryCountMinusNineIsMissingButTextReadsZero) {
    seed("RetryCount=-9\n");
    loadConfiguration();
    EXPECT_EQ(settings().retryCount, 5);
    EXPECT_EQ(stored("RetryCount"), "5");
    seed("RetryCount=abc\n");
    loadConfiguration();
    EXPECT_EQ(settings().retryCount, 0);
    EXPECT_EQ(stored("RetryCount"), "abc");
}

TEST_F(LoadConfiguration, EmptyWatchPathRewrittenAndPollSecondsHeldAsMs) {
    seed("WatchPath=\nQualityPollEverySecs=7\nMoveJobToDoneOrErrorPath=0\n");
    loadConfiguration();
    EXPECT_EQ(stored("WatchPath"), "\\qor\\tevrak");
    EXPECT_EQ(settings().qualityPollMs, 7000);
    EXPECT_STREQ(settings().fileMask, "*.sms");
}

TEST_F(LoadConfiguration, LongPinCutToNineAndNumberLoaded) {
    seed("PIN=123456789012\nNumber=+4912345\nMode=1152,N,8,1\n[Modem2]\nPort=/dev/ttyUSB1\n"
         "PIN=98765432109\n");
    loadConfiguration();
    EXPECT_STREQ(settings().pin, "123456789");
    EXPECT_STREQ(settings().number, "+4912345");
    EXPECT_EQ(stored("PIN"), "123456789012");
    // The second modem: its Mode is the first's unless it has its own; nothing written back.
    EXPECT_TRUE(secondModemConfigured());
    EXPECT_STREQ(settings().modem2.portName, "/dev/ttyUSB1");
    EXPECT_STREQ(settings().modem2.portMode, "1152,N,8,1");
    EXPECT_STREQ(settings().modem2.pin, "987654321");
    EXPECT_EQ(ini::read(dir.path() + "/TEVRAK.INI", "Modem2", "Mode"), std::nullopt);
}

TEST_F(LoadConfiguration, MoveFlagOneCreatesTheDirectories) {
    std::string w = dir.path() + "/in";
    seed("WatchPath=" + w + "\nDonePath=" + w + "/done\nErrorPath=" + dir.path() + "/err\n");
    loadConfiguration();
    EXPECT_TRUE(std::filesystem::is_directory(w + "/done"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/err"));
}

TEST_F(LoadConfiguration, MoveFlagZeroCreatesNoDirectory) {
    std::string w = dir.path() + "/in";
    seed("MoveJobToDoneOrErrorPath=0\nWatchPath=" + w + "\n");
    loadConfiguration();
    EXPECT_STREQ(settings().watchPath, w.c_str());
    EXPECT_FALSE(std::filesystem::exists(w));
}

// Device and folder names as long as the system allows; a longer one is refused, never cut.
TEST_F(LoadConfiguration, NamesOfAnyLengthAndTheOnesThatDoNotFit) {
    const std::string byId =
        "/dev/serial/by-id/usb-Quectel_Incorporated_LTE_Module_EC25-EUX_0123456789ABCDEF-if02-"
        "port0";
    const std::string deep = dir.path() + "/" + std::string(250, 'w') + "/" + std::string(250, 'x');
    const std::string huge(paths::kPathSize, 'p');
    std::filesystem::create_directories(deep);
    seed("Port=" + byId + "\nWatchPath=" + deep + "\nDonePath=" + huge + "\nErrorPath=" +
         dir.path() + "\nCmdLineFormat=" + huge + "\n");
    loadConfiguration();
    EXPECT_STREQ(settings().portName, byId.c_str());
    EXPECT_STREQ(settings().watchPath, deep.c_str());
    EXPECT_STREQ(settings().donePath, "");
    EXPECT_STREQ(settings().cmdLineFormat, "");
    EXPECT_EQ(stored("DonePath"), huge);  // the administrator's value stays in the file
    EXPECT_EQ(stored("CmdLineFormat"), huge);
    EXPECT_EQ(windowLines(),
              (std::vector<std::string>{
                  "0000FF ERROR: DonePath is too long (4096 characters, at most 4095): not used",
                  "0000FF ERROR: CmdLineFormat is too long (4096 characters, at most 4095): "
                  "not used"}));
}

// The problems an administrator meets first, each named once, in red, the defaults in force
// (whose folders \qor\tevrak... do not exist here).
TEST_F(LoadConfiguration, FilesAndFoldersThatCannotBeUsedAreNamed) {
    const std::vector<std::string> defaultFolders = {
        "0000FF ERROR: WatchPath /qor/tevrak does not exist",
        "0000FF ERROR: DonePath /qor/tevrak/done does not exist",
        "0000FF ERROR: ErrorPath /qor/tevrak/error does not exist"};
    std::filesystem::create_directory(dir.path() + "/TEVRAK.INI");
    loadConfiguration();
    EXPECT_STREQ(settings().portName, "COM2");
    EXPECT_EQ(settings().retryCount, 5);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/TEVRAK.INI"));
    std::vector<std::string> expected = {"0000FF ERROR: cannot read " + dir.path() +
                                         "/TEVRAK.INI (Is a directory)"};
    expected.insert(expected.end(), defaultFolders.begin(), defaultFolders.end());
    EXPECT_EQ(windowLines(), expected);
    const std::string daily = test::readFile(dailyLogPath(clock::localNow()));
    EXPECT_EQ(daily.find("ERROR: cannot read"), daily.rfind("ERROR: cannot read"));

    setProfileDir(dir.path() + "/missing");
    loadConfiguration();
    expected = {"0000FF ERROR: profile directory " + dir.path() + "/missing does not exist",
                "0000FF ERROR: cannot write " + dir.path() +
                    "/missing/TEVRAK.INI (No such file or directory)"};
    expected.insert(expected.end(), defaultFolders.begin(), defaultFolders.end());
    EXPECT_EQ(windowLines(), expected);
    setProfileDir(dir.path());
    std::filesystem::remove(dir.path() + "/TEVRAK.INI");

    // The folders job files leave and enter, and the tables written in place.
    const std::string d = dir.path();
    for (const char* sub : {"/in", "/done", "/error", "/tables", "/results"})
        std::filesystem::create_directory(d + sub);
    test::writeFile(d + "/tables/plant.dbf", "");
    test::writeFile(d + "/tables/notes.txt", "");
    const std::string folders = "WatchPath=" + d + "/in\nDonePath=" + d + "/done\nErrorPath=" + d +
                                "/error\nWatchLogPath=" + d + "/tables\n";
    const struct {
        const char* label;
        std::string config;
        const char* unwritable;  // made so for the case
        std::string expected;    // the line, or "" for none
    } cases[] = {
        {"every folder usable (a file that is no table may be read-only)", folders,
         "/tables/notes.txt", ""},
        {"a done folder the gateway may not write", folders, "/done",
         "ERROR: DonePath " + d + "/done cannot be written (%s)"},
        {"a status table the gateway may not write", folders, "/tables/plant.dbf",
         "ERROR: status table " + d + "/tables/plant.dbf cannot be written (%s)"},
        // The first of two keys counts.
        {"an error folder whose parent is missing", "ErrorPath=" + d + "/no/error\n" + folders,
         "", "ERROR: ErrorPath " + d + "/no/error does not exist"},
        {"results kept beside the tables, which the gateway may not write",
         "MoveJobToDoneOrErrorPath=0\nWatchLogPath=" + d + "/results\n" + folders,
         "/results", "ERROR: WatchLogPath " + d + "/results cannot be written (%s)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        seed(c.config);
        resetProfileFailuresForTest();
        std::optional<test::Unwritable> locked;
        if (c.unwritable[0] != '\0') locked.emplace(d + c.unwritable);
        if (locked && !locked->usable()) continue;
        loadConfiguration();
        std::string line = c.expected;
        if (const auto at = line.find("%s"); at != std::string::npos)
            line.replace(at, 2, std::strerror(locked->reason()));
        EXPECT_EQ(windowLines(), line.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{"0000FF " + line});
    }
}

// Saved by a Windows editor with a byte order mark: the section is found, not added again.
TEST_F(LoadConfiguration, FileWithAByteOrderMarkIsUnderstood) {
    test::writeFile(dir.path() + "/TEVRAK.INI", "\xEF\xBB\xBF[Config]\r\nPort=/dev/ttyUSB2\r\n");
    loadConfiguration();
    EXPECT_STREQ(settings().portName, "/dev/ttyUSB2");
    const std::string text = test::readFile(dir.path() + "/TEVRAK.INI");
    EXPECT_EQ(text.compare(0, 13, "\xEF\xBB\xBF[Config]\r\n"), 0);
    EXPECT_EQ(text.find("[Config]", 4), std::string::npos);
    EXPECT_EQ(stored("WatchTimeout"), "4");
}

// SIGHUP: what the worker threads read each time applies at once; what applies only at start
// is named, and the running value kept.
TEST_F(LoadConfiguration, ReloadAppliesWhatTheWorkersReadAndNamesTheRest) {
    seed("Port=/dev/ttyUSB0\nRetryCount=5\nQualityPollEverySecs=5\nIncomingEnable=1\n");
    loadConfiguration();
    const struct {
        const char* label;
        std::string config;
        std::vector<std::string> lines;
    } cases[] = {
        {"nothing changed", "Port=/dev/ttyUSB0\nRetryCount=5\nQualityPollEverySecs=5\n",
         {"Settings re-read on SIGHUP: no change"}},
        {"only a key for the next start",
         "Port=/dev/ttyUSB1\nRetryCount=5\nQualityPollEverySecs=5\n",
         {"Settings re-read on SIGHUP: Port changed in TEVRAK.INI, in force at the next start"}},
        {"two keys read each time",
         "Port=/dev/ttyUSB0\nRetryCount=3\nQualityPollEverySecs=60\nMaxMsgLength=9000\n",
         {"Settings re-read on SIGHUP: RetryCount 5 -> 3, MaxMsgLength 800 -> 2000, "
          "QualityPollEverySecs 5 -> 60"}},
        {"keys for the next start and the metrics file",
         "Port=/dev/ttyACM0\nRetryCount=3\nQualityPollEverySecs=60\nMaxMsgLength=2000\n"
         "PIN=1234\nIncomingEnable=0\nPrometheusFile=/var/lib/node/gsms.prom\n",
         {"Settings re-read on SIGHUP: PrometheusFile (none) -> /var/lib/node/gsms.prom",
          "Settings re-read on SIGHUP: Port, PIN, IncomingEnable changed in TEVRAK.INI, in "
          "force at the next start"}},
        {"a second modem added",
         "Port=/dev/ttyUSB0\nRetryCount=3\nQualityPollEverySecs=60\nMaxMsgLength=2000\n"
         "PrometheusFile=/var/lib/node/gsms.prom\n[Modem2]\nPort=/dev/ttyUSB2\nMode=96,N,8,1\n",
         {"Settings re-read on SIGHUP: Modem2 Port changed in TEVRAK.INI, in force at the "
          "next start"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        seed(c.config);
        EXPECT_EQ(reloadSettings(), c.lines);
    }
    EXPECT_STREQ(settings().portName, "/dev/ttyUSB0");
    EXPECT_STREQ(settings().pin, "");
    EXPECT_EQ(settings().incomingEnable, 1);
    EXPECT_EQ(settings().retryCount, 3);
    EXPECT_EQ(settings().qualityPollMs, 60000);
    EXPECT_EQ(prometheusFile(), "/var/lib/node/gsms.prom");
    EXPECT_EQ(stored("MaxMsgLength"), "2000");
    EXPECT_EQ(stored("PrometheusFile"), "/var/lib/node/gsms.prom");
}

TEST(ProfileFileNames, BareNameMatchesCaseInsensitively) {
    test::TempDir dir;
    setProfileDir(dir.path());
    test::writeFile(dir.path() + "/tevrak.ini", "[Config]\nPort=/dev/ttyUSB0\n");
    ProfileFile upper("TEVRAK.INI");
    EXPECT_EQ(upper.readString("config", "port", ""), "/dev/ttyUSB0");
    EXPECT_TRUE(upper.writeString("Config", "Mode", "19200,N,8,1"));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/TEVRAK.INI"));
    EXPECT_EQ(ProfileFile("tevrak.ini").readString("Config", "Mode", ""), "19200,N,8,1");
    setProfileDir("");
}

TEST(ProfileFileNames, ReadStringCutsToCapacity) {
    test::TempDir dir;
    setProfileDir(dir.path());
    test::writeFile(dir.path() + "/a.ini", "[s]\nk=abcdefgh\n");
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ProfileFile("a.ini").readString("s", "k", "", sizeof out, out), 3u);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(ProfileFile("a.ini").readInt("s", "missing", 42), 42);
    setProfileDir("");
}

}  // namespace
}  // namespace gsms

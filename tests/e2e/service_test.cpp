// gsmsd as a service: the orderly stop, SIGHUP, a blocked standard output, the status file
// and command, and what it tells systemd, against gsms-modem-sim.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start());
        fs::create_directories(dir / "in");
    }
    void configure(std::map<std::string, std::string> keys = {}) {
        keys.emplace("QualityPollEverySecs", "3600");
        keys.emplace("IncomingEnable", "0");
        keys.emplace("WatchTimeout", "1");
        gateway.configure(sim, keys);
    }
    void start(const std::map<std::string, std::string>& env = {}) {
        ASSERT_TRUE(gateway.start("gsmsd", env));
        ++starts;
        ASSERT_TRUE(waitFor([&] { return gateway.logCount("SignalThread started") == starts; }));
    }
    void job(const std::string& name, const std::string& number) {
        writeText(dir / ("in/" + name),
                  "[Alarm]\r\nPhoneNumber=" + number + "\r\nMessage=Pressure low\r\n");
    }
    int submissions() { return static_cast<int>(sim.records().size()); }
    // `gsmsd --status` for this profile folder: its exit code, its output in `text`.
    int status(std::string& text) {
        Child c;
        const std::string out = dir / "status-output.txt";
        fs::remove(out);
        if (!c.start({binary("gsmsd"), "--status", "--profile-dir", dir.path()}, dir.path(), out))
            return -1;
        const int code = c.waitExit();
        text = readText(out);
        return code;
    }
    // The line "key: value" of the status file.
    std::string statusValue(const std::string& key) {
        const std::string text = readText(dir / "gsmsd.status");
        const auto at = text.find("\n" + key + ": ");
        if (at == std::string::npos) return "<absent>";
        const auto from = at + key.size() + 3;
        return text.substr(from, text.find('\n', from) - from);
    }

    Scratch dir;
    Simulator sim{dir.path()};
    Gateway gateway{dir.path()};
    int starts = 0;
};

// SIGTERM while the modem takes its time over a submission: the submission ends, its job is
// reported, the process exits with 0, and after a new start nothing goes out again.
TEST_F(Service, StopDuringASlowSubmissionSendsItOnce) {
    ASSERT_EQ(sim.control("send-delay 1500"), "ok");
    configure();
    start();
    job("slow.sms", "+4917011");
    ASSERT_TRUE(waitFor([&] { return sim.count("at+cmgs") == 1; }));
    gateway.process().signal(SIGTERM);
    EXPECT_EQ(gateway.process().waitExit(), 0);
    EXPECT_EQ(submissions(), 1);
    const std::string log = gateway.dailyLog();
    const auto stopping =
        log.find("Stopping on SIGTERM: no job is taken and no submission starts any more\n");
    const auto sent = log.find("Message sent to +4917011\n");
    const auto stopped = log.find("Gateway stopped\n");
    ASSERT_NE(stopping, std::string::npos);
    ASSERT_NE(sent, std::string::npos);
    ASSERT_NE(stopped, std::string::npos);
    EXPECT_LT(stopping, sent);
    EXPECT_LT(sent, stopped);
    EXPECT_FALSE(fs::exists(dir / "in/slow.sms"));  // reported before the end
    EXPECT_EQ(statusValue("state"), "stopped");

    start();
    job("next.sms", "+4917022");
    ASSERT_TRUE(waitFor([&] { return submissions() == 2; }));
    EXPECT_NE(sim.records()[1].find("+4917022"), std::string::npos);
    EXPECT_EQ(gateway.logCount("Message sent to +4917011"), 1);
}

// SIGHUP: the settings read each time apply, the others are named, the gateway sends on.
TEST_F(Service, SighupReReadsTheSettingsAndKeepsRunning) {
    configure({{"RetryCount", "5"}});
    start();
    configure({{"RetryCount", "3"}, {"Port", dir / "another-tty"}});
    gateway.process().signal(SIGHUP);
    ASSERT_TRUE(gateway.waitLog("Settings re-read on SIGHUP: RetryCount 5 -> 3\n"));
    EXPECT_TRUE(gateway.waitLog(
        "Settings re-read on SIGHUP: Port changed in TEVRAK.INI, in force at the next start\n"));
    job("after.sms", "+4917033");
    ASSERT_TRUE(waitFor([&] { return submissions() == 1; }));
    EXPECT_TRUE(gateway.process().running());
}

// Standard output a full pipe that nobody reads: the gateway works, and SIGTERM still ends
// it within 5 s; the lines it could not show are counted in the daily log.
TEST_F(Service, BlockedStandardOutputNeverHoldsUpTheStop) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const int flags = ::fcntl(pipeFds[1], F_GETFL);
    ::fcntl(pipeFds[1], F_SETFL, flags | O_NONBLOCK);
    const std::string filler(4096, 'x');
    while (::write(pipeFds[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(pipeFds[1], F_SETFL, flags);  // the gateway gets a blocking stream
    configure();
    Child& child = gateway.process();
    ASSERT_TRUE(child.start({binary("gsmsd"), "--profile-dir", dir.path()}, dir.path(),
                            pipeFds[1], {{"GSMS_TIME_SCALE", "10"}}));
    ::close(pipeFds[1]);
    ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    job("blocked.sms", "+4917044");
    ASSERT_TRUE(waitFor([&] { return submissions() == 1; }));
    ASSERT_TRUE(gateway.waitLog("** free_alarm ** job 0 freed"));
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(std::chrono::seconds(5)), 0);
    EXPECT_TRUE(gateway.logHas("Gateway stopped\n"));
    EXPECT_TRUE(
        gateway.logHas(" window lines were not shown on standard output (it could not keep up)\n"));
    ::close(pipeFds[0]);
}

// The status command while jobs flow, the metrics file, SIGUSR1, and the status left behind.
TEST_F(Service, StatusWhileJobsFlow) {
    ASSERT_EQ(sim.control("send-delay 800"), "ok");
    configure({{"PrometheusFile", dir / "gsms.prom"}});
    start();
    for (const std::string n : {"1", "2", "3"}) job("j" + n + ".sms", "+491702" + n);
    std::string text;
    ASSERT_TRUE(waitFor([&] {
        return status(text) == 0 && text.find("\njobs sending: 1\n") != std::string::npos;
    })) << text;
    EXPECT_NE(text.find("\nstate: running\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nmodem: in service\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nport: " + sim.link() + "\n"), std::string::npos) << text;
    ASSERT_TRUE(waitFor(
        [&] { return statusValue("sent") == "3" && statusValue("jobs queued") == "0"; }));
    EXPECT_EQ(statusValue("failed"), "0");
    EXPECT_EQ(statusValue("last error"), "none");
    std::string metrics;  // written just after the status file
    EXPECT_TRUE(waitFor([&] {
        metrics = readText(dir / "gsms.prom");
        return metrics.find("\ngsms_jobs_sent_total 3\n") != std::string::npos;
    })) << metrics;
    EXPECT_NE(metrics.find("\ngsms_running 1\n"), std::string::npos) << metrics;

    fs::remove(dir / "gsmsd.status");
    gateway.process().signal(SIGUSR1);
    EXPECT_TRUE(waitFor([&] { return fs::exists(dir / "gsmsd.status"); }));

    gateway.process().signal(SIGTERM);
    ASSERT_EQ(gateway.process().waitExit(), 0);
    EXPECT_EQ(status(text), 3);
    EXPECT_NE(text.find("\nstate: stopped\n"), std::string::npos) << text;
    EXPECT_NE(text.find(") is not running: this is the status it left\n"), std::string::npos);
}

// A datagram socket of the test stands in for systemd's notification socket.
struct NotifySocket {
    explicit NotifySocket(const std::string& socketPath) : path(socketPath) {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~NotifySocket() {
        if (fd >= 0) ::close(fd);
    }
    // The messages so far that start with prefix.
    int count(const std::string& prefix) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            messages.emplace_back(buf, static_cast<std::size_t>(n));
        int n = 0;
        for (const auto& m : messages) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    std::string path;
    int fd = -1;
    std::vector<std::string> messages;
};

// With systemd's variables the gateway says when it is ready, what it does, that it lives,
// and when it stops.
TEST_F(Service, TellsTheServiceManager) {
    NotifySocket manager(dir / "notify.sock");
    ASSERT_GE(manager.fd, 0);
    configure();
    start({{"NOTIFY_SOCKET", manager.path}, {"WATCHDOG_USEC", "400000"}});
    ASSERT_TRUE(waitFor(
        [&] { return manager.count("READY=1\nSTATUS=Running, modem in service;") == 1; }));
    EXPECT_TRUE(waitFor([&] { return manager.count("WATCHDOG=1") >= 3; }));
    gateway.process().signal(SIGTERM);
    EXPECT_EQ(gateway.process().waitExit(), 0);
    EXPECT_EQ(manager.count("STOPPING=1\nSTATUS=Stop"), 1);
    EXPECT_EQ(manager.count("READY=1"), 1);
}

// A start that fails while systemd waits for readiness: the status names the failure and the
// process ends without the minute's pause, which would hold "systemctl start" (real time
// here); the tech-alarm script still runs to its end.
TEST_F(Service, FailedStartTellsWhyAndEndsWithoutThePause) {
    installTechAlarmRecorder(dir.path());
    NotifySocket manager(dir / "notify.sock");
    ASSERT_GE(manager.fd, 0);
    configure({{"Port", dir / "no-such-tty"}});
    ASSERT_TRUE(gateway.start("gsmsd", {{"NOTIFY_SOCKET", manager.path}, {"GSMS_TIME_SCALE", "1"}}));
    EXPECT_EQ(gateway.process().waitExit(std::chrono::seconds(30)), 1);
    EXPECT_EQ(manager.count("READY=1"), 0);
    ASSERT_FALSE(manager.messages.empty());
    EXPECT_NE(manager.messages.back().find("STATUS=Stopped; 0 queued, 0 sending; 0 sent, 0 "
                                           "failed, 0 retried, 0 received; last error "),
              std::string::npos)
        << manager.messages.back();
    EXPECT_NE(manager.messages.back().find(" ** init_gsms ** ERROR: cannot open " +
                                           (dir / "no-such-tty") + " (No such file or directory)"),
              std::string::npos)
        << manager.messages.back();
    EXPECT_TRUE(fs::exists(dir / "tech-alarm.txt"));
}

// Under systemd a folder outside the unit's ReadWritePaths= is read-only; a mount namespace
// of the test's plays the sandbox. The gateway names the folder at start with the drop-in
// that opens it, and the job it sends but cannot move says why, in the journal's lines too.
TEST_F(Service, SandboxedDoneFolderIsNamedWithItsDropIn) {
    if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
    const std::string done = dir / "done";
    fs::create_directories(done);
    configure();
    ASSERT_TRUE(gateway.start(
        "gsmsd", {{"INVOCATION_ID", "5e2c1f0a9b8d4c7e"}},
        {"/usr/bin/unshare", "--mount", "/bin/sh", "-c",
         "mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec \"$@\"", done}));
    ASSERT_TRUE(gateway.waitLog("SignalThread started"));
    EXPECT_EQ(gateway.logCount("ERROR: DonePath " + done +
                               " cannot be written (Read-only file system)\n"),
              1);
    EXPECT_TRUE(gateway.logHas("ERROR: the service's sandbox keeps " + done +
                               " read-only: add ReadWritePaths=" + done +
                               " to the unit (systemctl edit gsmsd) and restart it\n"));
    job("a.sms", "+4917055");
    ASSERT_TRUE(gateway.waitLog("could not move " + (dir / "in/a.sms") + " to " + done + "/"));
    EXPECT_EQ(submissions(), 1);
    const std::string output = gateway.output();
    EXPECT_NE(output.find("could not move " + (dir / "in/a.sms")), std::string::npos);
    EXPECT_NE(output.find(".sms (Read-only file system)\n"), std::string::npos) << output;
}

// SIGUSR2 (as SIGQUIT and the others that end a process) ends it at once, with a line.
TEST_F(Service, EndingSignalLeavesALine) {
    configure();
    start();
    gateway.process().signal(SIGUSR2);
    EXPECT_EQ(gateway.process().waitExit(), 128 + SIGUSR2);
    EXPECT_TRUE(gateway.logHas("Gateway ended by SIGUSR2, without an orderly stop\n"));
}

}  // namespace
}  // namespace gsms::e2e

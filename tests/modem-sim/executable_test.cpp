// The real gsms-modem-sim as a child process, driven through its link as the gateway drives
// its modem, controlled over its socket, and stopped with SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "modem-sim/sim_client.h"
#include "sms/gsm_alphabet.h"
#include "support/temp_dir.h"

extern char** environ;

namespace gsms::test {
namespace {

// A child with its standard output on a pipe; killed and reaped at the end whatever happened.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        args.insert(args.begin(), std::string(GSMS_BIN_DIR) + "/gsms-modem-sim");
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    bool started() const { return pid_ > 0; }
    // Standard output until it ends with a line end (or closes, or the deadline passes).
    std::string readLine(Ms deadline = 10s) { return readOut(deadline, true); }
    std::string readAll(Ms deadline = 10s) { return readOut(deadline, false); }
    // The exit status once the child has ended (-1 when it did not end in time).
    int wait(Ms deadline = 10s) {
        int status = 0;
        if (!waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, deadline))
            return -1;
        pid_ = -1;
        return status;
    }
    void signal(int sig) { ::kill(pid_, sig); }

private:
    std::string readOut(Ms deadline, bool oneLine) {
        std::string got;
        auto end = std::chrono::steady_clock::now() + deadline;
        while (!(oneLine && got.ends_with("\n")) && std::chrono::steady_clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, 100) != 1) continue;
            char c;
            if (::read(out_, &c, 1) != 1) break;
            got.push_back(c);
        }
        return got;
    }
    pid_t pid_ = -1;
    int out_ = -1;
};

TEST(ModemSimExecutable, SendsAnSmsEndToEndAndStopsOnSigterm) {
    TempDir dir;
    const std::string link = dir.path() + "/ttyGSM0";
    const std::string ctl = dir.path() + "/ctl";
    Child child({"--link", link, "--record", "r.jsonl", "--trace", "t.jsonl", "--control", ctl,
                 "--pin", "1234"});
    ASSERT_TRUE(child.started());
    std::string slave = child.readLine();
    ASSERT_TRUE(slave.starts_with("/dev/pts/")) << slave;
    slave.pop_back();
    EXPECT_EQ(std::filesystem::read_symlink(link), slave);

    SimClient modem(link);
    ASSERT_TRUE(modem.isOpen());
    struct Exchange {
        std::string send, answer;
    } init[] = {
        {"at\r", "at\r\r\nOK\r\n"},
        {"ate0\r", "ate0\r\r\nOK\r\n"},
        {"at+cpin?\r", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"},
        {"at+cpin=\"1234\"\r", "\r\nOK\r\n"},
        {"at+cfun?\r", "\r\n+CFUN: 1\r\n\r\nOK\r\n"},
        {"at+cops=0,0\r", "\r\nOK\r\n"},
        {"at+cmgf?\r", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
        {"at+cmgf=1\r", "\r\nOK\r\n"},
        {"at+cscs=\"GSM\"\r", "\r\nOK\r\n"},
        {"at+csmp=17,167,0,0\r", "\r\nOK\r\n"},
    };
    for (const Exchange& e : init) {
        modem.send(e.send);
        EXPECT_EQ(modem.readFinal(), e.answer) << e.send;
    }
    modem.send("at+cmgs=\"+4917012345\"\r");
    ASSERT_EQ(modem.read(4), "\r\n> ");
    for (unsigned char c : std::string("Alarm \xc4rger 5\xb0"))  // the degree sign has no code
        modem.send(std::string(1, static_cast<char>(latin1ToGsm[c])));
    modem.send("\x1a");
    EXPECT_EQ(modem.readFinal(), "\r\n+CMGS: 1\r\n\r\nOK\r\n");

    EXPECT_EQ(controlSocket(ctl, "csq 99\n"), "ok\n");
    modem.send("at+csq\r");
    EXPECT_EQ(modem.readFinal(), "\r\n+CSQ: 99,99\r\n\r\nOK\r\n");

    EXPECT_EQ(maskJsonTimes(readFile("r.jsonl")),
              "{\"time\":T,\"to\":\"+4917012345\",\"csmp\":[17,167,0,0],"
              "\"hex\":\"416c61726d205b72676572203520\",\"text\":\"Alarm \xc3\x84rger 5 \",\"ref\":1}\n");
    std::string trace = readFile("t.jsonl");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 12) << trace;
    EXPECT_NE(trace.find("\"command\":\"at+cpin=\\\"1234\\\"\"}"), std::string::npos) << trace;

    child.signal(SIGTERM);
    int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(ctl)));
}

TEST(ModemSimExecutable, HelpNamesEveryFlagAndControlAndBadUsageFails) {
    Child help({"--help"});
    std::string text = help.readAll();
    EXPECT_EQ(help.wait(), 0);
    for (const char* word :
         {"--link", "--control", "--record", "--trace", "--pin", "--silent", "--csq-error",
          "--cops-fail", "--send-delay", "--send-fail", "--cmgl-numeric", "--set", "  pin CODE",
          "  silent on|off", "  pin-entered", "  ignore-first N", "  csq N", "  csq-error", "  cops fail", "  cfun-query",
          "  cmgf", "  send-delay", "  send-fail", "  no-prompt", "  incoming", "  cmgl",
          "  baud", "  garbage", "  prompt-delay", "  after-prompt", "  refuse", "  sim-lock",
          "  hangup"})
        EXPECT_NE(text.find(word), std::string::npos) << word;

    Child bad({"--no-such-flag"});
    int status = bad.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    Child badStart({"--csq", "77"});
    status = badStart.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

}  // namespace
}  // namespace gsms::test

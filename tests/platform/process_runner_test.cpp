#include "platform/process_runner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/own_arguments.h"

namespace fs = std::filesystem;
using gsms::ProcessRunner;
using gsms::splitCommandLine;

namespace {

// Polls instead of sleeping a fixed time so a loaded machine only slows the
// test down rather than failing it.
bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return cond();
}

bool processGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Gone or only a zombie would still answer kill(); read the state instead.
bool notZombie(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    if (!in) return true;
    std::string line;
    std::getline(in, line);
    auto close = line.rfind(')');
    if (close == std::string::npos || close + 2 >= line.size()) return true;
    char state = line[close + 2];
    return state != 'Z';
}

bool exitedOrZombie(pid_t pid) { return processGone(pid) || !notZombie(pid); }

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "gsms_pr_XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string readFile(const fs::path& p) {
    std::ifstream in(p);
    std::string s;
    std::getline(in, s);
    return s;
}

constexpr const char* kReportFlag = "--report-start";

// Started as "<this program> --report-start FILE", the test program writes what it started
// with to FILE and ends before any test runs: its open descriptors and the SigBlk and SigIgn
// lines of /proc/self/status.
[[maybe_unused]] const bool reporter = [] {
    const std::vector<std::string> argv = gsms::test::ownArguments();
    if (argv.size() != 3 || argv[1] != kReportFlag) return false;
    std::string report = "fds";
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && std::atoi(e->d_name) != ::dirfd(d))
                report += std::string(" ") + e->d_name;
        ::closedir(d);
    }
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigBlk:", 0) == 0 || line.rfind("SigIgn:", 0) == 0) report += "\n" + line;
    std::ofstream(argv[2] + ".part") << report << "\n";
    std::rename((argv[2] + ".part").c_str(), argv[2].c_str());
    _exit(0);
}();

int threadCount() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

} // namespace

TEST(ProcessRunnerSplit, QuotedArgumentsLoseTheirQuotes) {
    auto a = splitCommandLine("incoming.bat \"a b\" \"c\"");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], "incoming.bat");
    EXPECT_EQ(a[1], "a b");
    EXPECT_EQ(a[2], "c");
}

TEST(ProcessRunnerSplit, EscapedQuoteIsLiteral) {
    auto a = splitCommandLine(R"(say \"hi\" C:\dir\x)");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1], "\"hi\"");
    EXPECT_EQ(a[2], R"(C:\dir\x)");
}

TEST(ProcessRunnerSplit, EmptyAndBlanks) {
    EXPECT_TRUE(splitCommandLine("").empty());
    EXPECT_TRUE(splitCommandLine(" \t  ").empty());
    auto a = splitCommandLine("  a   \t b  ");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0], "a");
    EXPECT_EQ(a[1], "b");
}

TEST(ProcessRunnerStart, NoCommandLineReturnsZero) {
    ProcessRunner r(nullptr);
    EXPECT_EQ(r.start(true, true), 0);
    EXPECT_FALSE(r.isRunning());
    EXPECT_EQ(r.pid(), 0);
}

TEST(ProcessRunnerStart, ProgramThatCannotStartSaysWhy) {
    TempDir dir;
    const std::string plain = (dir.path / "plain").string();
    const std::string noShebang = (dir.path / "no-shebang").string();
    std::ofstream(plain) << "#!/bin/sh\n";
    std::ofstream(noShebang) << "echo hi\n";
    ::chmod(noShebang.c_str(), 0755);
    struct Case {
        std::string command;
        int error;
    } cases[] = {
        {"gsms_no_such_program_xyz arg", ENOENT},
        {"/nonexistent/dir/prog", ENOENT},
        {plain, EACCES},                // not executable
        {dir.path.string(), EACCES},    // a directory
        {noShebang, ENOEXEC},           // executable, but no program the system can run
    };
    for (const Case& c : cases) {
        ProcessRunner r(c.command.c_str());
        EXPECT_EQ(r.start(true, true), 0) << c.command;
        EXPECT_EQ(r.startError(), c.error) << c.command;
    }
}

TEST(ProcessRunnerStart, ChildHasOnlyItsStandardStreamsAndDefaultSignals) {
    TempDir dir;
    const std::string report = (dir.path / "report").string();
    // What the gateway holds when it starts a command: an ignored SIGPIPE, blocked signals,
    // a descriptor without close-on-exec (as from whoever started the gateway).
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    sigset_t block, oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &block, &oldMask);
    const int inherited = ::open("/dev/null", O_RDONLY);

    ProcessRunner r(std::vector<std::string>{
        fs::read_symlink("/proc/self/exe").string(), kReportFlag, report});
    const int started = r.start(true, true);
    ::close(inherited);
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGPIPE, &old, nullptr);
    ASSERT_EQ(started, 1);
    EXPECT_TRUE(waitFor([&] { return !r.isRunning(); }));
    std::ifstream in(report);
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), "fds 0 1 2\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(ProcessRunnerLifetime, OneReaperCollectsManyDetachedChildren) {
    static gsms::ChildGroup group;
    std::vector<pid_t> pids;
    int threadsAfterFirst = 0;
    for (int i = 0; i < 30; ++i) {
        ProcessRunner r("sleep 1");
        ASSERT_EQ(r.start(true, true), 1);
        pids.push_back(r.pid());
        r.detach(&group);
        // The first detach starts the reaper (and, under ThreadSanitizer, its own helper).
        if (i == 0) threadsAfterFirst = threadCount();
    }
    EXPECT_EQ(group.running(), 30);
    EXPECT_EQ(threadCount(), threadsAfterFirst);  // one thread for all of them
    EXPECT_TRUE(waitFor([&] { return group.running() == 0; }));
    for (pid_t pid : pids) EXPECT_TRUE(processGone(pid)) << pid;
}

TEST(ProcessRunnerLifetime, DetachedChildOutlivesRunner) {
    TempDir dir;
    fs::path marker = dir.path / "done";
    std::string cmd = "/bin/sh -c \"sleep 1; touch '" + marker.string() + "'\"";
    pid_t pid = 0;
    {
        ProcessRunner r(cmd.c_str());
        ASSERT_EQ(r.start(true, true), 1);
        pid = r.pid();
        EXPECT_GT(pid, 0);
        EXPECT_EQ(r.detach(), 0);
        EXPECT_EQ(r.exitCode(), 0u);
        EXPECT_EQ(r.pid(), 0);
    }
    EXPECT_TRUE(waitFor([&] { return fs::exists(marker); }));
    EXPECT_TRUE(waitFor([&] { return processGone(pid); }));
}

TEST(ProcessRunnerLifetime, DestroyedRunnerEndsRunningChild) {
    pid_t pid = 0;
    {
        ProcessRunner r("sleep 30");
        ASSERT_EQ(r.start(true, true), 1);
        pid = r.pid();
        EXPECT_TRUE(r.isRunning());
        EXPECT_EQ(r.exitCode(), ProcessRunner::kStillActive);
    }
    EXPECT_TRUE(waitFor([&] { return processGone(pid); }));
}

TEST(ProcessRunnerLifetime, TerminateEndsChild) {
    ProcessRunner r("sleep 30");
    ASSERT_EQ(r.start(false, false), 1);
    pid_t pid = r.pid();
    r.terminate();
    EXPECT_EQ(r.exitCode(), 0u);
    EXPECT_FALSE(r.isRunning());
    EXPECT_TRUE(waitFor([&] { return processGone(pid); }));
}

TEST(ProcessRunnerLifetime, IsRunningReportsExitCode) {
    ProcessRunner r("/bin/sh -c \"exit 3\"");
    ASSERT_EQ(r.start(true, true), 1);
    EXPECT_TRUE(waitFor([&] { return !r.isRunning(); }));
    EXPECT_EQ(r.exitCode(), 3u);
}

TEST(ProcessRunnerLifetime, DetachedChildLeavesNoZombie) {
    ProcessRunner r("/bin/sh -c \"exit 0\"");
    ASSERT_EQ(r.start(true, true), 1);
    pid_t pid = r.pid();
    r.detach();
    // Once it has ended, the reaper must collect it: it must not stay a zombie.
    EXPECT_TRUE(waitFor([&] { return exitedOrZombie(pid); }));
    EXPECT_TRUE(waitFor([&] { return notZombie(pid); }, std::chrono::seconds(5)));
}

TEST(ProcessRunnerStart, BareNameFoundInCurrentDirectoryFirst) {
    TempDir dir;
    fs::path out = dir.path / "out";
    // Named like a PATH program so the current-directory preference shows.
    fs::path script = dir.path / "true";
    {
        std::ofstream s(script);
        s << "#!/bin/sh\necho local > '" << out.string() << "'\n";
    }
    ::chmod(script.c_str(), 0755);
    fs::path old = fs::current_path();
    fs::current_path(dir.path);
    ProcessRunner r("true");
    int started = r.start(true, true);
    fs::current_path(old);
    ASSERT_EQ(started, 1);
    EXPECT_TRUE(waitFor([&] { return !r.isRunning(); }));
    EXPECT_EQ(readFile(out), "local");
}

TEST(ProcessRunnerStart, StandardStreamsAreDevNull) {
    TempDir dir;
    fs::path out = dir.path / "fds";
    // $$ is the shell the runner started; the substitutions run before the
    // shell applies its own redirect, so they see the inherited streams.
    std::string o = out.string();
    std::string cmd =
        "/bin/sh -c \"printf '%s\\n' $(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
        "$(readlink /proc/$$/fd/2) > '" + o + ".tmp'; mv '" + o + ".tmp' '" + o + "'\"";
    ProcessRunner r(cmd.c_str());
    ASSERT_EQ(r.start(true, true), 1);
    EXPECT_TRUE(waitFor([&] { return !r.isRunning(); }));
    std::ifstream in(out);
    std::string line;
    int n = 0;
    while (std::getline(in, line)) {
        EXPECT_EQ(line, "/dev/null") << "fd " << n;
        ++n;
    }
    EXPECT_EQ(n, 3);
}

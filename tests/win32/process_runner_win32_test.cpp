// The Windows process runner: a program gets exactly its arguments, a batch file gets a
// received text as text, and the runner's exit code, detaching and termination.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/process_runner.h"
#include "platform/process_signals.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

std::string thisProgram() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

bool ends(ProcessRunner& r) {
    for (int i = 0; i < 2000 && r.isRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return !r.isRunning();
}

std::vector<std::string> recorded(const std::string& path) {
    std::vector<std::string> args;
    const std::string bytes = test::readFile(path);
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = bytes.find('\0', at);
        args.push_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    return args;
}

TEST(ProcessRunnerWin32, AProgramGetsExactlyItsArguments) {
    test::TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {"+4911", "plain"},
        {"a b", "", "tab\there"},
        {"say \"hi\"", "C:\\dir\\", "a\\\\\"b"},
        {"a & del * | more > out", "100% %PATH%"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string out = dir.path() + "\\args" + std::to_string(i);
        std::vector<std::string> argv{thisProgram(), "--child", "args", out};
        argv.insert(argv.end(), cases[i].begin(), cases[i].end());
        ProcessRunner runner(argv);
        ASSERT_EQ(runner.start(true, true), 1) << i;
        ASSERT_TRUE(ends(runner)) << i;
        EXPECT_EQ(runner.exitCode(), 0u) << i;
        EXPECT_EQ(recorded(out), cases[i]) << i;
    }
}

TEST(ProcessRunnerWin32, ABatchFileGetsAReceivedTextAsText) {
    test::TempDir dir;  // the current folder, where the batch file is looked for
    test::writeFile("record.bat", "@echo off\r\necho %1 %2>>\"%~dp0record.txt\"\r\n");
    struct Case {
        const char* text;
        const char* line;  // what the batch file wrote: its arguments as cmd.exe gives them
    } const cases[] = {
        {"Pump 3 & echo x > owned.txt", "\"+49\" \"Pump 3 & echo x > owned.txt\""},
        {"(a) < b | c", "\"+49\" \"(a) < b | c\""},
        {"say \"x & echo y > owned.txt\"", "\"+49\" \"say \"\"x & echo y > owned.txt\"\"\""},
        {"eins\rzwei\n", "\"+49\" \"eins zwei \""},
    };
    std::string expected;
    for (const Case& c : cases) {
        ProcessRunner runner(std::vector<std::string>{"record.bat", "+49", c.text});
        ASSERT_EQ(runner.start(true, true), 1) << c.text;
        ASSERT_TRUE(ends(runner)) << c.text;
        expected += std::string(c.line) + "\r\n";
    }
    EXPECT_EQ(test::readFile("record.txt"), expected);
    EXPECT_FALSE(std::filesystem::exists("owned.txt"));

    // A command line of the gateway's own keeps its arguments as written.
    ProcessRunner own("record.bat 8999 x");
    ASSERT_EQ(own.start(true, true), 1);
    ASSERT_TRUE(ends(own));
    EXPECT_EQ(test::readFile("record.txt"), expected + "8999 x\r\n");
}

TEST(ProcessRunnerWin32, ExitCodeDetachAndTermination) {
    test::TempDir dir;
    EXPECT_EQ(ProcessRunner(static_cast<const char*>(nullptr)).start(true, true), 0);
    for (const char* missing : {"no-such-program-4711.exe 1", "no-such-script.cmd 1"}) {
        ProcessRunner r(missing);
        EXPECT_EQ(r.start(true, true), 0) << missing;
        EXPECT_EQ(r.startError(), ENOENT) << missing;
    }

    ProcessRunner exits(std::vector<std::string>{thisProgram(), "--child", "exit", "7"});
    ASSERT_EQ(exits.start(true, true), 1);
    EXPECT_EQ(exits.startError(), 0);
    EXPECT_EQ(exits.start(true, true), 0);  // it still holds its child
    EXPECT_EQ(exits.startError(), EBUSY);
    ASSERT_TRUE(ends(exits));
    EXPECT_EQ(exits.exitCode(), 7u);

    const std::vector<std::string> sleeper{thisProgram(), "--child", "sleep", "60000"};
    HANDLE held = nullptr;
    {
        ProcessRunner runner(sleeper);
        ASSERT_EQ(runner.start(true, true), 1);
        EXPECT_TRUE(runner.isRunning());
        EXPECT_EQ(runner.exitCode(), ProcessRunner::kStillActive);
        held = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                           static_cast<DWORD>(runner.pid()));
        ASSERT_NE(held, nullptr);
    }  // still holding its child: terminated with exit code 0
    ASSERT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(held, &code);
    EXPECT_EQ(code, 0u);
    CloseHandle(held);

    {
        ProcessRunner runner(sleeper);
        ASSERT_EQ(runner.start(true, true), 1);
        held = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                           static_cast<DWORD>(runner.pid()));
        ASSERT_NE(held, nullptr);
        EXPECT_EQ(runner.detach(), 0);
    }  // detached: the child runs on
    EXPECT_EQ(WaitForSingleObject(held, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(held, 0);
    WaitForSingleObject(held, 10000);
    CloseHandle(held);
}

// Detached commands are counted in their group until the reaper has seen them end.
TEST(ProcessRunnerWin32, DetachedChildrenAreCountedUntilTheyEnd) {
    static ChildGroup group;
    for (int i = 0; i < 5; ++i) {
        ProcessRunner r(std::vector<std::string>{thisProgram(), "--child", "sleep", "300"});
        ASSERT_EQ(r.start(true, true), 1);
        EXPECT_EQ(r.detach(&group), 0);
    }
    EXPECT_GE(group.running(), 1);
    for (int i = 0; i < 2000 && group.running() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(group.running(), 0);
}

// What `gsmsd --status` and `--reload` ask of the process a status file names.
TEST(ProcessRunnerWin32, ARunningProcessIsToldByItsIdAndProgramName) {
    ProcessRunner ended(std::vector<std::string>{thisProgram(), "--child", "exit", "0"});
    ASSERT_EQ(ended.start(true, true), 1);
    const long endedPid = ended.pid();
    ASSERT_TRUE(ends(ended));
    const long self = currentProcessId();
    const struct {
        const char* label;
        long pid;
        const char* name;
        bool running;
    } cases[] = {
        {"this test program", self, "test_win32", true},
        {"the name in other letter case", self, "TEST_WIN32", true},
        {"another program's name", self, "gsmsd", false},
        {"a process that has ended", endedPid, "test_win32", false},
        {"no process id", 0, "test_win32", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(processRunning(c.pid, c.name), c.running) << c.label;
    // Its start, the same each time it is asked for, tells it from a later process of its id.
    EXPECT_FALSE(processStartStamp(self).empty());
    EXPECT_EQ(processStartStamp(self), processStartStamp(self));
    EXPECT_NE(processStartStamp(self), processStartStamp(endedPid));
    EXPECT_EQ(processStartStamp(0), "");
    // No gsmsd listens under this id: it cannot be asked to reload.
    EXPECT_EQ(sendProcessRequest(self, ProcessRequest::Reload), -1);
    EXPECT_EQ(errno, ESRCH);
}

}  // namespace
}  // namespace gsms

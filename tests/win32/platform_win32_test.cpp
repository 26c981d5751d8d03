// The other Win32 platform files: paths, the directory watch, settings files, the daily log,
// status-table locks, the COM port's names and failures, processor pinning and the profile
// folder's default.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <regex>
#include <thread>

#include "db/database.h"
#include "db/dbf_engine.h"
#include "engine/log.h"
#include "modem/modem_state.h"
#include "modem/serial_port.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "support/status_table.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

namespace fs = std::filesystem;

std::string thisProgram() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

TEST(PathsWin32, BackslashesAndDrivesAsWindowsWritesThem) {
    struct Case {
        const char* dir;
        const char* name;
        const char* joined;
    } const cases[] = {
        {"C:\\qor\\tevrak\\", "x.sms", "C:\\qor\\tevrak\\x.sms"},
        {"/qor/tevrak", "x.sms", "\\qor\\tevrak\\x.sms"},
        {"C:\\", "x", "C:\\x"},
        {"\\", "x", "\\x"},
        {"\\\\server\\share\\", "\\x", "\\\\server\\share\\x"},
    };
    for (const Case& c : cases) EXPECT_EQ(paths::join(c.dir, c.name), c.joined) << c.dir;

    test::TempDir dir;
    EXPECT_TRUE(paths::isDirectory(dir.path() + "\\"));  // a trailing separator names the folder
    EXPECT_TRUE(paths::makeDirectory(dir.path() + "\\sub"));
    EXPECT_TRUE(paths::makeDirectory(dir.path() + "\\sub"));  // already there
    test::writeFile("f", "1");
    paths::FileStamp before, after;
    ASSERT_TRUE(paths::stampOf("f", before));
    test::writeFile("f", "22");
    ASSERT_TRUE(paths::stampOf("f", after));
    EXPECT_EQ(after.size, 2);
    EXPECT_EQ(after.id, before.id);  // the same file, written again
    EXPECT_FALSE(paths::stampOf("missing", after));
}

TEST(DirWatchWin32, ChangesWakeTheWatchAndTheMaskDecides) {
    test::TempDir dir;
    DirWatch watch;
    ASSERT_TRUE(watch.arm(dir.path()));
    EXPECT_EQ(watch.wait(2000), 0);  // 200 ms at the time scale of these tests
    test::writeFile("job.tmp", "[Alarm]\r\n");
    EXPECT_EQ(watch.wait(50000), 1);
    ASSERT_TRUE(MoveFileA("job.tmp", "JOB.SMS"));  // written aside, renamed in
    EXPECT_EQ(watch.wait(50000), 1);

    fs::create_directory("folder.sms");
    test::writeFile("b.sms", "");
    test::writeFile("c.smsx", "");  // its 8.3 alias would match *.sms
    std::vector<std::string> listed = listMatching(dir.path(), "*.sms");
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"JOB.SMS", "b.sms"}));

    DirWatch missing;
    EXPECT_FALSE(missing.arm(dir.path() + "\\missing"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(missing.wait(10), -1);
}

TEST(SettingsFilesWin32, ReplacedWholeKeepingAttributesAndWaitingForReaders) {
    test::TempDir dir;
    const std::string path = dir.path() + "\\TEVRAK.INI";
    // A new file has Windows line ends; writers from several threads lose nothing.
    ASSERT_TRUE(ini::write(path, "Config", "Port", "COM3"));
    EXPECT_EQ(test::readFile(path), "[Config]\r\nPort=COM3\r\n");
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int k = 0; k < 10; ++k) {
                const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
                EXPECT_TRUE(ini::write(path, "Config", key, key));
            }
        });
    for (auto& w : writers) w.join();
    for (int t = 0; t < 4; ++t)
        for (int k = 0; k < 10; ++k) {
            const std::string key = "K" + std::to_string(t) + "_" + std::to_string(k);
            EXPECT_EQ(ini::read(path, "Config", key).value_or("?"), key);
        }

    // A reader that holds the file without letting it be replaced is waited for.
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread release([reader] {
        Sleep(300);
        CloseHandle(reader);
    });
    EXPECT_TRUE(ini::write(path, "Config", "Mode", "96,N,8,1"));
    release.join();
    EXPECT_EQ(ini::read(path, "Config", "Mode").value_or(""), "96,N,8,1");

    // The file's attributes stay (ReplaceFile); a read-only file is left as it is.
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(ini::write(path, "Config", "PIN", "1234"));
    EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string before = test::readFile(path);
    ini::Failure why;
    EXPECT_FALSE(ini::write(path, "Config", "PIN", "0000", &why));
    EXPECT_EQ(why.kind, ini::Failure::CannotWrite);
    EXPECT_EQ(why.error, EACCES);
    EXPECT_EQ(test::readFile(path), before);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

    // A temporary left by a writer that was killed goes with the next write.
    test::writeFile(".TEVRAK.INI.gsms-abc123", "half");
    EXPECT_TRUE(ini::write(path, "Config", "Number", "1"));
    EXPECT_FALSE(fs::exists(".TEVRAK.INI.gsms-abc123"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    fs::create_directory("folder.ini");
    EXPECT_FALSE(ini::read(dir.path() + "\\folder.ini", "Config", "Port", &why).has_value());
    EXPECT_EQ(why.kind, ini::Failure::CannotRead);
    EXPECT_EQ(why.error, EISDIR);
}

TEST(DailyLogWin32, LinesEndWithCrLfAndTheRawTraceOnlyWhenItsFileExists) {
    test::TempDir dir;
    fileLog("Settings parameters updated");
    const std::string log = test::readFile(dailyLogPath(clock::localNow()));
    const std::regex line("\\d\\d:\\d\\d:\\d\\d Settings parameters updated\r\n");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
    rawTrace('A');
    EXPECT_FALSE(fs::exists("tevrak.log"));
    test::writeFile("tevrak.log", "");
    rawTrace('A');
    rawTrace('T');
    EXPECT_EQ(test::readFile("tevrak.log"), "AT");
}

TEST(StatusTableWin32, ARecordLockedByAnotherProgramIsWaitedForAndReported) {
    test::TempDir dir;
    const std::string path = dir.path() + "\\status.dbf";
    ASSERT_TRUE(test::makeStatusTable(path, 3, "SMS"));
    std::vector<std::string> boxes;
    setDbErrorBoxHook([&](const char* text, const char*) { boxes.push_back(text); });
    {
        // LockFileEx at the byte FoxPro-family programs lock for record 2.
        const auto spec = test::statusTableSpec(3, "SMS");
        const test::ForeignLock lock(path, test::foxRecordLockByte(spec, 2));
        ASSERT_TRUE(lock.taken());
        CDatabase db;
        ASSERT_TRUE(db.Open(path.c_str()));
        ASSERT_EQ(db.Go(2), 0);
        EXPECT_NE(db.Replace("STATUS", 8), 1);
        ASSERT_EQ(db.Go(3), 0);
        EXPECT_EQ(db.Replace("STATUS", 8), 1);  // other records are free
        db.Close();
    }
    setDbErrorBoxHook(nullptr);
    EXPECT_EQ(boxes, std::vector<std::string>{"CDatabase::Replace"});
    EXPECT_EQ(test::statusRow(path, 1).status, 0);
    EXPECT_EQ(test::statusRow(path, 2).status, 8);

    // The table's handle does not pass to the commands the gateway starts.
    db::DbfContext ctx;
    db::dbfInitContext(ctx);
    db::DbfTable* t = db::dbfOpen(ctx, path.c_str());
    ASSERT_NE(t, nullptr);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(t->file), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
    db::dbfClose(t);
}

TEST(ComPortWin32, NamesAndFailures) {
    EXPECT_EQ(SerialPort::devicePath("COM10"), "\\\\.\\COM10");  // opens only this way
    EXPECT_EQ(SerialPort::devicePath("com2"), "\\\\.\\com2");
    EXPECT_EQ(SerialPort::devicePath("\\\\.\\CNCA0"), "\\\\.\\CNCA0");
    SerialPort missing("COM249");
    EXPECT_EQ(missing.open(), 0);
    EXPECT_EQ(missing.lastError(), ENOENT);
    char byte = 0;
    EXPECT_EQ(missing.read(&byte, 1), -1);
    EXPECT_EQ(missing.write("at\r", 3), -1);
    test::TempDir dir;
    test::writeFile("notaport", "");
    SerialPort file((dir.path() + "\\notaport").c_str());
    EXPECT_EQ(file.open(), 0);
    EXPECT_EQ(file.lastError(), ENOTTY);
}

TEST(PinningWin32, TwoProcessorsEndPinnedToOneWithTheLogLines) {
    DWORD_PTR process = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &process, &system));
    if ((process & 3) != 3) GTEST_SKIP() << "needs processors 0 and 1";
    test::TempDir dir;  // the child's daily log lands here
    std::string line = "\"" + thisProgram() + "\" --child pin";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                               nullptr, nullptr, &si, &pi));
    ASSERT_TRUE(SetProcessAffinityMask(pi.hProcess, 3));
    ResumeThread(pi.hThread);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    DWORD mask = 0;
    GetExitCodeProcess(pi.hProcess, &mask);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(mask == 1 || mask == 2) << mask;
    const std::string log = test::readFile(dailyLogPath(clock::localNow()));
    const std::string expected =
        "Current process has been started with 2 CPU\\(s\\)\r\n.* => Setting process to use only "
        "processor " + std::to_string(mask) + " of the available 2 :\r\n.*    \\[00000003\\] -> "
        "\\[0000000" + std::to_string(mask) + "\\]\r\n.* done\r\n";
    EXPECT_TRUE(std::regex_search(log, std::regex(expected))) << log;
}

TEST(ProfileDirWin32, DefaultIsAFolderUnderProgramDataOrTheWindowsFolderOfAnOldInstallation) {
    setProfileDir("");
    ASSERT_TRUE(SetEnvironmentVariableA("GSMS_PROFILE_DIR", nullptr));
    _putenv("GSMS_PROFILE_DIR=");

    // A TEVRAK.INI already in the Windows folder keeps the settings there (Wine's prefix lets
    // this test write into it; the decision is made once per process, so a child asks).
    char windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    ASSERT_GT(n, 0u);
    const std::string old = std::string(windows, n) + "\\TEVRAK.INI";
    if (!fs::exists(old)) {
        test::TempDir dir;
        test::writeFile(old, "[Config]\r\n");
        std::string line = "\"" + thisProgram() + "\" --child profile chosen.txt";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0,
                                            nullptr, nullptr, &si, &pi);
        if (started) {
            WaitForSingleObject(pi.hProcess, 20000);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        DeleteFileA(old.c_str());
        ASSERT_TRUE(started);
        EXPECT_EQ(test::readFile("chosen.txt"), std::string(windows, n));
    }

    char data[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("ProgramData", data, sizeof data), 0u);
    EXPECT_EQ(profileDir(), std::string(data) + "\\Velkora\\GSMS");
    EXPECT_TRUE(paths::isDirectory(profileDir()));
    EXPECT_EQ(profileDirProblem(), 0);
    EXPECT_EQ(resolveProfileName("tevrak.ini"), std::string(data) + "\\Velkora\\GSMS\\tevrak.ini");
}

}  // namespace
}  // namespace gsms

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

#include "core/log.h"
#include "db/database.h"
#include "db/dbf_engine.h"
#include "modem/input_thread.h"
#include "platform/clock.h"
#include "platform/dir_watch.h"
#include "platform/file_move.h"
#include "platform/file_replace.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/profile_dir.h"
#include "platform/serial_port.h"
#include "platform/text_encoding.h"
#include "platform/win32_text.h"
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
    files::FileId before, after;
    ASSERT_TRUE(files::identityOf("f", before));
    test::writeFile("f", "22");
    ASSERT_TRUE(files::identityOf("f", after));
    EXPECT_EQ(after, before);  // the same file, written again
    EXPECT_FALSE(files::identityOf("missing", after));
    // One folder however it is spelt; another one is not the same.
    EXPECT_TRUE(paths::sameDirectory(dir.path() + "\\SUB\\", dir.path() + "\\sub"));
    EXPECT_FALSE(paths::sameDirectory(dir.path(), dir.path() + "\\sub"));
}

// A job text without a mark that is not UTF-8 is read in the ANSI code page (Western Europe's
// 1252 here): its typographic characters in 0x80-0x9F arrive too.
TEST(TextWin32, TextsWithoutAMarkAreReadInTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page " << GetACP();
    EXPECT_EQ(text::plainToUtf8("\x84Gr\xFC\xDF" "e\x93 \x80" "5 \x96"), "„Grüße“ €5 –");
    EXPECT_EQ(text::plainToUtf8("Požár"), "Požár");
    // Written back: a plain file stays ANSI while the value fits (ASCII alone included), else
    // becomes UTF-8 whole; a UTF-16 file takes any value in UTF-16.
    const struct {
        std::string before, value, after;
    } rows[] = {
        {"[S]\r\nk=M\xFCller\r\n", "Köln €", "[S]\r\nk=M\xFCller\r\nc=K\xF6ln \x80\r\n"},
        {"[S]\r\nk=1\r\n", "Köln", "[S]\r\nk=1\r\nc=K\xF6ln\r\n"},
        {"[S]\r\nk=M\xFCller\r\n", "Łódź", "[S]\r\nk=Müller\r\nc=Łódź\r\n"},
        {text::encode(text::Encoding::Utf16Le, "[S]\r\n"), "Łódź",
         text::encode(text::Encoding::Utf16Le, "[S]\r\nc=Łódź\r\n")},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ini::withValue(r.before, "S", "c", r.value), r.after) << r.value;
        EXPECT_EQ(ini::Text(r.after).value("S", "c"), r.value);
    }
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
    std::vector<DirEntry> listed;
    ASSERT_TRUE(listFolder(dir.path(), "*.sms", listed));
    std::sort(listed.begin(), listed.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    ASSERT_EQ(listed.size(), 3u);  // files only, whatever the mask
    EXPECT_EQ(listed[0].name, "JOB.SMS");
    EXPECT_EQ(listed[1].name, "b.sms");
    EXPECT_EQ(listed[2].name, "c.smsx");
    EXPECT_TRUE(listed[0].matches && listed[1].matches && !listed[2].matches);
    EXPECT_EQ(listed[0].size, 9);
    files::FileId id;
    ASSERT_TRUE(files::identityOf("JOB.SMS", id));
    EXPECT_EQ(listed[0].id, id);
    // An NTFS name with half a surrogate pair (which Wine cannot hold on disk) is unnamable;
    // a whole pair is not.
    std::string name;
    EXPECT_FALSE(win32::toUtf8(L"a\xD800" L"b.sms", name));
    EXPECT_EQ(name, "a\uFFFDb.sms");
    EXPECT_TRUE(win32::toUtf8(L"\xD83D\xDD25.sms", name) && name == "\U0001F525.sms");

    // Being written while a program holds the file open for writing, whatever it shares.
    EXPECT_FALSE(watch.beingWritten("b.sms"));
    HANDLE writer = CreateFileA("b.sms", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    HANDLE reader = CreateFileA("JOB.SMS", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(watch.beingWritten("b.sms"));
    EXPECT_FALSE(watch.beingWritten("JOB.SMS"));  // only read
    CloseHandle(writer);
    CloseHandle(reader);
    EXPECT_FALSE(watch.beingWritten("b.sms"));

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

TEST(JobFilesWin32, ReadWholeWhileSteadyAndMovedWithoutReplacingOnOneVolumeOrAcrossTwo) {
    test::TempDir dir;
    using Steady = files::SteadyRead;
    test::writeFile("job.sms", "[Alarm]\r\n");
    Steady r = files::readSteady("job.sms", nullptr);
    EXPECT_EQ(r.outcome, Steady::Read);
    EXPECT_EQ(r.bytes, "[Alarm]\r\n");
    files::FileId id;
    ASSERT_TRUE(files::identityOf("job.sms", id));
    EXPECT_EQ(r.id, id);
    r = files::readSteady("job.sms", [] { test::writeFile("job.sms", "[Alarm]\r\nPhone"); });
    EXPECT_EQ(r.outcome, Steady::Changed);
    EXPECT_EQ(r.bytes, "");
    HANDLE sharesNothing =
        CreateFileA("job.sms", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(sharesNothing, INVALID_HANDLE_VALUE);
    EXPECT_EQ(files::readSteady("job.sms", nullptr).outcome, Steady::Changed);  // not done
    CloseHandle(sharesNothing);
    EXPECT_EQ(files::readSteady("missing.sms", nullptr).outcome, Steady::Gone);
    fs::create_directory("folder.sms");
    EXPECT_EQ(files::readSteady("folder.sms", nullptr).outcome, Steady::Gone);
    test::writeFile("large.sms", "");
    fs::resize_file("large.sms", files::kMaxFileSize + 1);
    r = files::readSteady("large.sms", nullptr);
    EXPECT_EQ(r.outcome, Steady::Unreadable);
    EXPECT_EQ(r.error, EFBIG);

    // Wine puts the temporary folder on the disk and Z:\dev\shm on a tmpfs: two volumes.
    const std::string other =
        "Z:\\dev\\shm\\gsms-test-" + std::to_string(GetCurrentProcessId());
    const bool twoVolumes = CreateDirectoryA(other.c_str(), nullptr) != 0;
    struct Case {
        const char* label;
        bool acrossVolumes;
        bool taken;         // the first name is taken already
        bool otherFile;     // another file took the source's name since it was read
        bool readOnly;      // not the gateway's to write: a copy of its own takes the line
        bool heldByWriter;  // open to a writer that does not share deletion
        const char* targetDir;
        int rc;
        int error;
        const char* landed;
        bool copied;
    } const cases[] = {
        {"one volume, name free", false, false, false, false, false, "to", 0, 0, "to\\n0.sms",
         false},
        {"one volume, name taken: the next", false, true, false, false, false, "to", 0, 0,
         "to\\n1.sms", false},
        {"another file took the name", false, false, true, false, false, "to", -1, ENOENT,
         nullptr, false},
        {"target folder missing", false, false, false, false, false, "none", -1, ENOENT, nullptr,
         false},
        {"read-only file", false, false, false, true, false, "to", 0, 0, "to\\n0.sms", true},
        {"held by its writer", false, false, false, false, true, "to", -1, EBUSY, nullptr, false},
        {"across volumes, name free", true, false, false, false, false, "to", 0, 0,
         "to\\n0.sms", true},
        {"across volumes, name taken: the next", true, true, false, false, false, "to", 0, 0,
         "to\\n1.sms", true},
        {"across volumes, read-only file", true, false, false, true, false, "to", 0, 0,
         "to\\n0.sms", true},
        {"across volumes, target folder missing", true, false, false, false, false, "none", -1,
         ENOENT, nullptr, false},
    };
    const std::string line = "2024.5.1 9:7 ALARM successfully sent";
    for (const Case& c : cases) {
        if (c.acrossVolumes && !twoVolumes) {
            ADD_FAILURE() << "no folder at " << other << ": " << c.label;
            continue;
        }
        fs::remove_all("to");
        fs::create_directory("to");
        const std::string src = (c.acrossVolumes ? other : dir.path()) + "\\job.sms";
        SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_NORMAL);
        test::writeFile(src, "[Alarm]\r\n");
        ASSERT_TRUE(files::identityOf(src, id)) << c.label;
        if (c.otherFile) {
            ASSERT_TRUE(MoveFileA(src.c_str(), (src + ".old").c_str()));
            test::writeFile(src, "another job");
        }
        if (c.readOnly) SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE writer = c.heldByWriter ? CreateFileA(src.c_str(), GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                     OPEN_EXISTING, 0, nullptr)
                                       : INVALID_HANDLE_VALUE;
        if (c.taken) test::writeFile("to\\n0.sms", "earlier");

        files::MoveRequest request;
        request.from = src;
        request.expected = id;
        request.names = [&](int n) {
            return dir.path() + "\\" + c.targetDir + "\\n" + std::to_string(n) + ".sms";
        };
        request.append = &line;
        files::FileId announced;
        request.beforeVisible = [&](const files::FileId& f) { announced = f; };
        files::MoveOutcome outcome;
        EXPECT_EQ(files::moveFile(request, outcome), c.rc) << c.label;
        EXPECT_EQ(outcome.error, c.error) << c.label;
        EXPECT_EQ(outcome.copied, c.copied) << c.label;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        if (c.taken) {
            EXPECT_EQ(test::readFile("to\\n0.sms"), "earlier") << c.label;
        }
        fs::remove(src + ".old");
        if (c.landed == nullptr) {
            EXPECT_EQ(test::readFile(src), c.otherFile ? "another job" : "[Alarm]\r\n") << c.label;
            EXPECT_EQ(std::distance(fs::directory_iterator("to"), fs::directory_iterator()),
                      c.taken ? 1 : 0)
                << c.label;  // nothing left behind
            SetFileAttributesA(src.c_str(), FILE_ATTRIBUTE_NORMAL);
            fs::remove(src);
            continue;
        }
        const std::string to = dir.path() + "\\" + c.landed;
        EXPECT_EQ(outcome.to, to) << c.label;
        EXPECT_FALSE(fs::exists(src)) << c.label;
        EXPECT_EQ(test::readFile(to), "[Alarm]\r\n" + line) << c.label;
        files::FileId landed;
        EXPECT_TRUE(files::identityOf(to, landed) && announced == landed) << c.label;
        EXPECT_EQ((GetFileAttributesA(to.c_str()) & FILE_ATTRIBUTE_READONLY) != 0, c.readOnly)
            << c.label;
        EXPECT_EQ(std::distance(fs::directory_iterator("to"), fs::directory_iterator()),
                  c.taken ? 2 : 1)
            << c.label;  // no temporary left
        SetFileAttributesA(to.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(other);
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
        const auto layout = test::statusTableLayout(3, "SMS");
        const test::ForeignLock lock(path, test::foxRecordLockByte(layout, 2));
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

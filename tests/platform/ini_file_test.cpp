#include "platform/ini_file.h"

#include <dirent.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <set>
#include <thread>

#include "support/temp_dir.h"
#include "support/utf16_text.h"

namespace gsms {
namespace {

using test::utf16;

// The names in a folder, "." and ".." left out.
std::set<std::string> entries(const std::string& dir) {
    std::set<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") out.insert(name);
        }
        ::closedir(d);
    }
    return out;
}

// Runs body in a child process; its exit code (128 + n after signal n).
template <typename Body>
int inChild(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) _exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(IniRead, NamesAreCaseInsensitiveAndValuesTrimmedAndUnquoted) {
    test::TempDir dir;
    test::writeFile("a.ini",
                    "; comment\n[ Alarm ]\n  PhoneNumber =  +49 170 123  \nMessage=\"hi there\"\n"
                    "Key='x'\nHalf=\"open\n"
                    "Command=\"C:\\Alarm Scripts\\on sms.cmd\" \"%s\" \"%s\"\n"
                    "Said=\"say \"hi\" now\"\nApostrophe='didn't start'\n");
    EXPECT_EQ(ini::read("a.ini", "alarm", "phonenumber"), "+49 170 123");
    EXPECT_EQ(ini::read("a.ini", "ALARM", "message"), "hi there");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Key"), "x");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Half"), "\"open");
    // Several quoted strings keep their quotes; one with quotes inside loses its own.
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Command"),
              "\"C:\\Alarm Scripts\\on sms.cmd\" \"%s\" \"%s\"");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Said"), "say \"hi\" now");
    EXPECT_EQ(ini::read("a.ini", "Alarm", "Apostrophe"), "didn't start");
    EXPECT_FALSE(ini::read("a.ini", "Alarm", "Missing"));
    EXPECT_FALSE(ini::read("missing.ini", "Alarm", "Key"));
}

TEST(IniRead, FirstOfDuplicateSectionsAndKeysWins) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(ini::read("a.ini", "S", "k"), "1");
    EXPECT_FALSE(ini::read("a.ini", "S", "j"));
}

TEST(IniRead, CommentedKeyIsNotAKey) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\n;k=1\n");
    EXPECT_FALSE(ini::read("a.ini", "S", "k"));
}

TEST(IniWrite, KeepsOtherLinesAndAppendsAtEndOfSection) {
    test::TempDir dir;
    test::writeFile("a.ini", "; top\n[One]\na=1\n; note\nodd line\n\n[Two]\nb=2\n");
    ASSERT_TRUE(ini::write("a.ini", "one", "A", "10"));
    ASSERT_TRUE(ini::write("a.ini", "One", "c", "3"));
    ASSERT_TRUE(ini::write("a.ini", "Three", "d", "4"));
    EXPECT_EQ(test::readFile("a.ini"),
              "; top\n[One]\nA=10\n; note\nodd line\nc=3\n\n[Two]\nb=2\n[Three]\nd=4\n");
}

TEST(IniWrite, CreatesMissingFileAndKeepsCrLf) {
    test::TempDir dir;
    ASSERT_TRUE(ini::write("new.ini", "S", "k", "v"));
    EXPECT_EQ(test::readFile("new.ini"), "[S]\nk=v\n");
    test::writeFile("dos.ini", "[S]\r\nk=1\r\n");
    ASSERT_TRUE(ini::write("dos.ini", "S", "k", "2"));
    EXPECT_EQ(test::readFile("dos.ini"), "[S]\r\nk=2\r\n");
}

TEST(IniWrite, RefusedWritesLeaveTheFileAsItWas) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\nk=1\n");
    ::mkdir("folder.ini", 0700);
    struct Case {
        const char* label;
        const char* path;
        const char* key;
        const char* value;
        ini::Failure::Kind kind;
        int error;
    } cases[] = {
        {"folder that does not exist", "/proc/nope/a.ini", "k", "v", ini::Failure::CannotWrite,
         ENOENT},
        {"a value with a line break would add a key", "a.ini", "k", "2\nPIN=0000",
         ini::Failure::CannotWrite, EINVAL},
        {"a key with a carriage return", "a.ini", "k\r", "2", ini::Failure::CannotWrite, EINVAL},
        {"a folder where the file should be", "folder.ini", "k", "2", ini::Failure::CannotRead,
         EISDIR},
    };
    for (const Case& c : cases) {
        ini::Failure why;
        EXPECT_FALSE(ini::write(c.path, "S", c.key, c.value, &why)) << c.label;
        EXPECT_EQ(why.kind, c.kind) << c.label;
        EXPECT_EQ(why.error, c.error) << c.label;
    }
    EXPECT_EQ(test::readFile("a.ini"), "[S]\nk=1\n");
    ini::Failure why;
    EXPECT_FALSE(ini::read("folder.ini", "S", "k", &why));
    EXPECT_EQ(why.kind, ini::Failure::CannotRead);
    EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"a.ini", "folder.ini"}));
}

// Windows editors save with a byte order mark, in UTF-8 or UTF-16; a file without a mark is
// UTF-8 when a value is valid UTF-8 with a character beyond ASCII, else Windows-1252. Values
// are read as UTF-8 from any of them and written back in the file's own encoding: a plain
// single-byte file stays so while the new text fits, and becomes UTF-8 when it does not.
TEST(IniEncodings, ReadAsUtf8AndWrittenBackInTheirOwnEncoding) {
    struct Case {
        const char* label;
        std::string before;
        std::optional<std::string> name;  // [config] Name as the gateway reads it (UTF-8)
        const char* city;                 // written as City=
        std::string after;                // after Port=/dev/ttyUSB0 and the city
    } cases[] = {
        {"plain, not UTF-8: Windows-1252, a city that fits stays single-byte",
         "[Config]\r\nName=\x84Gr\xFC\xDF" "e\x93 \x80" "5 \x96 \x81\r\n",
         "„Grüße“ €5 – \u0081", "Köln €",
         "[Config]\r\nName=\x84Gr\xFC\xDF" "e\x93 \x80" "5 \x96 \x81\r\n"
         "Port=/dev/ttyUSB0\r\nCity=K\xF6ln \x80\r\n"},
        {"plain Windows-1252, a city that does not fit: the file becomes UTF-8",
         "[Config]\r\nName=M\xFCller\r\n", "Müller", "Łódź",
         "[Config]\r\nName=Müller\r\nPort=/dev/ttyUSB0\r\nCity=Łódź\r\n"},
        {"plain UTF-8 without a mark: kept whole", "[Config]\r\nName=Požár – €5 Ωmega\r\n",
         "Požár – €5 Ωmega", "Köln",
         "[Config]\r\nName=Požár – €5 Ωmega\r\nPort=/dev/ttyUSB0\r\nCity=Köln\r\n"},
        {"plain, UTF-8 that is not valid: Windows-1252",
         "[Config]\r\nName=Gr\xFC\xDF" "e \xE2\x82\xAC\r\n", "Grüße â‚¬", "Köln",
         "[Config]\r\nName=Gr\xFC\xDF" "e \xE2\x82\xAC\r\nPort=/dev/ttyUSB0\r\nCity=K\xF6ln\r\n"},
        {"UTF-8 with its mark: the mark skipped and kept",
         "\xEF\xBB\xBF[config]\r\nName=Grüße € \xFF\r\n", "Grüße € ?", "Łódź",
         "\xEF\xBB\xBF[config]\r\nName=Grüße € \xFF\r\nPort=/dev/ttyUSB0\r\nCity=Łódź\r\n"},
        {"UTF-16 little endian", utf16(u"[config]\r\nName=Grüße € \U0001F600\r\n", false),
         "Grüße € \U0001F600", "Łódź",
         utf16(u"[config]\r\nName=Grüße € \U0001F600\r\nPort=/dev/ttyUSB0\r\nCity=Łódź\r\n",
               false)},
        {"UTF-16 big endian", utf16(u"[config]\r\nName=Grüße\r\n", true), "Grüße", "Köln",
         utf16(u"[config]\r\nName=Grüße\r\nPort=/dev/ttyUSB0\r\nCity=Köln\r\n", true)},
        {"UTF-16 without the section: it is added in UTF-16",
         utf16(u"; Grüße\r\n", false), std::nullopt, "Köln",
         utf16(u"; Grüße\r\n[Config]\r\nPort=/dev/ttyUSB0\r\nCity=Köln\r\n", false)},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        test::writeFile("t.ini", c.before);
        EXPECT_EQ(ini::read("t.ini", "Config", "name"), c.name) << c.label;
        ASSERT_TRUE(ini::write("t.ini", "Config", "Port", "/dev/ttyUSB0")) << c.label;
        ASSERT_TRUE(ini::write("t.ini", "Config", "City", c.city)) << c.label;
        EXPECT_EQ(test::readFile("t.ini"), c.after) << c.label;
        EXPECT_EQ(ini::read("t.ini", "Config", "City"), c.city) << c.label;
        EXPECT_EQ(ini::read("t.ini", "Config", "name"), c.name) << c.label;
    }
}

TEST(IniWriteKeeps, ModeAndTheNewFilesPrivacy) {
    test::TempDir dir;
    for (mode_t mode : {0600, 0640, 0444 | 0200, 0660}) {
        test::writeFile("m.ini", "[S]\nk=1\n");
        ::chmod("m.ini", mode);
        ASSERT_TRUE(ini::write("m.ini", "S", "k", "2"));
        struct stat st {};
        ASSERT_EQ(::stat("m.ini", &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
    const mode_t old = ::umask(0);  // a new file may come to hold the PIN: 0600 whatever umask
    const bool written = ini::write("new.ini", "S", "k", "1");
    ::umask(old);
    ASSERT_TRUE(written);
    struct stat st {};
    ASSERT_EQ(::stat("new.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST(IniWriteKeeps, OwnerAndGroup) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
    test::TempDir dir;
    test::writeFile("o.ini", "[S]\nk=1\n");
    ASSERT_EQ(::chown("o.ini", 65534, 65534), 0);
    ::chmod("o.ini", 0640);
    ASSERT_TRUE(ini::write("o.ini", "S", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::stat("o.ini", &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// The service's user (here nobody, in its group) rewrites a settings file the administrator
// gave to root and to the service's group for writing, or to the service with a group it is
// not in: it cannot give a new file that owner or group, so the file is written in place and
// keeps both, and its mode.
TEST(IniWriteKeeps, AnOwnerOrGroupTheWriterCannotGive) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
    test::TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const struct {
        const char* label;
        uid_t owner;
        gid_t group;
        mode_t mode;
    } cases[] = {{"root's, the group may write", 0, 65534, 0660},
                 {"the writer's, in root's group", 65534, 0, 0640}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        test::writeFile("t.ini", "[S]\nk=1\n");
        ASSERT_EQ(::chown("t.ini", c.owner, c.group), 0);
        ::chmod("t.ini", c.mode);
        EXPECT_EQ(inChild([] {
                      const gid_t groups[] = {65534};
                      if (::setgroups(1, groups) != 0 || ::setgid(65534) != 0 ||
                          ::setuid(65534) != 0)
                          return 4;
                      return ini::write("t.ini", "S", "LastAlarm", "6553F100") ? 0 : 1;
                  }),
                  0);
        struct stat st {};
        ASSERT_EQ(::stat("t.ini", &st), 0);
        EXPECT_EQ(st.st_uid, c.owner);
        EXPECT_EQ(st.st_gid, c.group);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(test::readFile("t.ini"), "[S]\nk=1\nLastAlarm=6553F100\n");
        EXPECT_EQ(entries(dir.path()), std::set<std::string>{"t.ini"});
    }
}

TEST(IniWriteKeeps, TheAccessAcl) {
    test::TempDir dir;
    test::writeFile("a.ini", "[S]\nk=1\n");
    // user::rw- user:65534:r-- group::--- mask::r-- other::---, as the kernel stores it.
    auto entry = [](std::uint16_t tag, std::uint16_t perm, std::uint32_t id) {
        std::string e(8, '\0');
        e[0] = static_cast<char>(tag), e[1] = static_cast<char>(tag >> 8);
        e[2] = static_cast<char>(perm);
        for (int i = 0; i < 4; ++i) e[4 + i] = static_cast<char>(id >> (8 * i));
        return e;
    };
    const std::string acl = std::string("\x02\0\0\0", 4) + entry(0x01, 6, 0xFFFFFFFF) +
                            entry(0x02, 4, 65534) + entry(0x04, 0, 0xFFFFFFFF) +
                            entry(0x10, 4, 0xFFFFFFFF) + entry(0x20, 0, 0xFFFFFFFF);
    if (::setxattr("a.ini", "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no access ACLs here: " << std::strerror(errno);
    ASSERT_TRUE(ini::write("a.ini", "S", "k", "2"));
    std::string after(acl.size() + 16, '\0');
    const ssize_t n = ::getxattr("a.ini", "system.posix_acl_access", after.data(), after.size());
    ASSERT_GT(n, 0);
    after.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(after, acl);
    struct stat st {};
    ASSERT_EQ(::stat("a.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);  // the group bits are the mask
}

TEST(IniWriteKeeps, SymbolicLinksAndTheirTargets) {
    test::TempDir dir;
    ::mkdir("etc", 0755);
    test::writeFile("etc/real.ini", "; the administrator's file\n[S]\nk=1\n");
    ::chmod("etc/real.ini", 0640);
    ASSERT_EQ(::symlink("etc/real.ini", "link.ini"), 0);
    ASSERT_EQ(::symlink("link.ini", "chain.ini"), 0);
    ASSERT_EQ(::symlink("etc/new.ini", "dangling.ini"), 0);
    ASSERT_TRUE(ini::write("chain.ini", "S", "k", "2"));
    ASSERT_TRUE(ini::write("dangling.ini", "S", "k", "3"));

    struct stat st {};
    for (const char* link : {"link.ini", "chain.ini", "dangling.ini"}) {
        ASSERT_EQ(::lstat(link, &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    EXPECT_EQ(test::readFile("etc/real.ini"), "; the administrator's file\n[S]\nk=2\n");
    ASSERT_EQ(::stat("etc/real.ini", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::readFile("etc/new.ini"), "[S]\nk=3\n");
    EXPECT_EQ(entries(dir.path() + "/etc"), (std::set<std::string>{"new.ini", "real.ini"}));
}

// The service user meets a TEVRAK.INI it may not read (root's, 0600) in a folder it may write.
TEST(IniWrite, UnreadableFileIsLeftByteForByte) {
    test::TempDir dir;
    const std::string text = "; PIN inside\r\n[Config]\r\nPort=/dev/ttyUSB0\r\nPIN=4711\r\n";
    test::writeFile("TEVRAK.INI", text);
    ::chmod("TEVRAK.INI", 0600);
    auto attempt = [] {
        ini::Failure why;
        if (ini::read("TEVRAK.INI", "Config", "Port", &why) || why.kind != ini::Failure::CannotRead)
            return 3;
        if (ini::write("TEVRAK.INI", "Config", "WatchTimeout", "4", &why)) return 1;
        return why.kind == ini::Failure::CannotRead && why.error == EACCES ? 0 : 2;
    };
    if (::geteuid() == 0) {
        // Root reads everything: the child becomes nobody, in a folder nobody may write.
        ::chmod(dir.path().c_str(), 0777);
        EXPECT_EQ(inChild([&] {
                      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                          ::setuid(65534) != 0)
                          return 4;
                      return attempt();
                  }),
                  0);
    } else {
        ::chmod("TEVRAK.INI", 0);
        EXPECT_EQ(attempt(), 0);
        ::chmod("TEVRAK.INI", 0600);
    }
    EXPECT_EQ(test::readFile("TEVRAK.INI"), text);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"TEVRAK.INI"});
}

// The gateway's "WatchDog" stamp and gsms-config or the window write the same file.
TEST(IniWrite, TwoProcessesWritingDifferentKeysLoseNone) {
    test::TempDir dir;
    constexpr int kWrites = 200;
    pid_t writers[2];
    for (int w = 0; w < 2; ++w) {
        writers[w] = ::fork();
        if (writers[w] == 0) {
            for (int i = 0; i < kWrites; ++i) {
                const std::string key = std::string(1, "ab"[w]) + std::to_string(i);
                if (!ini::write("shared.ini", "S", key, std::to_string(i))) _exit(1);
            }
            _exit(0);
        }
    }
    for (pid_t pid : writers) {
        int status = -1;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    int found = 0;
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < kWrites; ++i)
            found += ini::read("shared.ini", "S", std::string(1, "ab"[w]) + std::to_string(i)) ==
                     std::to_string(i);
    EXPECT_EQ(found, 2 * kWrites);
    EXPECT_EQ(entries(dir.path()), std::set<std::string>{"shared.ini"});
}

TEST(IniWrite, WritersKilledHalfWayLeaveNoTemporaryForGood) {
    test::TempDir dir;
    ASSERT_TRUE(ini::write("k.ini", "S", "k", "0"));
    for (int round = 0; round < 30; ++round) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0;; ++i) (void)ini::write("k.ini", "S", "k" + std::to_string(i % 50), "x");
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 700 * (round % 9)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    // What earlier versions left: a temporary an hour old goes, a fresh one may be a live
    // writer's and stays; another file's temporary is that file's business.
    test::writeFile(".ini-AbC123", "[S]\n");
    const struct utimbuf hourAgo {std::time(nullptr) - 3600, std::time(nullptr) - 3600};
    ::utime(".ini-AbC123", &hourAgo);
    test::writeFile(".ini-DeF456", "[S]\n");
    test::writeFile(".other.ini.gsms-GhI789", "[S]\n");
    ASSERT_TRUE(ini::write("k.ini", "S", "k", "1"));
    EXPECT_EQ(entries(dir.path()),
              (std::set<std::string>{"k.ini", ".ini-DeF456", ".other.ini.gsms-GhI789"}));
    EXPECT_EQ(ini::read("k.ini", "S", "k"), "1");
}

TEST(IniParseInt, WindowsIntegerRules) {
    EXPECT_EQ(ini::parseInt("  42"), 42);
    EXPECT_EQ(ini::parseInt("-9"), -9);
    EXPECT_EQ(ini::parseInt("+7x"), 7);
    EXPECT_EQ(ini::parseInt("abc"), 0);
    EXPECT_EQ(ini::parseInt(""), 0);
    EXPECT_EQ(ini::parseInt("99999999999"), 2147483647);
}

}  // namespace
}  // namespace gsms

// Moving a file without replacing one, on one file system and across two (a tmpfs).
#include "platform/file_move.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "support/temp_dir.h"

namespace gsms {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

files::FileId idOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return files::FileId{static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino)};
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FileMove, MovesWithoutReplacingOnOneFileSystemAndAcrossTwo) {
    test::TempDir dir;
    test::OtherFileSystemDir other(dir.path());
    const bool tmpfs = other.usable();
    const std::string& shm = other.path();
    fs::create_directory("to");

    struct Case {
        const char* label;
        std::string from;         // folder of the source
        bool taken;               // the first name is taken already
        bool otherFile;           // another file took the source's name since it was read
        const char* targetDir;    // folder of the names
        int rc;                   // moveFile's result
        int error;                // outcome.error
        const char* landed;       // the name it got
        bool copied;
    } const cases[] = {
        {"same file system, name free", ".", false, false, "to", 0, 0, "to/n0.sms", false},
        {"same file system, name taken: the next", ".", true, false, "to", 0, 0, "to/n1.sms",
         false},
        {"another file took the name", ".", false, true, "to", -1, ENOENT, nullptr, false},
        {"target folder missing", ".", false, false, "none", -1, ENOENT, nullptr, false},
        {"across file systems, name free", "shm", false, false, "to", 0, 0, "to/n0.sms", true},
        {"across file systems, name taken: the next", "shm", true, false, "to", 0, 0,
         "to/n1.sms", true},
        {"across file systems, target folder missing", "shm", false, false, "none", -1, ENOENT,
         nullptr, false},
    };
    const std::string line = "2024.5.1 9:7 ALARM successfully sent";
    for (const Case& c : cases) {
        if (c.from == "shm" && !tmpfs) {
            std::cout << "skipped (no tmpfs at /dev/shm): " << c.label << "\n";
            continue;
        }
        fs::remove_all("to");
        fs::create_directory("to");
        const std::string src = (c.from == "shm" ? shm : dir.path()) + "/job.sms";
        writeFile(src, "[Alarm]\r\n");
        const files::FileId id = idOf(src);
        // Held open, the old file keeps its inode from being handed to the new one.
        const int held = c.otherFile ? ::open(src.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (c.otherFile) {
            writeFile(src + ".new", "another job");
            fs::rename(src + ".new", src);
        }
        if (c.taken) writeFile("to/n0.sms", "earlier");

        files::MoveRequest request;
        request.from = src;
        request.expected = id;
        request.names = [&](int n) {
            return dir.path() + "/" + c.targetDir + "/n" + std::to_string(n) + ".sms";
        };
        request.append = &line;
        files::FileId announced;
        request.beforeVisible = [&](const files::FileId& f) { announced = f; };
        files::MoveOutcome outcome;
        EXPECT_EQ(files::moveFile(request, outcome), c.rc) << c.label;
        EXPECT_EQ(outcome.error, c.error) << c.label;
        EXPECT_EQ(outcome.copied, c.copied) << c.label;
        if (held >= 0) ::close(held);
        if (c.taken) {
            EXPECT_EQ(readFile("to/n0.sms"), "earlier") << c.label;
        }
        if (c.landed == nullptr) {
            EXPECT_TRUE(fs::exists(src)) << c.label;
            EXPECT_EQ(readFile(src), c.otherFile ? "another job" : "[Alarm]\r\n") << c.label;
            EXPECT_EQ(namesIn("to").size(), c.taken ? 1u : 0u) << c.label;  // nothing left
            fs::remove(src);
            continue;
        }
        const std::string to = dir.path() + "/" + c.landed;
        EXPECT_EQ(outcome.to, to) << c.label;
        EXPECT_FALSE(fs::exists(src)) << c.label;
        EXPECT_EQ(readFile(to), "[Alarm]\r\n" + line) << c.label;
        EXPECT_EQ(announced, idOf(to)) << c.label;  // told before it appeared
        EXPECT_EQ(namesIn("to").size(), c.taken ? 2u : 1u) << c.label;  // no temporary left
    }
}

}  // namespace
}  // namespace gsms

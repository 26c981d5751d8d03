// A temporary directory that is the current directory for the life of the object.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/file_move.h"

namespace gsms::test {

class TempDir {
public:
    TempDir() {
        // A fresh name of its own in the system's temporary folder (mkdtemp is POSIX only).
        std::random_device random;
        std::error_code ec;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::string name = "gsms-test-" + std::to_string(random() % 1000000000u);
            const auto dir = std::filesystem::temp_directory_path(ec) / name;
            if (std::filesystem::create_directory(dir, ec)) path_ = dir.string();
        }
        old_ = std::filesystem::current_path();
        std::filesystem::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::current_path(old_, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::filesystem::path old_;
};

// A folder on the tmpfs at /dev/shm, on another file system than `beside`, removed with its
// content at the end. usable() is false where there is none to be had.
class OtherFileSystemDir {
public:
    explicit OtherFileSystemDir(const std::string& beside)
        : path_("/dev/shm/gsms-test-" + std::to_string(std::random_device()() % 1000000000u)) {
        files::FileId a, b;
        std::error_code ec;
        usable_ = std::filesystem::create_directory(path_, ec) && files::identityOf(path_, a) &&
                  files::identityOf(beside, b) && a.dev != b.dev;
    }
    ~OtherFileSystemDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    OtherFileSystemDir(const OtherFileSystemDir&) = delete;
    OtherFileSystemDir& operator=(const OtherFileSystemDir&) = delete;
    bool usable() const { return usable_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    bool usable_ = false;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace gsms::test

// The start of every fuzz target: a scratch folder to work in, and the paths of the command
// line made fit for it.
#include "harness.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

// Makes a fresh folder under $TMPDIR (else /dev/shm, else /tmp) the current directory, removed
// again at exit. A regular file named "log" there keeps the daily log from being written: the
// engine writes nothing when it cannot make its log folder, and a run would otherwise write
// millions of lines. The paths on the command line (corpus folders, inputs, -artifact_prefix,
// -dict, ...) are made absolute first, and crash files go to the folder the run started in
// unless -artifact_prefix says otherwise. The gateway's pauses run a thousand times faster
// (the watcher's 100 ms before it reads a job file would allow a few inputs a second).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    namespace fs = std::filesystem;
    using gsms::fuzz::startsWith;
    static std::string dir;
    static std::vector<std::string> args;
    static std::vector<char*> pointers;
    const std::string start = fs::current_path().string();
    auto absolute = [&](const std::string& path) {
        return path.empty() || path[0] == '/' ? path : start + "/" + path;
    };
    bool artifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string a = (*argv)[i];
        if (i > 0 && a[0] != '-') {
            a = absolute(a);
        } else if (i > 0) {
            for (const std::string flag : {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                           "-merge_control_file=", "-features_dir="})
                if (startsWith(a, flag)) a = flag + absolute(a.substr(flag.size()));
            artifactPrefix = artifactPrefix || startsWith(a, "-artifact_prefix=") ||
                             startsWith(a, "-exact_artifact_path=");
        }
        args.push_back(a);
    }
    if (!artifactPrefix) args.insert(args.begin() + 1, "-artifact_prefix=" + start + "/");
    for (std::string& a : args) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    *argc = static_cast<int>(args.size());
    *argv = pointers.data();

    // In memory where there is a tmpfs: the targets that write files run far faster there.
    const char* tmp = std::getenv("TMPDIR");
    dir = tmp != nullptr && *tmp != '\0' ? tmp : fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    dir += "/gsms-fuzz-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr || ::chdir(dir.c_str()) != 0) std::abort();
    if (std::FILE* f = std::fopen("log", "w")) std::fclose(f);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    });
    ::setenv("GSMS_TIME_SCALE", "1000", 1);
    return 0;
}

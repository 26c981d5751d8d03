// The Win32 tests' program. Started with "--child" it is instead the child process a test
// asked for:
//   --child args FILE ARG...   writes the arguments it got, each followed by a NUL, to FILE
//   --child exit N             ends with exit code N
//   --child sleep MS           sleeps, then ends with 0
//   --child pin                pins itself (daily log in the current folder) and ends with
//                              its processor mask as exit code
//   --child profile FILE       writes the profile folder it would use to FILE
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "frontend/processor_pinning.h"
#include "platform/profile_dir.h"

namespace {

int child(int argc, char** argv) {
    const std::string mode = argc > 2 ? argv[2] : "";
    if (mode == "args" && argc > 3) {
        std::ofstream out(argv[3], std::ios::binary);
        for (int i = 4; i < argc; ++i) out << argv[i] << '\0';
        return 0;
    }
    if (mode == "exit" && argc > 3) return std::atoi(argv[3]);
    if (mode == "sleep" && argc > 3) {
        Sleep(static_cast<DWORD>(std::atoi(argv[3])));
        return 0;
    }
    if (mode == "profile" && argc > 3) {
        std::ofstream(argv[3], std::ios::binary) << gsms::profileDir();
        return 0;
    }
    if (mode == "pin") {
        gsms::pinToOneProcessor();
        DWORD_PTR process = 0, system = 0;
        GetProcessAffinityMask(GetCurrentProcess(), &process, &system);
        return static_cast<int>(process);
    }
    return 99;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0) return child(argc, argv);
    // Ten times faster: a lock wait of 5 s takes 500 ms, a watch time-out of 2000 ms 200 ms.
    _putenv("GSMS_TIME_SCALE=10");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

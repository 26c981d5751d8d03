// gsmsd --status against status files naming real processes: the gateway that wrote the file
// is told from a process that was given its number later, and from the asking process itself.
#include "gateway/status_client.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/process_signals.h"
#include "support/temp_dir.h"

extern char** environ;

namespace gsms {
namespace {

namespace fs = std::filesystem;

TEST(StatusClient, TellsTheGatewayThatWroteTheFileFromALaterProcessOfItsNumber) {
    test::TempDir dir;
    // A process that runs under the gateway's name: a copy of sleep called gsmsd.
    fs::copy_file("/bin/sleep", dir.path() + "/gsmsd");
    const std::string program = dir.path() + "/gsmsd";
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("300"), nullptr};
    pid_t child = 0;
    ASSERT_EQ(posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ), 0);
    std::string stamp;
    for (int i = 0; i < 500 && (stamp.empty() || !processRunning(child, "gsmsd")); ++i) {
        stamp = processStartStamp(child);
        usleep(10000);
    }
    ASSERT_FALSE(stamp.empty());
    EXPECT_EQ(processStartStamp(child), stamp);  // the same each time

    // This process under the gateway's name too, as a `gsmsd --status` given the number of a
    // gsmsd that has ended would be.
    char ownName[16] = {};
    ::prctl(PR_GET_NAME, ownName);
    ::prctl(PR_SET_NAME, "gsmsd");
    const long self = currentProcessId();
    const struct {
        const char* label;
        std::optional<std::string> file;  // nothing: no status file
        int code;
    } cases[] = {
        {"no status file", std::nullopt, kStatusNone},
        {"the gsmsd that wrote it runs", "pid: " + std::to_string(child) + "\npid start: " + stamp,
         0},
        {"a file of an older gsmsd, without the start", "pid: " + std::to_string(child), 0},
        {"the number has passed to a later process",
         "pid: " + std::to_string(child) + "\npid start: " + stamp + "0", 3},
        {"the number is the asking process's own",
         "pid: " + std::to_string(self) + "\npid start: " + processStartStamp(self), 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove("gsmsd.status");
        if (c.file)
            std::ofstream("gsmsd.status") << "gsmsd 1.5 (Velkora GSM/SMS)\n"
                                          << *c.file << "\nstate: running\n";
        std::FILE* out = std::tmpfile();
        EXPECT_EQ(printStatus(dir.path(), out), c.code);
        std::fclose(out);
    }
    // There, but not readable.
    fs::remove("gsmsd.status");
    fs::create_directory("gsmsd.status");
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(printStatus(dir.path(), out), kStatusUnreadable);
    std::fclose(out);

    ::prctl(PR_SET_NAME, ownName);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace gsms

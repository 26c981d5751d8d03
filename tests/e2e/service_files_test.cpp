// The files that make gsmsd a service, as this build made them: the systemd unit passes
// systemd-analyze (verify, and a security exposure of 2.0 or less), and every option each
// program's --help names is in its manual page.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>

#include "e2e/harness.h"

namespace gsms::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kBuildDir = fs::path(GSMS_BIN_DIR).parent_path();

// Runs a command line through the shell of the test (the arguments are this build's own
// paths); its exit code, its output in `out`.
int run(const std::string& command, std::string& out, const Scratch& dir) {
    Child c;
    const std::string file = dir / "run-output.txt";
    fs::remove(file);
    if (!c.start({"/bin/sh", "-c", command}, dir.path(), file)) return -1;
    const int code = c.waitExit();
    out = readText(file);
    return code;
}

TEST(ServiceFiles, UnitPassesVerifyAndTheSecurityRating) {
    Scratch dir;
    // The unit names the installed program; here it is the one of this build.
    std::string unit = readText(kBuildDir + "/packaging/gsmsd.service");
    ASSERT_FALSE(unit.empty());
    unit = std::regex_replace(unit, std::regex("ExecStart=\\S+/gsmsd "),
                              "ExecStart=" + binary("gsmsd") + " ");
    writeText(dir / "gsmsd.service", unit);
    std::string out;
    // systemd-analyze asks man for the Documentation= pages: this build's.
    EXPECT_EQ(run("MANPATH=" + kBuildDir + "/man systemd-analyze verify ./gsmsd.service", out,
                  dir),
              0)
        << out;
    EXPECT_EQ(out, "");
    EXPECT_EQ(run("systemd-analyze security --offline=yes --threshold=20 ./gsmsd.service", out,
                  dir),
              0)
        << out;
    std::smatch level;
    ASSERT_TRUE(std::regex_search(out, level, std::regex("Overall exposure level for "
                                                          "gsmsd.service: ([0-9.]+)")))
        << out;
    EXPECT_LE(std::stod(level[1]), 2.0) << out;
}

// `cmake --install --prefix DIR` puts every file under DIR, the unit, sysusers.d and tmpfiles.d
// entries too; staged under DESTDIR, so that a file that strays stays in the scratch folder.
TEST(ServiceFiles, InstallPutsEveryFileUnderThePrefixGiven) {
    Scratch dir;
    const std::string stage = dir / "stage", under = stage + (dir / "prefix") + "/";
    std::string out;
    ASSERT_EQ(run("DESTDIR=" + stage + " cmake --install " + kBuildDir + " --prefix " +
                      (dir / "prefix"), out, dir), 0) << out;
    for (const auto& e : fs::recursive_directory_iterator(stage))
        EXPECT_TRUE(e.is_directory() || e.path().string().starts_with(under)) << e.path();
    for (const char* f : {"lib/systemd/system/gsmsd.service", "lib/sysusers.d/gsmsd.conf",
                          "lib/tmpfiles.d/gsmsd.conf", "sbin/gsmsd"})
        EXPECT_TRUE(fs::exists(under + f)) << f;
}

// gsms-config --check, run outside the sandbox, names the folders the unit keeps read-only for
// the service and the drop-in that opens them; with that drop-in nothing stands in the way.
TEST(ServiceFiles, ConfigCheckNamesWhatTheUnitKeepsReadOnly) {
    Scratch dir;
    int master = -1, slave = -1;
    char tty[128];
    ASSERT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0);
    ::close(slave);
    for (const char* sub : {"in", "done", "error", "tables"}) fs::create_directory(dir / sub);
    writeText(dir / "TEVRAK.INI", "[Config]\nPort=" + std::string(tty) + "\nWatchPath=" +
                                      (dir / "in") + "\nDonePath=" + (dir / "done") +
                                      "\nErrorPath=" + (dir / "error") + "\nWatchLogPath=" +
                                      (dir / "tables") + "\n");
    const std::string unit = dir / "gsmsd.service";
    fs::copy_file(kBuildDir + "/packaging/gsmsd.service", unit);
    const std::string command = binary("gsms-config") + " --profile-dir " + dir.path() +
                                " --check --unit " + unit + " 2>&1 >/dev/null";
    std::string out;
    EXPECT_EQ(run(command, out, dir), 1);
    for (const auto& [key, path] : {std::pair{"WatchPath", dir / "in"}, {"DonePath", dir / "done"},
                                    {"ErrorPath", dir / "error"}, {"WatchLogPath", dir / "tables"}})
        EXPECT_NE(out.find(std::string("ERROR: ") + key + " " + path +
                           " is read-only for the service: " + unit +
                           " does not name it in ReadWritePaths=\n"),
                  std::string::npos)
            << key << "\n" << out;
    EXPECT_NE(out.find("ERROR: add ReadWritePaths=" + dir.path() + " " + (dir / "in") + " " +
                       (dir / "done") + " " + (dir / "error") + " " + (dir / "tables") +
                       " to the unit (systemctl edit gsmsd) and restart it\n"),
              std::string::npos)
        << out;

    fs::create_directory(unit + ".d");
    writeText(unit + ".d/override.conf", "[Service]\nReadWritePaths=-" + dir.path() + "\n");
    EXPECT_EQ(run(command, out, dir), 0) << out;
    EXPECT_EQ(out, "");
    ::close(master);
}

// The options (and for the simulator the controls) a program's --help lists, each found in
// its manual page.
TEST(ServiceFiles, ManualPagesNameEveryOptionOfHelp) {
    struct Page {
        const char* program;
        const char* page;
    } pages[] = {
        {"gsmsd", "man8/gsmsd.8"},
        {"gsms-config", "man1/gsms-config.1"},
        {"gsms-modem-sim", "man1/gsms-modem-sim.1"},
        {"gsms", "man1/gsms.1"},
    };
    Scratch dir;
    for (const Page& p : pages) {
        SCOPED_TRACE(p.program);
        if (!fs::exists(binary(p.program))) continue;  // the window, in a build without it
        std::string help, version;
        ASSERT_EQ(run(binary(p.program) + " --help", help, dir), 0);
        ASSERT_EQ(run(binary(p.program) + " --version", version, dir), 0);
        EXPECT_EQ(version, std::string(p.program) + " (Velkora GSM/SMS) " GSMS_VERSION "\n");
        // The page as man would show it: "\-" is "-".
        std::string page = readText(kBuildDir + "/man/" + p.page);
        ASSERT_FALSE(page.empty());
        page = std::regex_replace(page, std::regex("\\\\-"), "-");
        EXPECT_NE(page.find("Velkora GSM/SMS " GSMS_VERSION), std::string::npos);
        std::set<std::string> names;
        const std::regex option("--[a-z][a-z-]*");
        for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
            names.insert(it->str());
        // The simulator's controls: the first word of each line under "Controls:".
        const auto controls = help.find("\nControls:\n");
        if (controls != std::string::npos) {
            const std::regex control("\n  ([a-z][a-z-]*)");
            const std::string rest = help.substr(controls);
            for (std::sregex_iterator it(rest.begin(), rest.end(), control), end; it != end; ++it)
                names.insert((*it)[1].str());
        }
        EXPECT_GE(names.size(), 3u);
        for (const std::string& name : names)
            EXPECT_NE(page.find(name), std::string::npos) << name << " is not in " << p.page;
    }
}

}  // namespace
}  // namespace gsms::e2e

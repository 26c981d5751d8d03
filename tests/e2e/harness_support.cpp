#include "e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace gsms::e2e {

namespace fs = std::filesystem;

bool waitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeText(const std::string& path, const std::string& text) {
    // Written aside and renamed, as an alarm server should, so no half file is ever seen.
    const std::string tmp = path + ".part~";
    std::ofstream(tmp, std::ios::binary) << text;
    fs::rename(tmp, path);
}

std::string binary(const std::string& name) { return std::string(GSMS_BIN_DIR) + "/" + name; }

double cpuSeconds(pid_t pid) {
    const std::string all = readText("/proc/" + std::to_string(pid) + "/stat");
    const auto close = all.rfind(')');  // the name in brackets may hold blanks
    if (close == std::string::npos) return 0;
    std::istringstream rest(all.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

Child::~Child() { kill(); }

namespace {

// argv and the environment (ours, with env's entries in place of the same names) as the
// arrays posix_spawn takes; the strings stay in the vectors.
struct SpawnArrays {
    std::vector<std::string> envStrings, argStrings;
    std::vector<char*> envp, args;
    SpawnArrays(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env)
        : argStrings(argv) {
        for (char** e = environ; *e; ++e) {
            const std::string s = *e;
            if (!env.count(s.substr(0, s.find('=')))) envStrings.push_back(s);
        }
        for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
        for (auto& s : envStrings) envp.push_back(s.data());
        envp.push_back(nullptr);
        for (auto& s : argStrings) args.push_back(s.data());
        args.push_back(nullptr);
    }
};

}  // namespace

bool Child::start(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& outputFile, const std::map<std::string, std::string>& env) {
    const int fd =
        ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) return false;
    const bool started = start(argv, cwd, fd, env);
    ::close(fd);
    return started;
}

bool Child::start(const std::vector<std::string>& argv, const std::string& cwd, int outputFd,
                  const std::map<std::string, std::string>& env) {
    SpawnArrays a(argv, env);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, outputFd, 1);
    posix_spawn_file_actions_adddup2(&fa, outputFd, 2);
    posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    const int rc = posix_spawn(&pid_, a.args[0], &fa, nullptr, a.args.data(), a.envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) pid_ = -1;
    return rc == 0;
}

bool Child::running() { return exitCode() == -1 && pid_ > 0; }

int Child::exitCode() {
    if (pid_ <= 0) return status_;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        pid_ = -1;
    }
    return pid_ > 0 ? -1 : status_;
}

int Child::waitExit(std::chrono::milliseconds limit) {
    waitFor([this] { return exitCode() != -1; }, limit);
    return exitCode();
}

void Child::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

void Child::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int st = 0;
    waitpid(pid_, &st, 0);
    status_ = 128 + SIGKILL;
    pid_ = -1;
}

bool Simulator::start(const std::vector<std::string>& extraArgs) {
    link_ = dir_ + "/ttyGSM0";
    control_ = dir_ + "/sim.ctl";
    std::vector<std::string> argv{binary("gsms-modem-sim"), "--link", link_, "--control",
                                  control_, "--record", dir_ + "/sim-record.jsonl", "--trace",
                                  dir_ + "/sim-trace.jsonl"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    if (!child_.start(argv, dir_, dir_ + "/sim-output.txt")) return false;
    return waitFor([this] { return fs::exists(link_) && fs::exists(control_); });
}

std::string Simulator::control(const std::string& line) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", control_.c_str());
    // A simulator that is still coming up refuses for a moment (or has no socket yet).
    int fd = -1, err = 0;
    waitFor(
        [&] {
            fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
                return true;
            err = errno;
            if (fd >= 0) ::close(fd);
            fd = -1;
            return err != ECONNREFUSED && err != ENOENT;
        },
        std::chrono::seconds(5));
    if (fd < 0) return std::string("error: connect: ") + std::strerror(err);
    const std::string out = line + "\n";
    if (::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) {
        ::close(fd);
        return "error: write";
    }
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
    ::close(fd);
    return answer;
}

namespace {

// The value of "key":"..." in a JSON line, with the common escapes undone.
std::string jsonString(const std::string& line, const std::string& key) {
    const std::string pattern = "\"" + key + "\":\"";
    auto pos = line.find(pattern);
    if (pos == std::string::npos) return {};
    std::string out;
    for (pos += pattern.size(); pos < line.size() && line[pos] != '"'; ++pos) {
        if (line[pos] == '\\' && pos + 1 < line.size()) {
            const char e = line[++pos];
            if (e == 'n') out += '\n';
            else if (e == 'r') out += '\r';
            else if (e == 't') out += '\t';
            else if (e == 'u' && pos + 4 < line.size()) {
                const unsigned cp = std::stoul(line.substr(pos + 1, 4), nullptr, 16);
                pos += 4;
                if (cp < 0x80) out += static_cast<char>(cp);
                else if (cp < 0x800) {
                    out += static_cast<char>(0xC0 | (cp >> 6));
                    out += static_cast<char>(0x80 | (cp & 0x3F));
                } else {
                    out += static_cast<char>(0xE0 | (cp >> 12));
                    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (cp & 0x3F));
                }
            } else out += e;
        } else {
            out += line[pos];
        }
    }
    return out;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);)
        if (!l.empty()) out.push_back(l);
    return out;
}

}  // namespace

std::vector<std::string> Simulator::commands() {
    std::vector<std::string> out;
    for (const auto& l : lines(readText(dir_ + "/sim-trace.jsonl")))
        out.push_back(jsonString(l, "command"));
    return out;
}

int Simulator::count(const std::string& prefix) {
    int n = 0;
    for (const auto& c : commands())
        if (c.rfind(prefix, 0) == 0) ++n;
    return n;
}

std::vector<std::string> Simulator::records() {
    return lines(readText(dir_ + "/sim-record.jsonl"));
}

void Gateway::configure(const std::map<std::string, std::string>& keys) {
    std::string ini = "[Config]\n";
    for (const auto& [k, v] : keys) ini += k + "=" + v + "\n";
    writeText(dir_ + "/TEVRAK.INI", ini);
}

void Gateway::configure(const Simulator& sim, std::map<std::string, std::string> keys) {
    keys.emplace("Port", sim.link());
    keys.emplace("WatchPath", dir_ + "/in");
    keys.emplace("DonePath", dir_ + "/done");
    keys.emplace("ErrorPath", dir_ + "/error");
    keys.emplace("WatchLogPath", dir_);
    configure(keys);
}

void installTechAlarmRecorder(const std::string& dir) {
    writeText(dir + "/plasto.cmd",
              "#!/bin/sh\necho \"$1\" >> \"$(dirname \"$0\")/tech-alarm.txt\"\n");
    fs::permissions(dir + "/plasto.cmd", fs::perms::owner_all);
}

bool Gateway::start(const std::string& program, const std::map<std::string, std::string>& env,
                    const std::vector<std::string>& wrapper) {
    std::map<std::string, std::string> e{{"GSMS_TIME_SCALE", "10"}};
    for (const auto& [k, v] : env) e[k] = v;
    std::vector<std::string> argv = wrapper;
    argv.insert(argv.end(), {binary(program), "--profile-dir", dir_});
    return child_.start(argv, dir_, dir_ + "/output.txt", e);
}

std::string Gateway::dailyLog() {
    std::string all;
    if (!fs::is_directory(dir_ + "/log")) return all;
    std::vector<fs::path> files;
    for (const auto& f : fs::directory_iterator(dir_ + "/log")) files.push_back(f.path());
    std::sort(files.begin(), files.end());  // a run across midnight spans two files
    for (const auto& f : files) all += readText(f);
    return all;
}

std::string Gateway::output() { return readText(dir_ + "/output.txt"); }

bool Gateway::waitLog(const std::string& text, std::chrono::milliseconds limit) {
    return waitFor([&] { return logHas(text); }, limit);
}

int Gateway::logCount(const std::string& text) {
    const std::string log = dailyLog();
    int n = 0;
    for (auto pos = log.find(text); pos != std::string::npos; pos = log.find(text, pos + 1)) ++n;
    return n;
}

Scratch::Scratch() {
    char tmpl[] = "/tmp/gsms-e2e-XXXXXX";
    path_ = ::mkdtemp(tmpl);
}

Scratch::~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace gsms::e2e

#include <poll.h>
#include <termios.h>

namespace gsms::e2e {

Terminal::Terminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    const char* name = ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 ? ::ptsname(master_)
                                                                           : nullptr;
    if (!name) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slave_ = name;
    termios t{};
    if (::tcgetattr(master_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
}

Terminal::~Terminal() {
    if (master_ >= 0) ::close(master_);
}

std::string Terminal::text() {
    // Drained on every call, so a writer never stays blocked on a full terminal for long.
    for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (master_ < 0 || ::poll(&p, 1, 0) != 1 || !(p.revents & POLLIN)) break;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        text_.append(buf, static_cast<std::size_t>(n));
    }
    return text_;
}

}  // namespace gsms::e2e

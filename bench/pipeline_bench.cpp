// Whole-gateway benchmark: gsmsd in real time against gsms-modem-sim answering at once.
//
// BM_Jobs/N drops N job files at once and measures the time from the drop until the last job
// is reported (moved to the done directory), and the CPU time gsmsd used for it. The watcher's
// own pauses (100 ms before reading a file, 500 ms after queuing it) bound the wall time from
// below at N x 0.6 s; "overhead_ms_per_job" is what the gateway adds beyond them.
// BM_SlowModem/0 drops 10 job files for a modem that takes 2 s per submission and measures the
// time from the drop until the gateway has the last modem answer (its tenth "Message sent to"
// line): the modem's own time is 20 s. BM_SlowModem/1 refuses every third number (+CMS ERROR:
// 500, after the same 2 s) and stops the clock at the seventh sent message.
// BM_Backlog/1000 drops 1,000 job files at once: the intake rate (jobs reported per second,
// from the drop to the last report) and gsmsd's resident memory before the drop, when half
// the jobs are done and at the end (it must stay flat: the watcher remembers only the files
// still in the folder). GSMS_BENCH_TIME_SCALE (default 1, real time) speeds up the gateway's
// own pauses, to see what the gateway adds with a large folder behind them.
// BM_DropOrder/1000/0 drops 1,000 job files at once (names in no particular order, as an alarm
// server's counters or stamps may give) and measures the drain, from the drop to the last
// report, and where the first 100 dropped came in the order of the submissions: their median
// and worst rank (1 = sent first). BM_DropOrder/1000/1 drops them before the gateway starts
// (a backlog left while it was down) and measures from its start. GSMS_BENCH_TIME_SCALE as for
// BM_Backlog.
// BM_Idle measures gsmsd's CPU time over 60 idle seconds (signal polls included).
// BM_ModemBlip/N takes the modem's port away for N seconds and brings it back under the same
// link, as a USB modem that re-enumerates does; a job file is dropped once the port is gone.
// It measures the time from the modem's return (its link made again) to the simulator's
// acceptance of the job. gsmsd runs with the default settings; when it ends (a port gone
// longer than the signal supervision waits), it is started again 5 s later, as systemd's
// Restart=on-failure with RestartSec=5 does, and "restarts" counts how often.
// BM_TwoModems/N drops 50 alarms at once for simulators taking 2 s per submission, in real
// time, and measures from the drop to the last "Message sent to": N=0 one modem (its own time
// 100 s), N=1 two (50 s), N=2 two with the second simulator killed once 10 alarms are sent.
// "most_behind_drop_order_s": the n-th alarm dropped can at best go out with the n-th
// "Message sent" line; the most any alarm went out later than that. "longest_modem_gap_s":
// the longest a modem took between two of its sent alarms beyond the 2 s. With the kill, the
// alarm in flight on the killed modem: from the kill to its failed attempt, and from there
// until it was sent on the other.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/harness.h"

namespace {

using namespace gsms::e2e;
namespace fs = std::filesystem;

struct Rig {
    Scratch dir;
    Simulator sim{dir.path()};
    Simulator sim2{dir / "m2"};  // the second modem, in a folder of its own: its own link
    Gateway gateway{dir.path()};
    std::string scale = "1";
    bool start(const std::string& timeScale = "1", int modems = 1,
               const std::vector<std::string>& simArgs = {}) {
        for (const char* d : {"in", "done", "error", "m2"}) fs::create_directories(dir / d);
        if (!sim.start(simArgs) || (modems == 2 && !sim2.start(simArgs))) return false;
        gateway.configure(sim, {{"IncomingEnable", "0"}});
        if (modems == 2)
            writeText(dir / "TEVRAK.INI",
                      readText(dir / "TEVRAK.INI") + "[Modem2]\nPort=" + sim2.link() + "\n");
        scale = timeScale;
        // Every modem in service (its service centre read) and its threads started; a modem
        // whose first open failed comes in later through its LinkThread.
        return restart() && waitFor([&] {
                   return gateway.logCount("SMSC +") == modems &&
                          gateway.logCount("SignalThread started") == modems;
               });
    }
    // Real time: the benchmark measures the pauses as they are in service.
    bool restart() { return gateway.start("gsmsd", {{"GSMS_TIME_SCALE", scale}}); }
};

void BM_Jobs(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError("gateway did not start");
            return;
        }
        const double cpu0 = cpuSeconds(rig.gateway.process().pid());
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            writeText(rig.dir / ("in/j" + std::to_string(i) + ".sms"),
                      "[Alarm]\r\nPhoneNumber=+49170" + std::to_string(i) +
                          "\r\nMessage=benchmark job\r\n");
        const bool done = waitFor(
            [&] {
                return static_cast<int>(std::distance(fs::directory_iterator(rig.dir / "done"),
                                                      fs::directory_iterator())) == n;
            },
            std::chrono::seconds(30 + n * 3));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = cpuSeconds(rig.gateway.process().pid()) - cpu0;
        if (!done) {
            state.SkipWithError("not every job was reported");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["wall_s"] = wall;
        state.counters["cpu_ms_per_job"] = cpu * 1000.0 / n;
        // The watcher's pauses: 100 ms before each file, 500 ms after each but the last.
        state.counters["overhead_ms_per_job"] = (wall - (n * 0.6 - 0.5)) * 1000.0 / n;
    }
}
BENCHMARK(BM_Jobs)->Arg(1)->Arg(30)->Arg(100)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_SlowModem(benchmark::State& state) {
    constexpr int kJobs = 10;
    constexpr double kModemSeconds = kJobs * 2.0;
    const bool refusals = state.range(0) != 0;
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError("gateway did not start");
            return;
        }
        int good = kJobs;
        (void)rig.sim.control("send-delay 2000");
        for (int i = 2; refusals && i < kJobs; i += 3, --good)
            (void)rig.sim.control("refuse +49170" + std::to_string(i) + " 500");
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < kJobs; ++i)
            writeText(rig.dir / ("in/j" + std::to_string(i) + ".sms"),
                      "[Alarm]\r\nPhoneNumber=+49170" + std::to_string(i) +
                          "\r\nMessage=benchmark job\r\n");
        const bool done = waitFor([&] { return rig.gateway.logCount("Message sent to") == good; },
                                  std::chrono::seconds(200));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!done) {
            state.SkipWithError("not every good job was sent");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["wall_s"] = wall;
        if (!refusals)
            state.counters["beyond_modem_percent"] = 100.0 * (wall - kModemSeconds) / kModemSeconds;
    }
}
BENCHMARK(BM_SlowModem)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
// A line of /proc/<pid>/status in kB ("VmRSS", "VmHWM").
double statusKb(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return std::stod(line.substr(key.size() + 1));
    return 0;
}

int filesIn(const std::string& dir) {
    return static_cast<int>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

void BM_Backlog(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const char* scale = std::getenv("GSMS_BENCH_TIME_SCALE");
    for (auto _ : state) {
        Rig rig;
        if (!rig.start(scale != nullptr ? scale : "1")) {
            state.SkipWithError("gateway did not start");
            return;
        }
        const pid_t pid = rig.gateway.process().pid();
        const double rssStart = statusKb(pid, "VmRSS");
        const double cpu0 = cpuSeconds(pid);
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i)
            writeText(rig.dir / ("in/j" + std::to_string(i) + ".sms"),
                      "[Alarm]\r\nPhoneNumber=+49170" + std::to_string(i) +
                          "\r\nMessage=backlog job\r\n");
        double rssHalf = 0;
        const bool done = waitFor(
            [&] {
                const int reported = filesIn(rig.dir / "done");
                if (rssHalf == 0 && reported >= n / 2) rssHalf = statusKb(pid, "VmRSS");
                return reported == n;
            },
            std::chrono::seconds(60 + n * 3));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!done) {
            state.SkipWithError("not every job was reported");
            return;
        }
        state.SetIterationTime(wall);
        state.counters["jobs_per_s"] = n / wall;
        state.counters["cpu_ms_per_job"] = (cpuSeconds(pid) - cpu0) * 1000.0 / n;
        state.counters["rss_start_kB"] = rssStart;
        state.counters["rss_half_kB"] = rssHalf;
        state.counters["rss_end_kB"] = statusKb(pid, "VmRSS");
        state.counters["rss_peak_kB"] = statusKb(pid, "VmHWM");
        state.counters["sms"] = static_cast<double>(rig.sim.records().size());
    }
}
BENCHMARK(BM_Backlog)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_DropOrder(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const bool beforeStart = state.range(1) != 0;
    const char* scale = std::getenv("GSMS_BENCH_TIME_SCALE");
    for (auto _ : state) {
        Rig rig;
        const auto drop = [&] {
            fs::create_directories(rig.dir / "in");
            for (int i = 0; i < n; ++i)
                writeText(rig.dir / ("in/" + std::to_string((i * 7919) % 100003) + ".sms"),
                          "[Alarm]\r\nPhoneNumber=" + std::to_string(100000 + i) +
                              "\r\nMessage=drop order\r\n");
        };
        auto t0 = std::chrono::steady_clock::now();
        if (beforeStart) drop();
        if (!rig.start(scale != nullptr ? scale : "1")) {
            state.SkipWithError("gateway did not start");
            return;
        }
        if (!beforeStart) {
            t0 = std::chrono::steady_clock::now();
            drop();
        }
        const bool done = waitFor([&] { return filesIn(rig.dir / "done") == n; },
                                  std::chrono::seconds(60 + n * 3));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!done) {
            state.SkipWithError("not every job was reported");
            return;
        }
        // The rank at which each of the first 100 dropped was submitted.
        std::vector<int> ranks;
        const auto records = rig.sim.records();
        for (std::size_t rank = 0; rank < records.size(); ++rank) {
            const auto at = records[rank].find("\"to\":\"") + 6;
            const int dropped = std::stoi(records[rank].substr(at, 6)) - 100000;
            if (dropped < 100) ranks.push_back(static_cast<int>(rank) + 1);
        }
        std::sort(ranks.begin(), ranks.end());
        state.SetIterationTime(wall);
        state.counters["drain_s"] = wall;
        const std::size_t m = ranks.size();
        state.counters["first100_median_rank"] =
            m == 0 ? 0 : (ranks[(m - 1) / 2] + ranks[m / 2]) / 2.0;
        state.counters["first100_worst_rank"] = ranks.empty() ? 0 : ranks.back();
        state.counters["sms"] = static_cast<double>(records.size());
    }
}
BENCHMARK(BM_DropOrder)->Args({1000, 0})->Args({1000, 1})->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_Idle(benchmark::State& state) {
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError("gateway did not start");
            return;
        }
        const pid_t pid = rig.gateway.process().pid();
        const double cpu0 = cpuSeconds(pid);
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(60));
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const double cpu = cpuSeconds(pid) - cpu0;
        state.SetIterationTime(wall);
        state.counters["cpu_percent_of_core"] = 100.0 * cpu / wall;
    }
}
BENCHMARK(BM_Idle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_ModemBlip(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const int outage = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Rig rig;
        if (!rig.start()) {
            state.SkipWithError("gateway did not start");
            return;
        }
        const std::string link = rig.sim.link();
        auto linked = [&] { return fs::exists(fs::symlink_status(link)); };
        (void)rig.sim.control("hangup " + std::to_string(outage));
        if (!waitFor([&] { return !linked() && rig.gateway.logHas("modem port hung up"); })) {
            state.SkipWithError("the port did not go");
            return;
        }
        writeText(rig.dir / "in/blip.sms",
                  "[Alarm]\r\nPhoneNumber=+4917099\r\nMessage=after the blip\r\n");
        int restarts = 0;
        Clock::time_point back{}, restartAt{};
        const bool accepted = waitFor(
            [&] {
                if (back == Clock::time_point{} && linked()) back = Clock::now();
                if (rig.gateway.process().exitCode() != -1) {
                    if (restartAt == Clock::time_point{}) restartAt = Clock::now() + std::chrono::seconds(5);
                    if (Clock::now() >= restartAt && rig.restart()) {
                        ++restarts;
                        restartAt = {};
                    }
                }
                return !rig.sim.records().empty();
            },
            std::chrono::seconds(outage + 300));
        if (!accepted || back == Clock::time_point{}) {
            state.SkipWithError("the job was not accepted");
            return;
        }
        const double delay = std::chrono::duration<double>(Clock::now() - back).count();
        state.SetIterationTime(delay);
        state.counters["return_to_accepted_s"] = delay;
        state.counters["restarts"] = restarts;
    }
}
BENCHMARK(BM_ModemBlip)->Arg(2)->Arg(20)->Arg(180)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_TwoModems(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    constexpr int kAlarms = 50;
    constexpr int kKillAfter = 10;
    constexpr double kSubmission = 2.0;
    const int modems = state.range(0) == 0 ? 1 : 2;
    const bool killSecond = state.range(0) == 2;
    for (auto _ : state) {
        Rig rig;
        // Alarms with a status row each, as the alarm server sends them.
        Child table;
        if (!table.start({binary("gsms-sample-table"), rig.dir / "plant.dbf",
                          std::to_string(kAlarms)},
                         rig.dir.path(), rig.dir / "table.txt") ||
            table.waitExit() != 0) {
            state.SkipWithError("no status table");
            return;
        }
        installTechAlarmRecorder(rig.dir.path());
        if (!rig.start("1", modems, {"--send-delay", "2000"})) {
            state.SkipWithError("gateway did not start");
            return;
        }
        struct Sent {
            int alarm = 0;  // its place in the drop order
            int modem = 1;
            double at = 0;  // seconds after the drop
        };
        std::vector<Sent> sent;
        std::vector<bool> seen(kAlarms, false);
        const auto t0 = Clock::now();
        const auto since = [&] { return std::chrono::duration<double>(Clock::now() - t0).count(); };
        // Zero-padded names: the drop order is the name order, the one the watcher takes
        // for files of the same modification time.
        for (int i = 0; i < kAlarms; ++i) {
            const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
            writeText(rig.dir / ("in/a" + n + ".sms"),
                      "[Alarm]\r\nSzenario=plant\r\ndbentry=" + std::to_string(i) +
                          "\r\nPhoneNumber=+49170" + std::to_string(1000 + i) +
                          "\r\nMessage=alarm " + n + "\r\n");
        }
        double killedAt = -1;
        // The alarm whose attempt on the killed modem failed, and when that showed.
        int failed = -1;
        double failedAt = -1;
        const bool done = waitFor(
            [&] {
                // Each "Message sent to" line, timed when it first shows (every 20 ms).
                const double now = since();
                std::istringstream log(rig.gateway.dailyLog());
                for (std::string line; std::getline(log, line);) {
                    const auto error = line.find("modem 2: ERROR sending to +49170");
                    if (error != std::string::npos && failed < 0) {
                        failed = std::atoi(line.c_str() + error + 32) - 1000;
                        failedAt = now;
                    }
                    const auto at = line.find("Message sent to +49170");
                    if (at == std::string::npos) continue;
                    const int alarm = std::atoi(line.c_str() + at + 22) - 1000;
                    if (alarm < 0 || alarm >= kAlarms || seen[alarm]) continue;
                    seen[alarm] = true;
                    const bool second = line.find("modem 2: ") != std::string::npos;
                    sent.push_back({alarm, second ? 2 : 1, now});
                }
                if (killSecond && killedAt < 0 && static_cast<int>(sent.size()) >= kKillAfter) {
                    rig.sim2.process().kill();
                    killedAt = since();
                }
                return static_cast<int>(sent.size()) == kAlarms;
            },
            std::chrono::seconds(400));
        if (!done) {
            state.SkipWithError("not every alarm was sent");
            return;
        }
        // sent is in the order of the lines, the order the alarms went out.
        const double last = sent.back().at;
        // Behind the drop order: the n-th alarm dropped can at best go out with the n-th
        // "Message sent" line (the alarms before it take their modem time); what it waited
        // beyond that, it waited behind alarms dropped after it.
        double behind = 0;
        std::vector<double> nth, sentAt(kAlarms, 0);
        for (const Sent& s : sent) {
            nth.push_back(s.at);
            sentAt[s.alarm] = s.at;
        }
        // Modem gap: the longest a modem took between two of its sent alarms beyond the 2 s of
        // the submission.
        double modemGap = 0;
        double lastOn[3] = {0, 0, 0};
        int count[3] = {0, 0, 0};
        for (const Sent& s : sent) {
            behind = std::max(behind, s.at - nth[s.alarm]);
            if (count[s.modem] > 0)
                modemGap = std::max(modemGap, s.at - lastOn[s.modem] - kSubmission);
            lastOn[s.modem] = s.at;
            ++count[s.modem];
        }
        state.SetIterationTime(last);
        state.counters["drop_to_last_sent_s"] = last;
        // The modems' own time: the first 10 over two and the rest over one, when killed.
        state.counters["modem_time_s"] =
            killSecond ? (kKillAfter / 2.0 + kAlarms - kKillAfter) * kSubmission
                       : kAlarms * kSubmission / modems;
        state.counters["sent_modem1"] = count[1];
        state.counters["sent_modem2"] = count[2];
        state.counters["most_behind_drop_order_s"] = behind;
        state.counters["longest_modem_gap_s"] = modemGap;
        if (killSecond) {
            state.counters["killed_at_s"] = killedAt;
            state.counters["failed_on_modem2"] = rig.gateway.logCount("modem 2: ERROR sending to");
            if (failed >= 0 && failed < kAlarms) {
                // The alarm in flight on the killed modem: how long its attempt there held it,
                // and how long it then took to go out on the other.
                state.counters["in_flight_failed_after_kill_s"] = failedAt - killedAt;
                state.counters["in_flight_failed_to_sent_s"] = sentAt[failed] - failedAt;
            }
        }
    }
}
BENCHMARK(BM_TwoModems)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();

// Status-table benchmark: the DBF work of reporting one job, on tables of 1,000 to 100,000
// rows, so that its time can be seen not to grow with the rows.
//
// BM_Update/N: open, go to a record, one Replace (take the record's lock, read the header
// afresh, write the field's bytes and the date, flush to disk, unlock), close.
// BM_Report/N: what ReportThread does for one alarm: open, go, Replace "STATUS" and "TIME",
// read "TY1", Replace "TI1" and "TO1" (four locked and flushed writes), close.
// The tables lie in $GSMS_BENCH_DIR, else $TMPDIR, else /tmp: the disk flush costs what that
// file system makes it cost.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/database.h"
#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

std::string benchDir() {
    for (const char* name : {"GSMS_BENCH_DIR", "TMPDIR"})
        if (const char* d = std::getenv(name); d != nullptr && *d != '\0') return d;
    return "/tmp";
}

std::string tablePath(long rows) {
    return benchDir() + "/gsms-bench-" + std::to_string(::getpid()) + "-" + std::to_string(rows) +
           ".dbf";
}

// A status table of `rows` rows (channel 1 "SMS") made by gsms-sample-table, once per size;
// empty (and the benchmark skipped) when it could not be made.
std::string table(benchmark::State& state) {
    const std::string path = tablePath(state.range(0));
    if (!fs::exists(path)) {
        gsms::e2e::Child maker;
        if (!maker.start({gsms::e2e::binary("gsms-sample-table"), path, std::to_string(state.range(0))},
                         benchDir(), "/dev/null") ||
            maker.waitExit() != 0) {
            state.SkipWithError("cannot make the table");
            return {};
        }
    }
    return path;
}

void BM_Update(benchmark::State& state) {
    const long rows = state.range(0);
    const std::string path = table(state);
    if (path.empty()) return;
    long n = 0;
    for (auto _ : state) {
        gsms::CDatabase db;
        const long record = 1 + (n++ * 7919) % rows;  // all over the table
        if (!db.Open(path.c_str()) || db.Go(record) != 0 || !db.Replace("STATUS", 8)) {
            state.SkipWithError("update failed");
            return;
        }
        db.Close();
    }
}

void BM_Report(benchmark::State& state) {
    const long rows = state.range(0);
    const std::string path = table(state);
    if (path.empty()) return;
    long n = 0;
    char type[9];
    for (auto _ : state) {
        gsms::CDatabase db;
        const long record = 1 + (n++ * 7919) % rows;
        if (!db.Open(path.c_str()) || db.Go(record) != 0 || !db.Replace("STATUS", 8) ||
            !db.Replace("TIME", "123456") || !db.GetField("TY1", type) ||
            !db.Replace("TI1", "123456") || !db.Replace("TO1", 8)) {
            state.SkipWithError("report failed");
            return;
        }
        db.Close();
    }
}

void removeTables() {
    for (long rows : {1000L, 10000L, 100000L}) fs::remove(tablePath(rows));
}

}  // namespace

// Real time: the disk flush is waited for, not computed.
BENCHMARK(BM_Update)->Arg(1000)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Report)->Arg(1000)->Arg(10000)->Arg(100000)->UseRealTime()->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeTables();
    return 0;
}

// gsms-sample-table: writes a dBASE III status table in the layout the alarm server uses, for
// the demo and the benchmarks: STATUS, TIME, four channel types TY1..TY4 with their time and
// status fields TI1..TI4 and TO1..TO4. Channel 1 is "SMS", channel 2 "MAIL". Made with the
// gateway's own DBF engine (the gateway itself never creates a table).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/database.h"

namespace {

const gsms::db::DbfFieldDesc kFields[] = {
    {"STATUS", 'N', 3, 0}, {"TIME", 'C', 6, 0},
    {"TY1", 'C', 8, 0},    {"TY2", 'C', 8, 0},  {"TY3", 'C', 8, 0}, {"TY4", 'C', 8, 0},
    {"TI1", 'C', 6, 0},    {"TI2", 'C', 6, 0},  {"TI3", 'C', 6, 0}, {"TI4", 'C', 6, 0},
    {"TO1", 'N', 3, 0},    {"TO2", 'N', 3, 0},  {"TO3", 'N', 3, 0}, {"TO4", 'N', 3, 0},
    {nullptr, 0, 0, 0}};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: gsms-sample-table TABLE.dbf [RECORDS]\n");
        return argc == 2 ? 0 : 2;
    }
    char* end = nullptr;
    const long records = argc == 3 ? std::strtol(argv[2], &end, 10) : 10;
    if (argc == 3 && (*end != '\0' || records < 0 || records > 10000000)) {
        std::fprintf(stderr, "gsms-sample-table: RECORDS must be 0 to 10000000\n");
        return 2;
    }
    gsms::CDatabase table;
    if (!table.Create(argv[1], kFields)) {
        std::fprintf(stderr, "gsms-sample-table: cannot create %s\n", argv[1]);
        return 1;
    }
    // One disk flush at the end instead of one per field.
    table.SetAutoFlush(0);
    bool ok = true;
    for (long r = 0; r < records && ok; ++r)
        ok = table.Append() && table.Replace("STATUS", 0) && table.Replace("TY1", "SMS") &&
             table.Replace("TY2", "MAIL");
    table.Flush();
    (void)table.Close();
    if (!ok) {
        std::fprintf(stderr, "gsms-sample-table: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

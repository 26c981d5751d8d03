// Status tables in the layout of the alarm server's tables, made and read back byte by byte
// (dbf_bytes.h), not through the gateway's engine: STATUS, TIME, channel types TY1..TY4,
// channel times TI1..TI4, channel statuses TO1..TO4.
#pragma once

#include <cstdlib>
#include <string>

#include "support/dbf_bytes.h"

namespace gsms::test {

// A dBASE III status table of `records` rows, each with status 0, empty times and the two
// given channel types.
inline DbfLayout statusTableLayout(int records, const char* ty1, const char* ty2 = "") {
    DbfLayout s;
    s.fields = {{"STATUS", 'N', 3}, {"TIME", 'C', 6}};
    for (int i = 1; i <= 4; ++i) s.fields.push_back({"TY" + std::to_string(i), 'C', 10});
    for (int i = 1; i <= 4; ++i) s.fields.push_back({"TI" + std::to_string(i), 'C', 6});
    for (int i = 1; i <= 4; ++i) s.fields.push_back({"TO" + std::to_string(i), 'N', 3});
    for (int r = 0; r < records; ++r) s.rows.push_back({"0", "", ty1, ty2});
    return s;
}

inline bool makeStatusTable(const std::string& path, int records, const char* ty1,
                            const char* ty2 = "") {
    writeBytes(path, dbfBytes(statusTableLayout(records, ty1, ty2)));
    return !readBytes(path).empty();
}

// The fields of one record (zero-based) that the gateway writes for channels 1 and 2; -1 and
// empty texts when the record is not there.
struct StatusRow {
    int status = -1;
    std::string time, ti1, ti2;
    int to1 = -1, to2 = -1;
};

inline StatusRow statusRow(const std::string& path, int record) {
    const auto rows = readDbfRows(path);
    if (record < 0 || record >= static_cast<int>(rows.size())) return {};
    auto r = rows[static_cast<std::size_t>(record)];
    auto num = [](const std::string& v) { return std::atoi(v.c_str()); };
    return {num(r["STATUS"]), r["TIME"], r["TI1"], r["TI2"], num(r["TO1"]), num(r["TO2"])};
}

}  // namespace gsms::test

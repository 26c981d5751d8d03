// Status tables in the layout of the alarm server's tables, made and read back with shapelib:
// STATUS, TIME, channel types TY1..TY4, channel times TI1..TI4, channel statuses TO1..TO4.
#pragma once

#include <shapefil.h>

#include <string>

namespace gsms::test {

// Every record starts with status 0, empty times and the two given channel types.
inline bool makeStatusTable(const std::string& path, int records, const char* ty1,
                            const char* ty2 = "") {
    DBFHandle h = DBFCreate(path.c_str());
    if (h == nullptr) return false;
    DBFAddField(h, "STATUS", FTInteger, 3, 0);
    DBFAddField(h, "TIME", FTString, 6, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TY" + std::to_string(i)).c_str(), FTString, 10, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TI" + std::to_string(i)).c_str(), FTString, 6, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TO" + std::to_string(i)).c_str(), FTInteger, 3, 0);
    for (int r = 0; r < records; ++r) {
        DBFWriteIntegerAttribute(h, r, 0, 0);
        DBFWriteStringAttribute(h, r, 1, "");
        DBFWriteStringAttribute(h, r, 2, ty1);
        DBFWriteStringAttribute(h, r, 3, ty2);
        for (int f = 4; f < 14; ++f) DBFWriteAttributeDirectly(h, r, f, const_cast<char*>(""));
    }
    DBFClose(h);
    return true;
}

// The fields of one record (zero-based) that the gateway writes for channels 1 and 2.
struct StatusRow {
    int status = -1;
    std::string time, ti1, ti2;
    int to1 = -1, to2 = -1;
};

inline StatusRow statusRow(const std::string& path, int record) {
    DBFHandle h = DBFOpen(path.c_str(), "rb");
    if (h == nullptr) return {};
    StatusRow r{DBFReadIntegerAttribute(h, record, 0), DBFReadStringAttribute(h, record, 1),
                DBFReadStringAttribute(h, record, 6), DBFReadStringAttribute(h, record, 7),
                DBFReadIntegerAttribute(h, record, 10), DBFReadIntegerAttribute(h, record, 11)};
    DBFClose(h);
    return r;
}

}  // namespace gsms::test

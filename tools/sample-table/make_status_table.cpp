// gsms-sample-table: writes a status table in the layout the alarm server uses, for the demo
// and the benchmarks: STATUS, TIME, four channel types TY1..TY4 with their time and status
// fields TI1..TI4 and TO1..TO4. Channel 1 is "SMS", channel 2 "MAIL".
#include <shapefil.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: gsms-sample-table TABLE.dbf [RECORDS]\n");
        return argc == 2 ? 0 : 2;
    }
    const int records = argc == 3 ? std::atoi(argv[2]) : 10;
    DBFHandle h = DBFCreate(argv[1]);
    if (h == nullptr) {
        std::fprintf(stderr, "gsms-sample-table: cannot create %s\n", argv[1]);
        return 1;
    }
    DBFAddField(h, "STATUS", FTInteger, 3, 0);
    DBFAddField(h, "TIME", FTString, 6, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TY" + std::to_string(i)).c_str(), FTString, 8, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TI" + std::to_string(i)).c_str(), FTString, 6, 0);
    for (int i = 1; i <= 4; ++i) DBFAddField(h, ("TO" + std::to_string(i)).c_str(), FTInteger, 3, 0);
    for (int r = 0; r < records; ++r) {
        DBFWriteIntegerAttribute(h, r, 0, 0);
        DBFWriteStringAttribute(h, r, 1, "");
        DBFWriteStringAttribute(h, r, 2, "SMS");
        DBFWriteStringAttribute(h, r, 3, "MAIL");
        for (int f = 4; f < 14; ++f) DBFWriteAttributeDirectly(h, r, f, const_cast<char*>(""));
    }
    DBFClose(h);
    return 0;
}

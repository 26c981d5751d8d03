// dBASE tables made and read byte by byte for the tests, independent of the gateway's engine:
// any version byte, any field descriptors, rows, the end byte, memo files; a small reader that
// finds fields by the descriptors; and another program's lock on a record (a handle of its own
// through the platform's file services).
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "db/dbf_file.h"

namespace gsms::test {

struct DbfFieldLayout {
    std::string name;
    char type;
    int length;
    int decimals = 0;
};

struct DbfLayout {
    unsigned char version = 0x03;
    std::vector<DbfFieldLayout> fields;
    // One text per field: numbers and memo block numbers right-aligned, everything else
    // left-aligned, cut to the width. Visual FoxPro memo and integer fields (4 bytes) store it
    // in binary.
    std::vector<std::vector<std::string>> rows;
    long counted = -1;  // record count in the header; -1: the number of rows
    bool endByte = true;
};

inline bool isDbase7(unsigned char version) { return (version & 0x07) == 4; }
inline bool isVisualFoxPro(unsigned char version) { return version >= 0x30 && version <= 0x32; }

inline std::size_t dbfHeaderLength(const DbfLayout& s) {
    const bool d7 = isDbase7(s.version);
    return (d7 ? 68 : 32) + s.fields.size() * (d7 ? 48 : 32) + 1 +
           (isVisualFoxPro(s.version) ? 263 : 0);
}

inline std::size_t dbfRecordLength(const DbfLayout& s) {
    std::size_t n = 1;
    for (const auto& f : s.fields) n += static_cast<std::size_t>(f.length);
    return n;
}

// Offset of a field within a record (after the deletion flag).
inline std::size_t dbfFieldOffset(const DbfLayout& s, const std::string& name) {
    std::size_t at = 1;
    for (const auto& f : s.fields) {
        if (f.name == name) return at;
        at += static_cast<std::size_t>(f.length);
    }
    return 0;
}

inline void putLe(std::string& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string dbfBytes(const DbfLayout& s) {
    const bool d7 = isDbase7(s.version);
    const std::size_t start = d7 ? 68 : 32, size = d7 ? 48 : 32;
    std::string b(dbfHeaderLength(s), '\0');
    b[0] = static_cast<char>(s.version);
    b[1] = 124, b[2] = 1, b[3] = 31;  // 2024-01-31
    putLe(b, 4, static_cast<std::uint32_t>(s.counted < 0 ? static_cast<long>(s.rows.size()) : s.counted), 4);
    putLe(b, 8, static_cast<std::uint32_t>(b.size()), 2);
    putLe(b, 10, static_cast<std::uint32_t>(dbfRecordLength(s)), 2);
    std::size_t at = start, offset = 1;
    for (const auto& f : s.fields) {
        b.replace(at, f.name.size(), f.name);
        const std::size_t type = d7 ? 32 : 11, len = d7 ? 33 : 16;
        b[at + type] = f.type;
        b[at + len] = static_cast<char>(f.length & 0xFF);
        // Clipper's long character fields keep the high byte of the width in the decimals.
        b[at + len + 1] = static_cast<char>(f.length > 255 ? f.length >> 8 : f.decimals);
        if (isVisualFoxPro(s.version)) putLe(b, at + 12, static_cast<std::uint32_t>(offset), 4);
        offset += static_cast<std::size_t>(f.length);
        at += size;
    }
    b[at] = 0x0D;
    for (const auto& row : s.rows) {
        b += ' ';
        for (std::size_t i = 0; i < s.fields.size(); ++i) {
            const DbfFieldLayout& f = s.fields[i];
            const std::string v = i < row.size() ? row[i] : "";
            std::string cell(static_cast<std::size_t>(f.length), ' ');
            if ((f.type == 'M' || (f.type == 'I' && isVisualFoxPro(s.version))) && f.length == 4) {
                cell.assign(4, '\0');
                if (!v.empty()) putLe(cell, 0, static_cast<std::uint32_t>(std::stol(v)), 4);
            } else if (f.type == 'N' || f.type == 'F' || f.type == 'M') {
                cell.replace(cell.size() - std::min(v.size(), cell.size()), std::string::npos,
                             v.substr(0, cell.size()));
            } else {
                cell.replace(0, std::min(v.size(), cell.size()), v.substr(0, cell.size()));
            }
            b += cell;
        }
    }
    if (s.endByte) b += '\x1A';
    return b;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A memo file holding one text in its first block after the header, for a table of the given
// version: FoxPro's .fpt (64-byte blocks, the text at block 8) or dBASE's .dbt (512-byte
// blocks, the text at block 1). Returns the block number to put into the memo field.
inline int writeMemoFile(const std::string& tablePath, unsigned char version, const std::string& text) {
    const bool fox = version == 0xF5 || isVisualFoxPro(version);
    const std::string path = tablePath.substr(0, tablePath.size() - 4) + (fox ? ".fpt" : ".dbt");
    std::string b(512, '\0');
    auto putBe = [&b](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * (bytes - 1 - i))) & 0xFF);
    };
    if (fox) {
        putBe(0, 9, 4);   // next free block
        putBe(6, 64, 2);  // block size
        b += std::string(8, '\0');
        putBe(512, 1, 4);  // a text memo
        putBe(516, static_cast<std::uint32_t>(text.size()), 4);
        b += text;
        b.resize(std::max<std::size_t>(b.size(), 512 + 64), '\0');
        writeBytes(path, b);
        return 8;
    }
    putLe(b, 0, 2, 4);  // next free block
    if (version == 0x83) {
        b += text + "\x1A\x1A";
    } else {
        b += std::string("\xFF\xFF\x08\x08", 4);
        b += std::string(4, '\0');
        putLe(b, 516, static_cast<std::uint32_t>(text.size() + 8), 4);
        b += text + "\x1F";
    }
    b.resize(std::max<std::size_t>(b.size(), 1024), '\0');
    writeBytes(path, b);
    return 1;
}

// The records of a dBASE III-layout table as field name -> text without surrounding blanks, read
// by the descriptors; every physical record up to the end of the file.
inline std::vector<std::map<std::string, std::string>> readDbfRows(const std::string& path) {
    const std::string b = readBytes(path);
    std::vector<std::map<std::string, std::string>> rows;
    if (b.size() < 32) return rows;
    auto le = [&b](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
        return v;
    };
    const std::size_t header = le(8, 2), record = le(10, 2);
    std::vector<std::pair<std::string, std::size_t>> fields;  // name, width
    for (std::size_t at = 32; at + 32 <= header && b[at] != 0x0D; at += 32)
        fields.emplace_back(std::string(b.c_str() + at), static_cast<unsigned char>(b[at + 16]));
    for (std::size_t r = header; record > 0 && r + record <= b.size(); r += record) {
        std::map<std::string, std::string> row;
        std::size_t at = r + 1;
        for (const auto& [name, width] : fields) {
            std::string v = b.substr(at, width);
            v.erase(v.find_last_not_of(' ') + 1);
            v.erase(0, v.find_first_not_of(' '));
            row[name] = v;
            at += width;
        }
        rows.push_back(row);
    }
    return rows;
}

// The byte that FoxPro-family programs lock for record n (1-based) of a table without a
// structural index: the record's own offset, 1 GiB higher.
inline std::uint64_t foxRecordLockByte(const DbfLayout& s, int record) {
    return 0x40000000u + dbfHeaderLength(s) + static_cast<std::uint64_t>(record - 1) * dbfRecordLength(s);
}

// An exclusive lock on one byte of a file, taken the way another program would (a handle of
// its own, which the engine's file services treat as another program's), for the life of
// the object.
class ForeignLock {
public:
    ForeignLock(const std::string& path, std::uint64_t offset)
        : file_(db::file::openShared(path.c_str())) {
        taken_ = file_ != db::file::kNoFile &&
                 db::file::tryLock(file_, offset, 1) == db::file::LockResult::Taken;
    }
    ~ForeignLock() { db::file::close(file_); }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;
    bool taken() const { return taken_; }

private:
    db::file::Handle file_;
    bool taken_ = false;
};

}  // namespace gsms::test

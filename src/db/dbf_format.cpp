#include "db/dbf_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace gsms::db {

namespace {

// Where the field descriptors sit and how wide each is.
struct Descriptors {
    std::uint32_t start;     // first descriptor
    std::uint32_t size;      // bytes per descriptor
    std::uint32_t name_len;  // name bytes at its start
    std::uint32_t type_at, length_at, decimals_at;
};
constexpr Descriptors kDbase3{32, 32, 11, 11, 16, 17};  // dBASE III/IV, FoxPro, Visual FoxPro
constexpr Descriptors kDbase7{68, 48, 32, 32, 33, 34};  // dBASE level 7

enum class Family : std::uint8_t { Dbase, FoxPro, VisualFoxPro };

// The version bytes the dBASE family writes, as the public format descriptions list them.
struct Version {
    std::uint8_t byte;
    const Descriptors* descriptors;
    Family family;
};
constexpr Version kVersions[] = {
    {0x03, &kDbase3, Family::Dbase},         // FoxBASE+ / dBASE III PLUS / dBASE IV, no memo
    {0x04, &kDbase7, Family::Dbase},         // dBASE level 7, no memo
    {0x30, &kDbase3, Family::VisualFoxPro},  // Visual FoxPro
    {0x31, &kDbase3, Family::VisualFoxPro},  // Visual FoxPro with an autoincrement field
    {0x32, &kDbase3, Family::VisualFoxPro},  // Visual FoxPro with varchar or varbinary fields
    {0x43, &kDbase3, Family::Dbase},         // dBASE IV SQL table, no memo
    {0x63, &kDbase3, Family::Dbase},         // dBASE IV SQL system table, no memo
    {0x7B, &kDbase3, Family::Dbase},         // dBASE IV with memo
    {0x83, &kDbase3, Family::Dbase},         // FoxBASE+ / dBASE III PLUS with memo
    {0x8B, &kDbase3, Family::Dbase},         // dBASE IV with memo
    {0x8C, &kDbase7, Family::Dbase},         // dBASE level 7 with memo
    {0xCB, &kDbase3, Family::Dbase},         // dBASE IV SQL table with memo
    {0xE5, &kDbase3, Family::Dbase},         // Clipper SIX driver with SMT memo
    {0xF5, &kDbase3, Family::FoxPro},        // FoxPro 2.x with memo
    {0xFB, &kDbase3, Family::FoxPro},        // FoxBASE
};

const Version* findVersion(std::uint8_t byte) {
    for (const Version& v : kVersions)
        if (v.byte == byte) return &v;
    return nullptr;
}

// Field types, by letter. Everything but C, N, F, D and L is kept as it is.
struct FieldType {
    char letter;
    FieldKind kind;
};
constexpr FieldType kFieldTypes[] = {
    {'C', FieldKind::Character}, {'N', FieldKind::Number}, {'F', FieldKind::Number},
    {'D', FieldKind::Date},      {'L', FieldKind::Logical},
    {'M', FieldKind::Other},  // memo: block number into the .dbt/.fpt file
    {'G', FieldKind::Other},  // general (OLE) memo
    {'B', FieldKind::Other},  // binary memo (dBASE), double (Visual FoxPro)
    {'P', FieldKind::Other},  // picture memo
    {'I', FieldKind::Other},  // 32-bit integer
    {'Y', FieldKind::Other},  // currency
    {'T', FieldKind::Other},  // date and time
    {'V', FieldKind::Other},  // varchar
    {'Q', FieldKind::Other},  // varbinary
    {'W', FieldKind::Other},  // blob
    {'0', FieldKind::Other},  // Visual FoxPro null flags
    {'@', FieldKind::Other},  // dBASE 7 time stamp
    {'O', FieldKind::Other},  // dBASE 7 double
    {'+', FieldKind::Other},  // dBASE 7 autoincrement
};

const FieldType* findFieldType(char letter) {
    for (const FieldType& t : kFieldTypes)
        if (t.letter == letter) return &t;
    return nullptr;
}

std::uint32_t le16(const unsigned char* p) { return p[0] | (std::uint32_t{p[1]} << 8); }
std::uint32_t le32(const unsigned char* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

bool isBlank(const char* text) {
    for (; *text; ++text)
        if (*text != ' ') return false;
    return true;
}

// The text without leading and trailing blanks.
std::string_view trimmed(const char* text) {
    std::string_view s(text);
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// A decimal number as dBASE stores it: optional sign, digits, optional point and digits.
// Read without the locale, which may want a comma.
bool parseDecimal(std::string_view s, double& value) {
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    bool digit = false, point = false;
    for (char c : s) {
        if (c >= '0' && c <= '9') digit = true;
        else if (c == '.' && !point) point = true;
        else return false;
    }
    if (!digit) return false;
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    value = negative ? -v : v;
    return true;
}

// Right-aligns (or left-aligns) `text` in the field's width; -1 when it does not fit.
int place(const FieldLayout& field, std::string_view text, bool right, char* out) {
    if (text.size() > field.length) return -1;
    std::memset(out, ' ', field.length);
    std::memcpy(out + (right ? field.length - text.size() : 0), text.data(), text.size());
    return 0;
}

int storeDecimal(const FieldLayout& field, double value, char* out) {
    if (!std::isfinite(value)) return -1;
    if (value == 0) value = 0;  // no "-0"
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                                 static_cast<int>(field.decimals));
    if (r.ec != std::errc()) return -1;
    return place(field, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), true, out);
}

void putLe(std::uint64_t v, std::uint32_t bytes, char* out) {
    for (std::uint32_t i = 0; i < bytes; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint64_t getLe(const char* in, std::uint32_t bytes) {
    std::uint64_t v = 0;
    for (std::uint32_t i = bytes; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(in[i]);
    return v;
}

// A binary number: integers only whole and in their range, doubles any finite value.
int storeBinary(const FieldLayout& field, double value, char* out) {
    if (!std::isfinite(value)) return -1;
    if (field.kind == FieldKind::Integer) {
        if (value != std::trunc(value) || value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max())
            return -1;
        putLe(static_cast<std::uint32_t>(static_cast<std::int32_t>(value)), 4, out);
        return 0;
    }
    if (value == 0) value = 0;  // no "-0"
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putLe(bits, 8, out);
    return 0;
}

double binaryValue(const FieldLayout& field, const char* stored) {
    if (field.kind == FieldKind::Integer)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(getLe(stored, 4)));
    const std::uint64_t bits = getLe(stored, 8);
    double v = 0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

bool isNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

}  // namespace

std::uint32_t headerLength(const unsigned char* prefix) { return le16(prefix + 8); }

int parseHeader(const unsigned char* bytes, std::size_t size, std::uint64_t file_size,
                TableLayout& out) {
    if (bytes == nullptr || size < kHeaderPrefix || file_size < kHeaderPrefix) return -1;
    const Version* version = findVersion(bytes[0]);
    if (version == nullptr) return -1;
    if (version->family == Family::Dbase && bytes[15] == 0x01) return -1;  // encrypted
    const Descriptors& d = *version->descriptors;
    TableLayout t;
    t.version = bytes[0];
    t.record_count = le32(bytes + 4);
    t.header_length = le16(bytes + 8);
    t.record_length = le16(bytes + 10);
    t.structural_index = (bytes[28] & 0x01) != 0;
    if (t.header_length > file_size || t.header_length > size ||
        t.header_length < d.start + 1)
        return -1;

    std::uint32_t pos = d.start;
    std::uint32_t offset = 1;  // after the deletion flag
    for (;;) {
        if (pos >= t.header_length) return -1;  // no terminator inside the header
        if (bytes[pos] == 0x0D) break;
        if (pos + d.size > t.header_length) return -1;
        const unsigned char* desc = bytes + pos;
        FieldLayout f;
        const auto* nameEnd =
            static_cast<const unsigned char*>(std::memchr(desc, '\0', d.name_len));
        f.name.assign(reinterpret_cast<const char*>(desc),
                      nameEnd ? static_cast<std::size_t>(nameEnd - desc) : d.name_len);
        while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
        if (f.name.empty()) return -1;
        for (char c : f.name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return -1;
        f.type = static_cast<char>(desc[d.type_at]);
        const FieldType* type = findFieldType(f.type);
        if (type == nullptr) return -1;
        f.kind = type->kind;
        f.length = desc[d.length_at];
        f.decimals = desc[d.decimals_at];
        // Visual FoxPro's binary numbers; elsewhere I and B mean other things (a dBASE 7
        // integer with its sign bit turned, a dBASE binary memo) and stay untouched.
        if (version->family == Family::VisualFoxPro &&
            ((f.type == 'I' && f.length == 4) || (f.type == 'B' && f.length == 8)))
            f.kind = f.type == 'I' ? FieldKind::Integer : FieldKind::Double;
        if (f.kind == FieldKind::Character && d.size == 32) {
            // Clipper keeps the high byte of a long character width in the decimals byte.
            f.length |= f.decimals << 8;
            f.decimals = 0;
        }
        if (f.length == 0) return -1;
        if (f.kind == FieldKind::Date && f.length != 8) return -1;
        if (f.kind == FieldKind::Logical && f.length != 1) return -1;
        if (f.kind == FieldKind::Number && f.decimals > 0 && f.decimals + 1 >= f.length)
            return -1;
        f.offset = offset;
        offset += f.length;
        if (offset > t.record_length) return -1;  // a field beyond the record
        t.fields.push_back(std::move(f));
        pos += d.size;
    }
    if (t.fields.empty() || offset != t.record_length) return -1;
    out = std::move(t);
    return 0;
}

bool sameShape(const TableLayout& a, const TableLayout& b) {
    return a.version == b.version && a.header_length == b.header_length &&
           a.record_length == b.record_length && a.structural_index == b.structural_index &&
           a.fields == b.fields;
}

std::vector<unsigned char> newTableHeader(const DbfFieldDesc* fields, const std::tm& today) {
    std::vector<unsigned char> h(kHeaderPrefix, 0);
    std::uint32_t record_length = 1;
    for (const DbfFieldDesc* f = fields; f && f->name; ++f) {
        const std::size_t name_len = std::strlen(f->name);
        if (name_len == 0 || name_len > 10 || !std::all_of(f->name, f->name + name_len, isNameChar))
            return {};
        int length = f->length, decimals = f->decimals;
        switch (f->type) {
            case 'C': if (length < 1 || length > 254 || decimals != 0) return {}; break;
            case 'N':
            case 'F':
                if (length < 1 || length > 20 || decimals < 0 || (decimals > 0 && decimals + 1 >= length))
                    return {};
                break;
            case 'D': if (length != 8 || decimals != 0) return {}; break;
            case 'L': if (length != 1 || decimals != 0) return {}; break;
            default: return {};
        }
        unsigned char desc[32] = {};
        std::memcpy(desc, f->name, name_len);
        desc[11] = static_cast<unsigned char>(f->type);
        desc[16] = static_cast<unsigned char>(length);
        desc[17] = static_cast<unsigned char>(decimals);
        h.insert(h.end(), desc, desc + sizeof desc);
        record_length += static_cast<std::uint32_t>(length);
    }
    h.push_back(0x0D);
    if (h.size() == kHeaderPrefix + 1 || h.size() > 0xFFFF || record_length > 0xFFFF) return {};
    TableLayout t;
    t.version = 0x03;
    h[0] = t.version;
    dateStamp(t, today, &h[kDateOffset]);
    h[8] = static_cast<unsigned char>(h.size() & 0xFF);
    h[9] = static_cast<unsigned char>(h.size() >> 8);
    h[10] = static_cast<unsigned char>(record_length & 0xFF);
    h[11] = static_cast<unsigned char>(record_length >> 8);
    return h;
}

void dateStamp(const TableLayout& table, const std::tm& today, unsigned char out[3]) {
    const Version* v = findVersion(table.version);
    // dBASE counts the year from 1900 (124 for 2024); FoxPro keeps two digits.
    const bool fox = v != nullptr && v->family != Family::Dbase;
    const int year = fox ? today.tm_year % 100 : today.tm_year;
    out[0] = static_cast<unsigned char>(std::clamp(year, 0, 255));
    out[1] = static_cast<unsigned char>(today.tm_mon + 1);
    out[2] = static_cast<unsigned char>(today.tm_mday);
}

int storeText(const FieldLayout& field, const char* text, char* out) {
    if (text == nullptr) text = "";
    if (field.kind == FieldKind::Other) return -1;
    const bool binary = field.kind == FieldKind::Integer || field.kind == FieldKind::Double;
    if (field.kind != FieldKind::Character && isBlank(text)) {
        std::memset(out, binary ? 0 : ' ', field.length);
        return 0;
    }
    const std::string_view value = trimmed(text);
    switch (field.kind) {
        case FieldKind::Character: {
            const std::size_t n = std::min<std::size_t>(std::strlen(text), field.length);
            std::memset(out, ' ', field.length);
            std::memcpy(out, text, n);
            return 0;
        }
        case FieldKind::Number: {
            double v = 0;
            return parseDecimal(value, v) ? storeDecimal(field, v, out) : -1;
        }
        case FieldKind::Date: {
            if (value.size() != 8 ||
                !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return -1;
            const int month = (value[4] - '0') * 10 + (value[5] - '0');
            const int day = (value[6] - '0') * 10 + (value[7] - '0');
            if (month < 1 || month > 12 || day < 1 || day > 31) return -1;
            std::memcpy(out, value.data(), 8);
            return 0;
        }
        case FieldKind::Logical: {
            if (value.size() != 1) return -1;
            const char c = value[0];
            if (std::strchr("TtYy", c)) out[0] = 'T';
            else if (std::strchr("FfNn", c)) out[0] = 'F';
            else if (c == '?') out[0] = '?';
            else return -1;
            return 0;
        }
        case FieldKind::Integer:
        case FieldKind::Double: {
            double v = 0;
            return parseDecimal(value, v) ? storeBinary(field, v, out) : -1;
        }
        case FieldKind::Other: break;
    }
    return -1;
}

int storeNumber(const FieldLayout& field, double value, char* out) {
    switch (field.kind) {
        case FieldKind::Number: return storeDecimal(field, value, out);
        case FieldKind::Character: {
            if (!std::isfinite(value)) return -1;
            if (value == 0) value = 0;
            char buf[400];
            const auto r = std::to_chars(buf, buf + sizeof buf, value);
            if (r.ec != std::errc()) return -1;
            return place(field, std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), false,
                         out);
        }
        case FieldKind::Logical: out[0] = value != 0 ? 'T' : 'F'; return 0;
        case FieldKind::Integer:
        case FieldKind::Double: return storeBinary(field, value, out);
        case FieldKind::Date:
        case FieldKind::Other: break;
    }
    return -1;
}

void storeEmpty(const TableLayout& table, const FieldLayout& field, char* out) {
    const Version* v = findVersion(table.version);
    // Visual FoxPro keeps binary values (integers, memo block numbers) in these fields.
    const bool binary = field.kind == FieldKind::Integer || field.kind == FieldKind::Double ||
                        (field.kind == FieldKind::Other && v != nullptr &&
                         v->family == Family::VisualFoxPro);
    std::memset(out, binary ? 0 : ' ', field.length);
}

std::uint32_t textWidth(const FieldLayout& field) {
    switch (field.kind) {
        case FieldKind::Integer: return 11;  // "-2147483648"
        case FieldKind::Double: return 24;   // "-1.7976931348623157e+308", the longest
        default: return field.length;
    }
}

void fieldText(const FieldLayout& field, const char* stored, char* out) {
    const std::uint32_t width = textWidth(field);
    if (field.kind == FieldKind::Integer || field.kind == FieldKind::Double) {
        // Right-aligned like a number, in the shortest text that reads back as the value.
        std::memset(out, ' ', width);
        const double v = binaryValue(field, stored);
        char buf[32];
        std::to_chars_result r{buf, std::errc()};
        if (field.kind == FieldKind::Integer)
            r = std::to_chars(buf, buf + sizeof buf, static_cast<std::int32_t>(v));
        else if (!std::isnan(v)) r = std::to_chars(buf, buf + sizeof buf, v);
        const auto n = static_cast<std::size_t>(r.ptr - buf);
        if (r.ec == std::errc() && n <= width) std::memcpy(out + width - n, buf, n);
    } else if (field.kind == FieldKind::Other) {
        std::memset(out, ' ', width);
    } else {
        std::memcpy(out, stored, width);
    }
    out[width] = '\0';
}

int fieldInteger(const FieldLayout& field, const char* stored) {
    if (field.kind == FieldKind::Other) return 0;
    if (field.kind == FieldKind::Integer || field.kind == FieldKind::Double) {
        const double v = binaryValue(field, stored);
        if (std::isnan(v)) return 0;
        constexpr double lo = std::numeric_limits<std::int32_t>::min();
        constexpr double hi = std::numeric_limits<std::int32_t>::max();
        return static_cast<int>(std::clamp(std::trunc(v), lo, hi));
    }
    const std::string text(stored, field.length);
    if (field.kind == FieldKind::Logical) return std::strchr("TtYy", text[0]) != nullptr ? 1 : 0;
    double v = 0;
    if (!parseDecimal(trimmed(text.c_str()), v)) return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<int>(std::clamp(std::trunc(v), lo, hi));
}

// Which bytes to lock. dBASE-family programs never lock a record's own bytes (a Windows lock
// would stop readers); each family locks one byte per record far beyond any real data, at
// offsets of its own, and a program only sees locks taken in its own scheme:
//   Clipper (DBFNTX) and engines in Clipper mode:
//       record n at 1,000,000,000 + n; appending at 1,000,000,000
//   dBASE IV and engines in dBASE IV mode:
//       record n at 0xEFFFFFFE - n; appending at 0xEFFFFFFF
//   FoxPro, Visual FoxPro, Harbour's DBFCDX and engines in FoxPro mode:
//       a table without a structural index: record n at 0x40000000 + the record's file
//       offset; appending at 0x40000000
//       a table with one (and any Visual FoxPro table): record n at 0x7FFFFFFE - n;
//       appending at 0x7FFFFFFE
// We lock the FoxPro way: the alarm servers that write these tables are Windows programs,
// and there the FoxPro scheme is the common one: Visual FoxPro with its ODBC and OLE DB
// drivers, and the C engines and xBase compilers in their FoxPro-compatible (CDX) mode, their
// usual choice on Windows. The Clipper scheme lives on with NTX-indexed programs, the dBASE IV
// one with dBASE itself. Status tables are plain dBASE III tables, so the lock byte is the
// record's own position mirrored 1 GiB higher.
namespace {
constexpr std::uint64_t kFoxLockBase = 0x40000000;
constexpr std::uint64_t kFoxIndexedLockBase = 0x7FFFFFFE;

bool foxIndexedScheme(const TableLayout& table) {
    const Version* v = findVersion(table.version);
    return table.structural_index || (v != nullptr && v->family == Family::VisualFoxPro);
}
}  // namespace

LockRange recordLock(const TableLayout& table, std::uint32_t record) {
    if (record == 0) record = 1;
    if (foxIndexedScheme(table))
        return {kFoxIndexedLockBase - std::min<std::uint64_t>(record, kFoxIndexedLockBase - 1), 1};
    return {kFoxLockBase + table.header_length +
                std::uint64_t{record - 1} * table.record_length,
            1};
}

LockRange appendLock(const TableLayout& table) {
    return {foxIndexedScheme(table) ? kFoxIndexedLockBase : kFoxLockBase, 1};
}

}  // namespace gsms::db

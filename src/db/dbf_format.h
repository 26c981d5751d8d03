// The dBASE table format: the header with its field descriptors, the stored form of field
// values, and the bytes that dBASE-family programs lock to share a table. Pure functions on
// bytes; no file, no state, so any thread may call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace gsms::db {

// How a field's value is stored.
enum class FieldKind : std::uint8_t {
    Character,  // C: text, blank-padded on the right
    Number,     // N, F: decimal digits right-aligned, all blanks when empty
    Date,       // D: YYYYMMDD, all blanks when empty
    Logical,    // L: T, F, ? or a blank
    Integer,    // I of Visual FoxPro: 32-bit little-endian two's complement, 4 wide
    Double,     // B of Visual FoxPro: 64-bit little-endian IEEE 754, 8 wide
    Other,      // memos, time stamps, dBASE 7 binaries ...: kept, never read or written
};

struct FieldLayout {
    std::string name;        // as stored, up to the first NUL
    char type = 'C';         // type letter as stored
    FieldKind kind = FieldKind::Character;
    std::uint32_t offset = 0;   // from the start of the record; byte 0 is the deletion flag
    std::uint32_t length = 0;   // 1 to 65535 (Clipper stores long character widths in two bytes)
    std::uint32_t decimals = 0;
    bool operator==(const FieldLayout&) const = default;
};

struct TableLayout {
    std::uint8_t version = 0;
    std::uint32_t record_count = 0;   // as the header says; the file may hold more or fewer
    std::uint32_t header_length = 0;  // where the first record starts
    std::uint32_t record_length = 0;  // deletion flag plus the field widths
    bool structural_index = false;    // header byte 28, bit 0: a production index exists
    std::vector<FieldLayout> fields;
};

// Bytes to read first: enough for the header length (bytes 8-9) and the record count.
inline constexpr std::size_t kHeaderPrefix = 32;
inline constexpr std::uint64_t kRecordCountOffset = 4;
inline constexpr std::uint64_t kDateOffset = 1;  // three bytes: year, month, day
inline constexpr unsigned char kEndOfFile = 0x1A;

// The header length that the first 32 bytes of a table give.
std::uint32_t headerLength(const unsigned char* prefix);

// Parses a table header. `bytes` holds the first `size` bytes of the file, whose length is
// `file_size`. 0, or -1 when the header cannot be trusted: fewer than 32 bytes, a version byte
// that is not a known dBASE, FoxPro or Visual FoxPro one, an encrypted dBASE IV table, a header
// length past the end of the file (or past `size`) or too short for its descriptors, no 0x0D
// after the descriptors, no fields, an empty field name, an unknown field type, a field of
// width 0, a date not 8 wide, a logical not 1 wide, decimals that leave no room for a digit,
// or a record length other than 1 + the sum of the field widths.
[[nodiscard]] int parseHeader(const unsigned char* bytes, std::size_t size,
                              std::uint64_t file_size, TableLayout& out);

// True when both describe the same records: version, header and record length, fields.
bool sameShape(const TableLayout& a, const TableLayout& b);

// Field description for a new table; a list ends with name == nullptr.
// type: 'C' character, 'N' or 'F' numeric, 'D' date (width 8), 'L' logical (width 1).
struct DbfFieldDesc {
    const char* name;
    char type;
    int length;
    int decimals;
};

// The header of a new dBASE III table (version 0x03) without records, dated `today`. Empty
// when a description is unusable: a name that is empty, longer than 10 characters or not
// letters, digits and '_'; another type; a width out of range; decimals that do not fit.
std::vector<unsigned char> newTableHeader(const DbfFieldDesc* fields, const std::tm& today);

// The three date-of-last-update bytes for `today`, as the table's family writes them.
void dateStamp(const TableLayout& table, const std::tm& today, unsigned char out[3]);

// Stored forms. Each writes exactly field.length bytes to `out` and returns 0, or returns -1
// and writes nothing when the value is not one the field can hold.
// Text: character fields take it as it is (cut at the width); numbers take a decimal number
// (formatted with the field's decimals); dates take YYYYMMDD; logicals take T/Y, F/N or ?;
// integers a whole decimal number in their range, doubles any decimal number. Blank text
// empties any of them (a binary number becomes 0).
[[nodiscard]] int storeText(const FieldLayout& field, const char* text, char* out);
// Numbers: numeric fields (formatted with their decimals, right-aligned), character fields
// (left-aligned), logical fields (non-zero is T), integers (a whole number in their range),
// doubles. Dates and other fields refuse.
[[nodiscard]] int storeNumber(const FieldLayout& field, double value, char* out);
// The field's empty value in a new record.
void storeEmpty(const TableLayout& table, const FieldLayout& field, char* out);

// How many characters the field's text takes: its width, but for the binary numbers the
// longest text of their values (11 for an integer, 24 for a double).
std::uint32_t textWidth(const FieldLayout& field);
// The field's text, blank-padded to textWidth and NUL-terminated (`out` holds textWidth + 1);
// binary numbers right-aligned in decimal. Other fields read as blanks: their bytes are not
// text.
void fieldText(const FieldLayout& field, const char* stored, char* out);
// The field's value as a 32-bit integer, truncated toward zero and clamped; 0 when the field
// is empty or holds no number (a NaN double), 1 for a true logical.
int fieldInteger(const FieldLayout& field, const char* stored);

// A byte range that a program locks to claim a record, or the right to append.
struct LockRange {
    std::uint64_t offset;
    std::uint64_t length;
};
LockRange recordLock(const TableLayout& table, std::uint32_t record);
LockRange appendLock(const TableLayout& table);

}  // namespace gsms::db

// INI reader/writer with the Windows private-profile semantics:
// section and key names case-insensitive; blanks around names and values trimmed; a value in
// matching double or single quotes is returned without them, unless it is several quoted
// strings (its first quote closes before the end, a blank after it: `"a b.cmd" "%s"` stays
// as written, where the private-profile functions would leave `a b.cmd" "%s`); the first of
// duplicate sections/keys wins; lines starting with ';' are comments. A write keeps every other
// line as it was, appends a missing key at the end of its section and a missing section at the
// end of the file, creates the file when missing (with the platform's line ends: CR LF on
// Windows), and replaces it atomically under a lock
// (platform/file_replace.h: owner, mode and symbolic links kept; an unreadable file is never
// written).
//
// Encodings (platform/text_encoding.h): names and values are UTF-8 to the gateway. A UTF-8
// file with its mark and a UTF-16 file (either byte order, with its mark) are read as they are
// (a malformed byte or a lone surrogate in a value as '?'); in a file without a mark a value
// that is UTF-8 (text::isMultiByteUtf8) is kept, any other read as Windows-1252 (the ANSI code
// page on Windows). A write puts the new line in the file's own encoding, mark included, and
// keeps the lines that were not changed as they were; a plain file stays single-byte while
// it does not read as UTF-8 and the new text fits there, and otherwise becomes UTF-8 as a whole
// (on POSIX a plain file of ASCII only takes UTF-8 at once).
// Thread safety: any thread may read or write at any time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_replace.h"

namespace gsms::ini {

using files::Failure;

// The text of an INI file, decoded and split into lines once, for bytes already read (a job
// file is read once and all its keys taken from those bytes).
struct Text {
    explicit Text(std::string_view bytes);
    // The key's value as UTF-8, as read() gives it.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // True when the bytes stop inside a line (no line feed after the last character, or half
    // a UTF-16 character), as a file still being written may.
    bool endsInsideLine() const { return cut; }
    // The bytes of the text in its own encoding, lines ended as they came.
    std::string bytes() const;
    // A name in the file compared with one of the gateway's (UTF-8), ignoring the case of
    // ASCII letters.
    bool sameName(std::string_view inFile, std::string_view wanted) const;

    unsigned char encoding = 0;  // the text::Encoding of the bytes
    std::vector<std::string> lines;
    std::string tail;
    bool crlf = false;  // a file keeps the line ends it came with
    bool cut = false;

private:
    // The value as it stands in the decoded text, quotes removed.
    std::optional<std::string_view> raw(std::string_view section, std::string_view key) const;
};

// The value of the key as UTF-8, or nothing when the file, section or key is absent or the
// file cannot be read (then failure, when given, says why).
std::optional<std::string> read(const std::string& path, std::string_view section,
                                std::string_view key, Failure* failure = nullptr);
// Writes key=value. False when the file was left as it was (failure says why): it cannot be
// read or written, or a name or the value holds a line break or a NUL, which would make lines
// of their own.
[[nodiscard]] bool write(const std::string& path, std::string_view section,
                         std::string_view key, std::string_view value,
                         Failure* failure = nullptr);
// The bytes write() puts in place of `current` (a file's bytes, empty for a new file): key=value
// in the first section of that name, every other line kept. No file is touched.
std::string withValue(const std::string& current, std::string_view section, std::string_view key,
                      std::string_view value);
// Integer reading of a profile value: blanks, optional sign, decimal digits; 0 without digits.
int parseInt(std::string_view text);

}  // namespace gsms::ini

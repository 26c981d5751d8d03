// INI reader/writer with the Windows private-profile semantics:
// section and key names case-insensitive; blanks around names and values trimmed; a value in
// matching double or single quotes is returned without them; the first of duplicate
// sections/keys wins; lines starting with ';' are comments. A write keeps every other line
// as it was, appends a missing key at the end of its section and a missing section at the
// end of the file, creates the file when missing (with the platform's line ends: CR LF on
// Windows), and replaces it atomically under a lock
// (platform/file_replace.h: owner, mode and symbolic links kept; an unreadable file is never
// written).
//
// Encodings (platform/text_encoding.h): a file without a byte order mark is read and written
// byte for byte; a UTF-8 file with its mark and a UTF-16 file (either byte order, with its
// mark) are read into ISO 8859-1 (characters beyond it read as '?') and written back in their
// own encoding, mark included, with the lines that were not changed kept as they were.
// Thread safety: any thread may read or write at any time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/file_replace.h"

namespace gsms::ini {

using files::Failure;

// The value of the key, or nothing when the file, section or key is absent or the file
// cannot be read (then failure, when given, says why).
std::optional<std::string> read(const std::string& path, std::string_view section,
                                std::string_view key, Failure* failure = nullptr);
// Writes key=value. False when the file was left as it was (failure says why): it cannot be
// read or written, or a name or the value holds a line break or a NUL, which would make lines
// of their own.
[[nodiscard]] bool write(const std::string& path, std::string_view section,
                         std::string_view key, std::string_view value,
                         Failure* failure = nullptr);
// Integer reading of a profile value: blanks, optional sign, decimal digits; 0 without digits.
int parseInt(std::string_view text);

}  // namespace gsms::ini

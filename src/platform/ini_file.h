// INI reader/writer with the Windows private-profile semantics:
// section and key names case-insensitive; blanks around names and values trimmed; a value in
// matching double or single quotes is returned without them; the first of duplicate
// sections/keys wins; lines starting with ';' are comments. A write keeps every other line
// as it was, appends a missing key at the end of its section and a missing section at the
// end of the file, creates the file when missing, and replaces it atomically (temporary file
// in the same directory, then rename).
// Thread safety: writes are serialised process-wide; reads may run at any time.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace gsms::ini {

// The value of the key, or nothing when the file, section or key is absent.
std::optional<std::string> read(const std::string& path, std::string_view section,
                                std::string_view key);
// Writes key=value. False when the file cannot be written.
[[nodiscard]] bool write(const std::string& path, std::string_view section,
                         std::string_view key, std::string_view value);
// Integer reading of a profile value: blanks, optional sign, decimal digits; 0 without digits.
int parseInt(std::string_view text);

}  // namespace gsms::ini

// Text files as Windows programs write them: plain bytes, UTF-8 with a byte order mark, or
// UTF-16 (little or big endian) with a byte order mark. The gateway itself works in
// ISO 8859-1.
//
// A decoded text is held as bytes the INI parser can split at ASCII line ends and '=':
// a plain file's bytes unchanged; a UTF-8 file's bytes after the mark; a UTF-16 file turned
// into UTF-8 (a lone surrogate kept as its own three-byte sequence), so that encoding it again
// gives the file back byte for byte.
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace gsms::text {

enum class Encoding { Plain, Utf8Bom, Utf16Le, Utf16Be };

struct Decoded {
    Encoding encoding = Encoding::Plain;
    std::string text;  // plain bytes, or UTF-8 for the three Unicode encodings
    std::string tail;  // an odd last byte of a UTF-16 file, kept as it was
};

// Recognises the byte order mark; a file without one is plain.
Decoded decode(std::string_view bytes);
// The file's bytes for a text in the given encoding (mark first, tail last).
std::string encode(Encoding encoding, std::string_view text, std::string_view tail = {});

// UTF-8 to ISO 8859-1: characters beyond U+00FF and malformed bytes become '?'.
std::string utf8ToLatin1(std::string_view utf8);
// ISO 8859-1 to UTF-8.
std::string latin1ToUtf8(std::string_view latin1);

// What the gateway reads from a decoded text, and what it writes into one.
std::string toGateway(Encoding encoding, std::string_view text);
std::string fromGateway(Encoding encoding, std::string_view latin1);

}  // namespace gsms::text

// Text files as Windows programs write them: plain bytes, UTF-8 with a byte order mark, or
// UTF-16 (little or big endian) with a byte order mark. The gateway's strings (settings, names,
// the texts it sends) are UTF-8 on both platforms, whatever the file was.
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
// The bytes of UTF-8 text to add at the end of a file in that encoding (no mark): UTF-16 for a
// UTF-16 file, the text as it is for the others.
std::string encodeMore(Encoding encoding, std::string_view text);

// UTF-8 to ISO 8859-1: characters beyond U+00FF and malformed bytes become '?'.
std::string utf8ToLatin1(std::string_view utf8);
// ISO 8859-1 to UTF-8.
std::string latin1ToUtf8(std::string_view latin1);

// --- Message texts: UTF-8 inside the gateway --------------------------------------------------

// True for valid UTF-8 that holds at least one multi-byte sequence: how a file without a mark
// shows that its writer used UTF-8 (no Windows-1252 text of letters reads that way).
bool isMultiByteUtf8(std::string_view bytes);
// Bytes of the system's single-byte text encoding to UTF-8: Windows-1252 on POSIX (ISO 8859-1
// with the typographic characters in 0x80-0x9F), the ANSI code page on Windows.
std::string ansiToUtf8(std::string_view bytes);
// The reverse: false (out unspecified) when a character has no code there or a byte is not
// UTF-8, so that nothing is lost without the caller knowing.
[[nodiscard]] bool utf8ToAnsi(std::string_view utf8, std::string& out);
// Whether a plain file of ASCII only (or a new one) takes further text as UTF-8 rather than in
// the single-byte encoding: on POSIX it does (UTF-8 is the system's text), on Windows it stays
// ANSI as long as the characters fit, as other Windows programs expect.
extern const bool kAsciiFileTakesUtf8;
// A text of a file without a mark as UTF-8: kept when it is UTF-8 (isMultiByteUtf8), read as
// ansiToUtf8 otherwise (plain ASCII is the same either way).
std::string plainToUtf8(std::string_view bytes);
// A text of a decoded file as UTF-8: a plain file's by plainToUtf8; a marked file's with its
// malformed bytes and lone surrogates as '?'.
std::string toUtf8(Encoding encoding, std::string_view text);

// The code points of UTF-8 text; a malformed byte or a surrogate reads as '?'.
std::u32string codePoints(std::string_view utf8);
std::string fromCodePoints(std::u32string_view text);
void appendUtf8(std::string& out, char32_t cp);
// The number of bytes of the longest head of `utf8` that has at most maxChars code points
// (a malformed byte counting as one); never cuts a character in two.
std::size_t utf8Head(std::string_view utf8, std::size_t maxChars);
// Code points in UTF-8 text, a malformed byte counting as one.
std::size_t utf8Length(std::string_view utf8);

// The number of bytes of the longest head of `utf8` that has at most maxBytes bytes and does
// not end inside a well-formed multi-byte sequence.
std::size_t utf8HeadBytes(std::string_view utf8, std::size_t maxBytes);

// --- Text from outside, as people see it in logs and windows ---------------------------------

// Any bytes as one line of valid UTF-8 that can only say what it is: well-formed characters
// stay, except those that break or reorder a line, which are escaped: "\n", "\r", "\t", the
// other C0 controls and DEL as "\xNN", the C1 controls, the line and paragraph separators and
// the bidirectional embeddings, overrides and isolates as "\uNNNN". A malformed byte is "\xNN".
// A backslash stays as it is, so that Windows paths read as they are; the result escapes
// nothing further when passed again (shownText(shownText(s)) == shownText(s)).
[[nodiscard]] std::string shownText(std::string_view bytes);

}  // namespace gsms::text

// Files as Windows programs save them in UTF-16, for the tests of the readers.
#pragma once

#include <string>
#include <string_view>

namespace gsms::test {

// The byte order mark, then the text's UTF-16 units in the given byte order.
inline std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

}  // namespace gsms::test

// Windows-1252, the single-byte encoding of the Windows programs that write job files.
#include "platform/text_encoding.h"

#include <algorithm>
#include <iterator>

namespace gsms::text {
namespace {

// 0x80-0x9F; the five codes Windows-1252 leaves free read as the C1 controls, as Windows
// itself reads them.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

const bool kAsciiFileTakesUtf8 = true;

bool utf8ToAnsi(std::string_view utf8, std::string& out) {
    out.clear();
    const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii && !isMultiByteUtf8(utf8)) return false;  // a malformed byte or a surrogate
    for (const char32_t c : codePoints(utf8)) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const auto* hit = std::find(std::begin(kHigh), std::end(kHigh), c);
        if (hit == std::end(kHigh)) return false;
        out.push_back(static_cast<char>(0x80 + (hit - std::begin(kHigh))));
    }
    return true;
}

std::string ansiToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
    return out;
}

}  // namespace gsms::text

#include "platform/text_encoding.h"

#include <cstdint>

namespace gsms::text {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::uint32_t kInvalid = 0xFFFFFFFF;

void put(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// One code point from s at i (i moves past it); kInvalid for a malformed byte, which is
// skipped alone. Surrogates in three-byte form are accepted: they are how a lone UTF-16
// surrogate is kept.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i++]);
    if (b0 < 0x80) return b0;
    int more = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        more = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        more = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        more = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return kInvalid;
    }
    if (s.size() - i < static_cast<std::size_t>(more)) return kInvalid;
    for (int k = 0; k < more; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) return kInvalid;
        cp = cp << 6 | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF) return kInvalid;
    i += static_cast<std::size_t>(more);
    return cp;
}

std::uint16_t unitAt(std::string_view bytes, std::size_t i, bool bigEndian) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<std::uint16_t>(bigEndian ? a << 8 | b : b << 8 | a);
}

void appendUnit(std::string& out, std::uint32_t unit, bool bigEndian) {
    const char hi = static_cast<char>(unit >> 8 & 0xFF);
    const char lo = static_cast<char>(unit & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
}

std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size() / 2 * 2;
    for (std::size_t i = 0; i < n; i += 2) {
        const std::uint32_t u = unitAt(bytes, i, bigEndian);
        if (u >= 0xD800 && u < 0xDC00 && i + 2 < n) {
            const std::uint32_t v = unitAt(bytes, i + 2, bigEndian);
            if (v >= 0xDC00 && v < 0xE000) {
                put(out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        put(out, u);
    }
    return out;
}

std::string utf8ToUtf16(std::string_view utf8, bool bigEndian) {
    std::string out;
    out.reserve(utf8.size() * 2);
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t cp = nextCodePoint(utf8, i);
        if (cp == kInvalid) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            appendUnit(out, 0xD800 + (cp >> 10), bigEndian);
            appendUnit(out, 0xDC00 + (cp & 0x3FF), bigEndian);
        } else {
            appendUnit(out, cp, bigEndian);
        }
    }
    return out;
}

}  // namespace

Decoded decode(std::string_view bytes) {
    Decoded d;
    if (bytes.substr(0, 3) == kUtf8Mark) {
        d.encoding = Encoding::Utf8Bom;
        d.text = bytes.substr(3);
    } else if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
        d.encoding = Encoding::Utf16Le;
    } else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF') {
        d.encoding = Encoding::Utf16Be;
    } else {
        d.text = bytes;
    }
    if (d.encoding == Encoding::Utf16Le || d.encoding == Encoding::Utf16Be) {
        const std::string_view units = bytes.substr(2);
        d.text = utf16ToUtf8(units, d.encoding == Encoding::Utf16Be);
        if (units.size() % 2 != 0) d.tail = units.substr(units.size() - 1);
    }
    return d;
}

std::string encode(Encoding encoding, std::string_view text, std::string_view tail) {
    std::string out;
    switch (encoding) {
        case Encoding::Plain:
            out = text;
            break;
        case Encoding::Utf8Bom:
            out = std::string(kUtf8Mark) + std::string(text);
            break;
        case Encoding::Utf16Le:
            out = "\xFF\xFE" + utf8ToUtf16(text, false);
            break;
        case Encoding::Utf16Be:
            out = "\xFE\xFF" + utf8ToUtf16(text, true);
            break;
    }
    out += tail;
    return out;
}

std::string encodeMore(Encoding encoding, std::string_view text) {
    if (encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be)
        return utf8ToUtf16(text, encoding == Encoding::Utf16Be);
    return std::string(text);
}

std::string utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = nextCodePoint(utf8, i);
        out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    }
    return out;
}

std::string latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) put(out, static_cast<unsigned char>(c));
    return out;
}

bool isMultiByteUtf8(std::string_view bytes) {
    bool multi = false;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t at = i;
        const std::uint32_t cp = nextCodePoint(bytes, i);
        if (cp == kInvalid || (cp >= 0xD800 && cp < 0xE000)) return false;
        multi = multi || i - at > 1;
    }
    return multi;
}

std::string plainToUtf8(std::string_view bytes) {
    return isMultiByteUtf8(bytes) ? std::string(bytes) : ansiToUtf8(bytes);
}

std::string toUtf8(Encoding encoding, std::string_view text) {
    return encoding == Encoding::Plain ? plainToUtf8(text) : fromCodePoints(codePoints(text));
}

std::u32string codePoints(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = nextCodePoint(utf8, i);
        out.push_back(cp == kInvalid || (cp >= 0xD800 && cp < 0xE000) ? U'?' : cp);
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) { put(out, cp); }

std::string fromCodePoints(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) put(out, c);
    return out;
}

std::size_t utf8Head(std::string_view utf8, std::size_t maxChars) {
    std::size_t i = 0;
    for (std::size_t n = 0; n < maxChars && i < utf8.size(); ++n) (void)nextCodePoint(utf8, i);
    return i;
}

std::size_t utf8Length(std::string_view utf8) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < utf8.size(); ++n) (void)nextCodePoint(utf8, i);
    return n;
}

std::size_t utf8HeadBytes(std::string_view utf8, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t next = i;
        (void)nextCodePoint(utf8, next);
        if (next > maxBytes) break;
        i = next;
    }
    return i;
}

namespace {

// Code points that end a line or turn the order of what follows on a terminal or in a viewer.
bool breaksLine(std::uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F || cp == 0x061C;
}

void putEscape(std::string& out, const char* format, unsigned value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += format;
    const int digits = format[1] == 'x' ? 2 : 4;
    for (int k = digits - 1; k >= 0; --k) out.push_back(kHex[value >> (4 * k) & 0xF]);
}

}  // namespace

std::string shownText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t at = i;
        const std::uint32_t cp = nextCodePoint(bytes, i);
        if (cp == kInvalid || (cp >= 0xD800 && cp < 0xE000)) {
            // A lone surrogate in three-byte form is no character either: each byte is shown.
            for (std::size_t k = at; k < i; ++k)
                putEscape(out, "\\x", static_cast<unsigned char>(bytes[k]));
            continue;
        }
        if (!breaksLine(cp)) {
            out.append(bytes.substr(at, i - at));
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else {
            putEscape(out, cp < 0x80 ? "\\x" : "\\u", cp);
        }
    }
    return out;
}

}  // namespace gsms::text

// The ANSI code page: what a Windows program writes when it writes no Unicode.
#include <windows.h>

#include <climits>
#include <string>

#include "platform/text_encoding.h"

namespace gsms::text {

const bool kAsciiFileTakesUtf8 = false;

bool utf8ToAnsi(std::string_view utf8, std::string& out) {
    out.clear();
    if (utf8.empty()) return true;
    if (utf8.size() > INT_MAX / 4) return false;
    const int size = static_cast<int>(utf8.size());
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size,
                                          nullptr, 0);
    if (units <= 0) return false;
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), units);
    // No best fit: "Ł" must not quietly become "L".
    BOOL lost = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, nullptr,
                                      0, nullptr, &lost);
    if (n <= 0 || lost) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), units, out.data(), n, nullptr,
                        &lost);
    return !lost;
}

std::string ansiToUtf8(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX / 2) return latin1ToUtf8(bytes);
    const int n = static_cast<int>(bytes.size());
    std::wstring wide(bytes.size(), L'\0');
    const int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, wide.data(), n);
    if (units <= 0) return latin1ToUtf8(bytes);
    wide.resize(static_cast<std::size_t>(units));
    std::u32string cps;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00);
            ++i;
        }
        cps.push_back(c);
    }
    return fromCodePoints(cps);
}

}  // namespace gsms::text

// The ANSI code page: what a Windows program writes when it writes no Unicode.
#include <windows.h>

#include <climits>
#include <string>

#include "platform/text_encoding.h"

namespace gsms::text {

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

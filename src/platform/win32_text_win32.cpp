#include "platform/win32_text.h"

#include <windows.h>

#include <climits>

namespace gsms::win32 {

std::wstring wide(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
    return out;
}

bool toUtf8(std::wstring_view text, std::string& out) {
    out.clear();
    bool whole = true;
    std::wstring checked(text);
    for (std::size_t i = 0; i < checked.size(); ++i) {
        const wchar_t c = checked[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < checked.size() && checked[i + 1] >= 0xDC00 &&
            checked[i + 1] < 0xE000) {
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            checked[i] = 0xFFFD;
            whole = false;
        }
    }
    if (checked.empty() || checked.size() > INT_MAX / 4) return whole && checked.empty();
    const int size = static_cast<int>(checked.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, checked.data(), size, nullptr, 0, nullptr,
                                      nullptr);
    if (n <= 0) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, checked.data(), size, out.data(), n, nullptr, nullptr);
    return whole;
}

std::string utf8(std::wstring_view text) {
    std::string out;
    (void)toUtf8(text, out);
    return out;
}

}  // namespace gsms::win32

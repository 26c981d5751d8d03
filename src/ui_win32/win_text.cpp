#include "ui_win32/win_text.h"

namespace gsms::win {

std::wstring fromLatin1(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::wstring fromUtf8(std::string_view text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string toUtf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n,
                        nullptr, nullptr);
    return narrow;
}

std::string toLatin1(std::wstring_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) narrow.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return narrow;
}

std::wstring windowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

std::string itemUtf8(HWND dialog, int id) { return toUtf8(windowText(GetDlgItem(dialog, id))); }

void setItemUtf8(HWND dialog, int id, std::string_view text) {
    SetDlgItemTextW(dialog, id, fromUtf8(text).c_str());
}

void warn(HWND owner, std::string_view text, const wchar_t* caption) {
    MessageBoxW(owner, fromUtf8(text).c_str(), caption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace gsms::win

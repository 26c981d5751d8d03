// Texts between the engine and the Win32 controls. The engine's strings (settings, names,
// texts) and the shared window rules are UTF-8, and the window's controls are Unicode
// (UTF-16), so that no code page decides what the operator sees.
// Thread contract: the conversions run on any thread; the rest on the thread of the window.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace gsms::win {

[[nodiscard]] std::wstring fromLatin1(std::string_view text);
[[nodiscard]] std::wstring fromUtf8(std::string_view text);
[[nodiscard]] std::string toUtf8(std::wstring_view text);
// A character beyond ISO 8859-1 becomes "?".
[[nodiscard]] std::string toLatin1(std::wstring_view text);

// The text of a window or of a dialog's control.
[[nodiscard]] std::wstring windowText(HWND window);
[[nodiscard]] std::string itemUtf8(HWND dialog, int id);
void setItemUtf8(HWND dialog, int id, std::string_view text);

// A warning box with `text` over `owner`, captioned as the program.
void warn(HWND owner, std::string_view text, const wchar_t* caption = L"Velkora GSM/SMS");

}  // namespace gsms::win

// Windows only: the gateway's UTF-8 strings and the system's UTF-16, for the wide API (file
// names in any language, command lines, the console).
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

namespace gsms::win32 {

// UTF-8 as UTF-16; a malformed byte becomes U+FFFD.
[[nodiscard]] std::wstring wide(std::string_view utf8);
// UTF-16 as UTF-8. False when it holds an unpaired surrogate, which UTF-8 cannot carry (an NTFS
// name may): out then holds U+FFFD in its place, good for showing, not for naming a file.
[[nodiscard]] bool toUtf8(std::wstring_view text, std::string& out);
// The same, for texts that are only shown.
[[nodiscard]] std::string utf8(std::wstring_view text);

}  // namespace gsms::win32

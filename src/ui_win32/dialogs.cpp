#include "ui_win32/dialogs.h"

#include "ui_win32/win_text.h"

namespace gsms::win {

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

void refuse(HWND dialog, int id, const std::string& message) {
    warn(dialog, message);
    HWND control = GetDlgItem(dialog, id);
    SetFocus(control);
    SendMessageW(control, EM_SETSEL, 0, -1);
}

}  // namespace gsms::win

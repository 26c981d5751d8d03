// The About dialog: the template IDD_ABOUT of gsms.rc, until OK or Cancel.
#include "ui_win32/dialogs.h"

#include "ui_win32/resource.h"

namespace gsms::win {

namespace {

INT_PTR CALLBACK aboutProc(HWND dialog, UINT message, WPARAM wp, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void runAboutDialog(HWND owner) {
    (void)DialogBoxParamW(instance(), MAKEINTRESOURCEW(IDD_ABOUT), owner, aboutProc, 0);
}

}  // namespace gsms::win

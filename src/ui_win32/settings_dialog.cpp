// The Settings dialog: the settings form of frontend/window_forms.h, checked whole on OK and
// saved, after the warning that a restart takes them in, when something was changed.
#include "ui_win32/dialogs.h"

#include <string>

#include "core/settings.h"
#include "core/settings_update.h"
#include "frontend/window_forms.h"
#include "ui_win32/resource.h"
#include "ui_win32/win_text.h"

namespace gsms::win {

namespace {

struct Settings {
    SettingsForm opened;
    SettingsForm accepted;
};

// Like a drop-down combo has always been filled: an item starting with the text (in any
// case) is selected, otherwise the text goes into the edit.
void setComboText(HWND dialog, int id, const std::string& text) {
    const std::wstring wide = fromUtf8(text);
    const LRESULT item = SendDlgItemMessageW(dialog, id, CB_FINDSTRING, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(wide.c_str()));
    if (item != CB_ERR)
        SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    else
        SetDlgItemTextW(dialog, id, wide.c_str());
}

SettingsForm formOf(HWND dialog, const SettingsForm& opened) {
    SettingsForm f = opened;
    f.port = itemUtf8(dialog, IDC_PORT);
    f.baud = itemUtf8(dialog, IDC_BAUD);
    f.pin = itemUtf8(dialog, IDC_PIN);
    f.number = itemUtf8(dialog, IDC_PHONE);
    f.retries = itemUtf8(dialog, IDC_RETRIES);
    f.retryDelay = itemUtf8(dialog, IDC_RETRY_DELAY);
    f.incoming = IsDlgButtonChecked(dialog, IDC_INCOMING) == BST_CHECKED;
    f.refreshSeconds = itemUtf8(dialog, IDC_REFRESH);
    f.techAlarm = itemUtf8(dialog, IDC_TECH_ALARM);
    f.quietMinutes = itemUtf8(dialog, IDC_QUIET);
    f.port2 = itemUtf8(dialog, IDC_PORT2);
    f.mode2 = itemUtf8(dialog, IDC_MODE2);
    f.pin2 = itemUtf8(dialog, IDC_PIN2);
    return f;
}

INT_PTR CALLBACK settingsProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<Settings*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (s == nullptr && message != WM_INITDIALOG) return FALSE;  // not set up yet
    if (message == WM_INITDIALOG) {
        s = reinterpret_cast<Settings*>(lp);
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        for (const int combo : {IDC_PORT, IDC_PORT2})
            for (const wchar_t* port : {L"COM1", L"COM2", L"COM3"})
                SendDlgItemMessageW(dialog, combo, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(port));
        for (const wchar_t* n : {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9"})
            SendDlgItemMessageW(dialog, IDC_RETRIES, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(n));
        const SettingsForm& f = s->opened;
        const SettingsLimits limits = settingsLimits(f);
        SendDlgItemMessageW(dialog, IDC_PORT, CB_LIMITTEXT, static_cast<WPARAM>(limits.port), 0);
        SendDlgItemMessageW(dialog, IDC_BAUD, EM_LIMITTEXT, static_cast<WPARAM>(limits.baud), 0);
        SendDlgItemMessageW(dialog, IDC_PIN, EM_LIMITTEXT, static_cast<WPARAM>(limits.pin), 0);
        SendDlgItemMessageW(dialog, IDC_PHONE, EM_LIMITTEXT, static_cast<WPARAM>(limits.number), 0);
        SendDlgItemMessageW(dialog, IDC_PORT2, CB_LIMITTEXT, static_cast<WPARAM>(limits.port2), 0);
        SendDlgItemMessageW(dialog, IDC_MODE2, EM_LIMITTEXT, static_cast<WPARAM>(limits.mode2), 0);
        SendDlgItemMessageW(dialog, IDC_PIN2, EM_LIMITTEXT, static_cast<WPARAM>(limits.pin2), 0);
        // Filling the edits reports their changes, as it always has: the flag gets set.
        setComboText(dialog, IDC_PORT, f.port);
        setItemUtf8(dialog, IDC_BAUD, f.baud);
        setItemUtf8(dialog, IDC_PARITY, f.parity);
        setItemUtf8(dialog, IDC_PIN, f.pin);
        setItemUtf8(dialog, IDC_PHONE, f.number);
        setComboText(dialog, IDC_RETRIES, f.retries);
        setItemUtf8(dialog, IDC_RETRY_DELAY, f.retryDelay);
        CheckDlgButton(dialog, IDC_INCOMING, f.incoming ? BST_CHECKED : BST_UNCHECKED);
        setItemUtf8(dialog, IDC_REFRESH, f.refreshSeconds);
        setItemUtf8(dialog, IDC_TECH_ALARM, f.techAlarm);
        setItemUtf8(dialog, IDC_QUIET, f.quietMinutes);
        // No second modem: the port stays empty, not the first item of the list.
        if (!f.port2.empty()) setComboText(dialog, IDC_PORT2, f.port2);
        setItemUtf8(dialog, IDC_MODE2, f.mode2);
        setItemUtf8(dialog, IDC_PIN2, f.pin2);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    const int id = LOWORD(wp);
    const int event = HIWORD(wp);
    switch (id) {
        case IDC_BAUD:
        case IDC_PIN:
        case IDC_PHONE:
        case IDC_RETRY_DELAY:
        case IDC_TECH_ALARM:
        case IDC_REFRESH:
        case IDC_QUIET:
        case IDC_MODE2:
        case IDC_PIN2:
            if (event == EN_CHANGE) setSettingsModified(true);
            return TRUE;
        case IDC_PORT:
        case IDC_RETRIES:
        case IDC_PORT2:
            if (event == CBN_EDITCHANGE || event == CBN_SELCHANGE) setSettingsModified(true);
            return TRUE;
        case IDC_INCOMING:
            if (event == BN_CLICKED) setSettingsModified(true);
            return TRUE;
        case IDOK: {
            const SettingsForm form = formOf(dialog, s->opened);
            const FormRefusal refusal = checkSettingsForm(form);
            if (refusal.control != 0) {
                refuse(dialog, refusal.control, refusal.message);
                return TRUE;
            }
            s->accepted = form;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void runSettingsDialog(HWND owner) {
    Settings s;
    s.opened = settingsForm(settings());
    const INT_PTR result = DialogBoxParamW(instance(), MAKEINTRESOURCEW(IDD_SETTINGS), owner,
                                           settingsProc, reinterpret_cast<LPARAM>(&s));
    if (result != IDOK || !settingsModified()) return;
    MessageBoxW(owner, L"You need to restart the application for taking in account new parameters",
                L"WARNING", MB_OK | MB_ICONEXCLAMATION);
    if (applySettingsForm(s.accepted, settings()) != 0) return;
    (void)saveSettings();
    setSettingsModified(false);
}

}  // namespace gsms::win

// The Change SMSC dialog: the service centre's number and numbering plan as the modem last
// gave them, checked on OK. With two modems the operator chooses one first; choosing shows
// its values.
#include "ui_win32/dialogs.h"

#include <string>

#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/operator_action.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "ui_win32/resource.h"
#include "ui_win32/win_text.h"

namespace gsms::win {

namespace {

struct ChangeSmsc {
    std::string number;
    int plan = 0;
    int modem = 1;  // the link's number
};

// Number and plan of link `modem` into the dialog's edits.
void showModem(HWND dialog, ChangeSmsc& s, int modem) {
    if (modem < 1 || modem > modemCount()) return;
    s.modem = modem;
    ModemState& state = modemLink(modem).state();
    s.number = std::string(state.smscNumber).substr(0, kSmscNumberLength);
    s.plan = state.smscType.load();
    setItemUtf8(dialog, IDC_SMSC_NUMBER, s.number);
    setItemUtf8(dialog, IDC_SMSC_PLAN, std::to_string(static_cast<unsigned>(s.plan)));
}

INT_PTR CALLBACK changeSmscProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<ChangeSmsc*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (s == nullptr && message != WM_INITDIALOG) return FALSE;  // not set up yet
    if (message == WM_INITDIALOG) {
        s = reinterpret_cast<ChangeSmsc*>(lp);
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        SendDlgItemMessageW(dialog, IDC_SMSC_NUMBER, EM_LIMITTEXT, kSmscNumberLength, 0);
        if (modemCount() > 1) {
            for (int n = 1; n <= modemCount(); ++n) {
                const std::wstring name = fromUtf8(modemLink(n).name());
                SendDlgItemMessageW(dialog, IDC_SMSC_MODEM, CB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(name.c_str()));
            }
            SendDlgItemMessageW(dialog, IDC_SMSC_MODEM, CB_SETCURSEL, 0, 0);
            ShowWindow(GetDlgItem(dialog, IDC_SMSC_MODEM_LABEL), SW_SHOW);
            ShowWindow(GetDlgItem(dialog, IDC_SMSC_MODEM), SW_SHOW);
        }
        showModem(dialog, *s, 1);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    if (LOWORD(wp) == IDC_SMSC_MODEM && HIWORD(wp) == CBN_SELCHANGE) {
        const LRESULT chosen = SendDlgItemMessageW(dialog, IDC_SMSC_MODEM, CB_GETCURSEL, 0, 0);
        if (chosen != CB_ERR) showModem(dialog, *s, static_cast<int>(chosen) + 1);
        return TRUE;
    }
    if (LOWORD(wp) == IDOK) {
        // An empty number would wipe the modem's service centre: no SMS would go out after it.
        const std::string number = itemUtf8(dialog, IDC_SMSC_NUMBER);
        const std::string problem = smscNumberProblem(number);
        if (!problem.empty()) {
            refuse(dialog, IDC_SMSC_NUMBER, problem);
            return TRUE;
        }
        const FormValue plan = takeUnsignedInRange(itemUtf8(dialog, IDC_SMSC_PLAN), 0, 255);
        if (!plan.message.empty()) {
            refuse(dialog, IDC_SMSC_PLAN, plan.message);
            return TRUE;
        }
        s->number = number;
        s->plan = static_cast<int>(plan.value);
        EndDialog(dialog, IDOK);
        return TRUE;
    }
    if (LOWORD(wp) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool runChangeSmscDialog(HWND owner) {
    ChangeSmsc s;
    const INT_PTR result = DialogBoxParamW(instance(), MAKEINTRESOURCEW(IDD_CHANGE_SMSC), owner,
                                           changeSmscProc, reinterpret_cast<LPARAM>(&s));
    if (result != IDOK) return false;
    (void)startSmscChange(s.number, s.plan, s.modem);
    return true;
}

}  // namespace gsms::win

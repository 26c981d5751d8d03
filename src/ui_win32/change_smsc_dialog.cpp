// The Change SMSC dialog: the service centre's number and numbering plan as the modem last
// gave them, checked on OK.
#include "ui_win32/dialogs.h"

#include <string>

#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/operator_action.h"
#include "modem/modem_state.h"
#include "ui_win32/resource.h"
#include "ui_win32/win_text.h"

namespace gsms::win {

namespace {

struct ChangeSmsc {
    std::string number;
    int plan = 0;
};

INT_PTR CALLBACK changeSmscProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<ChangeSmsc*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (s == nullptr && message != WM_INITDIALOG) return FALSE;  // not set up yet
    if (message == WM_INITDIALOG) {
        s = reinterpret_cast<ChangeSmsc*>(lp);
        SetWindowLongPtrW(dialog, DWLP_USER, lp);
        SendDlgItemMessageW(dialog, IDC_SMSC_NUMBER, EM_LIMITTEXT, kSmscNumberLength, 0);
        setItemUtf8(dialog, IDC_SMSC_NUMBER, s->number);
        setItemUtf8(dialog, IDC_SMSC_PLAN, std::to_string(static_cast<unsigned>(s->plan)));
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
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
    ModemState& modem = modemState();
    s.number = std::string(modem.smscNumber).substr(0, kSmscNumberLength);
    s.plan = modem.smscType.load();
    const INT_PTR result = DialogBoxParamW(instance(), MAKEINTRESOURCEW(IDD_CHANGE_SMSC), owner,
                                           changeSmscProc, reinterpret_cast<LPARAM>(&s));
    if (result != IDOK) return false;
    (void)startSmscChange(s.number, s.plan);
    return true;
}

}  // namespace gsms::win

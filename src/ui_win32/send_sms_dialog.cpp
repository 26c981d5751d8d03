// The Send SMS dialog: the number (the numbers sent to before in its list), the message in a
// rich edit with its counter and the characters the GSM alphabet lacks marked, and Flash.
#include "ui_win32/dialogs.h"

#include <richedit.h>

#include <string>
#include <vector>

#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/operator_action.h"
#include "ui_win32/resource.h"
#include "ui_win32/win_text.h"

namespace gsms::win {

namespace {

constexpr UINT kRecount = WM_APP + 1;  // the combo's edit has taken the chosen item

int CALLBACK fontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool hasFace(const wchar_t* face) {
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    HDC dc = GetDC(nullptr);
    EnumFontFamiliesExW(dc, &lf, fontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, dc);
    return found;
}

struct SendSms {
    std::vector<std::string> history;  // as listed when the dialog opened
    HFONT counterFont = nullptr;
    bool counterRed = false;
    bool marking = false;  // the marks being set are no change of the text
    std::vector<TextSpan> shownMarks;
    std::string number;
    std::string bytes;
    int flash = 0;
};

// The typed message as the shared rules take it: UTF-16 with the rich edit's paragraph ends
// (CR) as LF, so that positions in it are the control's own.
std::u16string typedText(HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_MESSAGE);
    GETTEXTLENGTHEX howLong{GTL_DEFAULT | GTL_NUMCHARS, 1200};
    const auto length = static_cast<std::size_t>(
        SendMessageW(edit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&howLong), 0));
    std::u16string typed(length + 1, u'\0');
    GETTEXTEX get{static_cast<DWORD>((length + 1) * sizeof(char16_t)), GT_DEFAULT, 1200, nullptr,
                  nullptr};
    const auto got =
        static_cast<std::size_t>(SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                              reinterpret_cast<LPARAM>(typed.data())));
    typed.resize(got < length ? got : length);
    for (char16_t& c : typed)
        if (c == u'\r') c = u'\n';
    return typed;
}

MessageCheck typedMessage(HWND dialog) { return checkMessage(typedText(dialog)); }

// Holds the message to kMaxMessageLength, a line break counting two as it goes out: the
// surplus is taken back just before the caret, where it was typed or pasted.
void enforceLimit(HWND edit, std::u16string_view typed) {
    int excess = typedLength(typed) - kMaxMessageLength;
    if (excess <= 0) return;
    CHARRANGE caret{};
    SendMessageW(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    LONG end = caret.cpMax > 0 ? caret.cpMax : static_cast<LONG>(typed.size());
    LONG start = end;
    while (excess > 0 && start > 0) {
        excess -= typed[static_cast<std::size_t>(start - 1)] == u'\n' ? 2 : 1;
        --start;
    }
    CHARRANGE surplus{start, end};
    SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&surplus));
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}

// The characters that would not arrive as typed, marked where they stand (as the Qt window
// marks them: a light red background, underlined).
void markText(HWND edit, const std::vector<TextSpan>& marks) {
    CHARRANGE keep{};
    SendMessageW(edit, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    SendMessageW(edit, EM_HIDESELECTION, TRUE, 0);
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BACKCOLOR | CFM_UNDERLINE;
    format.dwEffects = CFE_AUTOBACKCOLOR;
    CHARRANGE range{0, -1};
    SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    SendMessageW(edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    format.dwEffects = CFE_UNDERLINE;
    format.crBackColor = RGB(255, 190, 190);
    for (const TextSpan& span : marks) {
        range = {static_cast<LONG>(span.start), static_cast<LONG>(span.start + span.length)};
        SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
        SendMessageW(edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    }
    SendMessageW(edit, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&keep));
    SendMessageW(edit, EM_HIDESELECTION, FALSE, 0);
}

void recount(HWND dialog, SendSms& s) {
    const MessageCheck check = typedMessage(dialog);
    const std::string number = itemUtf8(dialog, IDC_NUMBER);
    SetDlgItemTextW(dialog, IDC_COUNTER, fromUtf8(counterText(check)).c_str());
    s.counterRed = counterIsRed(check);
    InvalidateRect(GetDlgItem(dialog, IDC_COUNTER), nullptr, TRUE);
    SetDlgItemTextW(dialog, IDC_NOTE, fromUtf8(messageNote(check, number)).c_str());
    EnableWindow(GetDlgItem(dialog, IDOK), sendMayAct(check, number) ? TRUE : FALSE);
    // Formatting a long text takes its time: done only while there are marks to set or clear.
    if (!check.marks.empty() || !s.shownMarks.empty()) {
        s.marking = true;
        markText(GetDlgItem(dialog, IDC_MESSAGE), check.marks);
        s.marking = false;
    }
    s.shownMarks = check.marks;
}

INT_PTR CALLBACK sendSmsProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    auto* s = reinterpret_cast<SendSms*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (s == nullptr && message != WM_INITDIALOG) return FALSE;  // not set up yet
    switch (message) {
        case WM_INITDIALOG: {
            s = reinterpret_cast<SendSms*>(lp);
            SetWindowLongPtrW(dialog, DWLP_USER, lp);
            HWND edit = GetDlgItem(dialog, IDC_MESSAGE);
            SendMessageW(edit, EM_EXLIMITTEXT, 0, kMaxMessageLength);
            SendMessageW(edit, WM_SETFONT,
                         static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0)), FALSE);
            SendMessageW(edit, EM_SETEVENTMASK, 0, ENM_CHANGE | ENM_KEYEVENTS);
            // The counter's LCD face where the system has one.
            std::wstring face = L"Courier New";
            for (const char* f : {kCounterFace, kCounterFallbackFace})
                if (hasFace(fromLatin1(f).c_str())) {
                    face = fromLatin1(f);
                    break;
                }
            s->counterFont = CreateFontW(-kCounterFontSize, 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                         FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                         CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                                         face.c_str());
            SendDlgItemMessageW(dialog, IDC_COUNTER, WM_SETFONT,
                                reinterpret_cast<WPARAM>(s->counterFont), FALSE);
            SetDlgItemTextW(dialog, IDC_COUNTER, L"0 / 160");
            int at = 0;
            for (const std::string& number : s->history)
                SendDlgItemMessageW(dialog, IDC_NUMBER, CB_INSERTSTRING, static_cast<WPARAM>(at++),
                                    reinterpret_cast<LPARAM>(fromUtf8(number).c_str()));
            recount(dialog, *s);
            return TRUE;
        }
        case WM_CTLCOLORSTATIC: {
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
            if (id != IDC_COUNTER && id != IDC_NOTE) return FALSE;
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, id == IDC_NOTE || s->counterRed ? RGB(255, 0, 0)
                                                             : GetSysColor(COLOR_WINDOWTEXT));
            SetBkMode(dc, TRANSPARENT);
            return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_NOTIFY: {
            // Enter presses "Send"; Ctrl+Enter starts a new line, as in the Qt window.
            const auto* filter = reinterpret_cast<const MSGFILTER*>(lp);
            if (filter->nmhdr.idFrom != IDC_MESSAGE || filter->nmhdr.code != EN_MSGFILTER ||
                filter->msg != WM_KEYDOWN || filter->wParam != VK_RETURN ||
                (GetKeyState(VK_CONTROL) & 0x8000) == 0)
                return FALSE;
            SendMessageW(filter->nmhdr.hwndFrom, EM_REPLACESEL, TRUE,
                         reinterpret_cast<LPARAM>(L"\r"));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);  // the key is taken
            return TRUE;
        }
        case kRecount:
            recount(dialog, *s);
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case IDC_MESSAGE:
                    if (HIWORD(wp) == EN_CHANGE && !s->marking) {
                    enforceLimit(GetDlgItem(dialog, IDC_MESSAGE), typedText(dialog));
                    recount(dialog, *s);
                }
                    return TRUE;
                case IDC_NUMBER:
                    if (HIWORD(wp) == CBN_EDITCHANGE) recount(dialog, *s);
                    if (HIWORD(wp) == CBN_SELCHANGE) PostMessageW(dialog, kRecount, 0, 0);
                    return TRUE;
                case IDOK: {
                    const MessageCheck check = typedMessage(dialog);
                    s->number = itemUtf8(dialog, IDC_NUMBER);
                    if (!sendMayAct(check, s->number)) return TRUE;  // Enter with nothing to send
                    s->bytes = check.bytes;
                    s->flash = IsDlgButtonChecked(dialog, IDC_FLASH) == BST_CHECKED ? 1 : 0;
                    EndDialog(dialog, IDOK);
                    (void)rememberNumber(s->number, s->history);
                    return TRUE;
                }
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

}  // namespace

bool runSendSmsDialog(HWND owner) {
    SendSms s;
    s.history = readNumberHistory();
    const INT_PTR result = DialogBoxParamW(instance(), MAKEINTRESOURCEW(IDD_SEND_SMS), owner,
                                           sendSmsProc, reinterpret_cast<LPARAM>(&s));
    if (s.counterFont != nullptr) DeleteObject(s.counterFont);
    if (result != IDOK) return false;
    (void)startHandSms(s.number, s.bytes, s.flash);
    return true;
}

}  // namespace gsms::win

#include "ui_win32/main_window.h"

#include <commctrl.h>

#include <array>
#include <string>
#include <vector>

#include "core/activity.h"
#include "core/log.h"
#include "core/profile_file.h"
#include "frontend/window_forms.h"
#include "frontend/window_rules.h"
#include "gateway/engine.h"
#include "gateway/operator_action.h"
#include "jobs/job_table.h"
#include "modem/modem_link.h"
#include "sms/signal_thread.h"
#include "ui_win32/dialogs.h"
#include "ui_win32/resource.h"
#include "ui_win32/shaped_gauge.h"
#include "ui_win32/win_text.h"

namespace gsms::win {

namespace {

constexpr int kSlots = 30;
constexpr int kMaxLogLines = 1000;  // the list holds at most one more
constexpr UINT kAboutCommand = 0x0010;
constexpr UINT_PTR kStartupTimer = 0x4000;  // no notification code
constexpr UINT kStartupTickMs = 500;
constexpr int kCaptionLines = 2;

struct MainWindow {
    HWND dialog = nullptr;
    std::array<HBITMAP, kSlotStates> pictures{};
    CShapedGauge gauge;
    bool gaugeMade = false;
    // Once the engine has a second modem: its gauge and one line per modem.
    bool twoModems = false;
    CShapedGauge gauge2;
    bool gauge2Made = false;
    std::array<HWND, 2> modemLines{};
    std::array<std::string, 2> modemTexts;
    bool engineStartPending = true;
    int shownQuality = -1;  // the last signal reading shown, -1 before the first
    std::wstring status;
    HICON icon = nullptr;
    HWND tips = nullptr;
    std::array<std::wstring, kSlots> captions;  // whole, for the tool tips
};

MainWindow* g_window = nullptr;

bool mayAct(WindowButton button) {
    return buttonMayAct(button, engineStage(), runningOperatorAction());
}

// A slot picture with its transparent parts blended onto the dialog's face colour, since a
// static control draws a bitmap as it is.
HBITMAP slotPicture(HINSTANCE instance, int state) {
    auto* bitmap =
        static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(IDB_SLOT_FIRST + state),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (bitmap == nullptr || GetObjectW(bitmap, sizeof dib, &dib) != sizeof dib ||
        dib.dsBm.bmBitsPixel != 32 || dib.dsBm.bmBits == nullptr)
        return bitmap;
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const unsigned faceRgb[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
    auto* bytes = static_cast<unsigned char*>(dib.dsBm.bmBits);
    const long count = static_cast<long>(dib.dsBm.bmWidth) * dib.dsBm.bmHeight;
    for (long i = 0; i < count; ++i) {
        unsigned char* p = bytes + i * 4;
        const unsigned a = p[3];
        for (int c = 0; c < 3; ++c)
            p[c] = static_cast<unsigned char>((p[c] * a + faceRgb[c] * (255 - a)) / 255);
        p[3] = 255;
    }
    return bitmap;
}

void trace(const std::string& line) { windowTrace(line); }

void enableItem(HWND dialog, int id, bool on) {
    EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE);
}

// The rectangle of the template's dialog units (x, y, width, height) in the dialog's pixels.
RECT dialogRect(HWND dialog, int x, int y, int width, int height) {
    RECT rc{x, y, x + width, y + height};
    MapDialogRect(dialog, &rc);
    return rc;
}

HWND makeStatic(HWND dialog, const wchar_t* text, DWORD align, const RECT& rc) {
    HWND label = CreateWindowExW(0, L"STATIC", text, WS_CHILD | WS_VISIBLE | align, rc.left,
                                 rc.top, rc.right - rc.left, rc.bottom - rc.top, dialog, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (label != nullptr)
        SendMessageW(label, WM_SETFONT,
                     static_cast<WPARAM>(SendMessageW(dialog, WM_GETFONT, 0, 0)), TRUE);
    return label;
}

// With a second modem, once: the log gives up the width of a gauge and the height of two
// lines for the second gauge (numbered 1 and 2 beneath, as the Qt window) and a line per modem.
void layOutTwoModems(MainWindow& w) {
    w.twoModems = true;
    const RECT log = dialogRect(w.dialog, 7, 228, 354, 66);
    MoveWindow(GetDlgItem(w.dialog, IDC_LOG), log.left, log.top, log.right - log.left,
               log.bottom - log.top, TRUE);
    if (w.gaugeMade) {
        const RECT first = dialogRect(w.dialog, 366, 228, 24, 59);
        SetWindowPos(w.gauge.window(), nullptr, first.left, first.top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        // Wine does not expose a shaped window where it was moved to: drawn again whole.
        InvalidateRect(w.gauge.window(), nullptr, FALSE);
    }
    const RECT second = dialogRect(w.dialog, 394, 228, 24, 59);
    auto* shape = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                  MAKEINTRESOURCEW(IDB_SIGNAL_BARS), IMAGE_BITMAP,
                                                  0, 0, 0));
    w.gauge2Made = w.gauge2.create(w.dialog, second.left, second.top, shape, 0);
    if (w.gauge2Made) {
        (void)w.gauge2.setStyle(CShapedGauge::kGradientUp);
        w.gauge2.setColours(kColorRed, kColorGreen);
        w.gauge2.setRange(0, 31);
        (void)w.gauge2.setValue(kGaugeOpeningValue);
    }
    for (int n = 0; n < 2; ++n) {
        (void)makeStatic(w.dialog, n == 0 ? L"1" : L"2", SS_CENTER,
                         dialogRect(w.dialog, 366 + 28 * n, 289, 24, 8));
        w.modemLines[static_cast<std::size_t>(n)] =
            makeStatic(w.dialog, L"", SS_LEFT | SS_NOPREFIX,
                       dialogRect(w.dialog, 7, 297 + 10 * n, 354, 8));
    }
}

// Buttons, system menu, status line, gauge and cursor as the engine stage, the operator's
// action and the last reading call for; `reading`: a new reading came (traced even when the
// gauge stays where it was).
void refreshState(MainWindow& w, bool reading = false) {
    const EngineStage stage = engineStage();
    const OperatorAction running = runningOperatorAction();
    const struct {
        int id;
        WindowButton button;
    } buttons[] = {{IDC_ABOUT, WindowButton::About},
                   {IDC_SETTINGS, WindowButton::Settings},
                   {IDC_SEND_SMS, WindowButton::SendSms},
                   {IDC_CHANGE_SMSC, WindowButton::ChangeSmsc},
                   {IDCANCEL, WindowButton::Exit}};
    for (const auto& b : buttons)
        enableItem(w.dialog, b.id, buttonMayAct(b.button, stage, running));
    HMENU menu = GetSystemMenu(w.dialog, FALSE);
    const auto menuState = [&](WindowButton b) {
        return MF_BYCOMMAND | (buttonMayAct(b, stage, running) ? MF_ENABLED : MF_GRAYED);
    };
    EnableMenuItem(menu, SC_CLOSE, menuState(WindowButton::Exit));
    EnableMenuItem(menu, kAboutCommand, menuState(WindowButton::About));

    if (!w.twoModems && modemCount() > 1) layOutTwoModems(w);
    const std::vector<ModemView> modems = modemViews();
    const std::string status = statusLineText(stage, running, w.shownQuality, modems);
    const std::wstring shown = fromUtf8(status);
    if (shown != w.status) {
        w.status = shown;
        SetDlgItemTextW(w.dialog, IDC_STATUS, shown.c_str());
        trace("status " + status);
    }
    const int value = gaugeValue(stage, w.shownQuality);
    if (w.gaugeMade) {
        const bool moved = w.gauge.value() != value;
        (void)w.gauge.setValue(value);
        if (moved || reading) trace("signal " + std::to_string(value));
    }
    if (w.twoModems && modems.size() == 2) {
        if (w.gauge2Made) (void)w.gauge2.setValue(gaugeValue(stage, modems[1].quality));
        for (std::size_t n = 0; n < 2; ++n) {
            const std::string line = modemViewText(modems[n]);
            if (line == w.modemTexts[n]) continue;
            w.modemTexts[n] = line;
            if (w.modemLines[n] != nullptr)
                SetWindowTextW(w.modemLines[n], fromUtf8(line).c_str());
            trace("path " + line);
        }
    }
    if (running != OperatorAction::None)
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
}

void askSendWithTevrak(HWND dialog) {
    const ProfileFile hestrum("hestrum.ini");
    if (hestrum.readInt("drobel", "SendWithTevrak", 0) != 0) return;
    const int answer =
        MessageBoxW(dialog,
                    L"Activate function to send SMS with this program for an alarm ?\n"
                    L"(The flag SendWithTevrak in Hestrum.ini under [drobel] is set to 1)",
                    L"Please confirm..", MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES) (void)hestrum.writeString("drobel", "SendWithTevrak", "1");
}

void addTip(MainWindow& w, HWND label) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = w.dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(label);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(w.tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void setTip(MainWindow& w, HWND label, const std::wstring& text) {
    if (w.tips == nullptr) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = w.dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(label);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(w.tips, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void showSlot(MainWindow& w, int slot, int state, const std::string& caption) {
    HWND picture = GetDlgItem(w.dialog, IDC_SLOT_PICTURE + slot);
    // A state without a picture shows none.
    HBITMAP image =
        state >= 0 && state < kSlotStates ? w.pictures[static_cast<std::size_t>(state)] : nullptr;
    SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(image));

    HWND label = GetDlgItem(w.dialog, IDC_SLOT_LABEL + slot);
    RECT rc;
    GetClientRect(label, &rc);
    HDC dc = GetDC(label);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    const std::string shown =
        wrapCaption(caption, rc.right - rc.left, kCaptionLines, [dc](std::string_view text) {
            const std::wstring wide = fromUtf8(text);
            SIZE size{};
            GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
            return static_cast<int>(size.cx);
        });
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    std::wstring text = fromUtf8(shown);
    // A static control breaks lines at CR LF.
    for (std::size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 2))
        text.insert(at, 1, L'\r');
    SetWindowTextW(label, text.c_str());
    w.captions[static_cast<std::size_t>(slot)] = fromUtf8(caption);
    setTip(w, label, w.captions[static_cast<std::size_t>(slot)]);
    trace("slot " + std::to_string(slot) + " state " + std::to_string(state) + " " + caption);
}

void showLogLine(MainWindow& w) {
    HWND list = GetDlgItem(w.dialog, IDC_LOG);
    while (SendMessageW(list, LB_GETCOUNT, 0, 0) > kMaxLogLines)
        SendMessageW(list, LB_DELETESTRING, 0, 0);
    const auto line = takeLogLine();
    if (!line) return;
    const std::wstring text = fromUtf8(line->text);  // UTF-8, its outside text escaped
    const LRESULT at = SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (at >= 0) SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), line->colour);
    SendMessageW(list, LB_SETTOPINDEX,
                 static_cast<WPARAM>(SendMessageW(list, LB_GETCOUNT, 0, 0) - 1), 0);
    trace("log " + traceColour(line->colour) + " " + toUtf8(text));
}

void onNotification(MainWindow& w, int code) {
    if (code == kNotifyLogLine) {
        showLogLine(w);
    } else if (code == kNotifySignal) {
        w.shownQuality = signalQuality().load();
        refreshState(w, true);
    } else if (code == kNotifyEngineState) {
        refreshState(w);
    } else if (code >= 1 && code <= kSlots) {  // any other code touches nothing
        const JobSlotView view = jobSlotView(code - 1);
        showSlot(w, code - 1, view.state, view.text);
    }
}

// One line of the log list: on its own colour when selected, its text in the colour the
// shared rules give.
void drawLogLine(const DRAWITEMSTRUCT& item) {
    if (static_cast<int>(item.itemID) < 0) return;
    const auto c = static_cast<ColorRef>(item.itemData);
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    HDC dc = item.hDC;
    if (item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) {
        HBRUSH brush = selected ? CreateSolidBrush(c) : nullptr;
        FillRect(dc, &item.rcItem, selected ? brush : GetSysColorBrush(COLOR_WINDOW));
        if (brush != nullptr) DeleteObject(brush);
    }
    if (item.itemAction & ODA_FOCUS) {
        DrawFocusRect(dc, &item.rcItem);
        return;
    }
    COLORREF text;
    if (selected)
        text = c == 0 ? GetSysColor(COLOR_HIGHLIGHTTEXT) : selectedLineTextColour(c);
    else if (disabled)
        text = GetSysColor(COLOR_GRAYTEXT);
    else
        text = c == 0 ? GetSysColor(COLOR_WINDOWTEXT) : c;
    const LRESULT length = SendMessageW(item.hwndItem, LB_GETTEXTLEN, item.itemID, 0);
    if (length < 0) return;
    std::wstring line(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(line.data()));
    line.resize(static_cast<std::size_t>(length));
    const COLORREF oldColour = SetTextColor(dc, text);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    RECT box = item.rcItem;
    DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &box,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
    if ((item.itemState & ODS_FOCUS) && (item.itemAction & ODA_DRAWENTIRE))
        DrawFocusRect(dc, &item.rcItem);
}

void initDialog(MainWindow& w, HWND dialog) {
    w.dialog = dialog;
    HINSTANCE instance = GetModuleHandleW(nullptr);

    wchar_t about[64] = {};
    if (LoadStringW(instance, IDS_ABOUT_MENU, about, 64) > 0) {
        HMENU menu = GetSystemMenu(dialog, FALSE);
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, kAboutCommand, about);
    }
    for (int s = 0; s < kSlotStates; ++s)
        w.pictures[static_cast<std::size_t>(s)] = slotPicture(instance, s);
    for (int k = 0; k < kSlots; ++k)
        SendDlgItemMessageW(dialog, IDC_SLOT_PICTURE + k, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(w.pictures[0]));

    w.icon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(w.icon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(w.icon));

    HWND place = GetDlgItem(dialog, IDC_GAUGE_PLACE);
    ShowWindow(place, SW_HIDE);
    RECT rc;
    GetWindowRect(place, &rc);
    POINT corner{rc.left, rc.top};
    ScreenToClient(dialog, &corner);
    auto* shape = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDB_SIGNAL_BARS), IMAGE_BITMAP, 0, 0, 0));
    w.gaugeMade = w.gauge.create(dialog, corner.x, corner.y, shape, 0);
    if (w.gaugeMade) {
        (void)w.gauge.setStyle(CShapedGauge::kGradientUp);
        w.gauge.setColours(kColorRed, kColorGreen);
        w.gauge.setRange(0, 31);
        (void)w.gauge.setValue(kGaugeOpeningValue);
    }

    w.tips = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, instance,
                             nullptr);
    if (w.tips != nullptr) {
        SendMessageW(w.tips, TTM_SETMAXTIPWIDTH, 0, 400);
        for (int k = 0; k < kSlots; ++k) addTip(w, GetDlgItem(dialog, IDC_SLOT_LABEL + k));
    }

    // The engine's threads never wait for the window: each code is posted.
    setNotifier(
        [dialog](int code) { PostMessageW(dialog, WM_TIMER, static_cast<WPARAM>(code), 0); });

    askSendWithTevrak(dialog);
    refreshState(w);
    SetTimer(dialog, kStartupTimer, kStartupTickMs, nullptr);
}

void closeIfAllowed(HWND dialog) {
    if (mayAct(WindowButton::Exit)) EndDialog(dialog, IDCANCEL);
}

void onCommand(MainWindow& w, int id) {
    switch (id) {
        case IDC_ABOUT:
            if (mayAct(WindowButton::About)) runAboutDialog(w.dialog);
            break;
        case IDC_SETTINGS:
            if (mayAct(WindowButton::Settings)) runSettingsDialog(w.dialog);
            break;
        case IDC_SEND_SMS:
            if (mayAct(WindowButton::SendSms)) (void)runSendSmsDialog(w.dialog);
            refreshState(w);  // busy at once, before any input waiting behind the dialog
            break;
        case IDC_CHANGE_SMSC:
            if (mayAct(WindowButton::ChangeSmsc)) (void)runChangeSmscDialog(w.dialog);
            refreshState(w);
            break;
        case IDCANCEL:
            closeIfAllowed(w.dialog);
            break;
        default:
            break;
    }
}

INT_PTR CALLBACK mainProc(HWND dialog, UINT message, WPARAM wp, LPARAM lp) {
    MainWindow& w = *g_window;
    switch (message) {
        case WM_INITDIALOG:
            initDialog(w, dialog);
            return TRUE;
        case WM_MEASUREITEM: {
            auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
            if (item->CtlID != IDC_LOG) return FALSE;
            item->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENUCHECK));
            return TRUE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (item->CtlID != IDC_LOG) return FALSE;
            drawLogLine(*item);
            return TRUE;
        }
        case WM_TIMER:
            if (wp == kStartupTimer) {
                if (!w.engineStartPending) return TRUE;
                w.engineStartPending = false;
                KillTimer(dialog, kStartupTimer);
                (void)startEngine();
                refreshState(w);
                return TRUE;
            }
            if (lp == 0 && wp <= static_cast<WPARAM>(kNotifyEngineState))
                onNotification(w, static_cast<int>(wp));
            return TRUE;
        case WM_SETCURSOR:
            if (runningOperatorAction() == OperatorAction::None) return FALSE;
            SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == kAboutCommand) {
                if (mayAct(WindowButton::About)) runAboutDialog(dialog);
                return TRUE;
            }
            if ((wp & 0xFFF0) == SC_CLOSE) {
                closeIfAllowed(dialog);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (!IsIconic(dialog)) return FALSE;
            {
                // Where a minimised window is still drawn, it shows the icon in its middle.
                PAINTSTRUCT ps;
                HDC dc = BeginPaint(dialog, &ps);
                RECT rc;
                GetClientRect(dialog, &rc);
                FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
                const int cx = GetSystemMetrics(SM_CXICON), cy = GetSystemMetrics(SM_CYICON);
                DrawIcon(dc, (rc.right - cx + 1) / 2, (rc.bottom - cy + 1) / 2, w.icon);
                EndPaint(dialog, &ps);
            }
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(w.icon);
        case WM_CLOSE:
            closeIfAllowed(dialog);
            return TRUE;
        case WM_COMMAND:
            onCommand(w, LOWORD(wp));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

INT_PTR runMainDialog(HINSTANCE instance) {
    MainWindow window;
    g_window = &window;
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainProc, 0);
    const DWORD error = GetLastError();
    setNotifier(nullptr);
    for (HBITMAP b : window.pictures)
        if (b != nullptr) DeleteObject(b);
    g_window = nullptr;
    SetLastError(error);
    return result;
}

}  // namespace gsms::win

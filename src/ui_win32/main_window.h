// The Win32 operator window: the main dialog (thirty job slots, the signal gauge, the coloured
// log, a status line and four buttons) and its four secondary dialogs (dialogs.h), drawn from the
// templates of gsms.rc. What the window decides follows the shared rules of
// frontend/window_rules.h and frontend/window_forms.h, as the Qt window does.
//
// The engine posts its notification codes (0: a log line waits, 1..30: a slot's view changed,
// 99: the signal was read again, 100: the engine's stage or the operator's action changed) as
// WM_TIMER messages with lParam 0 to the main dialog; its own start-up timer has an id no
// code uses. Send SMS and Change SMSC hand their modem work to the OperatorThread, so the
// window keeps drawing and showing notifications meanwhile. Once the engine has a second
// modem, the window shows a second gauge and a line per modem with its signal and state, as
// the Qt window does; with one it is the template's.
//
// Thread contract: everything here runs on the UI thread, except the notifier that the main
// dialog registers (it only posts).
#pragma once

#include <windows.h>

namespace gsms::win {

// Runs the main dialog modally until the operator closes it; the engine starts from its
// first start-up tick. Returns the dialog's result, -1 when there was no window (then
// GetLastError says why).
INT_PTR runMainDialog(HINSTANCE instance);

}  // namespace gsms::win

// The secondary dialogs of the Win32 window: About, Send SMS, Settings and Change SMSC, one
// file each (about_dialog.cpp, send_sms_dialog.cpp, settings_dialog.cpp,
// change_smsc_dialog.cpp), drawn from the templates of gsms.rc and checked by the shared rules
// of frontend/window_forms.h and frontend/window_rules.h; and what those files share.
//
// Thread contract: everything here runs on the UI thread. Send SMS and Change SMSC hand their
// modem work to the OperatorThread once the dialog has ended with OK.
#pragma once

#include <windows.h>

#include <string>

namespace gsms::win {

// The secondary dialogs, modal over `owner`.
void runAboutDialog(HWND owner);
// After OK the SMS goes out on the OperatorThread; true when the dialog ended with OK.
bool runSendSmsDialog(HWND owner);
void runSettingsDialog(HWND owner);
bool runChangeSmscDialog(HWND owner);

// For the dialogs' own files: the module that holds the dialog templates.
HINSTANCE instance();

// Refuses what was typed: the warning, the focus back on the control, its text selected.
void refuse(HWND dialog, int id, const std::string& message);

}  // namespace gsms::win

// What the operator window's dialogs take in and give back, whatever toolkit draws them: the
// Send SMS dialog's history of the last ten numbers, the Settings dialog's values (the port
// mode split into its tokens and joined again, each value checked and stored in
// GatewaySettings), the Change SMSC dialog's numbering plan, and the trace a window writes
// for tests. The Qt window and the Win32 window call these; neither has rules of its own.
//
// Texts are UTF-8, as the settings and the INI files give them.
// Thread contract: the UI thread only (the history and the settings record are shared with
// the engine as their own headers say); windowTrace may be called from any thread.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"

namespace gsms {

// --- Send SMS ----------------------------------------------------------------------------------

constexpr int kMaxMessageLength = 2000;  // what the message edit takes, a line break counting 2

// The length of a typed message (UTF-16) as it counts against kMaxMessageLength: a line break
// (LF or CR LF) counts two, as it goes out as CR LF.
[[nodiscard]] int typedLength(std::u16string_view typed);
constexpr int kNumberHistorySize = 10;

// The numbers of section "LastPhoneNums" of tevrak.ini, key "1" (the newest) to "10", each
// cut at 63 characters; missing keys and empty values are left out.
[[nodiscard]] std::vector<std::string> readNumberHistory();

// After Send: unless `number` is one of `shown` (exact, case-sensitive), keys "1".."9" move
// down one and `number` becomes key "1"; the tenth is lost. True when it was stored.
bool rememberNumber(const std::string& number, const std::vector<std::string>& shown);

// --- Numbers typed into a dialog ---------------------------------------------------------------

// A decimal number with optional blanks around it (and, when `allowSign`, a sign); nothing
// when the text is not such a number or needs more than 32 bits.
[[nodiscard]] std::optional<long long> parseInteger(std::string_view text, bool allowSign);

// A typed value and why it is refused: `message` empty when accepted.
struct FormValue {
    long long value = 0;
    std::string message;
};
[[nodiscard]] FormValue takeSigned(std::string_view text);
[[nodiscard]] FormValue takeUnsigned(std::string_view text, long long maximum);
// An unsigned number within [minimum, maximum]; the message names the range.
[[nodiscard]] FormValue takeUnsignedInRange(std::string_view text, long long minimum,
                                            long long maximum);

// --- Settings ----------------------------------------------------------------------------------

// "96,N,8,1" as four runs of letters and digits separated by commas; all four empty when the
// text is not so made.
[[nodiscard]] std::array<std::string, 4> splitPortMode(std::string_view mode);
// The baud rate typed and the other three tokens as split at opening.
[[nodiscard]] std::string joinPortMode(std::string_view baud,
                                       const std::array<std::string, 4>& tokens);

// The Settings dialog's controls, as texts.
struct SettingsForm {
    std::string port;             // 1065
    std::string baud;             // 1066, the first mode token
    std::string parity;           // 1074, shown only
    std::string pin;              // 1067
    std::string number;           // 1068
    std::string retries;          // 1069
    std::string retryDelay;       // 1070, seconds
    bool incoming = false;        // 1072
    bool pduCoding = false;       // 1076: "SmsCoding" 1
    std::string refreshSeconds;   // 1073
    std::string techAlarm;        // 1071
    std::string quietMinutes;     // 1075
    std::array<std::string, 4> modeTokens;  // as split at opening
    // Section "Modem2": an empty port means no second modem. Its mode is edited whole; it
    // opens with the first modem's when the section names none.
    std::string port2;            // 1077
    std::string mode2;            // 1078
    std::string pin2;             // 1079
};

// Control ids of the Settings dialog that a refusal points at.
constexpr int kSettingsRetryDelay = 1070;
constexpr int kSettingsTechAlarm = 1071;
constexpr int kSettingsRefresh = 1073;
constexpr int kSettingsQuiet = 1075;
constexpr int kSettingsPort2 = 1077;
constexpr int kSettingsMode2 = 1078;

// The form as it opens on `s`.
[[nodiscard]] SettingsForm settingsForm(const GatewaySettings& s);

// What each text control takes at most, so that every value fits its field in the record:
// port, baud (leaving room for the rest of the mode), PIN and phone number.
struct SettingsLimits {
    int port = 0, baud = 0, pin = 0, number = 0;
    int port2 = 0, mode2 = 0, pin2 = 0;  // section Modem2
};
[[nodiscard]] SettingsLimits settingsLimits(const SettingsForm& form);

// The first value OK must refuse, in the order the dialog checks them (control id and
// message); control 0 when all are accepted. A second modem's port must differ from the
// first's and its mode be four tokens ("96,N,8,1"); without a second port neither counts.
struct FormRefusal {
    int control = 0;
    std::string message;
};
[[nodiscard]] FormRefusal checkSettingsForm(const SettingsForm& form);

// Stores an accepted form in `s` (texts cut to their fields, a retry count that is no number
// as 0, the refresh in milliseconds, the mode rebuilt from the baud rate and the tokens, the
// second modem's port with its blanks trimmed; without that port its record is emptied).
// -1 and nothing stored when the form would be refused.
int applySettingsForm(const SettingsForm& form, GatewaySettings& s);

// The process-wide modified flag: set by every change of an editable Settings control
// (filling them at opening included), cleared only after a save.
[[nodiscard]] bool settingsModified();
void setSettingsModified(bool modified);

// --- Change SMSC -------------------------------------------------------------------------------

constexpr int kSmscNumberLength = 64;

// --- The program ------------------------------------------------------------------------------

// What --help says the window program does, whichever toolkit draws it.
constexpr const char* kWindowProgramDescription =
    "Velkora GSM/SMS gateway with its operator window: sends the SMS alarm jobs dropped\n"
    "into the watch directory through the GSM modem named by \"Port\" in section Config\n"
    "of TEVRAK.INI, and shows the job slots, the signal and the log.";

// --- Trace -------------------------------------------------------------------------------------

// With GSMS_WINDOW_TRACE=file in the environment, what the window shows is appended to that
// file, one line per call (one write: no torn lines), so that a whole-program test can follow
// the window from outside: "slot N state S text" (N the job slot, 0..29), "log RRGGBB text",
// "signal Q" (the gauge's value), "status text" and, with two modems, "path text" when a
// modem's line changes (window_rules.h, modemViewText). Without the variable nothing is
// written.
// `line` is UTF-8.
void windowTrace(std::string_view line);
// "RRGGBB" of a colour reference, as the trace writes it.
[[nodiscard]] std::string traceColour(std::uint32_t colour);

}  // namespace gsms

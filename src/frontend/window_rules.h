// What an operator window decides, whatever toolkit draws it: when its buttons may act, what
// its status line and gauge show, how the Send SMS counter counts and which characters it
// marks, how a slot caption is wrapped and cut, and which colour the text of a selected log
// line takes. The Qt window calls these; a native Win32 window is to call the same.
//
// Texts a window shows are UTF-8; a typed message comes in as UTF-16, as both toolkits hold
// it, and positions in it are counted in UTF-16 units. What goes to the engine is UTF-8. All
// functions are pure and may run on any thread, but for checkMessage(typed), which reads the
// settings.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/log.h"
#include "gateway/engine.h"
#include "gateway/operator_action.h"

namespace gsms {

// --- Main window -------------------------------------------------------------------------------

// The pictures a job slot can show, by state: grey (free), green, blue (sending), yellow,
// red, orange, magenta. A state outside them shows none.
constexpr int kSlotStates = 7;

enum class WindowButton { About, Settings, SendSms, ChangeSmsc, Exit };

// Whether a button may act. Send SMS and Change SMSC only while the engine runs (before, the
// modem is being brought into service and its SMSC is not read yet; after a fatal stop nobody
// answers); no button while an operator action holds the window, so that nothing clicked
// meanwhile runs afterwards. Closing the window counts as Exit.
[[nodiscard]] bool buttonMayAct(WindowButton button, EngineStage stage, OperatorAction running);

// The status line: what the operator's action is doing ("Sending…"), else why Send SMS and
// Change SMSC are not available, else the low-signal warning for a reading below 12, else
// nothing. `quality` is the last reading shown, or -1 before the first one.
[[nodiscard]] std::string statusLineText(EngineStage stage, OperatorAction running, int quality);

// The value the gauge shows: no signal (0) after a fatal stop, kGaugeOpeningValue before the
// first reading (quality -1), else the reading.
constexpr int kGaugeOpeningValue = 29;
[[nodiscard]] int gaugeValue(EngineStage stage, int quality);

// --- Two modems: each with a gauge of its own and a line naming its signal and state ------

// One modem as the window shows it beside the other.
struct ModemView {
    std::string name;   // "modem 1"
    int quality = -1;   // the last reading, -1 before the first
    std::string state;  // as sms/path_state.h names it: "in service", "path down", ...
};

// Each link as it stands now, in order; empty with one modem, where the window stays as it
// always was. Reads the links' atomics: any thread.
[[nodiscard]] std::vector<ModemView> modemViews();

// The line under the log for one modem: "modem 1: signal 20 of 31, in service", "modem 2: no
// reading yet, not in service yet".
[[nodiscard]] std::string modemViewText(const ModemView& modem);

// The status line with two modems: as statusLineText while an action runs or the engine is
// not running; else each modem that is not in service with its state ("modem 2: path down"),
// else the low-signal warning of the first modem reading below 12, named ("modem 2: WARNING
// : ..."), else nothing. With no views, statusLineText itself.
[[nodiscard]] std::string statusLineText(EngineStage stage, OperatorAction running, int quality,
                                         const std::vector<ModemView>& modems);

// The text colour of a selected log line that has a colour of its own (not 0): the inverse
// colour, as operators know it, unless it is too close to the line's colour to be read (a
// contrast below 3:1, as grey on grey); then black or white, whichever stands out more.
[[nodiscard]] ColorRef selectedLineTextColour(ColorRef line);

// A job slot's caption in at most `lines` lines of at most `width`, as `measure` gives the
// width of a UTF-8 text: lines break at blanks where a word fits and within a word where
// none does; a caption that still does not fit ends in "…" on its last line. `caption` is
// UTF-8, as the job table holds it; the result is UTF-8 with '\n' between its lines.
[[nodiscard]] std::string wrapCaption(std::string_view caption, int width, int lines,
                                      const std::function<int(std::string_view)>& measure);

// --- Send SMS ----------------------------------------------------------------------------------

// A span of the typed text in UTF-16 units.
struct TextSpan {
    std::size_t start = 0;
    std::size_t length = 0;
    bool operator==(const TextSpan&) const = default;
};

// The counter's LCD face and its height in pixels. Where the system lacks the face, the window
// takes the fallback (Debian's fonts-dseg: the closest thing to an LCD face there; its
// fourteen-segment face, as the seven-segment one has no "/"), else the system's fixed-pitch
// font.
constexpr const char* kCounterFace = "LcdD";
constexpr const char* kCounterFallbackFace = "DSEG14 Classic";
constexpr int kCounterFontSize = 18;

// What the counter knows about a typed message. The counting follows "SmsCoding":
// 0 (text mode) counts the ISO 8859-1 characters that go out against 160, or 140 as soon as
// one is 0x80 or above, and marks what would not arrive as typed; 1 (PDU mode) counts the
// SMS the text takes and what is left in the last one, and marks nothing, as every character
// arrives as typed.
struct MessageCheck {
    std::string bytes;               // as handed to sendSms: UTF-8, line breaks CR LF
    int coding = 0;                  // the SmsCoding it was counted for
    int length = 0;                  // characters: 0, ISO 8859-1 ones sent; 1, as typed
    int limit = 160;                 // 0: 160, or 140 as soon as a character is 0x80 or above
    int parts = 1;                   // 1: SMS the text takes, at least 1
    int left = 160;                  // 1: characters still free in the last SMS
    int maxLength = 0;               // 1: MaxMsgLength, past which the text is cut
    std::vector<TextSpan> marks;     // 0: each character that does not arrive as typed
    std::vector<char32_t> asPlain;   // 0: those outside ISO 8859-1 sent as a plain form,
    std::vector<std::string> plain;  //    once each, in order, and those forms
    std::vector<char32_t> asQuestionMarks;  // 0: those outside ISO 8859-1 without one
    std::vector<char32_t> asBlanks;  // 0: those ISO 8859-1 has and the GSM alphabet not
};

// Counts and checks a typed message (UTF-16; line breaks LF or CR LF) for a coding. In text
// mode a character outside ISO 8859-1 goes out as its plain form (sms/sms_coding.h) or as
// "?", one of ISO 8859-1 that the GSM default alphabet lacks as a blank; all are marked. A
// no-break space, which goes out as the blank it looks like, is not.
[[nodiscard]] MessageCheck checkMessage(std::u16string_view typed, int coding, int maxLength);
// The same for the coding and the maximum length in force ("SmsCoding", "MaxMsgLength").
[[nodiscard]] MessageCheck checkMessage(std::u16string_view typed);

// Text mode: "%d / %d" of length and limit, red when the length is over. PDU mode: "%d / %d"
// of the characters left in the last SMS and the SMS the text takes (as phones count), red
// when the text is longer than MaxMsgLength.
[[nodiscard]] std::string counterText(const MessageCheck& check);
[[nodiscard]] bool counterIsRed(const MessageCheck& check);

// What the dialog says under "Message :" (empty when all is well): a phone number that is not
// one, and the characters that would not arrive as typed, each named once.
[[nodiscard]] std::string messageNote(const MessageCheck& check, std::string_view number);

// Send may act for a message that is not empty, to a phone number (sendSms's judge).
[[nodiscard]] bool sendMayAct(const MessageCheck& check, std::string_view number);

// --- Change SMSC -------------------------------------------------------------------------------

// Why an SMSC number is refused (empty, or not a phone number), empty when it is accepted.
[[nodiscard]] std::string smscNumberProblem(std::string_view number);

}  // namespace gsms

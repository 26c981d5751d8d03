// The operator window's rules, apart from any toolkit: what a Qt window and a Win32 window
// must agree on.
#include "frontend/window_rules.h"

#include <gtest/gtest.h>

#include "frontend/front_end.h"
#include "sms/sms_coding.h"

namespace gsms {
namespace {

using Stage = EngineStage;
using Action = OperatorAction;

TEST(WindowRules, ButtonsActOnlyWhenTheModemCanAnswer) {
    struct Case {
        const char* label;
        Stage stage;
        Action running;
        bool modemButtons;  // Send SMS and Change SMSC
        bool otherButtons;  // About, Settings, Exit
    } cases[] = {
        {"before the engine starts", Stage::NotStarted, Action::None, false, true},
        {"while the modem is brought into service", Stage::Starting, Action::None, false, true},
        {"once every worker runs", Stage::Running, Action::None, true, true},
        {"after a fatal stop", Stage::Stopped, Action::None, false, true},
        {"during an orderly stop", Stage::Stopping, Action::None, false, true},
        {"while a hand-sent SMS goes out", Stage::Running, Action::SendSms, false, false},
        {"while the SMSC changes", Stage::Running, Action::ChangeSmsc, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(buttonMayAct(WindowButton::SendSms, c.stage, c.running), c.modemButtons);
        EXPECT_EQ(buttonMayAct(WindowButton::ChangeSmsc, c.stage, c.running), c.modemButtons);
        for (auto b : {WindowButton::About, WindowButton::Settings, WindowButton::Exit})
            EXPECT_EQ(buttonMayAct(b, c.stage, c.running), c.otherButtons);
    }
}

TEST(WindowRules, StatusLineAndGauge) {
    const std::string starting =
        "Starting: Send SMS and Change SMSC are available once the modem is in service";
    const std::string stopped =
        "Stopped after an error (see the log): Send SMS and Change SMSC are not available";
    struct Case {
        const char* label;
        Stage stage;
        Action running;
        int quality;
        std::string status;
        int gauge;
    } cases[] = {
        {"opening", Stage::NotStarted, Action::None, -1, starting, 29},
        {"starting", Stage::Starting, Action::None, -1, starting, 29},
        {"initialising the modem", Stage::Initialising, Action::None, -1, starting, 29},
        {"orderly stop", Stage::Stopping, Action::None, 20,
         "Stopping: Send SMS and Change SMSC are not available", 20},
        {"running, no reading yet", Stage::Running, Action::None, -1, "", 29},
        {"low signal", Stage::Running, Action::None, 11, kLowSignalText, 11},
        {"no signal", Stage::Running, Action::None, 0, kLowSignalText, 0},
        {"good signal", Stage::Running, Action::None, 12, "", 12},
        {"sending by hand", Stage::Running, Action::SendSms, 3, "Sending\u2026", 3},
        {"changing the SMSC", Stage::Running, Action::ChangeSmsc, 20,
         "Changing the SMSC\u2026", 20},
        {"fatal stop at start", Stage::Stopped, Action::None, -1, stopped, 0},
        {"fatal stop with a reading", Stage::Stopped, Action::None, 25, stopped, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(statusLineText(c.stage, c.running, c.quality), c.status);
        EXPECT_EQ(gaugeValue(c.stage, c.quality), c.gauge);
    }
}

TEST(WindowRules, TwoModemsEachNamedWithSignalAndState) {
    EXPECT_TRUE(modemViews().empty());  // one modem: the window as it always was
    const ModemView up{"modem 1", 20, "in service"};
    const ModemView weak{"modem 2", 5, "in service"};
    const ModemView down{"modem 2", -1, "path down"};
    const ModemView hungUp{"modem 1", 18, "port hung up"};
    struct Case {
        const char* label;
        Stage stage;
        Action running;
        std::vector<ModemView> modems;
        std::string status;
    } cases[] = {
        {"both in service", Stage::Running, Action::None, {up, {"modem 2", 25, "in service"}}, ""},
        {"a path down", Stage::Running, Action::None, {up, down}, "modem 2: path down"},
        {"both lost", Stage::Running, Action::None, {hungUp, down},
         "modem 1: port hung up; modem 2: path down"},
        {"low signal on one", Stage::Running, Action::None, {up, weak},
         std::string("modem 2: ") + kLowSignalText},
        {"an action comes first", Stage::Running, Action::SendSms, {up, down},
         "Sending…"},
        {"not running yet", Stage::Starting, Action::None, {up, down},
         "Starting: Send SMS and Change SMSC are available once the modem is in service"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(statusLineText(c.stage, c.running, 20, c.modems), c.status);
    }
    EXPECT_EQ(modemViewText(up), "modem 1: signal 20 of 31, in service");
    EXPECT_EQ(modemViewText(down), "modem 2: no reading yet, path down");
}

TEST(WindowRules, SelectedLineTextIsReadableOnItsColour) {
    struct Case {
        const char* label;
        ColorRef line, text;
    } cases[] = {
        {"red: cyan, as always", 0x0000FF, 0xFFFF00},
        {"blue: yellow, as always", 0xFF0000, 0x00FFFF},
        {"grey: its inverse is grey too, so black", 0x808080, 0x000000},
        {"green: magenta is too faint, so black", 0x00FF00, 0x000000},
        {"dark grey: light grey", 0x404040, 0xBFBFBF},
        {"near-mid grey, darker side: white", 0x707070, 0xFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(selectedLineTextColour(c.line), c.text);
    }
}

// One unit per character, as a monospace face would measure.
int characters(std::string_view utf8) {
    int n = 0;
    for (unsigned char b : utf8) n += (b & 0xC0) != 0x80;
    return n;
}

TEST(WindowRules, CaptionsWrapOnTwoLinesAndEndInAnEllipsis) {
    struct Case {
        const char* label;
        std::string caption;
        int width;
        std::string shown;
    } cases[] = {
        {"fits one line", "sending 'x' to A", 20, "sending 'x' to A"},
        {"breaks at a blank", "sending 'Druckabfall Halle' to Anna", 20,
         "sending 'Druckabfall\nHalle' to Anna"},
        {"cut on the second line", "sending 'Boiler pressure low, hall 3' to Ben", 20,
         "sending 'Boiler\npressure low, hall\u2026"},
        {"a word longer than a line", "+4917012345678901234", 8, "+4917012\n3456789\u2026"},
        {"blanks at the break are dropped", "abc    defgh", 6, "abc\ndefgh"},
        {"UTF-8 a character each", "sending '\xC3\x84nderung' to \xC3\x89mile", 20,
         "sending '\xC3\x84nderung'\nto \xC3\x89mile"},
        {"empty", "", 20, ""},
        {"no room at all: a character per line", "abc", 0, "a\nb\u2026"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(wrapCaption(c.caption, c.width, 2, characters), c.shown);
    }
}

// Text mode: what the counter counts is what sendSms sends (its fold of the same UTF-8).
TEST(WindowRules, MessageCheckCountsAndMarks) {
    struct Case {
        const char* label;
        std::u16string typed;
        std::string sent;  // ISO 8859-1, as text mode sends it
        int limit;
        std::vector<TextSpan> marks;
        std::u32string asPlain, asQuestionMarks, asBlanks;
    } cases[] = {
        {"plain", u"Hallo", "Hallo", 160, {}, U"", U"", U""},
        {"LF becomes CR LF", u"a\nb", "a\r\nb", 160, {}, U"", U"", U""},
        {"CR LF stays", u"a\r\nb", "a\r\nb", 160, {}, U"", U"", U""},
        {"a byte of 0x80 or above: 140", u"\u00E9t\u00E9", "\xE9t\xE9", 140, {}, U"", U"", U""},
        {"GSM's own signs", u"@$_\u00A3\u00E4", "@$_\xA3\xE4", 140, {}, U"", U"", U""},
        {"euro and typographic quotes", u"\u201E5 \u20AC\u201C \u20AC", "\"5 ?\" ?", 160,
         {{0, 1}, {3, 1}, {4, 1}, {6, 1}}, U"\u201E\u201C", U"\u20AC", U""},
        {"Latin Extended-A by base letter, a dash", u"Po\u017E\u00E1r \u2013 \u0141\u00F3d\u017A",
         "Poz\xE1r - L\xF3" "dz", 140, {{2, 1}, {3, 1}, {6, 1}, {8, 1}, {9, 1}, {11, 1}},
         U"\u017E\u2013\u0141\u017A", U"", U"\u00E1\u00F3"},
        {"a character beyond 16 bits is one", u"ok \U0001F600", "ok ?", 160, {{3, 2}}, U"",
         U"\U0001F600", U""},
        {"brackets and tilde go as blanks", u"[a]~", "[a]~", 160, {{0, 1}, {2, 1}, {3, 1}},
         U"", U"", U"[]~"},
        {"a tab", u"a\tb", "a\tb", 160, {{1, 1}}, U"", U"", U"\t"},
        {"a no-break space is a blank", u"a\u00A0b", "a\xA0" "b", 140, {}, U"", U"", U""},
        {"a lone surrogate", u"a\xD800", "a?", 160, {{1, 1}}, U"", U"\xD800", U""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const MessageCheck check = checkMessage(c.typed, 0, 800);
        EXPECT_EQ(foldToLatin1(check.bytes), c.sent);
        EXPECT_EQ(check.length, static_cast<int>(c.sent.size()));
        EXPECT_EQ(check.limit, c.limit);
        EXPECT_EQ(check.marks, c.marks);
        EXPECT_EQ(std::u32string(check.asPlain.begin(), check.asPlain.end()), c.asPlain);
        EXPECT_EQ(std::u32string(check.asQuestionMarks.begin(), check.asQuestionMarks.end()),
                  c.asQuestionMarks);
        EXPECT_EQ(std::u32string(check.asBlanks.begin(), check.asBlanks.end()), c.asBlanks);
    }
}

TEST(WindowRules, CounterNoteAndSend) {
    struct Case {
        const char* label;
        int coding;
        std::u16string typed;
        std::string number;
        std::string counter;
        bool red;
        std::string note;
        bool send;
    } cases[] = {
        {"empty message", 0, u"", "0170 1", "0 / 160", false, "", false},
        {"no number", 0, u"hi", "", "2 / 160", false, "", false},
        {"not a phone number", 0, u"hi", "0170 x", "2 / 160", false, "Not a phone number.", false},
        {"at the limit", 0, std::u16string(160, u'x'), "+49170", "160 / 160", false, "", true},
        {"over the limit", 0, std::u16string(161, u'x'), "+49170", "161 / 160", true, "", true},
        {"marked characters", 0, u"\u20AC [x] \u2013", "0170 1", "7 / 160", false,
         "Not in the GSM alphabet:\n\u2013 go out as -\n\u20AC go out as \"?\"\n"
         "[ ] go out as blanks",
         true},
        {"an invisible one by its code", 0, u"a\tb", "0170 1", "3 / 160", false,
         "Not in the GSM alphabet:\nU+0009 go out as blanks", true},
        {"ten named at most", 0,
         u"\u0101\u0103\u0105\u0107\u0109\u010B\u010D\u010F\u0111\u0113\u0115", "0170 1",
         "11 / 160", false,
         "Not in the GSM alphabet:\n\u0101 \u0103 \u0105 \u0107 \u0109 \u010B \u010D \u010F "
         "\u0111 \u0113 \u2026 go out as a a a c c c c d d e \u2026",
         true},
        // PDU mode: characters left in the last SMS / SMS; nothing marked.
        {"PDU: empty", 1, u"", "0170 1", "160 / 1", false, "", false},
        {"PDU: the euro fits 7 bits in two septets", 1, u"Gr\u00F6\u00DFe \u20AC5", "0170 1",
         "151 / 1", false, "", true},
        {"PDU: one character outside the GSM alphabet: UCS-2", 1, u"Po\u017E\u00E1r \u03A9",
         "0170 1", "63 / 1", false, "", true},
        {"PDU: 161 characters, two parts of 153", 1, std::u16string(161, u'x'), "0170 1",
         "145 / 2", false, "", true},
        {"PDU: past MaxMsgLength, red", 1, std::u16string(801, u'x'), "0170 1", "118 / 6", true,
         "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const MessageCheck check = checkMessage(c.typed, c.coding, 800);
        EXPECT_EQ(counterText(check), c.counter);
        EXPECT_EQ(counterIsRed(check), c.red);
        EXPECT_EQ(messageNote(check, c.number), c.note);
        EXPECT_EQ(sendMayAct(check, c.number), c.send);
    }
}

TEST(WindowRules, SmscNumberProblem) {
    const std::string empty = "Please enter the number of the SMS service centre.";
    const std::string notOne = "This is not a phone number: an optional \"+\" and 1 to 20 digits.";
    EXPECT_EQ(smscNumberProblem(""), empty);
    EXPECT_EQ(smscNumberProblem(" \t"), empty);
    EXPECT_EQ(smscNumberProblem("+49 171 076 0000"), "");
    EXPECT_EQ(smscNumberProblem("+49171\",145\r"), notOne);
    EXPECT_EQ(smscNumberProblem(std::string(21, '1')), notOne);
}

}  // namespace
}  // namespace gsms

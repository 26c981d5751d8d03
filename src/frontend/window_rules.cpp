#include "frontend/window_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frontend/front_end.h"
#include "core/settings.h"
#include "modem/modem_link.h"
#include "sms/path_state.h"
#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"
#include "sms/sms_coding.h"
#include "sms/sms_submit.h"

namespace gsms {

namespace {

constexpr int kLowSignal = 12;
constexpr double kReadableContrast = 3.0;
constexpr std::size_t kNamedAtMost = 10;  // characters named per kind in the note
const char* const kEllipsis = "\u2026";

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string utf8(const std::u32string& text) {
    std::string out;
    for (char32_t c : text) appendUtf8(out, c);
    return out;
}

// The ISO 8859-1 characters the GSM default alphabet holds (and CR, LF).
bool gsmCarries(unsigned char c) { return c == ' ' || latin1ToGsm[c] != 0x20; }

// Characters that show as nothing or as an ordinary blank: named by their code instead.
bool invisible(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || (c >= 0x300 && c <= 0x36F) ||
           (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) ||
           (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF ||
           (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFFF0 && c <= 0xFFFF);
}

std::string named(const std::vector<char32_t>& chars) {
    std::string out;
    for (std::size_t i = 0; i < chars.size() && i < kNamedAtMost; ++i) {
        if (i > 0) out += ' ';
        if (invisible(chars[i])) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(chars[i]));
            out += code;
        } else {
            appendUtf8(out, chars[i]);
        }
    }
    if (chars.size() > kNamedAtMost) out += std::string(" ") + kEllipsis;
    return out;
}

void addOnce(std::vector<char32_t>& list, char32_t c) {
    if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
}

// Relative luminance of an sRGB colour reference (0x00BBGGRR), 0 to 1.
double luminance(ColorRef c) {
    auto channel = [](unsigned v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c & 0xFF) + 0.7152 * channel((c >> 8) & 0xFF) +
           0.0722 * channel((c >> 16) & 0xFF);
}

double contrast(ColorRef a, ColorRef b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

bool buttonMayAct(WindowButton button, EngineStage stage, OperatorAction running) {
    if (running != OperatorAction::None) return false;
    switch (button) {
        case WindowButton::SendSms:
        case WindowButton::ChangeSmsc:
            return stage == EngineStage::Running;
        case WindowButton::About:
        case WindowButton::Settings:
        case WindowButton::Exit:
            return true;
    }
    return false;
}

std::string statusLineText(EngineStage stage, OperatorAction running, int quality) {
    switch (running) {
        case OperatorAction::SendSms:
            return std::string("Sending") + kEllipsis;
        case OperatorAction::ChangeSmsc:
            return std::string("Changing the SMSC") + kEllipsis;
        case OperatorAction::None:
            break;
    }
    switch (stage) {
        case EngineStage::NotStarted:
        case EngineStage::Starting:
        case EngineStage::Initialising:
            return "Starting: Send SMS and Change SMSC are available once the modem is in service";
        case EngineStage::Stopping:
            return "Stopping: Send SMS and Change SMSC are not available";
        case EngineStage::Stopped:
            return "Stopped after an error (see the log): Send SMS and Change SMSC are not "
                   "available";
        case EngineStage::Running:
            break;
    }
    return quality >= 0 && quality < kLowSignal ? kLowSignalText : "";
}

int gaugeValue(EngineStage stage, int quality) {
    if (stage == EngineStage::Stopped) return 0;
    return quality < 0 ? kGaugeOpeningValue : quality;
}

std::vector<ModemView> modemViews() {
    std::vector<ModemView> views;
    if (modemCount() < 2) return views;
    for (int n = 1; n <= modemCount(); ++n) {
        const ModemLink& link = modemLink(n);
        views.push_back({link.name().empty() ? "modem " + std::to_string(n) : link.name(),
                         link.signalWasRead() ? link.signal() : -1, pathStateText(link)});
    }
    return views;
}

std::string modemViewText(const ModemView& modem) {
    const std::string signal = modem.quality < 0
                                   ? std::string("no reading yet")
                                   : "signal " + std::to_string(modem.quality) + " of 31";
    return modem.name + ": " + signal + ", " + modem.state;
}

std::string statusLineText(EngineStage stage, OperatorAction running, int quality,
                           const std::vector<ModemView>& modems) {
    if (modems.empty() || running != OperatorAction::None || stage != EngineStage::Running)
        return statusLineText(stage, running, quality);
    std::string out;
    for (const ModemView& m : modems) {
        // "no usable signal" is a reading, left to the warning below.
        if (m.state == "in service" || m.state == "no usable signal") continue;
        if (!out.empty()) out += "; ";
        out += m.name + ": " + m.state;
    }
    if (!out.empty()) return out;
    for (const ModemView& m : modems)
        if (m.quality >= 0 && m.quality < kLowSignal) return m.name + ": " + kLowSignalText;
    return "";
}

ColorRef selectedLineTextColour(ColorRef line) {
    line &= 0xFFFFFFu;
    const ColorRef inverse = 0xFFFFFFu & ~line;
    if (contrast(line, inverse) >= kReadableContrast) return inverse;
    return contrast(line, 0x000000) >= contrast(line, 0xFFFFFF) ? 0x000000 : 0xFFFFFF;
}

std::string wrapCaption(std::string_view caption, int width, int lines,
                        const std::function<int(std::string_view)>& measure) {
    std::u32string rest = text::codePoints(caption);
    auto fits = [&](const std::u32string& text, bool withEllipsis) {
        return measure(utf8(text) + (withEllipsis ? kEllipsis : "")) <= width;
    };
    auto trimmed = [](std::u32string text) {
        while (!text.empty() && text.back() == U' ') text.pop_back();
        std::size_t lead = 0;
        while (lead < text.size() && text[lead] == U' ') ++lead;
        return text.substr(lead);
    };

    std::string out;
    for (int line = 0; line < lines; ++line) {
        rest = trimmed(rest);
        if (rest.empty()) break;
        if (line > 0) out += '\n';
        if (fits(rest, false)) {
            out += utf8(rest);
            return out;
        }
        const bool last = line == lines - 1;
        // The longest head that fits: whole words where one fits, else as many characters as
        // fit (at least one, so that every line moves on).
        std::size_t cut = 0;
        if (!last) {
            for (std::size_t i = 1; i < rest.size(); ++i)
                if (rest[i] == U' ' && rest[i - 1] != U' ' && fits(rest.substr(0, i), false))
                    cut = i;
        }
        if (cut == 0) {
            std::size_t n = 1;
            while (n < rest.size() && fits(trimmed(rest.substr(0, n + 1)), last)) ++n;
            cut = n;
        }
        out += utf8(trimmed(rest.substr(0, cut)));
        rest.erase(0, cut);
        if (last) out += kEllipsis;
    }
    return out;
}

MessageCheck checkMessage(std::u16string_view typed, int coding, int maxLength) {
    MessageCheck check;
    check.coding = coding == kSmsCodingPdu ? kSmsCodingPdu : kSmsCodingText;
    check.maxLength = std::max(maxLength, 0);
    std::string latin1;  // text mode: what goes out
    std::u32string chars;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        char32_t c = typed[i];
        std::size_t units = 1;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < typed.size() && typed[i + 1] >= 0xDC00 &&
            typed[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (typed[i + 1] - 0xDC00);
            units = 2;
        }
        const std::size_t at = i;
        i += units - 1;
        if (c == U'\n' && (at == 0 || typed[at - 1] != u'\r')) {
            // The line break the modem and the phones expect.
            check.bytes += "\r\n";
            latin1 += "\r\n";
            chars += U"\r\n";
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {  // a lone surrogate cannot be sent
            check.bytes += '?';
            latin1 += '?';
            chars.push_back(U'?');
            check.marks.push_back({at, units});
            addOnce(check.asQuestionMarks, c);
            continue;
        }
        appendUtf8(check.bytes, c);
        chars.push_back(c);
        if (c > 0xFF) {
            const std::string plain = plainForm(c);
            latin1 += plain;
            check.marks.push_back({at, units});
            if (plain == "?") {
                addOnce(check.asQuestionMarks, c);
            } else if (std::find(check.asPlain.begin(), check.asPlain.end(), c) ==
                       check.asPlain.end()) {
                check.asPlain.push_back(c);
                check.plain.push_back(plain);
            }
        } else {
            const auto byte = static_cast<unsigned char>(c);
            latin1 += static_cast<char>(byte);
            if (!gsmCarries(byte) && byte != 0xA0) {
                check.marks.push_back({at, units});
                addOnce(check.asBlanks, c);
            }
        }
    }
    if (check.coding == kSmsCodingPdu) {
        // Every character arrives as typed: nothing to mark or name.
        check.marks.clear();
        check.asPlain.clear();
        check.plain.clear();
        check.asQuestionMarks.clear();
        check.asBlanks.clear();
        check.length = static_cast<int>(chars.size());
        if (chars.size() > static_cast<std::size_t>(check.maxLength))
            chars.resize(static_cast<std::size_t>(check.maxLength));
        const SmsSplit split = splitSms(chars);
        check.parts = std::max<int>(1, static_cast<int>(split.parts.size()));
        check.left = split.left;
        return check;
    }
    check.length = static_cast<int>(latin1.size());
    const bool plain = std::all_of(latin1.begin(), latin1.end(),
                                   [](char b) { return static_cast<unsigned char>(b) < 0x80; });
    check.limit = plain ? 160 : 140;
    return check;
}

MessageCheck checkMessage(std::u16string_view typed) {
    return checkMessage(typed, settings().smsCoding.load(), settings().maxMsgLength.load());
}

std::string counterText(const MessageCheck& check) {
    if (check.coding == kSmsCodingPdu)
        return std::to_string(check.left) + " / " + std::to_string(check.parts);
    return std::to_string(check.length) + " / " + std::to_string(check.limit);
}

bool counterIsRed(const MessageCheck& check) {
    if (check.coding == kSmsCodingPdu) return check.length > check.maxLength;
    return check.length > check.limit;
}

std::string messageNote(const MessageCheck& check, std::string_view number) {
    std::string note;
    auto line = [&note](const std::string& text) {
        if (!note.empty()) note += '\n';
        note += text;
    };
    if (!number.empty() && dialableNumber(number).empty()) line("Not a phone number.");
    if (!check.asPlain.empty() || !check.asQuestionMarks.empty() || !check.asBlanks.empty())
        line("Not in the GSM alphabet:");
    if (!check.asPlain.empty()) {
        std::string forms;
        for (std::size_t i = 0; i < check.plain.size() && i < kNamedAtMost; ++i)
            forms += (i > 0 ? " " : "") + check.plain[i];
        if (check.plain.size() > kNamedAtMost) forms += std::string(" ") + kEllipsis;
        line(named(check.asPlain) + " go out as " + forms);
    }
    if (!check.asQuestionMarks.empty())
        line(named(check.asQuestionMarks) + " go out as \"?\"");
    if (!check.asBlanks.empty()) line(named(check.asBlanks) + " go out as blanks");
    return note;
}

bool sendMayAct(const MessageCheck& check, std::string_view number) {
    return check.length > 0 && !dialableNumber(number).empty();
}

std::string smscNumberProblem(std::string_view number) {
    if (number.find_first_not_of(" \t") == std::string_view::npos)
        return "Please enter the number of the SMS service centre.";
    if (dialableNumber(number).empty())
        return "This is not a phone number: an optional \"+\" and 1 to 20 digits.";
    return {};
}

}  // namespace gsms

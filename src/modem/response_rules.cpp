#include "modem/response_rules.h"

#include <strings.h>

#include <cstring>

#include "core/log.h"
#include "modem/line_assembler.h"
#include "platform/ini_file.h"

namespace gsms {
namespace {

// The capture mode a line meets: switched by the thread that talks to the modem, under
// modemLock.
enum class Mode : unsigned char {
    Listing,   // listCapture: the IncomingThread lists received messages
    Response,  // responseCapture: the signal poll, and the re-synchronisation after a failure
    Plain,     // neither
};

// CapturedOk and CapturedFail also append the line: the IncomingThread tells from the capture
// whether a final result was the modem's last line or a line of a message's text.
enum class Action : unsigned char {
    Ignore, Ok, Fail, Capture, CapturedOk, CapturedFail, Cpin, Cfun, Cmgf, Cmgl, Csca
};

struct Rule {
    Mode mode;
    const char* prefix;  // "" matches every line
    bool anyCase;
    Action action;
};

// Read top to bottom: the first rule of the current mode whose prefix begins the line applies.
// "+CMS ERROR" (GSM 07.05) and "+CME ERROR" (07.07) are final results like ERROR: a refused
// submission fails as soon as the modem says so.
constexpr Rule kRules[] = {
    {Mode::Listing, "OK", false, Action::CapturedOk},
    {Mode::Listing, "ERROR", false, Action::CapturedFail},
    {Mode::Listing, "+CMS ERROR", false, Action::CapturedFail},
    {Mode::Listing, "+CME ERROR", false, Action::CapturedFail},
    {Mode::Listing, "", false, Action::Capture},  // the listing itself, echo included

    {Mode::Response, "OK", false, Action::Ok},
    {Mode::Response, "", false, Action::Capture},  // failures too: the waiter reads them

    {Mode::Plain, "at", true, Action::Ignore},  // the modem's echo of a command
    {Mode::Plain, "OK", false, Action::Ok},
    {Mode::Plain, "ERROR", false, Action::Fail},
    {Mode::Plain, "+CMS ERROR", false, Action::Fail},
    {Mode::Plain, "+CME ERROR", false, Action::Fail},
    {Mode::Plain, "+CPIN", false, Action::Cpin},
    {Mode::Plain, "+CFUN", false, Action::Cfun},
    {Mode::Plain, "+CMGF", false, Action::Cmgf},
    {Mode::Plain, "+CMGL", false, Action::Cmgl},
    {Mode::Plain, "+CSCA", false, Action::Csca},
    // +CSQ answers, unsolicited result codes (RING, +CMTI, +CREG), the echoed SMS text and the
    // line that ends it: only in the daily log.
    {Mode::Plain, "", false, Action::Ignore},
};

bool begins(std::string_view line, const Rule& r) {
    const std::size_t n = std::strlen(r.prefix);
    if (line.size() < n) return false;
    return r.anyCase ? strncasecmp(line.data(), r.prefix, n) == 0
                     : line.compare(0, n, r.prefix) == 0;
}

// The value part: the line from its eighth character on (after "+XXXX: ").
std::string_view valuePart(std::string_view line) {
    return line.size() > 7 ? line.substr(7) : std::string_view();
}

template <std::size_t N>
void storeText(char (&out)[N], std::string_view value) {
    std::size_t n = value.size() < N - 1 ? value.size() : N - 1;
    if (n > 0) std::memcpy(out, value.data(), n);  // an empty value may have no data at all
    out[n] = '\0';
}

void appendCapture(ModemState& s, std::string_view line) {
    std::lock_guard lock(s.captureMutex);
    // A full capture stops appending: its tail is lost, the buffer stays within bounds.
    std::size_t room = ModemState::kCaptureSize - 1 - s.captureBuffer.size();
    if (room == 0) return;
    std::string piece = std::string(line) + "\r";
    s.captureBuffer.append(piece, 0, piece.size() < room ? piece.size() : room);
}

void apply(ModemState& s, Action action, std::string_view line) {
    switch (action) {
        case Action::Ignore: return;
        case Action::Ok: {
            std::lock_guard lock(s.okMutex);
            ++s.okCount;
            s.event(ModemEvent::Ok).set();
            return;
        }
        case Action::Fail: {
            std::lock_guard lock(s.textMutex);
            storeText(s.errorText, line);
        }
            s.event(ModemEvent::Error).set();
            return;
        case Action::Capture: appendCapture(s, line); return;
        case Action::CapturedOk:
            appendCapture(s, line);
            apply(s, Action::Ok, line);
            return;
        case Action::CapturedFail:
            appendCapture(s, line);
            apply(s, Action::Fail, line);
            return;
        case Action::Cpin: {
            const std::string_view v = valuePart(line);
            s.pinReady = v.size() >= 5 && strncasecmp(v.data(), "READY", 5) == 0;
            {
                std::lock_guard lock(s.textMutex);
                storeText(s.cpinText, v);
            }
            s.event(ModemEvent::Cpin).set();
            return;
        }
        case Action::Cfun:
            s.cfunValue = ini::parseInt(valuePart(line));
            s.event(ModemEvent::Cfun).set();
            return;
        case Action::Cmgf:
            s.cmgfValue = ini::parseInt(valuePart(line));
            s.okCountAtCmgf = s.okCount.load();
            s.event(ModemEvent::Cmgf).set();
            return;
        case Action::Cmgl: {
            std::lock_guard lock(s.textMutex);
            storeText(s.cmglText, valuePart(line));
        }
            s.event(ModemEvent::Cmgl).set();
            return;
        case Action::Csca: {
            std::lock_guard lock(s.textMutex);
            storeText(s.cscaText, valuePart(line));
        }
            s.event(ModemEvent::Csca).set();
            return;
    }
}

// The lines of a text's answer that the modem writes itself: the headers, the final result,
// and the echo of the command, which comes first (a header always precedes a text).
bool modemsOwn(ModemState& s, std::string_view line) {
    for (std::string_view own : {"+CMGL:", "+CMGR:", "+CMGS:", "+CMS ERROR:", "+CME ERROR:"})
        if (line.starts_with(own)) return true;
    if (line == "OK" || line == "ERROR") return true;
    if (!s.listCapture.load() || line.size() < 2 || strncasecmp(line.data(), "at", 2) != 0)
        return false;
    std::lock_guard lock(s.captureMutex);
    return s.captureBuffer.empty();
}

std::string markedText(std::string_view shown) {
    return "SMS text: \"" + std::string(shown) + "\"";
}

void logModemLine(ModemState& s, std::string_view line) {
    const std::string shown = loggedLine(line);
    fileLog(s.logName + (s.smsText.load() && !modemsOwn(s, line) ? markedText(shown) : shown));
}

}  // namespace

void logContinuation(const ModemState& s, std::string_view shown) {
    fileLog(s.logName + (s.smsText.load() ? markedText(shown) : std::string(shown)));
}

void classifyLine(ModemState& s, std::string_view line) {
    logModemLine(s, line);  // every modem line, echoes included
    const Mode mode = s.listCapture.load()       ? Mode::Listing
                      : s.responseCapture.load() ? Mode::Response
                                                 : Mode::Plain;
    for (const Rule& rule : kRules) {
        if (rule.mode != mode || !begins(line, rule)) continue;
        apply(s, rule.action, line);
        return;
    }
}

}  // namespace gsms

#include "sms/sms_submit.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"
#include "sms/message_format.h"
#include "sms/sms_coding.h"

namespace gsms {
namespace {

constexpr std::size_t kTextChars = 2047;
constexpr std::size_t kMaxDigits = 20;
// How long the modem gets to come back to "at" after a failure; after a submission that timed
// out, as long again as the submission had (it may still be sending the message).
constexpr std::int64_t kResyncMs = 10000;
constexpr std::int64_t kLateAnswerMs = 30000;

// Stage n of the submission failed: [0] parameters, [1] destination, [2] body and Ctrl-Z.
int timedOut(ModemLink& link, int stage) {
    fileLog(link.named("Timed-out waiting for modem response [" + std::to_string(stage) + "]"));
    std::string heard;
    (void)resynchronise(link, kResyncMs, heard);
    return -1;
}

int refused(ModemLink& link, int stage) {
    fileLog(link.named("Refused by the modem [" + std::to_string(stage) +
                       "]: " + link.state().lastError()));
    std::string heard;
    (void)resynchronise(link, kResyncMs, heard);
    return -1;
}

// A captured line of its own "+CMGS: <mr>": the modem's report that the message went out.
// Only a whole line of digits counts, so that the echo of a text cannot pose as one.
bool reportsSubmission(const std::string& heard) {
    std::size_t at = 0;
    while (at < heard.size()) {
        std::size_t end = heard.find('\r', at);
        if (end == std::string::npos) end = heard.size();
        std::string_view line(heard.data() + at, end - at);
        if (line.starts_with("+CMGS:")) {
            line.remove_prefix(6);
            while (line.starts_with(' ')) line.remove_prefix(1);
            if (!line.empty() &&
                line.find_first_not_of("0123456789") == std::string_view::npos)
                return true;
        }
        at = end + 1;
    }
    return false;
}

// Ctrl-Z after a message's bytes, and the modem's answer: 0 when it took the message (also
// when its answer came late), else -1 (logged).
int endMessage(ModemLink& link) {
    ModemState& s = link.state();
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    const unsigned char ctrlZ = 0x1A;
    (void)writeRaw(link, &ctrlZ, 1);
    const int answer = waitOkOrError(link, 30000);
    s.smsText = false;  // the echo of a text is in before the answer
    if (answer == 1) return refused(link, 2);
    if (answer < 0) {
        // A slow network: the message may still go out. Its late "+CMGS: <mr>" says so,
        // and then a retry would send it twice.
        std::string heard;
        (void)resynchronise(link, kLateAnswerMs, heard);
        if (!reportsSubmission(heard)) {
            fileLog(link.named("Timed-out waiting for modem response [2]"));
            return -1;
        }
        fileLog(link.named("Late answer from the modem [2]: the message was sent"));
    }
    tally(Tally::PartSent);
    return 0;
}

}  // namespace

std::string dialableNumber(std::string_view typed) {
    std::string out;
    std::size_t digits = 0;
    for (char c : typed) {
        if (c == ' ' || c == '\t') continue;
        const bool dialable = (c >= '0' && c <= '9') || c == '*' || c == '#';
        if (c == '+' && out.empty()) {
            out.push_back(c);
            continue;
        }
        if (!dialable || ++digits > kMaxDigits) return {};
        out.push_back(c);
    }
    return digits > 0 ? out : std::string();
}

std::string shownNumber(std::string_view typed) { return text::shownText(typed); }

namespace {

// Text mode, as the gateway has always sent: ISO 8859-1 turned into the default alphabet,
// independent parts of 160 characters, 140 as soon as one byte is 0x80 or above. Called with
// modemLock held.
int submitText(ModemLink& link, const std::string& dial, const std::string& latin1, int flash) {
    ModemState& s = link.state();
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+csmp", flash > 0 ? "=17,167,0,16\r" : "=17,167,0,0\r");
    if (waitOk(link, 5000) != 0) return timedOut(link, 0);

    const char* text = latin1.c_str();
    const std::size_t textLength = latin1.size();
    int maxLength = settings().maxMsgLength.load();
    if (maxLength < 0) maxLength = 0;
    std::size_t length = textLength < static_cast<std::size_t>(maxLength)
                             ? textLength
                             : static_cast<std::size_t>(maxLength);
    std::size_t partSize = 160;
    for (std::size_t i = 0; i < length && partSize == 160; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) partSize = 140;
    if (length == 0) return 0;

    const std::string argument = "=\"" + dial + "\"\r";
    for (std::size_t offset = 0; offset < length; offset += partSize) {
        std::size_t part = length - offset < partSize ? length - offset : partSize;
        s.event(ModemEvent::Prompt).reset();
        s.event(ModemEvent::Error).reset();
        (void)sendCommand(link, "at+cmgs", argument.c_str());
        // The reader notes the prompt the moment it comes, whatever follows it on the line.
        const int prompt = waitAny(
            {&s.event(ModemEvent::Prompt), &s.event(ModemEvent::Error), &s.event(ModemEvent::Lost)},
            5000);
        if (prompt < 0 || prompt == 2) return timedOut(link, 1);
        if (prompt == 1) return refused(link, 1);
        s.smsText = true;  // the modem echoes the text: the daily log marks its lines
        for (std::size_t i = 0; i < part; ++i) {
            unsigned char byte = latin1ToGsm[static_cast<unsigned char>(text[offset + i])];
            (void)writeRaw(link, &byte, 1);
        }
        if (const int ended = endMessage(link); ended != 0) return ended;
    }
    return 0;
}

// PDU mode: each part one "at+cmgs=<TPDU octets>", the PDU line in hex, Ctrl-Z. Called with
// modemLock held and the modem in PDU mode.
int submitPdus(ModemLink& link, const std::string& dial, std::u32string_view text, int flash) {
    ModemState& s = link.state();
    // One reference per concatenated message, counted on from a start that differs between
    // runs, so that a restarted gateway does not reuse the last run's first references.
    static std::atomic<unsigned> nextReference{static_cast<unsigned>(clock::wallSeconds())};
    const auto reference = static_cast<std::uint8_t>(nextReference.fetch_add(1) & 0xFF);
    for (const std::string& tpdu : submitTpdus(dial, text, flash > 0, reference)) {
        const std::string argument = "=" + std::to_string(tpdu.size()) + "\r";
        s.event(ModemEvent::Prompt).reset();
        s.event(ModemEvent::Error).reset();
        (void)sendCommand(link, "at+cmgs", argument.c_str());
        const int prompt = waitAny(
            {&s.event(ModemEvent::Prompt), &s.event(ModemEvent::Error), &s.event(ModemEvent::Lost)},
            5000);
        if (prompt < 0 || prompt == 2) return timedOut(link, 1);
        if (prompt == 1) return refused(link, 1);
        const std::string line = pduLine(tpdu);
        (void)writeRaw(link, line.data(), line.size());
        if (const int ended = endMessage(link); ended != 0) return ended;
    }
    return 0;
}

}  // namespace

int sendSms(ModemLink& link, const char* number, const char* text, int flash) {
    if (number == nullptr) number = "";
    if (text == nullptr) text = "";
    // Only a phone number may reach the AT line: a CR or a '";' in it would end the command
    // and start another one of the sender's choosing.
    const std::string dial = dialableNumber(number);
    if (dial.empty()) {
        const std::string line = "ERROR sending to " + shownNumber(number) + ": not a phone number";
        fileLog(line);
        windowLog(nullptr, line, kColorRed);
        return -1;
    }
    if (link.port().load() == nullptr) {
        fileLog("sendSms: the modem is not ready yet");
        return -1;
    }
    std::u32string chars = text::codePoints(text);
    if (chars.size() > kTextChars) {
        fileLog("sendSms: ERROR: message text longer than 2047 characters refused");
        return -1;
    }

    std::lock_guard lock(link.modemLock());
    clock::sleepMs(50);
    if (settings().smsCoding.load() == kSmsCodingPdu) {
        const int maxLength = settings().maxMsgLength.load();
        chars.resize(std::min(chars.size(), static_cast<std::size_t>(std::max(maxLength, 0))));
        if (chars.empty()) return 0;
        std::atomic<bool>& refusalNamed = link.pduRefusalNamed();
        const int format = setMessageFormat(link, 0);
        if (format < 0) {
            (void)timedOut(link, 0);
            restoreTextMode(link, kResyncMs);  // it may have switched after all
            return -1;
        }
        if (format == 0) {
            refusalNamed = false;
            const int result = submitPdus(link, dial, chars, flash);
            restoreTextMode(link, kResyncMs);
            return result;
        }
        // A modem without PDU mode still gets the text, as text mode can carry it.
        if (!refusalNamed.exchange(true)) {
            const std::string line =
                link.named("SMS are sent in text mode: the modem refuses PDU mode");
            fileLog(line);
            windowLog(nullptr, line, kColorDefault);
        }
    }
    return submitText(link, dial, foldToLatin1(text), flash);
}

}  // namespace gsms

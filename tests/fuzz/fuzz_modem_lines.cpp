// The modem's byte stream through the line assembler, the classifier's rule table in each
// capture mode, and the PIN mask of the daily log and the raw trace.
//
// Input: chunks, each a capture mode (plain, response, listing) and the bytes the modem sends
// meanwhile. What must hold:
//   - every byte but CR and LF reaches exactly one piece, in order; no piece is empty, holds a
//     line end or passes kLineSize - 1 bytes; a Line begins where a modem line begins;
//   - "> " is reported exactly when a modem line begins with it;
//   - a line beginning with "OK" counts as OK in every mode; ERROR, +CMS ERROR and +CME ERROR
//     end a plain or listing exchange with the line as the error text; a capture holds the
//     lines of its mode in order, each ended by CR, cut at its size and never beyond;
//   - every stored text stays terminated within its buffer;
//   - the daily log masks what the raw trace masks: no byte of a PIN shows in either.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "harness.h"
#include "modem/input_thread.h"
#include "modem/line_assembler.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "modem/pin_mask.h"
#include "sms/smsc.h"

using namespace gsms;
using gsms::fuzz::startsWith;

namespace {

enum class Mode { Plain, Response, Listing };

// What the stored text of a line must be: the line cut to the buffer (it may hold a NUL, the
// GSM "@", which then ends the stored text early).
template <std::size_t N>
bool storedAs(const char (&text)[N], std::string_view line) {
    const std::size_t n = std::min(line.size(), N - 1);
    return std::memcmp(text, line.data(), n) == 0 && text[n] == '\0';
}

void resetState(ModemState& s) {
    s.clearCapture();
    s.listCapture = false;
    s.responseCapture = false;
    s.okCount = 0;
    for (auto& e : s.events) e.reset();
    std::memset(s.errorText, 0, sizeof s.errorText);
    std::memset(s.cpinText, 0, sizeof s.cpinText);
}

bool beginsNoCase(std::string_view line, std::string_view prefix) {
    if (line.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(line[i])) != prefix[i]) return false;
    return true;
}

bool isFailure(std::string_view line) {
    return startsWith(line, "ERROR") || startsWith(line, "+CMS ERROR") ||
           startsWith(line, "+CME ERROR");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    ModemState& s = modemState();
    resetState(s);
    LineAssembler assembler;
    PinMask traceMask;

    std::string stream;        // every byte fed
    std::string masked;        // the raw trace: the stream through the byte-fed mask
    std::string pieces;        // the pieces handed over, joined
    std::string loggedPieces;  // the same as the daily log shows them
    std::string expectedCapture;
    std::size_t lineStart = 0;  // where the current modem line began in the stream
    unsigned okLines = 0;

    auto handle = [&](LineAssembler::Fed fed, Mode mode, std::size_t at) {
        const std::string& line = assembler.line();
        if (fed == LineAssembler::Fed::Prompt) {
            FUZZ_CHECK(stream.compare(lineStart, std::string::npos, "> ") == 0);
            FUZZ_CHECK(s.event(ModemEvent::Prompt).isSet() == false);
            deliver(s, fed, assembler);
            FUZZ_CHECK(s.event(ModemEvent::Prompt).isSet());
            s.event(ModemEvent::Prompt).reset();
            return;
        }
        if (fed == LineAssembler::Fed::NeedMore) return;
        FUZZ_CHECK(!line.empty() && line.size() < LineAssembler::kLineSize);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        // The piece is the last bytes of the stream before this byte (or up to it).
        const std::size_t end = at;
        FUZZ_CHECK(end >= line.size() && stream.compare(end - line.size(), line.size(), line) == 0);
        if (fed == LineAssembler::Fed::Line)
            FUZZ_CHECK(end - line.size() == lineStart);
        else
            FUZZ_CHECK(end - line.size() > lineStart);
        pieces += line;
        // What the daily log gets: the classifier logs a Line, deliver a Continuation.
        if (fed == LineAssembler::Fed::Line) FUZZ_CHECK(assembler.shown() == loggedLine(line));
        loggedPieces += assembler.shown();

        s.event(ModemEvent::Error).reset();
        deliver(s, fed, assembler);
        if (fed == LineAssembler::Fed::Continuation) {
            // Only logged: a piece from the middle of a line is never an answer.
            FUZZ_CHECK(!s.event(ModemEvent::Error).isSet());
            return;
        }
        if (startsWith(line, "OK")) ++okLines;
        const bool captured =
            mode == Mode::Listing || (mode == Mode::Response && !startsWith(line, "OK"));
        if (captured) expectedCapture += line + "\r";
        const bool fails = isFailure(line) && mode != Mode::Response;
        FUZZ_CHECK(s.event(ModemEvent::Error).isSet() == fails);
        if (fails) {
            std::lock_guard lock(s.textMutex);
            FUZZ_CHECK(storedAs(s.errorText, line));
        }
        if (mode == Mode::Plain && startsWith(line, "+CPIN")) {
            const std::string_view value = line.size() > 7 ? std::string_view(line).substr(7) : "";
            FUZZ_CHECK(s.pinReady.load() == beginsNoCase(value, "ready"));
        }
    };

    while (in.remaining_bytes() > 0) {
        const auto mode = static_cast<Mode>(in.ConsumeIntegralInRange<int>(0, 2));
        s.listCapture = mode == Mode::Listing;
        s.responseCapture = mode == Mode::Response;
        const std::string chunk = in.ConsumeRandomLengthString(2048);
        for (const char c : chunk) {
            const auto byte = static_cast<unsigned char>(c);
            masked.push_back(static_cast<char>(traceMask.feed(byte)));
            const LineAssembler::Fed fed = assembler.feed(byte);
            if (byte == '\r' || byte == '\n') {
                handle(fed, mode, stream.size());
                stream.push_back(c);
                lineStart = stream.size();
            } else {
                stream.push_back(c);
                const bool prompt =
                    stream.size() - lineStart == 2 && stream.compare(lineStart, 2, "> ") == 0;
                FUZZ_CHECK(prompt == (fed == LineAssembler::Fed::Prompt));
                handle(fed, mode, stream.size());
            }
        }
    }
    // A line end at the close hands the rest over.
    handle(assembler.feed('\r'),
           static_cast<Mode>(s.listCapture       ? 2
                             : s.responseCapture ? 1
                                                 : 0),
           stream.size());

    std::string content;  // the stream without its line ends
    std::string maskedContent;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] == '\r' || stream[i] == '\n') continue;
        content.push_back(stream[i]);
        maskedContent.push_back(masked[i] == '\0' ? '@' : masked[i]);
    }
    FUZZ_CHECK(pieces == content);
    FUZZ_CHECK(loggedPieces == maskedContent);

    FUZZ_CHECK(s.okCount.load() == okLines);
    expectedCapture.resize(std::min(expectedCapture.size(), ModemState::kCaptureSize - 1));
    FUZZ_CHECK(s.capture() == expectedCapture);
    {
        std::lock_guard lock(s.textMutex);
        FUZZ_CHECK(fuzz::terminated(s.cmglText) && fuzz::terminated(s.cscaText) &&
                   fuzz::terminated(s.cpinText) && fuzz::terminated(s.errorText));
    }
    parseSmsc(firstModem(), s.csca());
    FUZZ_CHECK(fuzz::terminated(s.smscNumber));
    FUZZ_CHECK(std::strpbrk(s.smscNumber, "\",") == nullptr);
    return 0;
}

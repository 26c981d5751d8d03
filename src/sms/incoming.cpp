#include "sms/incoming.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engine/activity.h"
#include "engine/log.h"
#include "engine/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "sms/gsm_alphabet.h"
#include "sms/process_runner.h"

namespace gsms {
namespace {

// As long as the format may be: a long program path leaves the sender and the text their room.
constexpr std::size_t kCommandLineSize = paths::kPathSize;
constexpr std::size_t kLogLineSize = 256;
constexpr std::string_view kMarker = "+CMGL:";

std::string_view withoutQuotes(std::string_view sender) {
    if (!sender.empty() && sender.front() == '"') sender.remove_prefix(1);
    if (!sender.empty() && sender.back() == '"') sender.remove_suffix(1);
    return sender;
}

// Fills one argument; `next` counts the values used so far across the arguments.
std::string fillArgument(std::string_view arg, const std::string_view (&values)[2], int& next) {
    std::string out;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 1 < arg.size()) {
            if (arg[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (arg[i + 1] == 's' && next < 2) {
                out.append(values[next++]);
                ++i;
                continue;
            }
        }
        out += arg[i];
    }
    return out;
}

void parseEntry(std::string_view entry, ListedMessage& m) {
    m.index = ini::parseInt(entry);
    std::size_t lineEnd = entry.find('\r');
    std::string_view header = entry.substr(0, lineEnd);
    // Sender: between the second and the third comma of the header (after index and status).
    std::size_t c1 = header.find(',');
    std::size_t c2 = c1 == std::string_view::npos ? c1 : header.find(',', c1 + 1);
    if (c2 != std::string_view::npos) {
        std::size_t c3 = header.find(',', c2 + 1);
        std::size_t end = c3 == std::string_view::npos ? header.size() : c3;
        m.sender = std::string(header.substr(c2 + 1, end - c2 - 1));
    }
    if (lineEnd != std::string_view::npos) m.text = std::string(entry.substr(lineEnd + 1));
}

}  // namespace

std::vector<std::string> incomingArguments(std::string_view format, std::string_view sender,
                                           std::string_view text) {
    std::vector<std::string> args = splitCommandLine(format);
    if (args.empty()) return args;

    // Measure the fixed part first, with both values empty, to learn what room is left.
    const std::string_view none[2] = {};
    int used = 0;
    std::size_t fixed = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) fixed += 1 + fillArgument(args[i], none, used).size();
        else fixed += args[0].size();
    }
    std::size_t room = fixed < kCommandLineSize - 1 ? kCommandLineSize - 1 - fixed : 0;
    if (used > 0 && sender.size() > room) sender = sender.substr(0, room);
    if (used > 0) room -= sender.size();
    if (text.size() > room) text = text.substr(0, room);

    // The program name comes from the format alone: a %s there is not filled.
    const std::string_view values[2] = {sender, text};
    int next = 0;
    for (std::size_t i = 1; i < args.size(); ++i) args[i] = fillArgument(args[i], values, next);
    return args;
}

std::vector<ListedMessage> walkListing(std::string_view capture, bool complete) {
    std::vector<std::size_t> starts;
    for (std::size_t at = capture.find(kMarker); at != std::string_view::npos;
         at = capture.find(kMarker, at + 1)) {
        // Only at the start of a captured line, so that "+CMGL:" inside a text splits nothing.
        if (at == 0 || capture[at - 1] == '\r') starts.push_back(at);
    }
    // A full capture may have cut its last entry: that one waits for the next listing.
    const std::size_t count = !complete && !starts.empty() ? starts.size() - 1 : starts.size();
    std::vector<ListedMessage> out;
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t begin = starts[k] + kMarker.size();
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] : capture.size();
        ListedMessage m;
        parseEntry(capture.substr(begin, end - begin), m);
        out.push_back(std::move(m));
    }
    return out;
}

void handleIncomingMessage(std::string_view sender, std::string& text) {
    tally(Tally::Received);
    for (char& c : text) c = static_cast<char>(gsmToLatin1[static_cast<unsigned char>(c)]);

    const GatewaySettings& s = settings();
    std::string_view format(s.cmdLineFormat, strnlen(s.cmdLineFormat, sizeof s.cmdLineFormat));
    std::vector<std::string> args = incomingArguments(format, withoutQuotes(sender), text);
    if (!args.empty()) {
        ProcessRunner runner(std::move(args));
        // A command that cannot be started is not reported; the log line says what came.
        (void)runner.start(true, true);
        (void)runner.detach();
    }

    constexpr std::size_t kFixed = sizeof "'' command received from " - 1;
    std::size_t room = kLogLineSize - 1 - kFixed;
    int senderShown = static_cast<int>(sender.size() < room ? sender.size() : room);
    room -= static_cast<std::size_t>(senderShown);
    int textShown = static_cast<int>(text.size() < room ? text.size() : room);
    char line[kLogLineSize];
    std::snprintf(line, sizeof line, "'%.*s' command received from %.*s", textShown,
                  text.data(), senderShown, sender.data());
    fileLog(line);
    windowLog(nullptr, line, kColorBlue);
}

ListingMode chooseListingMode() {
    std::lock_guard lock(modemLock());
    ModemState& s = modemState();
    s.event(ModemEvent::Cmgl).reset();
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand("at+cmgl", "=?\r");
    if (s.event(ModemEvent::Cmgl).wait(5000) != 0) return ListingMode::Numeric;
    // The OK behind the answer belongs to this exchange: let it come before the lock goes,
    // so that it cannot end the next thread's wait.
    (void)waitOk(1000);
    std::string offered = s.cmgl();
    for (char& c : offered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return offered.find("all") != std::string::npos ? ListingMode::Text : ListingMode::Numeric;
}

int incomingPoll(ListingMode mode) {
    std::lock_guard lock(modemLock());
    ModemState& s = modemState();
    s.clearCapture();
    s.listCapture = true;
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand("at+cmgl", mode == ListingMode::Text ? "=\"all\"\r" : "=4\r");
    const int answer = waitOkOrError(15000);
    s.listCapture = false;
    // ERROR or no end in time: the messages stay on the SIM for the next listing.
    if (answer != 0) return -1;

    const std::string capture = s.capture();
    std::vector<ListedMessage> messages =
        walkListing(capture, capture.size() < ModemState::kCaptureSize - 1);
    for (ListedMessage& m : messages) {
        handleIncomingMessage(m.sender, m.text);
        char argument[32];
        std::snprintf(argument, sizeof argument, "=%d\r", m.index);
        s.event(ModemEvent::Ok).reset();
        (void)sendCommand("at+cmgd", argument);
        // A failed deletion shows as the same message in the next listing.
        (void)waitOk(1000);
    }
    return static_cast<int>(messages.size());
}

void incomingThread() {
    const ListingMode mode = chooseListingMode();
    for (;;) {
        clock::sleepMs(15000);
        if (stopRequested()) continue;  // the orderly stop lets no new listing begin
        (void)incomingPoll(mode);
    }
}

}  // namespace gsms

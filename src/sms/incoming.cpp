#include "sms/incoming.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_state.h"
#include "platform/clock.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/process_runner.h"
#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

// As long as the format may be: a long program path leaves the sender and the text their room.
constexpr std::size_t kCommandLineSize = paths::kPathSize;
constexpr std::size_t kLogLineSize = 256;
constexpr std::string_view kListed = "+CMGL:";
constexpr std::string_view kRead = "+CMGR:";
// A text-mode answer is complete when its final result has stayed the last line this long:
// the modem sends an answer without pauses, so more lines behind a "final result" show that it
// was a line of a message.
constexpr std::int64_t kQuietMs = 200;

// Never destroyed: the reaper counts the commands in it until the process ends.
ChildGroup& commands() {
    static ChildGroup* group = new ChildGroup;
    return *group;
}

// The lines of a capture (each ended by CR).
std::vector<std::string_view> capturedLines(std::string_view capture) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < capture.size()) {
        std::size_t end = capture.find('\r', at);
        if (end == std::string_view::npos) end = capture.size();
        lines.push_back(capture.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool isFinalResult(std::string_view line) {
    return line == "OK" || line == "ERROR" || line.starts_with("+CMS ERROR:") ||
           line.starts_with("+CME ERROR:");
}

// Splits the fields of an answer line at commas outside double quotes.
std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] == '"') quoted = !quoted;
        if (i == line.size() || (line[i] == ',' && !quoted)) {
            out.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

bool startsWithDigit(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s.front()));
}

// A sender or a text as one line of the log: a sender never holds a line end.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return text;
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

// "at+cmgf=0" or "=1": 0 for OK, 1 for a refusal, -1 when no answer came.
int setFormat(int format) {
    ModemState& s = modemState();
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand("at+cmgf", format == 0 ? "=0\r" : "=1\r");
    return waitOkOrError(5000);
}

void logRed(const std::string& line) {
    fileLog(line);
    windowLog(nullptr, line, kColorRed);
}

// Back to text mode before modemLock goes, whatever happened before: SMS submission, the
// signal poll and the dialogs speak text mode. A modem that stays in PDU mode is named once
// until it takes text mode again.
void restoreTextMode() {
    static std::atomic<bool> named{false};
    bool back = setFormat(1) == 0;
    if (!back) {
        std::string heard;
        (void)resynchronise(5000, heard);
        back = setFormat(1) == 0;
    }
    if (back) {
        named = false;
    } else if (!named.exchange(true)) {
        logRed("ERROR: the modem did not return to text mode (at+cmgf=1)");
    }
}

// Sends a command whose answer is captured (listCapture) until its end.
void sendCaptured(const char* command, const char* argument) {
    ModemState& s = modemState();
    s.clearCapture();
    s.listCapture = true;
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand(command, argument);
}

// One exchange whose answer is captured: the answer's end as waitOkOrError says it.
int captured(const char* command, const char* argument, std::int64_t ms, std::string& capture) {
    ModemState& s = modemState();
    sendCaptured(command, argument);
    const int answer = waitOkOrError(ms);
    s.listCapture = false;
    capture = s.capture();
    return answer;
}

// Text mode: as `captured`, but a final result counts only when it stays the last line of
// the capture for kQuietMs; a line of text that begins with OK or ERROR does not.
int capturedWhole(const char* command, const char* argument, std::int64_t ms,
                  std::string& capture) {
    ModemState& s = modemState();
    sendCaptured(command, argument);
    const std::int64_t end = clock::monotonicMs() + ms;
    int answer = -1;
    auto lastLine = [&] {
        const std::vector<std::string_view> lines = capturedLines(capture = s.capture());
        return lines.empty() ? std::string_view() : lines.back();
    };
    while (answer < 0 && clock::monotonicMs() < end) {
        if (waitOkOrError(end - clock::monotonicMs()) < 0) break;
        clock::pauseRealMs(kQuietMs);
        // Reset before the last look: a final result that comes after it sets them again.
        s.event(ModemEvent::Ok).reset();
        s.event(ModemEvent::Error).reset();
        const std::string_view last = lastLine();
        if (isFinalResult(last)) answer = last == "OK" ? 0 : 1;
    }
    s.listCapture = false;
    capture = s.capture();
    return answer;
}

void deleteMessage(int index) {
    char argument[32];
    std::snprintf(argument, sizeof argument, "=%d\r", index);
    modemState().event(ModemEvent::Ok).reset();
    (void)sendCommand("at+cmgd", argument);
    // A failed deletion shows as the same message in the next listing.
    (void)waitOk(1000);
}

// What the IncomingThread keeps from one listing to the next.
struct Memory {
    PartAssembler parts;
    std::set<std::string> named;  // keys of messages already named in an error
    bool fullNamed = false;       // the limit of running commands has been named
    std::mutex mutex;             // one listing at a time (tests call from their own thread)
};

Memory& memory() {
    static Memory* m = new Memory;
    return *m;
}

std::string programOfFormat() {
    const GatewaySettings& s = settings();
    const std::vector<std::string> args = splitCommandLine(
        std::string_view(s.cmdLineFormat, strnlen(s.cmdLineFormat, sizeof s.cmdLineFormat)));
    return args.empty() ? std::string() : args[0];
}

// Hands the ready messages over in order and deletes those whose command started; under
// modemLock. The number of commands started.
int handOver(Memory& m, std::vector<ReceivedMessage>& ready, std::set<std::string>& present) {
    int started = 0;
    for (const ReceivedMessage& message : ready) present.insert(message.key);
    for (ReceivedMessage& message : ready) {
        if (runningCommands() >= kMaxCommands) {
            // The rest stays on the SIM, untouched, until a command ends.
            if (!m.fullNamed) {
                logRed(std::to_string(kMaxCommands) +
                       " commands for received messages still run: further messages wait on "
                       "the SIM");
                m.fullNamed = true;
            }
            return started;
        }
        int error = 0;
        if (handleIncomingMessage(message.sender, message.text, error) == 0) {
            if (m.named.insert(message.key).second) {
                const std::string program = programOfFormat();
                logRed(program.empty() ? "ERROR: cannot start the command: CmdLineFormat is empty"
                                       : "ERROR: cannot start " + program + " (" +
                                             std::strerror(error) + ")");
            }
            continue;
        }
        ++started;
        for (int index : message.indexes) deleteMessage(index);
    }
    m.fullNamed = false;
    return started;
}

// Forgets the errors named for messages that are gone from the SIM.
void forgetGone(Memory& m, const std::set<std::string>& present) {
    std::erase_if(m.named, [&](const std::string& key) { return present.count(key) == 0; });
}

int pollPdu(Memory& m) {
    std::string capture;
    if (setFormat(0) != 0) {
        restoreTextMode();
        return -1;
    }
    const int answer = captured("at+cmgl", "=4\r", 15000, capture);
    if (answer < 0) {
        // The listing may still be coming: let it end before another command is answered.
        std::string heard;
        (void)resynchronise(5000, heard);
    }
    restoreTextMode();
    if (answer != 0) return -1;

    std::set<std::string> present;
    std::vector<DecodedPdu> decoded;
    for (const ListedPdu& listed : walkPduListing(capture, capture.size() < ModemState::kCaptureSize - 1)) {
        if (listed.status > 1) continue;  // stored submissions are not ours to hand over
        DecodedPdu d;
        d.index = listed.index;
        d.key = std::to_string(listed.index) + ":" + listed.pdu;
        std::string why;
        if (decodeDeliver(listed.pdu, listed.length, d.message, why) == 0) {
            decoded.push_back(std::move(d));
            continue;
        }
        // Left on the SIM: nothing can be handed over, and its PDU stays in the daily log.
        present.insert(d.key);
        if (m.named.insert(d.key).second)
            logRed("ERROR: message " + std::to_string(listed.index) + " cannot be read (" + why +
                   ")");
    }
    std::vector<ReceivedMessage> ready = m.parts.take(decoded);
    // Waiting parts keep their names too.
    for (const DecodedPdu& d : decoded) present.insert(d.key);
    const int started = handOver(m, ready, present);
    forgetGone(m, present);
    return started;
}

int pollText(Memory& m, ListingMode mode) {
    std::string capture;
    const int answer =
        capturedWhole("at+cmgl", mode == ListingMode::Text ? "=\"all\"\r" : "=4\r", 15000, capture);
    if (answer != 0) {
        std::string heard;
        if (answer < 0) (void)resynchronise(5000, heard);
        return -1;
    }
    std::vector<ReceivedMessage> ready;
    for (int index : listedIndexes(capture)) {
        char argument[32];
        std::snprintf(argument, sizeof argument, "=%d\r", index);
        const int read = capturedWhole("at+cmgr", argument, 5000, capture);
        if (read < 0) {
            std::string heard;
            (void)resynchronise(5000, heard);
            return -1;
        }
        ReadAnswer a;
        if (read != 0 || parseReadAnswer(capture, a) != 0) continue;  // gone, or not received
        ReceivedMessage message;
        message.indexes = {index};
        message.sender = a.sender;
        message.text = gsmTextToLatin1(a.text);
        message.key = std::to_string(index) + ":" + a.sender + ":" + a.text;
        ready.push_back(std::move(message));
    }
    std::set<std::string> present;
    const int started = handOver(m, ready, present);
    forgetGone(m, present);
    return started;
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

std::vector<ListedPdu> walkPduListing(std::string_view capture, bool complete) {
    const std::vector<std::string_view> lines = capturedLines(capture);
    std::vector<ListedPdu> out;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].starts_with(kListed)) continue;
        const std::vector<std::string_view> f = fields(lines[i].substr(kListed.size()));
        const std::string_view pdu = lines[i + 1];
        if (f.size() < 3 || !startsWithDigit(f[0]) || pdu.starts_with(kListed)) continue;
        ListedPdu entry;
        entry.index = ini::parseInt(f[0]);
        entry.status = ini::parseInt(f[1]);
        entry.length = ini::parseInt(f.back());
        entry.pdu = std::string(pdu);
        out.push_back(std::move(entry));
        ++i;
    }
    // A full capture may have cut its last entry: that one waits for the next listing.
    if (!complete && !out.empty()) out.pop_back();
    return out;
}

std::vector<int> listedIndexes(std::string_view capture) {
    std::vector<int> out;
    for (std::string_view line : capturedLines(capture)) {
        if (!line.starts_with(kListed)) continue;
        const std::vector<std::string_view> f = fields(line.substr(kListed.size()));
        if (f.size() < 2 || !startsWithDigit(f[0])) continue;
        const int index = ini::parseInt(f[0]);
        if (std::find(out.begin(), out.end(), index) == out.end()) out.push_back(index);
    }
    return out;
}

int parseReadAnswer(std::string_view capture, ReadAnswer& out) {
    std::vector<std::string_view> lines = capturedLines(capture);
    // The echo of the command may come first; the final result is the last line.
    std::size_t head = 0;
    while (head < lines.size() && !lines[head].starts_with(kRead)) ++head;
    if (head == lines.size() || lines.size() < head + 2 || !isFinalResult(lines.back())) return -1;
    const std::vector<std::string_view> f = fields(lines[head].substr(kRead.size()));
    if (f.size() < 2) return -1;
    std::string_view status = f[0];
    while (!status.empty() && status.front() == ' ') status.remove_prefix(1);
    if (status != "\"REC UNREAD\"" && status != "\"REC READ\"") return -1;
    std::string_view sender = f[1];
    if (sender.size() >= 2 && sender.front() == '"' && sender.back() == '"')
        sender = sender.substr(1, sender.size() - 2);
    out.sender = oneLine(gsmTextToLatin1(sender));
    out.text.clear();
    for (std::size_t i = head + 1; i + 1 < lines.size(); ++i) {
        out.text.append(lines[i]);
        out.text += '\r';
    }
    return 0;
}

std::vector<ReceivedMessage> PartAssembler::take(const std::vector<DecodedPdu>& listing) {
    struct Group {
        std::size_t first = 0;                 // listing position of its first part
        std::vector<const DecodedPdu*> parts;  // by sequence number, 1 to total
    };
    std::map<std::string, Group> groups;
    std::vector<const DecodedPdu*> waiting;  // parts that may have to go alone
    std::vector<std::pair<std::size_t, ReceivedMessage>> ready;
    auto alone = [](const DecodedPdu& d) {
        return ReceivedMessage{{d.index}, d.message.sender, d.message.text, d.key};
    };
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const DecodedPdu& d = listing[i];
        const MessagePart& p = d.message.part;
        if (p.total == 0) {
            ready.emplace_back(i, alone(d));
            continue;
        }
        const std::string key = std::string(p.wide ? "W" : "N") + std::to_string(p.reference) +
                                "/" + std::to_string(p.total) + ":" + d.message.sender;
        Group& g = groups[key];
        if (g.parts.empty()) {
            g.first = i;
            g.parts.assign(static_cast<std::size_t>(p.total) + 1, nullptr);
        }
        // A second part with the same number (a network's repetition) waits like a stray one.
        const DecodedPdu*& slot = g.parts[static_cast<std::size_t>(p.sequence)];
        if (slot == nullptr) slot = &d;
        else waiting.push_back(&d);
    }
    for (auto& [key, g] : groups) {
        const bool complete =
            std::all_of(g.parts.begin() + 1, g.parts.end(), [](const DecodedPdu* d) { return d; });
        if (!complete) {
            for (const DecodedPdu* d : g.parts)
                if (d != nullptr) waiting.push_back(d);
            continue;
        }
        ReceivedMessage whole;
        whole.sender = g.parts[1]->message.sender;
        for (std::size_t k = 1; k < g.parts.size(); ++k) {
            whole.indexes.push_back(g.parts[k]->index);
            whole.text += g.parts[k]->message.text;
            whole.key += g.parts[k]->key + ";";
        }
        ready.emplace_back(g.first, std::move(whole));
    }
    std::map<std::string, int> seen;
    for (const DecodedPdu* d : waiting) {
        const int listings = seen[d->key] = listings_[d->key] + 1;
        if (listings > kListingsToWait)
            ready.emplace_back(static_cast<std::size_t>(d - listing.data()), alone(*d));
    }
    listings_ = std::move(seen);
    std::stable_sort(ready.begin(), ready.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ReceivedMessage> out;
    for (auto& r : ready) out.push_back(std::move(r.second));
    return out;
}

int runningCommands() { return commands().running(); }

int handleIncomingMessage(std::string_view sender, std::string_view text, int& error) {
    const GatewaySettings& s = settings();
    std::string_view format(s.cmdLineFormat, strnlen(s.cmdLineFormat, sizeof s.cmdLineFormat));
    std::vector<std::string> args = incomingArguments(format, sender, text);
    ProcessRunner runner(std::move(args));
    if (runner.start(true, true) == 0) {
        error = runner.startError();
        return 0;
    }
    (void)runner.detach(&commands());
    tally(Tally::Received);

    const std::string quoted = "\"" + oneLine(std::string(sender)) + "\"";
    constexpr std::size_t kFixed = sizeof "'' command received from " - 1;
    std::size_t room = kLogLineSize - 1 - kFixed;
    int senderShown = static_cast<int>(quoted.size() < room ? quoted.size() : room);
    room -= static_cast<std::size_t>(senderShown);
    int textShown = static_cast<int>(text.size() < room ? text.size() : room);
    char line[kLogLineSize];
    std::snprintf(line, sizeof line, "'%.*s' command received from %.*s", textShown,
                  text.data(), senderShown, quoted.data());
    fileLog(line);
    windowLog(nullptr, line, kColorBlue);
    return 1;
}

ListingMode chooseListingMode() {
    std::lock_guard lock(modemLock());
    ModemState& s = modemState();
    const int pdu = setFormat(0);
    if (pdu < 0) {
        std::string heard;
        (void)resynchronise(5000, heard);
    }
    restoreTextMode();
    if (pdu == 0) {
        fileLog("Received SMS are listed in PDU mode");
        return ListingMode::Pdu;
    }
    fileLog("Received SMS are listed in text mode: the modem refuses PDU mode");
    windowLog(nullptr, "Received SMS are listed in text mode: the modem refuses PDU mode",
              kColorDefault);
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
    Memory& m = memory();
    std::lock_guard listing(m.mutex);
    std::lock_guard lock(modemLock());
    return mode == ListingMode::Pdu ? pollPdu(m) : pollText(m, mode);
}

void resetIncomingForTest() {
    Memory& m = memory();
    std::lock_guard listing(m.mutex);
    m.parts = PartAssembler();
    m.named.clear();
    m.fullNamed = false;
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

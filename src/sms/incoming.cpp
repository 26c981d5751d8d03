#include "sms/incoming.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "platform/clock.h"
#include "platform/process_runner.h"
#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"
#include "sms/incoming_command.h"
#include "sms/incoming_listing.h"
#include "sms/incoming_parts.h"
#include "sms/message_format.h"
#include "sms/sms_deliver.h"

namespace gsms {
namespace {

// A text-mode answer is complete when its final result has stayed the last line this long:
// the modem sends an answer without pauses, so more lines behind a "final result" show that it
// was a line of a message.
constexpr std::int64_t kQuietMs = 200;

// How long an answer is waited for: at least leastMs, beyond that as long as the modem keeps
// sending with no pause of gapMs, and never beyond mostMs. A listing is as long as the SIM is
// full: at 9600 baud some forty long messages take longer than its 15 s.
struct Patience {
    std::int64_t leastMs;
    std::int64_t gapMs;
    std::int64_t mostMs;
};
constexpr Patience kListingPatience{15000, 3000, 300000};
constexpr Patience kReadPatience{5000, 0, 5000};
constexpr std::int64_t kLookMs = 200;  // how often a wait looks whether the modem still sends

// Waits for the final result of one answer as its Patience allows.
class AnswerWait {
public:
    AnswerWait(ModemLink& link, const Patience& p)
        : link_(link), p_(p), start_(clock::monotonicMs()), moved_(start_),
          seen_(link.state().bytesIn.load()) {}

    // 0 for OK, 1 for ERROR, -1 once the wait is over.
    int next() {
        for (;;) {
            const std::int64_t now = clock::monotonicMs();
            const std::int64_t quietEnd = std::max(start_ + p_.leastMs, moved_ + p_.gapMs);
            const std::int64_t end = std::min(quietEnd, start_ + p_.mostMs);
            if (now >= end) {
                atBound_ = quietEnd > start_ + p_.mostMs;
                return -1;
            }
            const int answer = waitOkOrError(link_, std::min(end - now, kLookMs));
            if (answer >= 0) return answer;
            const std::uint64_t bytes = link_.state().bytesIn.load();
            if (bytes != seen_) {
                seen_ = bytes;
                moved_ = clock::monotonicMs();
                // The dialogue moves on: a submission waiting for modemLock is not stuck.
                beat(Heart::Modem);
            }
        }
    }
    // The wait ended at mostMs while the modem was still sending.
    bool atBound() const { return atBound_; }
    std::int64_t mostMs() const { return p_.mostMs; }

private:
    ModemLink& link_;
    Patience p_;
    std::int64_t start_;
    std::int64_t moved_;  // when the modem was last seen sending
    std::uint64_t seen_;
    bool atBound_ = false;
};

void logRed(const ModemLink& link, const std::string& line) {
    fileLog(link.named(line));
    windowLog(nullptr, link.named(line), kColorRed);
}

// Sends a command whose answer is captured (listCapture) until its end.
void sendCaptured(ModemLink& link, const char* command, const char* argument) {
    ModemState& s = link.state();
    s.clearCapture();
    s.listCapture = true;
    s.event(ModemEvent::Ok).reset();
    s.event(ModemEvent::Error).reset();
    (void)sendCommand(link, command, argument);
}

// One exchange whose answer is captured: the answer's end as waitOkOrError says it.
int captured(ModemLink& link, const char* command, const char* argument, AnswerWait& wait,
             std::string& capture) {
    ModemState& s = link.state();
    sendCaptured(link, command, argument);
    const int answer = wait.next();
    s.listCapture = false;
    capture = s.capture();
    return answer;
}

// Text mode: as `captured`, but a final result counts only when it stays the last line of
// the capture for kQuietMs; a line of text that begins with OK or ERROR does not.
int capturedWhole(ModemLink& link, const char* command, const char* argument, AnswerWait& wait,
                  std::string& capture) {
    ModemState& s = link.state();
    s.smsText = true;  // the texts come as lines of their own: the daily log marks them
    sendCaptured(link, command, argument);
    int answer = -1;
    auto lastLine = [&] {
        const std::vector<std::string_view> lines = capturedLines(capture = s.capture());
        return lines.empty() ? std::string_view() : lines.back();
    };
    while (answer < 0) {
        if (wait.next() < 0) break;
        clock::pauseRealMs(kQuietMs);
        // Reset before the last look: a final result that comes after it sets them again.
        s.event(ModemEvent::Ok).reset();
        s.event(ModemEvent::Error).reset();
        const std::string_view last = lastLine();
        if (isFinalResult(last)) answer = last == "OK" ? 0 : 1;
    }
    s.listCapture = false;
    // Known gap: lines of an answer cut short that come after this are logged unmarked.
    s.smsText = false;
    capture = s.capture();
    return answer;
}

void deleteMessage(ModemLink& link, int index) {
    char argument[32];
    std::snprintf(argument, sizeof argument, "=%d\r", index);
    link.state().event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+cmgd", argument);
    // A failed deletion shows as the same message in the next listing.
    (void)waitOk(link, 1000);
}

// What the IncomingThread keeps from one listing to the next.
struct Memory {
    PartAssembler parts;
    std::set<std::string> named;  // keys of messages already named in an error
    bool fullNamed = false;       // the limit of running commands has been named
    bool cutNamed = false;        // a listing cut short has been named
    std::mutex mutex;             // one listing at a time (tests call from their own thread)
};

// One per modem: each SIM holds its own messages and parts.
Memory& memory(const ModemLink& link) {
    static Memory* m[2] = {new Memory, new Memory};
    return *m[link.number() == 2 ? 1 : 0];
}

std::string programOfFormat() {
    const GatewaySettings& s = settings();
    const std::vector<std::string> args = splitCommandLine(
        std::string_view(s.cmdLineFormat, strnlen(s.cmdLineFormat, sizeof s.cmdLineFormat)));
    return args.empty() ? std::string() : args[0];
}

// Hands the ready messages over in order and deletes those whose command started; under
// modemLock. The number of commands started.
int handOver(ModemLink& link, Memory& m, std::vector<ReceivedMessage>& ready,
             std::set<std::string>& present) {
    int started = 0;
    for (const ReceivedMessage& message : ready) present.insert(message.key);
    for (ReceivedMessage& message : ready) {
        if (runningCommands() >= kMaxCommands) {
            // The rest stays on the SIM, untouched, until a command ends.
            if (!m.fullNamed) {
                logRed(link, std::to_string(kMaxCommands) +
                       " commands for received messages still run: further messages wait on "
                       "the SIM");
                m.fullNamed = true;
            }
            return started;
        }
        int error = 0;
        const std::string modem = link.name().empty() ? "" : link.name() + ": ";
        if (handleIncomingMessage(message.sender, message.text, error, modem) == 0) {
            if (m.named.insert(message.key).second) {
                const std::string program = programOfFormat();
                logRed(link, program.empty()
                                 ? "ERROR: cannot start the command: CmdLineFormat is empty"
                                 : "ERROR: cannot start " + program + " (" +
                                       std::strerror(error) + ")");
            }
            continue;
        }
        ++started;
        m.parts.handedOver(message, clock::monotonicMs());
        for (int index : message.indexes) deleteMessage(link, index);
    }
    m.fullNamed = false;
    return started;
}

// Forgets the errors named for messages that are gone from the SIM.
void forgetGone(Memory& m, const std::set<std::string>& present) {
    std::erase_if(m.named, [&](const std::string& key) { return present.count(key) == 0; });
}

// A listing that ended without its final result (the modem fell silent, or still sent at the
// bound): what came of it is handed over once the modem answers again, since the lines in
// the capture are the modem's own; the rest waits for the next listing. Named once until a
// listing ends whole again.
void nameCut(const ModemLink& link, Memory& m, const AnswerWait& wait, std::size_t listed) {
    if (m.cutNamed) return;
    m.cutNamed = true;
    const std::string why =
        wait.atBound() ? "still sending after " + std::to_string(wait.mostMs() / 1000) + " s"
                       : "no final result";
    logRed(link, "ERROR: the listing of received SMS was cut short after " +
                     std::to_string(listed) + (listed == 1 ? " message (" : " messages (") + why +
                     "): the rest waits for the next listing");
}

// A listing whose wait ended without a final result: true when the modem answers again, so
// that what it listed may be handed over and deleted.
bool answersAfterCut(ModemLink& link) {
    std::string heard;
    return resynchronise(link, 5000, heard) == 0;
}

int pollPdu(ModemLink& link, Memory& m) {
    std::string capture;
    if (setMessageFormat(link, 0) != 0) {
        restoreTextMode(link, 5000);
        return -1;
    }
    AnswerWait wait(link, kListingPatience);
    const int answer = captured(link, "at+cmgl", "=4\r", wait, capture);
    // The listing may still be coming: let it end before another command is answered.
    const bool cut = answer < 0 && answersAfterCut(link);
    restoreTextMode(link, 5000);
    if (answer != 0 && !cut) return -1;

    const std::vector<ListedPdu> listing =
        walkPduListing(capture, capture.size() < ModemState::kCaptureSize - 1);
    if (cut) nameCut(link, m, wait, listing.size());
    else m.cutNamed = false;
    std::set<std::string> present;
    std::vector<DecodedPdu> decoded;
    for (const ListedPdu& listed : listing) {
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
            logRed(link, "ERROR: message " + std::to_string(listed.index) +
                             " cannot be read (" + why + ")");
    }
    TakenListing taken = m.parts.take(decoded, clock::monotonicMs());
    // Waiting and repeated parts keep their names too.
    for (const DecodedPdu& d : decoded) present.insert(d.key);
    for (const RepeatedPart& r : taken.repeated) {
        if (m.named.insert(r.key).second)
            fileLog(link.named("part ") + std::to_string(r.part.sequence) + "/" +
                    std::to_string(r.part.total) + " of message " +
                    std::to_string(r.part.reference) + " from " + text::shownText(r.sender) +
                    " was received again: deleted");
        deleteMessage(link, r.index);
    }
    const int started = handOver(link, m, taken.ready, present);
    forgetGone(m, present);
    return started;
}

int pollText(ModemLink& link, Memory& m, ListingMode mode) {
    std::string capture;
    AnswerWait wait(link, kListingPatience);
    const int answer = capturedWhole(
        link, "at+cmgl", mode == ListingMode::Text ? "=\"all\"\r" : "=4\r", wait, capture);
    const bool cut = answer < 0 && answersAfterCut(link);
    if (answer != 0 && !cut) return -1;
    const std::vector<int> indexes = listedIndexes(capture);
    if (cut) nameCut(link, m, wait, indexes.size());
    else m.cutNamed = false;
    std::vector<ReceivedMessage> ready;
    for (int index : indexes) {
        char argument[32];
        std::snprintf(argument, sizeof argument, "=%d\r", index);
        AnswerWait read(link, kReadPatience);
        const int answered = capturedWhole(link, "at+cmgr", argument, read, capture);
        if (answered < 0) {
            std::string heard;
            (void)resynchronise(link, 5000, heard);
            return -1;
        }
        ReadAnswer a;
        if (answered != 0 || parseReadAnswer(capture, a) != 0) continue;  // gone, or not received
        ReceivedMessage message;
        message.indexes = {index};
        message.sender = a.sender;
        message.text = gsmToUtf8(a.text);
        message.key = std::to_string(index) + ":" + a.sender + ":" + a.text;
        ready.push_back(std::move(message));
    }
    std::set<std::string> present;
    const int started = handOver(link, m, ready, present);
    forgetGone(m, present);
    return started;
}

}  // namespace

ListingMode chooseListingMode(ModemLink& link) {
    std::lock_guard lock(link.modemLock());
    ModemState& s = link.state();
    const int pdu = setMessageFormat(link, 0);
    if (pdu < 0) {
        std::string heard;
        (void)resynchronise(link, 5000, heard);
    }
    restoreTextMode(link, 5000);
    if (pdu == 0) {
        fileLog(link.named("Received SMS are listed in PDU mode"));
        return ListingMode::Pdu;
    }
    const std::string line =
        link.named("Received SMS are listed in text mode: the modem refuses PDU mode");
    fileLog(line);
    windowLog(nullptr, line, kColorDefault);
    s.event(ModemEvent::Cmgl).reset();
    s.event(ModemEvent::Ok).reset();
    (void)sendCommand(link, "at+cmgl", "=?\r");
    if (s.event(ModemEvent::Cmgl).wait(5000) != 0) return ListingMode::Numeric;
    // The OK behind the answer belongs to this exchange: let it come before the lock goes,
    // so that it cannot end the next thread's wait.
    (void)waitOk(link, 1000);
    std::string offered = s.cmgl();
    for (char& c : offered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return offered.find("all") != std::string::npos ? ListingMode::Text : ListingMode::Numeric;
}

int incomingPoll(ModemLink& link, ListingMode mode) {
    Memory& m = memory(link);
    std::lock_guard listing(m.mutex);
    std::lock_guard lock(link.modemLock());
    return mode == ListingMode::Pdu ? pollPdu(link, m) : pollText(link, m, mode);
}

void resetIncomingForTest() {
    Memory& m = memory(firstModem());
    std::lock_guard listing(m.mutex);
    m.parts = PartAssembler();
    m.named.clear();
    m.fullNamed = false;
    m.cutNamed = false;
}

void incomingThread(ModemLink& link) {
    // A second modem that failed to start is asked what it lists once it is in service.
    while (!link.started().load()) clock::sleepMs(1000);
    const ListingMode mode = chooseListingMode(link);
    for (;;) {
        clock::sleepMs(15000);
        // The orderly stop lets no new listing begin, nor does a port that is gone.
        if (stopRequested() || link.portHungUp() || link.retired()) continue;
        (void)incomingPoll(link, mode);
    }
}

}  // namespace gsms

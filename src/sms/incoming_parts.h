// The parts of long messages, put together across listings: the parts of one long message
// that are all on the SIM go to the command as one text, in order; a part whose siblings do
// not come is handed over alone once it has waited kListingsToWait listings. A message of one
// part goes on as it came.
//
// A network may deliver a part twice. A part that has already been handed over (the same
// sender, reference, number of parts, part number and text) within kPartMemoryMs, or that a
// listing holds twice, is only to be deleted: its command would run a second time. The
// assembler remembers at most kPartsRemembered handed-over parts, the oldest going first.
//
// Thread contract: a PartAssembler has no lock of its own; one thread at a time uses it (the
// IncomingThread's keeps it under the listing's lock, incoming.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sms/sms_deliver.h"

namespace gsms {

constexpr int kListingsToWait = 2;  // listings a part waits for its siblings
// A part handed over counts as repeated for a day; so many parts are remembered at most.
constexpr std::int64_t kPartMemoryMs = 24 * 60 * 60 * 1000;
constexpr std::size_t kPartsRemembered = 1000;

// A message ready for the command: one SMS, or the parts of a long one put together.
struct ReceivedMessage {
    std::vector<int> indexes;  // its places on the SIM, deleted once the command has started
    std::string sender;
    std::string text;          // UTF-8
    std::string key;           // the same for the same message in every listing
    std::vector<std::string> parts;  // what tells each part from any other; none for one SMS
};

// A decoded PDU of one listing, `key` telling it from any other (its index and PDU).
struct DecodedPdu {
    int index = 0;
    std::string key;
    DeliverMessage message;
};

// A part received again: deleted from the SIM, never handed over.
struct RepeatedPart {
    int index = 0;
    std::string key;  // as DecodedPdu::key
    std::string sender;
    MessagePart part;
};

// What one listing gives: the messages ready for the command, and the repeated parts.
struct TakenListing {
    std::vector<ReceivedMessage> ready;
    std::vector<RepeatedPart> repeated;
};

// Puts the parts of long messages together across listings: from one listing's messages in
// listing order, those ready for the command, in the order of their first part. Parts of one
// long message have the same sender, reference and number of parts. `nowMs` is the
// monotonic clock's.
class PartAssembler {
public:
    TakenListing take(const std::vector<DecodedPdu>& listing, std::int64_t nowMs);
    // The command of `message` has started: its parts count as handed over from nowMs.
    void handedOver(const ReceivedMessage& message, std::int64_t nowMs);

private:
    std::map<std::string, int> listings_;  // part key -> listings it has been seen in
    std::map<std::string, std::int64_t> handed_;  // part identity -> when it was handed over
};

}  // namespace gsms

// The parts of long messages, put together across listings: the parts of one long message
// that are all on the SIM go to the command as one text, in order; a part whose siblings do
// not come is handed over alone once it has waited kListingsToWait listings. A message of one
// part goes on as it came.
//
// Thread contract: a PartAssembler has no lock of its own; one thread at a time uses it (the
// IncomingThread's keeps it under the listing's lock, incoming.cpp).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "sms/sms_deliver.h"

namespace gsms {

constexpr int kListingsToWait = 2;   // listings a part waits for its siblings

// A message ready for the command: one SMS, or the parts of a long one put together.
struct ReceivedMessage {
    std::vector<int> indexes;  // its places on the SIM, deleted once the command has started
    std::string sender;
    std::string text;          // ISO 8859-1
    std::string key;           // the same for the same message in every listing
};

// A decoded PDU of one listing, `key` telling it from any other (its index and PDU).
struct DecodedPdu {
    int index = 0;
    std::string key;
    DeliverMessage message;
};

// Puts the parts of long messages together across listings: from one listing's messages in
// listing order, those ready for the command, in the order of their first part. Parts of one
// long message have the same sender, reference and number of parts.
class PartAssembler {
public:
    std::vector<ReceivedMessage> take(const std::vector<DecodedPdu>& listing);

private:
    std::map<std::string, int> listings_;  // part key -> listings it has been seen in
};

}  // namespace gsms

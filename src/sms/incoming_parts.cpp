#include "sms/incoming_parts.h"

#include <algorithm>
#include <utility>

namespace gsms {

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

}  // namespace gsms

#include "sms/incoming_parts.h"

#include <algorithm>
#include <set>
#include <utility>

namespace gsms {
namespace {

// What tells a part from any other: its place in its long message, its sender and its text
// (a reference comes round again, a repeated part has the same text). The sender's length
// first, so that no sender and text can pose as another pair.
std::string identity(const DeliverMessage& m) {
    const MessagePart& p = m.part;
    return std::string(p.wide ? "W" : "N") + std::to_string(p.reference) + "/" +
           std::to_string(p.total) + "/" + std::to_string(p.sequence) + ":" +
           std::to_string(m.sender.size()) + ":" + m.sender + m.text;
}

}  // namespace

TakenListing PartAssembler::take(const std::vector<DecodedPdu>& listing, std::int64_t nowMs) {
    std::erase_if(handed_, [&](const auto& h) { return nowMs - h.second >= kPartMemoryMs; });
    TakenListing out;
    std::set<std::string> inListing;
    struct Group {
        std::size_t first = 0;                 // listing position of its first part
        std::vector<const DecodedPdu*> parts;  // by sequence number, 1 to total
    };
    std::map<std::string, Group> groups;
    std::vector<const DecodedPdu*> waiting;  // parts that may have to go alone
    std::vector<std::pair<std::size_t, ReceivedMessage>> ready;
    auto alone = [](const DecodedPdu& d) {
        ReceivedMessage m{{d.index}, d.message.sender, joinSurrogates(d.message.text), d.key, {}};
        if (d.message.part.total != 0) m.parts.push_back(identity(d.message));
        return m;
    };
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const DecodedPdu& d = listing[i];
        const MessagePart& p = d.message.part;
        if (p.total == 0) {
            ready.emplace_back(i, alone(d));
            continue;
        }
        const std::string id = identity(d.message);
        if (handed_.count(id) != 0 || !inListing.insert(id).second) {
            out.repeated.push_back({d.index, d.key, d.message.sender, p});
            continue;
        }
        const std::string key = std::string(p.wide ? "W" : "N") + std::to_string(p.reference) +
                                "/" + std::to_string(p.total) + ":" + d.message.sender;
        Group& g = groups[key];
        if (g.parts.empty()) {
            g.first = i;
            g.parts.assign(static_cast<std::size_t>(p.total) + 1, nullptr);
        }
        // Another text under the same number (a reference come round again) waits like a stray
        // part.
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
            whole.parts.push_back(identity(g.parts[k]->message));
        }
        whole.text = joinSurrogates(whole.text);
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
    for (auto& r : ready) out.ready.push_back(std::move(r.second));
    return out;
}

void PartAssembler::handedOver(const ReceivedMessage& message, std::int64_t nowMs) {
    for (const std::string& id : message.parts) handed_[id] = nowMs;
    auto older = [](const auto& a, const auto& b) { return a.second < b.second; };
    while (handed_.size() > kPartsRemembered)
        handed_.erase(std::min_element(handed_.begin(), handed_.end(), older));
}

}  // namespace gsms

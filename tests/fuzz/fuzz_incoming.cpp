// Received SMS: the listing walkers (PDU and text mode), the SMS-DELIVER decoder and the
// assembler of long messages.
//
// Half the inputs are a modem's capture as it stands: whatever it holds, the walkers and the
// decoder stay within it, a decoded message is bounded (a sender of at most 66 bytes without
// a control character, a text of at most 480 bytes of valid UTF-8 without NUL), and
// after three listings of the same messages every one of them has been handed over or found
// repeated, and no part has been handed over twice.
// The other half are messages built from the input, encoded by the simulator's own encoder
// (written apart from the decoder) and listed as a modem lists them, among texts that look
// like listing entries or final results: each comes back whole, once, with its real sender.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "json_records.h"
#include "pdu_encoder.h"
#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"
#include "sms/incoming_listing.h"
#include "sms/incoming_parts.h"

using namespace gsms;

namespace {

bool validUtf8(const std::string& s) { return text::fromCodePoints(text::codePoints(s)) == s; }

bool boundedMessage(const DeliverMessage& m) {
    // 11 septets of a name, each at most a four-byte escape; 160 septets, each at most a
    // three-byte character.
    if (m.sender.size() > 66 || m.text.size() > 480) return false;
    for (const char c : m.sender)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    if (!validUtf8(m.sender) || !validUtf8(joinSurrogates(m.text)) ||
        m.text.find('\0') != std::string::npos)
        return false;
    const MessagePart& p = m.part;
    return p.total == 0 || (p.total > 1 && p.sequence >= 1 && p.sequence <= p.total);
}

void capturedAsItStands(const std::string& capture, bool complete) {
    std::vector<DecodedPdu> decoded;
    std::set<int> indexes;
    for (const ListedPdu& listed : walkPduListing(capture, complete)) {
        FUZZ_CHECK(capture.find(listed.pdu) != std::string::npos);
        DecodedPdu d;
        std::string why;
        if (decodeDeliver(listed.pdu, listed.length, d.message, why) != 0) {
            FUZZ_CHECK(!why.empty());
            continue;
        }
        FUZZ_CHECK(boundedMessage(d.message));
        // Listings name each index once; the assembler relies on it.
        if (!indexes.insert(listed.index).second) continue;
        d.index = listed.index;
        d.key = std::to_string(listed.index) + ":" + listed.pdu;
        decoded.push_back(std::move(d));
    }
    PartAssembler parts;
    std::set<int> handed;
    std::set<std::string> partsHanded;
    for (int listing = 0; listing <= kListingsToWait; ++listing) {
        const TakenListing taken = parts.take(decoded, listing);
        for (const ReceivedMessage& m : taken.ready) {
            FUZZ_CHECK(!m.indexes.empty());
            for (const int index : m.indexes) {
                FUZZ_CHECK(indexes.count(index) == 1);
                handed.insert(index);
            }
            // No part goes to a command twice, however often it is listed.
            for (const std::string& id : m.parts) FUZZ_CHECK(partsHanded.insert(id).second);
            parts.handedOver(m, listing);
        }
        for (const RepeatedPart& r : taken.repeated) handed.insert(r.index);
    }
    FUZZ_CHECK(handed == indexes);

    const std::vector<int> listed = listedIndexes(capture);
    FUZZ_CHECK(std::set<int>(listed.begin(), listed.end()).size() == listed.size());
    ReadAnswer answer;
    if (parseReadAnswer(capture, answer) == 0) {
        for (const char c : answer.sender) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
        FUZZ_CHECK(answer.text.size() < capture.size());
    }
}

// The text a UCS-2 payload must decode to: UTF-16, a lone surrogate U+FFFD, NUL left out.
std::string fromUcs2(const std::string& units) {
    std::string out;
    auto unit = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(units[k]) << 8 |
                                     static_cast<unsigned char>(units[k + 1]));
    };
    for (std::size_t k = 0; k + 1 < units.size(); k += 2) {
        char32_t c = unit(k);
        if (c >= 0xD800 && c <= 0xDFFF) {
            const char32_t low = k + 3 < units.size() ? unit(k + 2) : 0;
            if (c < 0xDC00 && low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                k += 2;
            } else {
                c = 0xFFFD;
            }
        }
        if (c != 0) text::appendUtf8(out, c);
    }
    return out;
}

struct Built {
    sim::DeliverPlan plan;
    std::string pdu;   // TPDU
    std::string text;  // what the decoder must give
    std::string sender;
    int index = 0;
};

void builtMessages(FuzzedDataProvider& in) {
    std::vector<Built> messages;
    std::string capture;  // PDU mode, as the modem's lines reach the capture
    std::string textCapture;
    const std::string sca = sim::serviceCentreAddress("+491710760000");
    int index = 0;
    while (in.remaining_bytes() > 0 && messages.size() < 8) {
        Built b;
        index += in.ConsumeIntegralInRange<int>(1, 40);
        b.index = index;
        sim::DeliverPlan& plan = b.plan;
        if (in.ConsumeBool()) {
            plan.sender = (in.ConsumeBool() ? "+" : "") +
                          std::to_string(in.ConsumeIntegral<std::uint64_t>() % 100000000000000ull);
        } else {
            plan.sender = in.ConsumeRandomLengthString(12);
        }
        plan.coding = in.ConsumeBool() ? sim::Coding::Ucs2 : sim::Coding::Gsm7;
        if (in.ConsumeBool()) {
            plan.reference = in.ConsumeIntegralInRange<int>(0, 0xFFFF);
            plan.total = in.ConsumeIntegralInRange<int>(1, 255);
            plan.sequence = in.ConsumeIntegralInRange<int>(0, 255);
        }
        plan.timestamp = "24/05/17,10:11:12+08";
        std::string payload = in.ConsumeRandomLengthString(170);
        if (plan.coding == sim::Coding::Gsm7) {
            for (char& c : payload) c = static_cast<char>(c & 0x7F);
        } else if (payload.size() % 2 != 0) {
            payload.pop_back();
        }
        plan.payload = payload;
        std::string why;
        b.pdu = sim::encodeDeliver(plan, why);
        if (b.pdu.empty()) continue;  // does not fit one message
        b.text = plan.coding == sim::Coding::Gsm7 ? gsmToUtf8(payload) : fromUcs2(payload);
        b.sender = sim::isNumber(plan.sender)
                       ? plan.sender
                       : text::shownText(gsmToUtf8(sim::latin1ToGsmCodes(plan.sender)));
        std::string hex = sim::toHex(sca + b.pdu);
        std::transform(hex.begin(), hex.end(), hex.begin(),
                       [](char c) { return static_cast<char>(std::toupper(c)); });
        capture += "+CMGL: " + std::to_string(index) + ",1,," + std::to_string(b.pdu.size()) +
                   "\r" + hex + "\r";
        messages.push_back(std::move(b));
    }
    capture += "OK\r";

    const std::vector<ListedPdu> listed = walkPduListing(capture, true);
    FUZZ_CHECK(listed.size() == messages.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const Built& b = messages[i];
        FUZZ_CHECK(listed[i].index == b.index && listed[i].status == 1);
        DeliverMessage m;
        std::string why;
        FUZZ_CHECK(decodeDeliver(listed[i].pdu, listed[i].length, m, why) == 0);
        FUZZ_CHECK(m.sender == b.sender);
        FUZZ_CHECK(joinSurrogates(m.text) == b.text);
        const sim::DeliverPlan& plan = b.plan;
        const bool part = plan.total > 1 && plan.sequence >= 1 && plan.sequence <= plan.total;
        FUZZ_CHECK(m.part.total == (part ? plan.total : 0));
        if (part)
            FUZZ_CHECK(m.part.sequence == plan.sequence && m.part.reference == plan.reference &&
                       m.part.wide == (plan.reference > 0xFF));
        // The same PDU from a modem that leaves the service centre address out.
        DeliverMessage bare;
        FUZZ_CHECK(decodeDeliver(sim::toHex(b.pdu), static_cast<int>(b.pdu.size()), bare, why) ==
                   0);
        FUZZ_CHECK(bare.text == m.text && bare.sender == m.sender);
    }

    // Text mode: a message read alone with at+cmgr, its text lines as the capture holds them
    // (a line end of the text ends a captured line; empty lines leave nothing).
    if (!messages.empty()) {
        const Built& b = messages.front();
        std::string expected;
        std::string answer = "at+cmgr=" + std::to_string(b.index) + "\r+CMGR: \"REC UNREAD\",\"" +
                             b.plan.sender + "\",,\"" + b.plan.timestamp + "\"\r";
        std::string line;
        for (const char c : b.plan.payload + "\n") {
            if (c != '\r' && c != '\n') {
                line.push_back(c);
                continue;
            }
            if (line.empty()) continue;
            answer += line + "\r";
            expected += line + "\r";
            line.clear();
        }
        answer += "OK\r";
        const std::string listedText = expected;
        if (!expected.empty()) expected.pop_back();  // joined by CR, none after the last line
        ReadAnswer read;
        const bool plainSender = b.plan.sender.find_first_of("\"\r\n,") == std::string::npos;
        if (plainSender) {
            FUZZ_CHECK(parseReadAnswer(answer, read) == 0);
            FUZZ_CHECK(read.text == expected);
            FUZZ_CHECK(listedIndexes("+CMGL: " + std::to_string(b.index) + ",\"REC READ\",\"" +
                                     b.plan.sender + "\",,\"\"\r" + listedText + "OK\r")
                           .front() == b.index);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        const bool complete = in.ConsumeBool();
        capturedAsItStands(in.ConsumeRemainingBytesAsString(), complete);
    } else {
        builtMessages(in);
    }
    return 0;
}

#include "sms/incoming_listing.h"

#include <algorithm>
#include <cctype>

#include "platform/ini_file.h"
#include "platform/text_encoding.h"
#include "sms/gsm_alphabet.h"

namespace gsms {
namespace {

constexpr std::string_view kListed = "+CMGL:";
constexpr std::string_view kRead = "+CMGR:";

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

// A field's value: the blanks around it and a pair of quotes around what remains are not part
// of it (Motorola and others answer `+CMGR: "REC READ", "+4123456789132",,...`).
std::string_view fieldValue(std::string_view f) {
    while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
    while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    return f;
}

bool startsWithDigit(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s.front()));
}

}  // namespace

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
    const std::string_view status = fieldValue(f[0]);
    if (status != "REC UNREAD" && status != "REC READ") return -1;
    out.sender = text::shownText(gsmToUtf8(fieldValue(f[1])));
    out.text.clear();
    // The lines joined by CR; the CR that ends the last one is the modem's, not the sender's.
    for (std::size_t i = head + 1; i + 1 < lines.size(); ++i) {
        if (i > head + 1) out.text += '\r';
        out.text.append(lines[i]);
    }
    return 0;
}

}  // namespace gsms

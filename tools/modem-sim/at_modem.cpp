#include "at_modem.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "pdu_encoder.h"
#include "pdu_submit.h"
#include "sms/gsm_alphabet.h"

namespace gsms::sim {

struct AtModem::Reply {
    std::vector<std::string> info;  // information lines before the result
    std::string final;              // the result line ("OK", "+CME ERROR: 16")
    bool prompt = false;            // "> " instead of a result
    bool none = false;              // no answer at all
    int delayMs = 0;
    bool unfinished = false;        // the information lines without the result after them
};

namespace {

constexpr const char* kOperator = "SIM NET";
constexpr const char* kCmglTextList =
    "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")";
constexpr const char* kStatus[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Splits at commas outside quotes; nullopt for an unterminated quote.
std::optional<std::vector<std::string>> splitFields(std::string_view s) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (char c : s) {
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) fields.emplace_back();
        else fields.back().push_back(c);
    }
    if (quoted) return std::nullopt;
    return fields;
}

const char* cmeText(int code) {
    switch (code) {
        case 3: return "operation not allowed";
        case 4: return "operation not supported";
        case 5: return "PH-SIM PIN required";
        case 11: return "SIM PIN required";
        case 12: return "SIM PUK required";
        case 16: return "incorrect password";
        case 30: return "no network service";
        default: return "unknown";
    }
}

// Alphabet of a data coding scheme (GSM 03.38 clause 4): 0 default, 1 eight-bit, 2 UCS2.
int alphabetOf(int dcs) {
    if ((dcs & 0xF0) == 0xF0) return (dcs & 0x04) ? 1 : 0;
    if ((dcs & 0xC0) == 0) return (dcs >> 2) & 0x03;
    return 0;
}

}  // namespace

std::optional<int> AtModem::number(const std::string& s, int lo, int hi) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

void Output::send(std::string bytes, int delayMs) {
    if (delayMs == 0 && !chunks.empty()) chunks.back().bytes += bytes;
    else chunks.push_back({delayMs, std::move(bytes)});
}

void AtModem::feed(unsigned char byte, Output& out) {
    const bool ignoring = ignoreLines_ > 0 && !input_.inText();
    InputAssembler::Step step = input_.feed(byte);
    if (silent_ || ignoring) {
        // A hung modem still had the bytes arrive: the trace shows what was tried.
        if (step != InputAssembler::Step::Line) return;
        out.commands.push_back(input_.line());
        if (!silent_) --ignoreLines_;
        return;
    }
    switch (step) {
        case InputAssembler::Step::Dropped: break;
        case InputAssembler::Step::Held:
            if (echo_) out.send(std::string(1, static_cast<char>(byte)));
            break;
        case InputAssembler::Step::Line:
            if (echo_) out.send("\r");
            out.commands.push_back(input_.line());
            emit(input_.overflowed() ? error() : answer(input_.line()), out);
            break;
        case InputAssembler::Step::Send: finishText(out); break;
        case InputAssembler::Step::Cancel:
            out.commands.push_back(input_.text() + "\x1b");
            emit(ok(), out);
            break;
    }
}

// Verbose result framing: <CR><LF>info<CR><LF>...<CR><LF>result<CR><LF>; the prompt has no
// line end, which is how a client tells it from a line.
void AtModem::emit(const Reply& r, Output& out) const {
    if (r.none) return;
    std::string s;
    if (!r.info.empty()) {
        s = "\r\n";
        for (const std::string& line : r.info) s += line + "\r\n";
    }
    if (!r.unfinished) s += r.prompt ? "\r\n> " : "\r\n" + r.final + "\r\n";
    // Real modems send unsolicited result codes at any moment, text entry included.
    if (r.prompt && !afterPrompt_.empty()) s += "\r\n" + afterPrompt_ + "\r\n";
    out.send(std::move(s), r.delayMs);
}

AtModem::Reply AtModem::ok() const { return Reply{{}, "OK"}; }
AtModem::Reply AtModem::error() const { return Reply{{}, "ERROR"}; }
AtModem::Reply AtModem::cme(int code) const {
    if (cmee_ == 0) return error();
    return Reply{{}, "+CME ERROR: " + (cmee_ == 1 ? std::to_string(code) : cmeText(code))};
}
// +CMEE governs +CME ERROR only (07.07); SMS errors are always reported with their number.
AtModem::Reply AtModem::cms(int code) const { return Reply{{}, "+CMS ERROR: " + std::to_string(code)}; }
AtModem::Reply AtModem::info(std::vector<std::string> lines) const {
    return Reply{std::move(lines), "OK"};
}

AtModem::Reply AtModem::answer(std::string_view line) {
    line = trimmed(line);
    if (line.size() < 2 || upper(line.substr(0, 2)) != "AT") return error();
    std::string_view body = line.substr(2);
    if (body.empty()) return ok();
    if (body.front() == '+') return extended(body);
    return basic(upper(body));
}

AtModem::Reply AtModem::basic(std::string body) {
    if (body == "Z" || body == "Z0") reset(false);
    else if (body == "&F" || body == "&F0") reset(true);
    else if (body == "E" || body == "E0") echo_ = false;
    else if (body == "E1") echo_ = true;
    else if (body == "I" || body == "I0") return info({"Velkora", "gsms-modem-sim", "Revision: 1.0"});
    else return error();
    return ok();
}

void AtModem::reset(bool factory) {
    echo_ = true;
    cmee_ = 1;
    if (!factory) return;
    cscs_ = "IRA";
    csmp_ = {17, 167, 0, 0};
    cnmi_ = {};
    creg_ = 0;
}

AtModem::Reply AtModem::extended(std::string_view body) {
    static const Command table[] = {
        {"+CMEE", &AtModem::cmee}, {"+CPIN", &AtModem::cpin}, {"+CFUN", &AtModem::cfun},
        {"+COPS", &AtModem::cops}, {"+CREG", &AtModem::creg}, {"+CMGF", &AtModem::cmgf},
        {"+CSCS", &AtModem::cscs}, {"+CSCA", &AtModem::csca}, {"+CSMP", &AtModem::csmp},
        {"+CMGS", &AtModem::cmgs}, {"+CSQ", &AtModem::csq},   {"+CMGL", &AtModem::cmgl},
        {"+CMGR", &AtModem::cmgr}, {"+CMGD", &AtModem::cmgd}, {"+CNMI", &AtModem::cnmi},
        {"+CGMI", &AtModem::cgmi}, {"+CGMM", &AtModem::cgmm}, {"+CGMR", &AtModem::cgmr},
        {"+CGSN", &AtModem::cgsn}, {"+CIMI", &AtModem::cimi},
    };
    std::size_t end = body.find_first_of("=?");
    std::string name = upper(trimmed(body.substr(0, end)));
    std::string_view rest = end == std::string_view::npos ? "" : body.substr(end);
    Form form;
    Args args;
    if (rest.empty()) form = Form::Exec;
    else if (rest == "?") form = Form::Query;
    else if (rest == "=?") form = Form::Test;
    else if (rest.front() == '=') {
        form = Form::Set;
        auto fields = splitFields(rest.substr(1));
        if (!fields) return error();
        for (const std::string& f : *fields) {
            std::string_view t = trimmed(f);
            bool quoted = t.size() >= 2 && t.front() == '"' && t.back() == '"';
            if (quoted) t = t.substr(1, t.size() - 2);
            args.push_back({std::string(t), quoted});
        }
    } else {
        return error();
    }
    for (const Command& c : table)
        if (name == c.name) return (this->*c.handle)(form, args);
    return error();
}

AtModem::Reply AtModem::cmee(Form form, const Args& a) {
    if (form == Form::Query) return info({"+CMEE: " + std::to_string(cmee_)});
    if (form == Form::Test) return info({"+CMEE: (0-2)"});
    if (form == Form::Exec) {
        cmee_ = 0;
        return ok();
    }
    auto v = a.size() == 1 ? number(a[0].text, 0, 2) : std::nullopt;
    if (!v) return error();
    cmee_ = *v;
    return ok();
}

AtModem::Reply AtModem::cpin(Form form, const Args& a) {
    if (form == Form::Query) {
        if (!lock_.empty()) return info({"+CPIN: " + lock_});
        return info({simReady() ? "+CPIN: READY" : "+CPIN: SIM PIN"});
    }
    if (form == Form::Test) return ok();
    if (form != Form::Set || a.empty() || a[0].text.empty()) return error();
    if (lock_ == "SIM PUK") return cme(12);
    if (lock_ == "PH-SIM PIN") return cme(5);
    if (!lock_.empty() || simReady()) return cme(3);
    if (a[0].text != pin_) {
        // The third wrong PIN locks the SIM, as every SIM does.
        if (--pinTries_ == 0) lock_ = "SIM PUK";
        return cme(16);
    }
    pinEntered_ = true;
    pinTries_ = 3;
    return ok();
}

AtModem::Reply AtModem::cfun(Form form, const Args& a) {
    if (form == Form::Query)
        return cfunQueryError_ ? error() : info({"+CFUN: " + std::to_string(cfun_)});
    if (form == Form::Test) return info({"+CFUN: (0,1,4),(0-1)"});
    auto v = form == Form::Set && !a.empty() ? number(a[0].text, 0, 4) : std::nullopt;
    if (!v || *v == 2 || *v == 3) return error();
    cfun_ = *v == 1 ? 1 : 0;  // 4 (flight mode) leaves the radio off like 0
    return ok();
}

AtModem::Reply AtModem::cops(Form form, const Args& a) {
    if (form == Form::Query)
        return info({networkUp() ? std::string("+COPS: 0,0,\"") + kOperator + "\"" : "+COPS: 0"});
    if (form == Form::Test)
        return info({std::string("+COPS: (2,\"") + kOperator + "\",\"SIMNET\",\"26299\"),,(0-4),(0-2)"});
    if (!simReady()) return cme(11);
    if (form != Form::Set || a.empty() || !number(a[0].text, 0, 4)) return error();
    if (!copsNext_.empty()) {  // the last choice stays
        copsFail_ = copsNext_.front();
        copsNext_.erase(copsNext_.begin());
    }
    if (copsFail_) return Reply{{}, "", false, true};  // registration that never completes
    return ok();
}

AtModem::Reply AtModem::creg(Form form, const Args& a) {
    if (form == Form::Query) {
        int stat = !simReady() || cfun_ != 1 ? 0 : networkUp() ? 1 : 2;
        return info({"+CREG: " + std::to_string(creg_) + "," + std::to_string(stat)});
    }
    if (form == Form::Test) return info({"+CREG: (0-2)"});
    auto v = form == Form::Set && a.size() == 1 ? number(a[0].text, 0, 2) : std::nullopt;
    if (!v) return error();
    creg_ = *v;
    return ok();
}

AtModem::Reply AtModem::cmgf(Form form, const Args& a) {
    if (form == Form::Query) return info({"+CMGF: " + std::to_string(cmgf_)});
    if (form == Form::Test) return info({pduRefused_ ? "+CMGF: (1)" : "+CMGF: (0,1)"});
    auto v = form == Form::Set && a.size() == 1 ? number(a[0].text, 0, 1) : std::nullopt;
    if (!v || (*v == 0 && pduRefused_)) return error();
    cmgf_ = *v;
    return ok();
}

AtModem::Reply AtModem::cscs(Form form, const Args& a) {
    if (form == Form::Query) return info({"+CSCS: \"" + cscs_ + "\""});
    if (form == Form::Test) return info({"+CSCS: (\"GSM\",\"IRA\",\"8859-1\")"});
    if (form != Form::Set || a.size() != 1 || !a[0].quoted) return error();
    std::string set = upper(a[0].text);
    if (set != "GSM" && set != "IRA" && set != "8859-1") return cme(4);
    cscs_ = set;
    return ok();
}

AtModem::Reply AtModem::csca(Form form, const Args& a) {
    if (!simReady()) return cms(311);
    if (form == Form::Query)
        return info({"+CSCA: \"" + csca_ + "\"," + std::to_string(cscaType_)});
    if (form == Form::Test) return ok();
    if (form != Form::Set || a.empty() || a.size() > 2 || !a[0].quoted) return error();
    int type = !a[0].text.empty() && a[0].text.front() == '+' ? 145 : 129;
    if (a.size() == 2) {
        auto v = number(a[1].text, 0, 255);
        if (!v) return error();
        type = *v;
    }
    csca_ = a[0].text;
    cscaType_ = type;
    return ok();
}

AtModem::Reply AtModem::csmp(Form form, const Args& a) {
    if (form == Form::Query) {
        return info({"+CSMP: " + std::to_string(csmp_[0]) + "," + std::to_string(csmp_[1]) + "," +
                     std::to_string(csmp_[2]) + "," + std::to_string(csmp_[3])});
    }
    if (form == Form::Test) return ok();
    if (form != Form::Set || a.size() > 4) return error();
    std::array<int, 4> next = csmp_;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].text.empty()) continue;  // an empty field keeps its value
        auto v = number(a[i].text, 0, 255);
        if (!v) return error();
        next[i] = *v;
    }
    csmp_ = next;
    return ok();
}

AtModem::Reply AtModem::cmgs(Form form, const Args& a) {
    if (form == Form::Test) return ok();
    if (!simReady()) return cms(311);
    if (cmgf_ == 0) {
        // PDU mode: the TPDU's length in octets (07.05 3.5.1); the PDU line follows.
        auto length = form == Form::Set && a.size() == 1 && !a[0].quoted
                          ? number(a[0].text, 7, 164)
                          : std::nullopt;
        if (!length) return cms(304);
        pendingPduLength_ = *length;
        pendingTo_.clear();
    } else {
        if (form != Form::Set || a.empty() || a.size() > 2 || !a[0].quoted || a[0].text.empty())
            return error();
        pendingPduLength_ = -1;
        pendingTo_ = a[0].text;
    }
    if (noPromptCount_ != 0) {
        if (noPromptCount_ > 0) --noPromptCount_;
        return Reply{{}, "", false, true};
    }
    input_.beginText();
    Reply r{{}, "", true};
    if (promptDelayCount_ != 0) {
        if (promptDelayCount_ > 0) --promptDelayCount_;
        r.delayMs = promptDelayMs_;  // a busy modem: what comes meanwhile waits behind it
    }
    return r;
}

void AtModem::finishText(Output& out) {
    Submission s;
    s.time = utcNow();
    s.to = pendingTo_;
    s.csmp = csmp_;
    s.bytes = input_.text();
    s.latin1 = readable(s.bytes);
    Reply r;
    std::optional<Reply> badPdu;
    if (pendingPduLength_ >= 0) badPdu = takePdu(s);
    if (badPdu) {
        r = *badPdu;
    } else if (pendingPduLength_ < 0 && (input_.overflowed() || s.bytes.size() > maxTextLength())) {
        r = cms(305);
    } else if (!networkUp()) {
        r = cms(331);
    } else if (auto refusal = refusals_.find(s.to); refusal != refusals_.end()) {
        r = cms(refusal->second);
    } else if (fail_ != Fail::None) {
        r = fail_ == Fail::Cms ? cms(failCode_) : error();
        if (failCount_ > 0 && --failCount_ == 0) fail_ = Fail::None;
    } else {
        ref_ = ref_ % 255 + 1;
        s.ref = ref_;
        r = info({"+CMGS: " + std::to_string(ref_)});
    }
    if (s.ref < 0) s.error = r.final;
    r.delayMs = sendDelayMs_;
    out.submissions.push_back(std::move(s));
    emit(r, out);
}

std::optional<AtModem::Reply> AtModem::takePdu(Submission& s) {
    s.pdu = true;
    std::string hex;
    for (char c : s.bytes)
        if (c != '\r' && c != '\n' && c != ' ') hex.push_back(c);
    DecodedSubmit d;
    if (input_.overflowed() || !decodeSubmit(hex, pendingPduLength_, d, s.why)) {
        if (s.why.empty()) s.why = "longer than any PDU";
        (void)fromHex(hex, s.bytes);
        return cms(304);
    }
    (void)fromHex(hex, s.bytes);
    s.latin1.clear();
    s.to = d.to;
    s.csmp = {d.firstOctet, d.validity, d.pid, d.dcs};
    s.alphabet = d.alphabet;
    s.messageClass = d.messageClass;
    s.text = d.text;
    s.concatRef = d.reference;
    s.concatTotal = d.total;
    s.concatPart = d.sequence;
    if (d.total <= 1) {
        s.message = d.text;
        return std::nullopt;
    }
    // The parts of one message share destination, reference and count; once all are in,
    // the part that completes it carries the whole text.
    auto& parts = partsWaiting_[{d.to, d.reference}];
    if (parts.size() != static_cast<std::size_t>(d.total) + 1) parts.assign(d.total + 1, {});
    parts[d.sequence] = d.text.empty() ? std::string(1, '\0') : d.text;
    bool whole = true;
    for (std::size_t i = 1; i < parts.size(); ++i) whole = whole && !parts[i].empty();
    if (whole) {
        for (std::size_t i = 1; i < parts.size(); ++i)
            if (parts[i] != std::string(1, '\0')) s.message += parts[i];
        partsWaiting_.erase({d.to, d.reference});
    }
    return std::nullopt;
}

std::size_t AtModem::maxTextLength() const { return alphabetOf(csmp_[3]) == 0 ? 160 : 140; }

// The character set chosen with +CSCS decides how text crosses the line: GSM sends the
// default-alphabet bytes themselves, the others ISO 8859-1 (of which IRA is the ASCII part).
std::string AtModem::shown(const std::string& gsm) const {
    if (cscs_ == "GSM") return gsm;
    std::string out;
    for (unsigned char c : gsm) out.push_back(static_cast<char>(gsmToLatin1[c]));
    return out;
}

std::string AtModem::readable(const std::string& bytes) const {
    if (cscs_ != "GSM") return bytes;
    std::string out;
    for (unsigned char c : bytes) out.push_back(static_cast<char>(gsmToLatin1[c]));
    return out;
}

AtModem::Reply AtModem::csq(Form form, const Args&) {
    if (form == Form::Test) return info({"+CSQ: (0-31,99),(0-7,99)"});
    if (form == Form::Exec && csqSilent_) return Reply{{}, "", false, true};
    if (form != Form::Exec || csqError_) return error();
    if (!csqLine_.empty()) return info({csqLine_});
    return info({"+CSQ: " + std::to_string(cfun_ == 1 ? csq_ : 99) + ",99"});
}

std::string AtModem::listing(const StoredMessage& m, bool withIndex) const {
    std::string head = withIndex ? "+CMGL: " + std::to_string(m.index) + "," : "+CMGR: ";
    return head + "\"" + kStatus[m.read ? 1 : 0] + "\"," + (headerBlanks_ ? " \"" : "\"") +
           m.sender + "\",,\"" + m.timestamp + "\"";
}

std::vector<std::string> AtModem::pduListing(const StoredMessage& m, bool withIndex) const {
    const std::string head = withIndex ? "+CMGL: " + std::to_string(m.index) + "," : "+CMGR: ";
    std::string hex = toHex(serviceCentreAddress(csca_) + m.tpdu);
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return {head + (m.read ? "1" : "0") + ",," + std::to_string(m.tpdu.size()), hex};
}

AtModem::Reply AtModem::cmgl(Form form, const Args& a) {
    if (!simReady()) return cms(311);
    const bool pdu = cmgf_ == 0;
    if (form == Form::Test) {
        return info({pdu || cmglNumeric_ ? "+CMGL: (0-4)" : kCmglTextList});
    }
    if (form == Form::Query || a.size() > 2) return error();
    int stat = 0;  // REC UNREAD when none is named
    if (form == Form::Set && !a.empty()) {
        std::optional<int> v;
        if (pdu && a[0].quoted) return cms(302);  // PDU mode takes the status as a number
        if (a[0].quoted) {
            for (int i = 0; i < 5 && !v; ++i)
                if (upper(a[0].text) == kStatus[i]) v = i;
        } else {
            v = number(a[0].text, 0, 4);
        }
        if (!v) return error();
        stat = *v;
    }
    Reply r = ok();
    int listed = 0;
    for (StoredMessage& m : messages_) {
        if (stat != 4 && stat != (m.read ? 1 : 0)) continue;  // nothing stored is STO ...
        if (cmglCut_ >= 0 && listed++ == cmglCut_) break;
        if (pdu) {
            for (std::string& line : pduListing(m, true)) r.info.push_back(std::move(line));
        } else {
            r.info.push_back(listing(m, true));
            r.info.push_back(shown(m.gsm));
        }
        m.read = true;
    }
    r.unfinished = cmglCut_ >= 0;  // the modem falls silent amid its answer
    cmglCut_ = -1;
    return r;
}

AtModem::Reply AtModem::cmgr(Form form, const Args& a) {
    if (!simReady()) return cms(311);
    if (form == Form::Test) return ok();
    auto v = form == Form::Set && a.size() == 1 ? number(a[0].text, 0, 999) : std::nullopt;
    if (!v) return error();
    for (StoredMessage& m : messages_) {
        if (m.index != *v) continue;
        Reply r = info(cmgf_ == 0 ? pduListing(m, false)
                                  : std::vector<std::string>{listing(m, false), shown(m.gsm)});
        m.read = true;
        return r;
    }
    return cms(321);
}

AtModem::Reply AtModem::cmgd(Form form, const Args& a) {
    if (!simReady()) return cms(311);
    if (form == Form::Test)
        return info({"+CMGD: (1-" + std::to_string(slots_) + "),(0-4)"});
    if (form != Form::Set || a.empty() || a.size() > 2) return error();
    auto index = number(a[0].text, 0, 999);
    auto flag = a.size() == 2 ? number(a[1].text, 0, 4) : std::optional<int>(0);
    if (!index || !flag) return error();
    if (*flag == 0 && (*index < 1 || *index > slots_)) return cms(321);
    std::erase_if(messages_, [&](const StoredMessage& m) {
        if (*flag == 0) return m.index == *index;
        return *flag == 4 || m.read;  // 1 to 3 differ only for sent / unsent messages
    });
    return ok();
}

AtModem::Reply AtModem::cnmi(Form form, const Args& a) {
    if (form == Form::Query) {
        std::string s = "+CNMI: ";
        for (std::size_t i = 0; i < cnmi_.size(); ++i)
            s += (i ? "," : "") + std::to_string(cnmi_[i]);
        return info({s});
    }
    if (form == Form::Test) return info({"+CNMI: (0-2),(0-3),(0-3),(0-2),(0,1)"});
    if (form != Form::Set || a.empty() || a.size() > cnmi_.size()) return error();
    std::array<int, 5> next = cnmi_;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].text.empty()) continue;
        auto v = number(a[i].text, 0, 3);
        if (!v) return error();
        next[i] = *v;
    }
    cnmi_ = next;
    return ok();
}

AtModem::Reply AtModem::identity(Form form, const char* value) const {
    if (form == Form::Test) return ok();
    if (form != Form::Exec) return error();
    return info({value});
}

AtModem::Reply AtModem::cgmi(Form f, const Args&) { return identity(f, "Velkora"); }
AtModem::Reply AtModem::cgmm(Form f, const Args&) { return identity(f, "gsms-modem-sim"); }
AtModem::Reply AtModem::cgmr(Form f, const Args&) { return identity(f, "Revision: 1.0"); }
AtModem::Reply AtModem::cgsn(Form f, const Args&) { return identity(f, "356938035643809"); }
AtModem::Reply AtModem::cimi(Form f, const Args&) {
    if (!simReady()) return cme(11);
    return identity(f, "262011234567890");
}

}  // namespace gsms::sim

// The scenario controls of AtModem: one rule per control, read top to bottom.
#include <algorithm>
#include <cctype>

#include "at_modem.h"
#include "sms/gsm_alphabet.h"

namespace gsms::sim {

struct AtModem::ControlRule {
    const char* name;
    const char* usage;   // the arguments
    const char* effect;  // for --help
    std::string (AtModem::*apply)(std::string_view args, Output& out);
};

namespace {

std::vector<std::string> words(std::string_view s) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ') ++i;
        std::size_t start = i;
        while (i < s.size() && s[i] != ' ') ++i;
        if (i > start) out.emplace_back(s.substr(start, i - start));
    }
    return out;
}

// First word and the rest after the blanks that follow it.
std::pair<std::string_view, std::string_view> firstWord(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    std::size_t end = s.find(' ');
    if (end == std::string_view::npos) return {s, {}};
    std::string_view rest = s.substr(end);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    return {s.substr(0, end), rest};
}

// "on" / "off" into flag; false for anything else.
bool onOff(std::string_view args, bool& flag) {
    auto w = words(args);
    if (w.size() != 1 || (w[0] != "on" && w[0] != "off")) return false;
    flag = w[0] == "on";
    return true;
}

// A line of text to send ("off": none) into out; false for an empty one, one with a line end
// in it, or one longer than max.
bool lineOrOff(std::string_view args, std::string& out, std::size_t max = 1000) {
    while (!args.empty() && args.back() == ' ') args.remove_suffix(1);
    if (args.empty() || args.size() > max || args.find_first_of("\r\n") != std::string_view::npos)
        return false;
    out = args == "off" ? std::string() : std::string(args);
    return true;
}

const std::string kUsage = "usage";

}  // namespace

const std::vector<AtModem::ControlRule>& AtModem::controlRules() {
    static const std::vector<ControlRule> rules = {
        {"pin", "CODE|off", "the SIM asks for this PIN until it is entered",
         &AtModem::pinControl},
        {"pin-entered", "", "the PIN counts as entered: +CPIN: READY",
         &AtModem::pinEnteredControl},
        {"ignore-first", "N", "the next N command lines get neither echo nor answer\n"
         "(a modem that misses the first commands)", &AtModem::ignoreFirstControl},
        {"silent", "on|off", "no answer, no echo (an unplugged or hung modem)",
         &AtModem::silentControl},
        {"csq", "N", "the +CSQ value 0-31 or 99 (0, 99: no network)",
         &AtModem::csqControl},
        {"csq-error", "on|off", "AT+CSQ answers ERROR", &AtModem::csqErrorControl},
        {"csq-line", "LINE|off", "AT+CSQ answers LINE instead of +CSQ: N,99\n"
         "(a modem that writes +CSQ:15,99 without the blank)", &AtModem::csqLineControl},
        {"csq-silent", "on|off", "AT+CSQ gets no answer (other commands do)",
         &AtModem::csqSilentControl},
        {"cops", "fail on|off|next ok|fail...", "AT+COPS=... never answers; next: the next\n"
         "ones answer OK or never in turn, the last\n"
         "choice staying (next ok fail: one OK, then none)",
         &AtModem::copsControl},
        {"cfun-query", "error|ok", "AT+CFUN? answers ERROR (ok: normally)",
         &AtModem::cfunQueryControl},
        {"cmgf", "0|1", "the current message format", &AtModem::cmgfControl},
        {"send-delay", "MS", "time taken per submission before its answer",
         &AtModem::sendDelayControl},
        {"send-fail", "cms CODE [COUNT]|error [COUNT]|off",
         "the next COUNT submissions (else all) answer\n"
         "+CMS ERROR: CODE or ERROR after Ctrl-Z",
         &AtModem::sendFailControl},
        {"no-prompt", "[COUNT]|off", "the next COUNT AT+CMGS (else all) get no answer",
         &AtModem::noPromptControl},
        {"prompt-delay", "MS [COUNT]|off",
         "the next COUNT AT+CMGS (else all) get their \"> \" MS late;\n"
         "what the client sends meanwhile waits behind it", &AtModem::promptDelayControl},
        {"after-prompt", "LINE|off", "send the unsolicited LINE (RING, +CMTI: \"SM\",1)\n"
         "right after every \"> \" prompt", &AtModem::afterPromptControl},
        {"refuse", "NUMBER CODE|off", "submissions to NUMBER answer +CMS ERROR: CODE\n"
         "after Ctrl-Z (off: forget every NUMBER)", &AtModem::refuseControl},
        {"sim-lock", "STATE|off", "AT+CPIN? answers +CPIN: STATE (SIM PUK, PH-SIM PIN)\n"
         "and the SIM takes no PIN; the third wrong PIN\n"
         "locks it as SIM PUK by itself", &AtModem::simLockControl},
        {"hangup", "[N]", "close the line, as an unplugged modem does: the\n"
         "client reads EIO and the link goes; the simulator\n"
         "serves only controls from then on, or, with N,\n"
         "comes back on a new pseudo-terminal under the same\n"
         "link after N seconds", &AtModem::hangupControl},
        {"incoming", "SENDER TEXT",
         "store a received message, TEXT in ISO 8859-1 sent\n"
         "in the 7-bit default alphabet ([ ] { } | ^ ~ \\\n"
         "through its extension table). SENDER \"+\" and\n"
         "digits: international, digits: national, anything\n"
         "else (up to 11 characters): an alphanumeric name.\n"
         "(+CMTI follows when AT+CNMI asks for it)",
         &AtModem::incomingControl},
        {"incoming-gsm", "SENDER HEX",
         "store a received message given as default-alphabet\n"
         "codes (0a: a line break, 10: a Greek capital,\n"
         "1b65: the euro sign)",
         &AtModem::incomingGsmControl},
        {"incoming-ucs2", "SENDER HEX",
         "store a received message in UCS-2, given as its\n"
         "code units (00e4: a with diaeresis, 0416: Cyrillic\n"
         "Zhe); text mode shows the hexadecimal digits",
         &AtModem::incomingUcs2Control},
        {"incoming-part", "SENDER REF TOTAL SEQ TEXT",
         "store part SEQ of TOTAL of a long 7-bit message\n"
         "with reference REF (above 255: a 16-bit reference)",
         &AtModem::incomingPartControl},
        {"incoming-pdu", "HEX",
         "store this SMS-DELIVER PDU (without service centre\n"
         "address) as it is, however broken; text mode shows\n"
         "it as hexadecimal digits from sender \"?\"",
         &AtModem::incomingPduControl},
        {"pdu", "on|off", "off: a modem without PDU mode (AT+CMGF=0 answers\n"
         "ERROR; the modem starts in text mode)", &AtModem::pduControl},
        {"cmgl", "numeric|text", "AT+CMGL=? answers (0-4) or the status names",
         &AtModem::cmglControl},
        {"header-blanks", "on|off", "text-mode +CMGL/+CMGR headers with a blank before\n"
         "the sender, as Motorola and others answer:\n"
         "+CMGR: \"REC READ\", \"+4123456789132\",,\"...\"",
         &AtModem::headerBlanksControl},
        {"storage", "N", "the SIM holds N messages (1-255; 30 at start)",
         &AtModem::storageControl},
        {"cmgl-cut", "N", "the next AT+CMGL lists at most N messages and then\n"
         "falls silent: no final result", &AtModem::cmglCutControl},
        {"baud", "N", "pace output as an N baud line would (0: none)",
         &AtModem::baudControl},
        {"garbage", "HEX", "send these bytes now, unasked", &AtModem::garbageControl},
    };
    return rules;
}

std::string AtModem::control(std::string_view line, Output& out) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    auto [name, args] = firstWord(line);
    if (name.empty()) return "error: empty control";
    for (const ControlRule& rule : controlRules()) {
        if (name != rule.name) continue;
        std::string why = (this->*rule.apply)(args, out);
        if (why.empty()) return "ok";
        if (why == kUsage)
            return std::string("error: usage: ") + rule.name + (*rule.usage ? " " : "") + rule.usage;
        return "error: " + why;
    }
    return "error: unknown control: " + std::string(name);
}

std::string AtModem::controlHelp() {
    std::string out;
    const std::string indent(34, ' ');
    for (const ControlRule& rule : controlRules()) {
        std::string head = std::string("  ") + rule.name + " " + rule.usage;
        if (head.size() < indent.size()) head.resize(indent.size(), ' ');
        else head += "\n" + indent;
        std::string effect = rule.effect;
        for (std::size_t at = effect.find('\n'); at != std::string::npos; at = effect.find('\n', at + 1))
            effect.insert(at + 1, indent);
        out += head + effect + "\n";
    }
    return out;
}

std::string AtModem::pinControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() != 1) return kUsage;
    if (w[0] == "off") {
        pin_.clear();
        return {};
    }
    if (w[0].size() < 4 || w[0].size() > 8 || !number(w[0], 0, 99999999)) return kUsage;
    pin_ = w[0];  // a fresh SIM: unlocked, with all its tries
    pinEntered_ = false;
    pinTries_ = 3;
    lock_.clear();
    return {};
}

std::string AtModem::pinEnteredControl(std::string_view args, Output&) {
    if (!words(args).empty()) return kUsage;
    pinEntered_ = true;
    return {};
}

std::string AtModem::ignoreFirstControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, 1000000) : std::nullopt;
    if (!v) return kUsage;
    ignoreLines_ = *v;
    return {};
}

std::string AtModem::silentControl(std::string_view args, Output&) {
    if (!onOff(args, silent_)) return kUsage;
    if (silent_) input_.reset();  // a text being typed is lost with the modem
    return {};
}

std::string AtModem::csqControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, 99) : std::nullopt;
    if (!v || (*v > 31 && *v != 99)) return kUsage;
    csq_ = *v;
    return {};
}

std::string AtModem::csqErrorControl(std::string_view args, Output&) {
    return onOff(args, csqError_) ? std::string() : kUsage;
}

std::string AtModem::csqLineControl(std::string_view args, Output&) {
    return lineOrOff(args, csqLine_) ? std::string() : kUsage;
}

std::string AtModem::csqSilentControl(std::string_view args, Output&) {
    return onOff(args, csqSilent_) ? std::string() : kUsage;
}

std::string AtModem::copsControl(std::string_view args, Output&) {
    auto [what, rest] = firstWord(args);
    if (what == "next") {
        std::vector<bool> next;
        for (const std::string& w : words(rest)) {
            if (w != "ok" && w != "fail") return kUsage;
            next.push_back(w == "fail");
        }
        if (next.empty()) return kUsage;
        copsNext_ = std::move(next);
        return {};
    }
    if (what != "fail" || !onOff(rest, copsFail_)) return kUsage;
    copsNext_.clear();
    return {};
}

std::string AtModem::cfunQueryControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() != 1 || (w[0] != "error" && w[0] != "ok")) return kUsage;
    cfunQueryError_ = w[0] == "error";
    return {};
}

std::string AtModem::cmgfControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, 1) : std::nullopt;
    if (!v) return kUsage;
    cmgf_ = *v;
    return {};
}

std::string AtModem::sendDelayControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, 600000) : std::nullopt;
    if (!v) return kUsage;
    sendDelayMs_ = *v;
    return {};
}

std::string AtModem::sendFailControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() == 1 && w[0] == "off") {
        fail_ = Fail::None;
        return {};
    }
    std::size_t countAt = 0;
    std::optional<int> code = 0;
    if (!w.empty() && w[0] == "cms" && w.size() >= 2 && w.size() <= 3) {
        code = number(w[1], 0, 999);
        countAt = 2;
    } else if (!w.empty() && w[0] == "error" && w.size() <= 2) {
        countAt = 1;
    } else {
        return kUsage;
    }
    std::optional<int> count = -1;
    if (w.size() > countAt) count = number(w[countAt], 1, 1000000);
    if (!code || !count) return kUsage;
    fail_ = w[0] == "cms" ? Fail::Cms : Fail::Error;
    failCode_ = *code;
    failCount_ = *count;
    return {};
}

std::string AtModem::noPromptControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() > 1) return kUsage;
    if (w.empty()) {
        noPromptCount_ = -1;
        return {};
    }
    if (w[0] == "off") {
        noPromptCount_ = 0;
        return {};
    }
    auto v = number(w[0], 1, 1000000);
    if (!v) return kUsage;
    noPromptCount_ = *v;
    return {};
}

std::string AtModem::promptDelayControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() == 1 && w[0] == "off") {
        promptDelayCount_ = 0;
        return {};
    }
    auto ms = !w.empty() && w.size() <= 2 ? number(w[0], 1, 600000) : std::nullopt;
    std::optional<int> count = -1;
    if (w.size() == 2) count = number(w[1], 1, 1000000);
    if (!ms || !count) return kUsage;
    promptDelayMs_ = *ms;
    promptDelayCount_ = *count;
    return {};
}

std::string AtModem::afterPromptControl(std::string_view args, Output&) {
    return lineOrOff(args, afterPrompt_) ? std::string() : kUsage;
}

std::string AtModem::refuseControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() == 1 && w[0] == "off") {
        refusals_.clear();
        return {};
    }
    auto code = w.size() == 2 ? number(w[1], 0, 999) : std::nullopt;
    if (!code || w[0].size() > 40) return kUsage;
    refusals_[w[0]] = *code;
    return {};
}

std::string AtModem::simLockControl(std::string_view args, Output&) {
    if (!lineOrOff(args, lock_, 20)) return kUsage;
    if (lock_.empty()) pinTries_ = 3;
    return {};
}

std::string AtModem::hangupControl(std::string_view args, Output& out) {
    auto w = words(args);
    auto back = w.size() == 1 ? number(w[0], 0, 86400) : std::optional<int>(-1);
    if (w.size() > 1 || !back) return kUsage;
    input_.reset();
    out.hangUp = true;
    out.backAfterS = *back;
    return {};
}

std::string AtModem::incomingControl(std::string_view args, Output& out) {
    auto [sender, text] = firstWord(args);
    if (sender.empty() || sender.size() > 20) return kUsage;
    DeliverPlan plan;
    plan.sender = sender;
    plan.payload = latin1ToGsmCodes(text);
    return storeDeliver(std::move(plan), latin1ToGsmCodes(text), out);
}

std::string AtModem::incomingGsmControl(std::string_view args, Output& out) {
    auto w = words(args);
    std::string gsm;
    if (w.size() != 2 || w[0].size() > 20 || !fromHex(w[1], gsm)) return kUsage;
    DeliverPlan plan;
    plan.sender = w[0];
    plan.payload = gsm;
    return storeDeliver(std::move(plan), gsm, out);
}

std::string AtModem::incomingUcs2Control(std::string_view args, Output& out) {
    auto w = words(args);
    DeliverPlan plan;
    if (w.size() != 2 || w[0].size() > 20 || w[1].size() % 4 != 0 || !fromHex(w[1], plan.payload))
        return kUsage;
    plan.sender = w[0];
    plan.coding = Coding::Ucs2;
    std::string upper = w[1];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return storeDeliver(std::move(plan), upper, out);
}

std::string AtModem::incomingPartControl(std::string_view args, Output& out) {
    auto [sender, rest] = firstWord(args);
    auto [ref, rest2] = firstWord(rest);
    auto [total, rest3] = firstWord(rest2);
    auto [seq, text] = firstWord(rest3);
    DeliverPlan plan;
    const auto r = number(std::string(ref), 0, 0xFFFF);
    const auto t = number(std::string(total), 2, 255);
    const auto q = number(std::string(seq), 1, 255);
    if (sender.empty() || sender.size() > 20 || !r || !t || !q || *q > *t) return kUsage;
    plan.sender = sender;
    plan.reference = *r;
    plan.total = *t;
    plan.sequence = *q;
    plan.payload = latin1ToGsmCodes(text);
    return storeDeliver(std::move(plan), latin1ToGsmCodes(text), out);
}

std::string AtModem::incomingPduControl(std::string_view args, Output& out) {
    auto w = words(args);
    StoredMessage m;
    if (w.size() != 1 || w[0].empty() || w[0].size() > 2 * 176 || !fromHex(w[0], m.tpdu))
        return kUsage;
    m.sender = "?";
    m.gsm = w[0];
    return storeMessage(std::move(m), out);
}

std::string AtModem::pduControl(std::string_view args, Output&) {
    bool on = true;
    if (!onOff(args, on)) return kUsage;
    pduRefused_ = !on;
    if (pduRefused_) cmgf_ = 1;
    return {};
}

std::string AtModem::storeDeliver(DeliverPlan plan, std::string textView, Output& out) {
    StoredMessage m;
    m.timestamp = plan.timestamp = modemTimestamp();
    std::string why;
    m.tpdu = encodeDeliver(plan, why);
    if (m.tpdu.empty()) return why;
    m.sender = plan.sender;
    m.gsm = std::move(textView);
    return storeMessage(std::move(m), out);
}

std::string AtModem::storeMessage(StoredMessage m, Output& out) {
    if (static_cast<int>(messages_.size()) >= slots_) return "message storage full";
    int index = 1;  // the lowest free slot, as a SIM fills them
    for (const StoredMessage& stored : messages_) {
        if (stored.index != index) break;
        ++index;
    }
    m.index = index;
    if (m.timestamp.empty()) m.timestamp = modemTimestamp();
    auto at = std::find_if(messages_.begin(), messages_.end(),
                           [&](const StoredMessage& x) { return x.index > index; });
    messages_.insert(at, std::move(m));
    // +CNMI mode 1 or 2 with <mt> 1 announces it; while a text is typed a real modem would
    // buffer the indication, this one leaves it out.
    if (!silent_ && !input_.inText() && (cnmi_[0] == 1 || cnmi_[0] == 2) && cnmi_[1] == 1)
        out.send("\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
    return {};
}

std::string AtModem::cmglControl(std::string_view args, Output&) {
    auto w = words(args);
    if (w.size() != 1 || (w[0] != "numeric" && w[0] != "text")) return kUsage;
    cmglNumeric_ = w[0] == "numeric";
    return {};
}

std::string AtModem::headerBlanksControl(std::string_view args, Output&) {
    return onOff(args, headerBlanks_) ? std::string() : kUsage;
}

std::string AtModem::storageControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 1, kMaxStorageSlots) : std::nullopt;
    if (!v) return kUsage;
    if (!messages_.empty() && messages_.back().index > *v)
        return "message " + std::to_string(messages_.back().index) + " is stored beyond slot " +
               w[0];
    slots_ = *v;
    return {};
}

std::string AtModem::cmglCutControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, kMaxStorageSlots) : std::nullopt;
    if (!v) return kUsage;
    cmglCut_ = *v;
    return {};
}

std::string AtModem::baudControl(std::string_view args, Output&) {
    auto w = words(args);
    auto v = w.size() == 1 ? number(w[0], 0, 4000000) : std::nullopt;
    if (!v || (*v > 0 && *v < 50)) return kUsage;
    baud_ = *v;
    return {};
}

std::string AtModem::garbageControl(std::string_view args, Output& out) {
    auto w = words(args);
    std::string bytes;
    if (w.size() != 1 || !fromHex(w[0], bytes)) return kUsage;
    out.send(std::move(bytes));
    return {};
}

}  // namespace gsms::sim

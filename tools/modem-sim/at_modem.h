// AtModem: what a GSM modem (GSM 07.05 / 07.07) answers, and the scenario controls that
// change it. Submissions in text mode and, decoded into the record, in PDU mode.
//
// Pure: no I/O, no clock, no thread. Bytes from the client go in through feed(); what the
// modem sends, the command lines it received and the submissions it took come out in an
// Output for the caller to transmit and record. control() applies one scenario control.
// Thread safety: none; ModemSimulator calls every member under its own lock.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input_assembler.h"
#include "json_records.h"
#include "pdu_encoder.h"

namespace gsms::sim {

// Bytes to send, after a pause (the network's time for a submission).
struct OutputChunk {
    int delayMs = 0;
    std::string bytes;
};

struct Output {
    std::vector<OutputChunk> chunks;      // to send, in order
    std::vector<std::string> commands;    // command lines received, as received; a text
                                          // ended by ESC as that text followed by ESC
    std::vector<Submission> submissions;  // texts ended by Ctrl-Z, whatever the answer
    bool hangUp = false;                  // the modem hung up: close the line
    int backAfterS = -1;                  // and plug it in again after so many seconds
    // Appends bytes; without a delay they join the previous chunk.
    void send(std::string bytes, int delayMs = 0);
};

// A received message in the SIM's storage.
struct StoredMessage {
    int index = 0;
    std::string sender;     // as text mode shows it
    std::string gsm;        // the text as text mode shows it, default-alphabet bytes
    std::string timestamp;  // "yy/MM/dd,hh:mm:ss+zz"
    std::string tpdu;       // the SMS-DELIVER PDU that PDU mode lists
    bool read = false;
};

class AtModem {
public:
    static constexpr int kStorageSlots = 30;  // message slots after start
    static constexpr int kMaxStorageSlots = 255;

    void feed(unsigned char byte, Output& out);
    // One control line ("csq 99"): "ok", or "error: " and why.
    std::string control(std::string_view line, Output& out);
    // One line per control: its name, arguments and effect (for --help).
    static std::string controlHelp();

    int baud() const { return baud_; }  // line pacing, 0: none

private:
    struct Reply;
    enum class Form { Exec, Query, Test, Set };
    struct Arg {
        std::string text;
        bool quoted = false;
    };
    using Args = std::vector<Arg>;
    using Handler = Reply (AtModem::*)(Form, const Args&);
    struct Command {
        const char* name;
        Handler handle;
    };
    struct ControlRule;

    // Decimal digits only, within lo..hi.
    static std::optional<int> number(const std::string& s, int lo, int hi);

    void emit(const Reply& r, Output& out) const;
    Reply answer(std::string_view line);
    Reply basic(std::string body);
    Reply extended(std::string_view body);
    void finishText(Output& out);
    // PDU mode: decodes the submitted PDU into the record; the refusal when it is none.
    std::optional<Reply> takePdu(Submission& s);
    void reset(bool factory);

    Reply ok() const;
    Reply error() const;
    Reply cme(int code) const;
    Reply cms(int code) const;
    Reply info(std::vector<std::string> lines) const;

    bool simReady() const { return lock_.empty() && (pin_.empty() || pinEntered_); }
    bool networkUp() const { return cfun_ == 1 && simReady() && csq_ >= 1 && csq_ <= 31; }
    std::string shown(const std::string& gsm) const;
    std::string readable(const std::string& bytes) const;
    std::size_t maxTextLength() const;
    std::string listing(const StoredMessage& m, bool withIndex) const;
    // The entry of one message in PDU mode: its header line ("+CMGL: <index>,<stat>,,<length>"
    // or "+CMGR: <stat>,,<length>") and the PDU line, service centre address first.
    std::vector<std::string> pduListing(const StoredMessage& m, bool withIndex) const;

    // AT commands, in the order of the command table.
    Reply cmee(Form, const Args&);
    Reply cpin(Form, const Args&);
    Reply cfun(Form, const Args&);
    Reply cops(Form, const Args&);
    Reply creg(Form, const Args&);
    Reply cmgf(Form, const Args&);
    Reply cscs(Form, const Args&);
    Reply csca(Form, const Args&);
    Reply csmp(Form, const Args&);
    Reply cmgs(Form, const Args&);
    Reply csq(Form, const Args&);
    Reply cmgl(Form, const Args&);
    Reply cmgr(Form, const Args&);
    Reply cmgd(Form, const Args&);
    Reply cnmi(Form, const Args&);
    Reply cgmi(Form, const Args&);
    Reply cgmm(Form, const Args&);
    Reply cgmr(Form, const Args&);
    Reply cgsn(Form, const Args&);
    Reply cimi(Form, const Args&);
    Reply identity(Form, const char* value) const;

    // Controls (controls.cpp): empty when applied, else what is wrong.
    std::string pinControl(std::string_view, Output&);
    std::string pinEnteredControl(std::string_view, Output&);
    std::string ignoreFirstControl(std::string_view, Output&);
    std::string silentControl(std::string_view, Output&);
    std::string csqControl(std::string_view, Output&);
    std::string csqErrorControl(std::string_view, Output&);
    std::string csqLineControl(std::string_view, Output&);
    std::string csqSilentControl(std::string_view, Output&);
    std::string copsControl(std::string_view, Output&);
    std::string cfunQueryControl(std::string_view, Output&);
    std::string cmgfControl(std::string_view, Output&);
    std::string sendDelayControl(std::string_view, Output&);
    std::string sendFailControl(std::string_view, Output&);
    std::string noPromptControl(std::string_view, Output&);
    std::string promptDelayControl(std::string_view, Output&);
    std::string afterPromptControl(std::string_view, Output&);
    std::string refuseControl(std::string_view, Output&);
    std::string simLockControl(std::string_view, Output&);
    std::string hangupControl(std::string_view, Output&);
    std::string incomingControl(std::string_view, Output&);
    std::string incomingGsmControl(std::string_view, Output&);
    std::string incomingUcs2Control(std::string_view, Output&);
    std::string incomingPartControl(std::string_view, Output&);
    std::string incomingPduControl(std::string_view, Output&);
    std::string pduControl(std::string_view, Output&);
    // Encodes a received message (the text-mode view of its text given) and stores it.
    std::string storeDeliver(DeliverPlan plan, std::string textView, Output& out);
    // Stores a received message in the lowest free slot; empty when stored, else why not.
    std::string storeMessage(StoredMessage m, Output& out);
    std::string cmglControl(std::string_view, Output&);
    std::string headerBlanksControl(std::string_view, Output&);
    std::string storageControl(std::string_view, Output&);
    std::string cmglCutControl(std::string_view, Output&);
    std::string baudControl(std::string_view, Output&);
    std::string garbageControl(std::string_view, Output&);
    static const std::vector<ControlRule>& controlRules();

    InputAssembler input_;

    // Settings of the AT session; ATZ and AT&F restore some of them.
    bool echo_ = true;
    int cmee_ = 1;  // numeric +CME ERROR after start, as several modems ship
    std::string cscs_ = "IRA";
    std::array<int, 4> csmp_{17, 167, 0, 0};
    std::array<int, 5> cnmi_{};
    int creg_ = 0;
    int cfun_ = 1;
    int cmgf_ = 0;  // PDU mode after power-on, as GSM 07.05 has it
    std::string csca_ = "+491710760000";
    int cscaType_ = 145;
    std::string pendingTo_;  // destination of the text being typed
    int pendingPduLength_ = -1;  // PDU mode: the TPDU length AT+CMGS gave; -1 in text mode
    // Parts of concatenated messages received so far, by destination and reference; each
    // vector holds the parts' texts by part number (index 0 unused), "" for one not yet in.
    std::map<std::pair<std::string, int>, std::vector<std::string>> partsWaiting_;
    int ref_ = 0;            // last +CMGS reference
    std::vector<StoredMessage> messages_;  // ordered by index

    // Scenario state, set by the controls.
    std::string pin_;  // empty: no PIN asked
    bool pinEntered_ = false;
    int pinTries_ = 3;  // wrong PINs left before the SIM asks for its PUK
    std::string lock_;  // a SIM state other than PIN ("SIM PUK", "PH-SIM PIN"); empty: none
    bool silent_ = false;
    int ignoreLines_ = 0;  // command lines still to be ignored
    int csq_ = 15;
    bool csqError_ = false;
    std::string csqLine_;  // empty: the usual "+CSQ: N,99"
    bool csqSilent_ = false;
    bool copsFail_ = false;
    std::vector<bool> copsNext_;  // the fail choices of the next AT+COPS=..., in turn
    bool cfunQueryError_ = false;
    int sendDelayMs_ = 0;
    enum class Fail { None, Cms, Error } fail_ = Fail::None;
    int failCode_ = 0;
    int failCount_ = 0;      // -1: every submission
    int noPromptCount_ = 0;  // -1: every AT+CMGS
    int promptDelayMs_ = 0;
    int promptDelayCount_ = 0;  // -1: every AT+CMGS
    std::string afterPrompt_;   // an unsolicited line right after the prompt; empty: none
    std::map<std::string, int> refusals_;  // destination -> +CMS ERROR code
    bool cmglNumeric_ = false;
    bool headerBlanks_ = false;  // a blank after the status of a text-mode +CMGL/+CMGR header
    bool pduRefused_ = false;  // a modem without PDU mode: AT+CMGF=0 answers ERROR
    int slots_ = kStorageSlots;
    int cmglCut_ = -1;  // the next AT+CMGL lists this many messages and no result; -1: whole
    int baud_ = 0;
};

}  // namespace gsms::sim

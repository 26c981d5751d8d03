// Incoming SMS: lists the received messages every 15 s, hands each to "CmdLineFormat" as a
// child process and deletes it from the SIM once its command has started.
//
// Where one message ends and the next begins is said by the modem's framing, never by a
// message's text. The modem is listed in PDU mode (at+cmgf=0, at+cmgl=4, and at+cmgf=1 again
// before modemLock is released, on every path) and each SMS-DELIVER PDU is decoded
// (sms_deliver.h). A modem that refuses PDU mode is listed in text mode, where a listing gives
// only the indexes: each message is then read alone with at+cmgr, and an answer counts as
// complete only when its final result is the last line the modem sends, so that neither a
// line of text that looks like a listing entry nor one that begins with "OK" or "ERROR" can
// pose as the modem.
//
// The parts of a long message that are all on the SIM go to the command as one text, in
// order; a part whose siblings do not come is handed over alone once it has waited two
// listings. At most kMaxCommands commands for received messages run at once; the other
// messages stay on the SIM until one ends. A message is deleted only once its command has
// started. One whose command cannot be started stays on the SIM, is named once with
// "ERROR: cannot start <program> (<reason>)" (red) and is tried again at the next listing.
//
// The command is never built as one text: "CmdLineFormat" is split into arguments first, and
// the sender and the text are put into the arguments that hold the first and the second %s.
// No shell is involved, so a message cannot change which program runs or how many arguments
// it gets.
//
// Thread contract: chooseListingMode and incomingPoll take modemLock for their exchange
// (listCapture is switched only under it) and keep, between listings, the parts that wait
// and the messages already named in an error; the IncomingThread is their one caller in the
// gateway. The other functions are pure or take no lock, and may run on any thread.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sms/sms_deliver.h"

namespace gsms {

constexpr int kMaxCommands = 16;     // commands for received messages running at once
constexpr int kListingsToWait = 2;   // listings a part waits for its siblings

enum class ListingMode {
    Pdu,      // at+cmgf=0, at+cmgl=4, at+cmgf=1
    Numeric,  // text mode, "at+cmgl=4" for the indexes
    Text,     // text mode, "at+cmgl=\"all\"", when the modem offers the status ALL
};

// Tries at+cmgf=0 (5 s): Pdu when the modem takes it (and then at+cmgf=1 again). Otherwise
// asks "at+cmgl=?" (5 s): Text when the answer names "all" in any letter case, else Numeric.
// Logs which way the messages will be listed.
ListingMode chooseListingMode();

// One listing, under one hold of modemLock: lists, hands the messages to the command and
// deletes those whose command started. The number of commands started; -1 when the listing
// was refused or did not end in time (the messages stay on the SIM for the next one).
int incomingPoll(ListingMode mode);

// Starts the command for one message (`text` already in ISO 8859-1, `sender` without quotes)
// detached, counted among the running commands, then logs "'<text>' command received from
// "<sender>"" to the file and in blue to the window. 1 when the command started; 0 when it
// could not be started, with the errno value in `error` and nothing logged.
[[nodiscard]] int handleIncomingMessage(std::string_view sender, std::string_view text,
                                        int& error);

// Commands for received messages that have not ended yet.
int runningCommands();

// The arguments for one message: `format` split by the process runner's rules, the first %s
// (outside the program name) replaced by `sender`, the second by `text`, the text around them
// kept, "%%" read as "%". Further %s and other % sequences stay as written. Text, then
// sender, are cut so that the arguments joined by blanks keep within paths::kPathSize - 1
// bytes (4095 on Linux), the capacity of "CmdLineFormat" itself.
std::vector<std::string> incomingArguments(std::string_view format, std::string_view sender,
                                           std::string_view text);

// One entry of a PDU-mode listing: "+CMGL: <index>,<stat>,[<alpha>],<length>" and its PDU.
struct ListedPdu {
    int index = 0;
    int status = 0;   // 0 REC UNREAD, 1 REC READ, 2 STO UNSENT, 3 STO SENT
    int length = 0;   // of the PDU without the service centre address
    std::string pdu;  // hexadecimal
};

// Walks a captured PDU listing: each "+CMGL:" line with the line after it. When the capture
// filled its buffer (`complete` false) the last entry may be cut and is left out, so that it
// stays on the SIM for the next listing.
std::vector<ListedPdu> walkPduListing(std::string_view capture, bool complete);

// The indexes a text-mode listing names ("+CMGL: <index>," at the start of a captured line),
// each once, in listing order. A line of text may name one as well; the message is then read
// by its index alone, so that the text forges nothing.
std::vector<int> listedIndexes(std::string_view capture);

// A text-mode "+CMGR" answer as captured (lines ended by CR, the final result last): the
// status and sender of its first line, the text of the lines after it, each ended by CR.
// 0 when it is a received message; -1 otherwise (no +CMGR line, a stored submission, ...).
struct ReadAnswer {
    std::string sender;  // without quotes, in ISO 8859-1
    std::string text;    // default-alphabet bytes
};
int parseReadAnswer(std::string_view capture, ReadAnswer& out);

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

// Forgets the waiting parts and the messages already named in an error (tests).
void resetIncomingForTest();

// The IncomingThread routine; returns only with the process.
[[noreturn]] void incomingThread();

}  // namespace gsms

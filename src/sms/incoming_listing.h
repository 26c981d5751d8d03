// The answers of a listing of received messages as the modem sends them, captured with
// listCapture (each line ended by CR, the final result last): the "+CMGL" walker of a
// PDU-mode listing, the indexes of a text-mode listing and the fields of a text-mode "+CMGR"
// answer. Only the modem's framing says where an entry ends: a line of a message's text that
// looks like an entry or a final result forges nothing.
//
// Thread contract: pure functions of the capture handed in; they may run on any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gsms {

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
// status and sender of its first line, the text of the lines after it, joined by CR (no line
// end after the last: a text arrives as a PDU-mode listing gives it).
// 0 when it is a received message; -1 otherwise (no +CMGR line, a stored submission, ...).
// Blanks and quotes around a field are not part of its value.
struct ReadAnswer {
    std::string sender;  // UTF-8, as one line (text::shownText)
    std::string text;    // default-alphabet bytes
};
int parseReadAnswer(std::string_view capture, ReadAnswer& out);

// The lines of a capture (each ended by CR).
std::vector<std::string_view> capturedLines(std::string_view capture);

// A final result: the line "OK" or "ERROR", or one that begins "+CMS ERROR:" or "+CME ERROR:".
bool isFinalResult(std::string_view line);

}  // namespace gsms

// Incoming SMS: lists received messages every 15 s, hands each to "CmdLineFormat" as a
// child process and deletes it from the SIM.
//
// The command is never built as one text: "CmdLineFormat" is split into arguments first, and
// the sender and the text are put into the arguments that hold the first and the second %s.
// No shell is involved, so a message cannot change which program runs or how many arguments
// it gets.
//
// Thread contract: chooseListingMode and incomingPoll take modemLock for their exchange
// (listCapture is switched only under it); the IncomingThread is their one caller in the
// gateway. handleIncomingMessage and the pure helpers may run on any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gsms {

enum class ListingMode {
    Numeric,  // "at+cmgl=4"
    Text,     // "at+cmgl=\"all\"", when the modem offers the status ALL
};

// Asks "at+cmgl=?" (5 s): Text when the answer names "all" in any letter case, else Numeric.
ListingMode chooseListingMode();

// One listing: lists under listCapture (15 s), hands each entry to handleIncomingMessage and
// deletes it with "at+cmgd=<index>", all under one hold of modemLock. The number of messages
// handed over; -1 when the listing was answered by ERROR or did not end in time.
int incomingPoll(ListingMode mode);

// Converts `text` in place from the GSM default alphabet to ISO 8859-1, starts the command
// detached (its start and exit are not looked at), then logs "'<text>' command received from
// <sender>" to the file and in blue to the window. `sender` is the listing's field, quotes
// included; the command gets it without them.
void handleIncomingMessage(std::string_view sender, std::string& text);

// The arguments for one message: `format` split by the process runner's rules, the first %s
// (outside the program name) replaced by `sender`, the second by `text`, the text around them
// kept, "%%" read as "%". Further %s and other % sequences stay as written. Text, then
// sender, are cut so that the arguments joined by blanks keep within paths::kPathSize - 1
// bytes (4095 on Linux), the capacity of "CmdLineFormat" itself.
std::vector<std::string> incomingArguments(std::string_view format, std::string_view sender,
                                           std::string_view text);

struct ListedMessage {
    int index = 0;
    std::string sender;  // as listed, quotes included
    std::string text;    // raw default-alphabet bytes; every line ends with CR
};

// Walks a captured listing: an entry starts at each "+CMGL:" that begins a line. When the
// capture filled its buffer (`complete` false) the last entry may be cut and is left out, so
// that it stays on the SIM for the next listing.
std::vector<ListedMessage> walkListing(std::string_view capture, bool complete);

// The IncomingThread routine; returns only with the process.
[[noreturn]] void incomingThread();

}  // namespace gsms

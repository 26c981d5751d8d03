// Incoming SMS: lists the received messages every 15 s, hands each to "CmdLineFormat" as a
// child process and deletes it from the SIM once its command has started. This file holds the
// dialogue with the modem and the IncomingThread; what it reads from the answers is in
// incoming_listing.h, the parts of long messages are put together in incoming_parts.h and the
// commands are built and started in incoming_command.h.
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
// A listing is waited for as long as the modem keeps sending it (after its first 15 s, until a
// pause of 3 s; 5 minutes at most), so that a full SIM is read whole at any baud rate. One that
// ends without its final result is handed over as far as it came once the modem answers
// again, and named once (red) until a listing ends whole. A part of a long message that comes
// again after it was handed over is deleted without a command (incoming_parts.h), with a
// line in the daily log.
//
// At most kMaxCommands commands for received messages run at once; the other messages stay on
// the SIM until one ends. A message is deleted only once its command has started. One whose
// command cannot be started stays on the SIM, is named once with "ERROR: cannot start
// <program> (<reason>)" (red) and is tried again at the next listing.
//
// Thread contract: chooseListingMode and incomingPoll take the link's modemLock for their
// exchange (listCapture is switched only under it) and keep, between listings, the parts that
// wait, the parts handed over and the messages already named in an error; the IncomingThread
// is their one caller in the gateway. resetIncomingForTest takes the listing's own lock and
// may run on any thread. Known gap: that memory is one for the process, not one per modem.
#pragma once

namespace gsms {

class ModemLink;

enum class ListingMode {
    Pdu,      // at+cmgf=0, at+cmgl=4, at+cmgf=1
    Numeric,  // text mode, "at+cmgl=4" for the indexes
    Text,     // text mode, "at+cmgl=\"all\"", when the modem offers the status ALL
};

// Tries at+cmgf=0 (5 s): Pdu when the modem takes it (and then at+cmgf=1 again). Otherwise
// asks "at+cmgl=?" (5 s): Text when the answer names "all" in any letter case, else Numeric.
// Logs which way the messages will be listed.
ListingMode chooseListingMode(ModemLink& link);

// One listing, under one hold of modemLock: lists, hands the messages to the command and
// deletes those whose command started. The number of commands started; -1 when the listing
// was refused, or did not end and the modem does not answer after it (the messages stay on
// the SIM for the next one).
int incomingPoll(ModemLink& link, ListingMode mode);

// Forgets the waiting and handed-over parts and the messages already named (tests).
void resetIncomingForTest();

// The IncomingThread routine of `link`; returns only with the process.
[[noreturn]] void incomingThread(ModemLink& link);

}  // namespace gsms

// Incoming SMS: lists received messages every 15 s, hands each to "CmdLineFormat" as a
// child process and deletes it from the SIM.
#pragma once

namespace gsms {

// The IncomingThread routine; returns only with the process.
[[noreturn]] void incomingThread();

}  // namespace gsms

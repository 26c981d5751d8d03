// The command for a received message: "CmdLineFormat" split into arguments, the sender and
// the text put in, the child started detached and counted until it ends.
//
// The command is never built as one text: "CmdLineFormat" is split into arguments first, and
// the sender and the text are put into the arguments that hold the first and the second %s.
// No shell is involved, so a message cannot change which program runs or how many arguments
// it gets.
//
// Thread contract: incomingArguments is pure; handleIncomingMessage and runningCommands take
// no lock of their own (the reaper counts the children, platform/process_runner.h) and may run
// on any thread. The IncomingThread calls them under modemLock.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gsms {

constexpr int kMaxCommands = 16;     // commands for received messages running at once

// Starts the command for one message (`text` and `sender` in UTF-8, the sender without
// quotes) detached, counted among the running commands, then logs "'<text>' command received
// from "<sender>"" to the file and in blue to the window: one line of at most 255 bytes, text
// and sender escaped by text::shownText and cut between characters. 1 when the command
// started; 0 when it could not be started, with the errno value in `error` and nothing logged.
// modem: what the line begins with where two modems list ("modem 2: "); empty with one.
[[nodiscard]] int handleIncomingMessage(std::string_view sender, std::string_view text,
                                        int& error, std::string_view modem = {});

// Commands for received messages that have not ended yet.
int runningCommands();

// The arguments for one message: `format` split by the process runner's rules, the first %s
// (outside the program name) replaced by `sender`, the second by `text`, the text around them
// kept, "%%" read as "%". Further %s and other % sequences stay as written. Text, then
// sender, are cut (between UTF-8 characters) so that the arguments joined by blanks keep within
// paths::kPathSize - 1 bytes (4095 on Linux), the capacity of "CmdLineFormat" itself.
std::vector<std::string> incomingArguments(std::string_view format, std::string_view sender,
                                           std::string_view text);

}  // namespace gsms

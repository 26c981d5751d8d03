// The console of the programs without a window (gsmsd, gsms-config): whether a stream shows
// colours, and the request to stop.
//  - POSIX (console_posix.cpp): a terminal shows ANSI colours; SIGTERM and SIGINT ask to stop,
//    and a reader of standard output that went away does not end the process.
//  - Windows (console_win32.cpp): a console that takes virtual-terminal sequences shows
//    colours; Ctrl+C, Ctrl+Break, closing the console window, logging off and shutting down
//    ask to stop.
// Thread safety: prepareStopRequests at the very start of main, before any thread exists (on
// POSIX every thread inherits the blocked signals); waitForStopRequest from one thread.
#pragma once

#include <cstdio>

namespace gsms::console {

// True when text written to the stream reaches a terminal that shows ANSI colours.
bool showsColours(std::FILE* stream);

void prepareStopRequests();

// Returns once a stop has been asked for.
void waitForStopRequest();

}  // namespace gsms::console

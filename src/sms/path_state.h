// The paths of a gateway with two modems: which of them carries alarms, and what happens when
// one is lost. With one modem there is no path to choose: losing it ends the process as it
// always has (giveUpForReinit), and none of these functions logs anything.
//
// A path is down when its signal stays lost through two reselections, its port stays gone for
// the supervision's time (signalGiveUpMs), or its SIM refuses to work. That is said once, in
// red ("modem 2: path down (<why>)"), and raises the tech alarm with the path's own quiet
// time. The process ends for the supervisor only when every path is down. A path that comes
// back is announced ("modem 2: path back in service") and used again.
//
// Thread contract: called by a link's SignalThread and LinkThread and by the engine thread at
// start, never under another link's modemLock; the flags are the links' atomics.
#pragma once

#include <string>

namespace gsms {

class ModemLink;

// The link may be given a submission now. With one modem: its port is there (the tests drive
// dispatch with no engine started); with two: it is in service (ModemLink::inService).
[[nodiscard]] bool pathUsable(const ModemLink& link);

// The first link that is usable, else the first modem: hand-sent SMS and the window's SMSC
// dialog go there.
ModemLink& firstUsableModem();

// The path is lost for the supervision's time. One modem: giveUpForReinit (the caller holds
// the link's modemLock, which is kept). Two: marks it down, names it once in red, raises its
// tech alarm; when the other path is down as well, ends the process as giveUpForReinit does.
// Returns only while another path is up.
void pathLost(ModemLink& link, const std::string& why);

// A path that was down works again: the flag cleared and the line logged. Nothing when it
// was not down.
void pathBack(ModemLink& link);

// The modem's state as the status and the window name it: "in service", "not in service yet"
// (still starting, or failed to start and being tried again), "port hung up", "path down",
// "SIM refused", "no usable signal".
[[nodiscard]] std::string pathStateText(const ModemLink& link);

// Every path is down (with one modem: the one's port is gone).
[[nodiscard]] bool everyPathDown();

}  // namespace gsms

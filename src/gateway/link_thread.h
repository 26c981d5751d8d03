// The LinkThread: heals a modem link. Once its port is gone (a read or write on it failed: the
// link's portHungUp), it lets the line go, so that a USB modem that comes back finds its
// device free, and opens the port again by its configured name once a second, a symbolic link
// resolved anew each time. Once it opens, the modem is brought into service again as at start
// (startModem: the same dialogue and log lines), under the link's modemLock while its
// InputThread reads the answers. Then the hang-up is cleared, "modem port back after <n> s"
// logged and dispatch woken. Meanwhile dispatch, the signal poll and the incoming listing
// leave the modem alone.
//
// A modem that answers nothing once the port is open again raises the tech alarm, as at start,
// and the port is let go and opened again at the next try. A SIM that is locked or refuses the
// PIN ends the process at once, as at start. When the modem is not back within the time the
// signal supervision takes to give up on a modem that answers nothing (signalGiveUpMs, from
// the loss), the process ends as that supervision ends it: "Signal lost, exiting for reinit",
// the tech alarm, exit code 1.
//
// With two modems the same happens per link, except that a lost path does not end the process
// while the other is up (sms/path_state.h): at the supervision's time the path is marked down
// and the tries go on, so that it is used again once it is back; a locked SIM retires its
// modem for the run. A modem that failed to start is healed the same way from the start on.
//
// Thread contract: startLinkThread runs once, on the engine thread, after the modem is in
// service; the LinkThread alone closes and opens the link's port after that. It takes the
// link's modemLock for each try to open the port and keeps it through the modem's
// initialisation.
#pragma once

#include <cstdint>
#include <string>

namespace gsms {

class ModemLink;

// How often the port is tried again while it is gone, in gateway milliseconds.
constexpr std::int64_t kPortRetryMs = 1000;

// Starts the LinkThread of `link`, with copies of the settings' port mode, port name and PIN
// of its modem. Once per link.
void startLinkThread(ModemLink& link);

// Two modems: the link's SIM is locked or refused its PIN (message: the start's line). It is
// never started again in this run; the line is logged in red and the path marked down.
void retire(ModemLink& link, const std::string& message);

}  // namespace gsms

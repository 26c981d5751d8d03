// What the operator asks of the modem from a window: an SMS sent by hand and a new service
// centre. Each runs on a thread of its own, OperatorThread, so that the window stays drawn and
// keeps showing the engine's notifications while the modem answers (up to a minute with a
// slow network); one at a time, and only while the engine runs.
//
// Thread contract: startOperatorAction is called on the front end's thread; the action then
// runs on OperatorThread, which takes the chosen modem's modemLock through sendSms or
// updateSmsc like every other modem user. runningOperatorAction may be read by any thread.
// The start and the end of an action are posted as notification code kNotifyEngineState.
#pragma once

#include <functional>
#include <string>

namespace gsms {

enum class OperatorAction {
    None,
    SendSms,     // a hand-sent SMS
    ChangeSmsc,  // a new service centre address
};

// The action in progress, None when the window is free.
[[nodiscard]] OperatorAction runningOperatorAction();

// Runs `work` on OperatorThread as action `what` and posts kNotifyEngineState before and after.
// 0 when started; -1 when refused, with nothing run: the engine is not running, another
// action is in progress, or no thread could be made.
[[nodiscard]] int startOperatorAction(OperatorAction what, std::function<void()> work);

// The two actions as the window starts them, on OperatorThread. When one cannot start (the
// engine stopped while its dialog was open, say) the window log says at once what the action
// would have said on failure, in red: "ERROR sending to <number>", "ERROR changing the SMSC
// to <number>". 0 when started, -1 when refused.
int startHandSms(std::string number, std::string text, int flash);
// `modem`: the link's number (modem/modem_link.h), 1 unless the operator chose another.
int startSmscChange(std::string number, int plan, int modem = 1);

// A hand-sent SMS: sendSms on the first modem, then "Message sent to <number>" in green or
// "ERROR sending to <number>" in red, in the window log only. Returns sendSms's result.
int sendHandSms(const std::string& number, const std::string& text, int flash);

// A new service centre for modem `modem` (1 or 2): stores number and plan in its state and
// has updateSmsc write them to the modem (it logs). Returns updateSmsc's result; -1 with
// nothing stored for a modem the engine does not have.
int changeSmsc(const std::string& number, int plan, int modem = 1);

}  // namespace gsms

#include "sms/incoming_command.h"

#include <algorithm>

#include <cstring>

#include "core/activity.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/paths.h"
#include "platform/process_runner.h"
#include "platform/text_encoding.h"

namespace gsms {
namespace {

// As long as the format may be: a long program path leaves the sender and the text their room.
constexpr std::size_t kCommandLineSize = paths::kPathSize;
constexpr std::size_t kLogLineSize = 256;

// Never destroyed: the reaper counts the commands in it until the process ends.
ChildGroup& commands() {
    static ChildGroup* group = new ChildGroup;
    return *group;
}

// Fills one argument; `next` counts the values used so far across the arguments.
std::string fillArgument(std::string_view arg, const std::string_view (&values)[2], int& next) {
    std::string out;
    for (std::size_t i = 0; i < arg.size(); ++i) {
        if (arg[i] == '%' && i + 1 < arg.size()) {
            if (arg[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (arg[i + 1] == 's' && next < 2) {
                out.append(values[next++]);
                ++i;
                continue;
            }
        }
        out += arg[i];
    }
    return out;
}

}  // namespace

std::vector<std::string> incomingArguments(std::string_view format, std::string_view sender,
                                           std::string_view text) {
    std::vector<std::string> args = splitCommandLine(format);
    if (args.empty()) return args;

    // Measure the fixed part first, with both values empty, to learn what room is left.
    const std::string_view none[2] = {};
    int used = 0;
    std::size_t fixed = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) fixed += 1 + fillArgument(args[i], none, used).size();
        else fixed += args[0].size();
    }
    std::size_t room = fixed < kCommandLineSize - 1 ? kCommandLineSize - 1 - fixed : 0;
    // Cut between characters, never inside one.
    if (used > 0) sender = sender.substr(0, text::utf8HeadBytes(sender, room));
    if (used > 0) room -= sender.size();
    text = text.substr(0, text::utf8HeadBytes(text, room));

    // The program name comes from the format alone: a %s there is not filled.
    const std::string_view values[2] = {sender, text};
    int next = 0;
    for (std::size_t i = 1; i < args.size(); ++i) args[i] = fillArgument(args[i], values, next);
    return args;
}

int runningCommands() { return commands().running(); }

int handleIncomingMessage(std::string_view sender, std::string_view text, int& error,
                          std::string_view modem) {
    const GatewaySettings& s = settings();
    std::string_view format(s.cmdLineFormat, strnlen(s.cmdLineFormat, sizeof s.cmdLineFormat));
    std::vector<std::string> args = incomingArguments(format, sender, text);
    ProcessRunner runner(std::move(args));
    if (runner.start(true, true) == 0) {
        error = runner.startError();
        return 0;
    }
    (void)runner.detach(&commands());
    tally(Tally::Received);

    // One line whatever the message holds, cut between characters: the escaped text is what
    // is measured, and escaping it again in a log changes nothing.
    const std::string quoted = "\"" + text::shownText(sender) + "\"";
    const std::string shown = text::shownText(text);
    constexpr std::size_t kFixed = sizeof "'' command received from " - 1;
    std::size_t room = kLogLineSize - 1 - kFixed - std::min(modem.size(), std::size_t{64});
    const std::size_t senderShown = text::utf8HeadBytes(quoted, room);
    room -= senderShown;
    const std::size_t textShown = text::utf8HeadBytes(shown, room);
    const std::string line = std::string(modem.substr(0, 64)) + "'" +
                             shown.substr(0, textShown) + "' command received from " +
                             quoted.substr(0, senderShown);
    fileLog(line);
    windowLog(nullptr, line, kColorBlue);
    return 1;
}

}  // namespace gsms

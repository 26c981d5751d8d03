// The command line for a received SMS: "CmdLineFormat" split into arguments by the Windows
// rules (no shell ever reads it), with the sender and the text of the message put in.
//
// Input: a format and a list of arguments, or a format, a sender and a text. What must hold:
//   - any list of arguments, quoted by the rules the splitter reads (blanks and tabs inside
//     double quotes, \" for a quote), splits back into exactly that list;
//   - whatever the sender and the text hold (quotes, blanks, %s, "& del"), the program and
//     the number of arguments come from the format alone, the arguments without %s stay as
//     the format gives them, and the command line keeps within 4095 bytes unless the format
//     alone is longer; with the default format the sender and the text are the two arguments,
//     whole when they fit.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/paths.h"
#include "platform/process_runner.h"
#include "sms/incoming_command.h"

using namespace gsms;

namespace {

// One argument as a command line spells it: in double quotes, a quote as \", and the
// backslashes at its end outside the closing quote (inside it they would escape the quote).
std::string spelled(const std::string& arg) {
    std::size_t end = arg.size();
    while (end > 0 && arg[end - 1] == '\\') --end;
    std::string out = "\"";
    for (std::size_t i = 0; i < end; ++i) {
        if (arg[i] == '"') out += '\\';
        out += arg[i];
    }
    return out + "\"" + arg.substr(end);
}

std::size_t joinedLength(const std::vector<std::string>& args) {
    std::size_t n = args.empty() ? 0 : args.size() - 1;
    for (const std::string& a : args) n += a.size();
    return n;
}

void roundTrip(FuzzedDataProvider& in) {
    std::vector<std::string> args;
    std::string line;
    while (in.remaining_bytes() > 0 && args.size() < 16) {
        args.push_back(in.ConsumeRandomLengthString(64));
        if (!line.empty()) line += in.ConsumeBool() ? " " : " \t ";
        line += spelled(args.back());
    }
    FUZZ_CHECK(splitCommandLine(line) == args);
}

void messageArguments(FuzzedDataProvider& in) {
    const std::string format = in.ConsumeRandomLengthString(160);
    const std::string sender = in.ConsumeRandomLengthString(40);
    const std::string text = in.ConsumeRemainingBytesAsString();

    const std::vector<std::string> plain = splitCommandLine(format);
    const std::vector<std::string> args = incomingArguments(format, sender, text);
    FUZZ_CHECK(args.size() == plain.size());
    if (args.empty()) return;
    FUZZ_CHECK(args[0] == plain[0]);
    for (std::size_t i = 1; i < args.size(); ++i)
        if (plain[i].find('%') == std::string::npos) FUZZ_CHECK(args[i] == plain[i]);
    const std::size_t limit = paths::kPathSize - 1;
    FUZZ_CHECK(joinedLength(args) <= std::max(limit, joinedLength(plain)));

    const std::vector<std::string> byDefault =
        incomingArguments("incoming.bat \"%s\" \"%s\"", sender, text);
    FUZZ_CHECK(byDefault.size() == 3 && byDefault[0] == "incoming.bat");
    FUZZ_CHECK(fuzz::startsWith(sender, byDefault[1]) && fuzz::startsWith(text, byDefault[2]));
    if (joinedLength({"incoming.bat", sender, text}) <= limit)
        FUZZ_CHECK(byDefault[1] == sender && byDefault[2] == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool())
        roundTrip(in);
    else
        messageArguments(in);
    return 0;
}

// What both process runners share: construction and the Windows rules for command lines.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/process_runner.h"

namespace gsms {

namespace {

// A heap copy that the runner's destructor releases with std::free.
char* copyText(const char* text) {
    const std::size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

// Appends one argument for a program that splits its command line by the C runtime's rules:
// a run of backslashes is literal unless a quote follows it, and then stands doubled.
void appendQuoted(std::string& line, std::string_view arg, bool forCmd) {
    const bool plain = !forCmd && !arg.empty() &&
                       arg.find_first_of(" \t\n\v\"") == std::string_view::npos;
    if (plain) {
        line.append(arg);
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            line.append(backslashes * 2, '\\');
            // For cmd.exe "" keeps the quoting on (two toggles); the C runtime reads it as one
            // quote. Elsewhere \" is the quote.
            line += forCmd ? "\"\"" : "\\\"";
        } else {
            line.append(backslashes, '\\');
            if (forCmd && (c == '\r' || c == '\n')) {
                line += ' ';  // cmd.exe would end the command here
            } else if (forCmd && c == '%') {
                // cmd.exe expands %NAME% even inside quotes. %cd:~,% is an empty piece of the
                // always-defined CD: it leaves the % alone and keeps a name from forming.
                line += "%%cd:~,%";
            } else {
                line += c;
            }
        }
        backslashes = 0;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

}  // namespace

ProcessRunner::ProcessRunner(const char* commandLine) {
    if (commandLine) commandLine_ = copyText(commandLine);
}

ProcessRunner::ProcessRunner(std::vector<std::string> argv) : argv_(std::move(argv)) {
    if (argv_.empty()) return;
    std::string joined;
    for (std::size_t i = 0; i < argv_.size(); ++i) {
        if (i > 0) joined += ' ';
        joined += argv_[i];
    }
    commandLine_ = copyText(joined.c_str());
}

std::vector<std::string> splitCommandLine(std::string_view line) {
    std::vector<std::string> args;
    std::string cur;
    bool inArg = false;
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
            cur += '"';
            inArg = true;
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            inArg = true; // "" still yields an (empty) argument
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inArg) {
                args.push_back(std::move(cur));
                cur.clear();
                inArg = false;
            }
        } else {
            cur += c;
            inArg = true;
        }
    }
    if (inArg) args.push_back(std::move(cur));
    return args;
}

std::string windowsCommandLine(const std::vector<std::string>& args, bool forCmd) {
    std::string line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ' ';
        appendQuoted(line, args[i], forCmd);
    }
    return line;
}

}  // namespace gsms

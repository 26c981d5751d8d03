// The command line that hands a Windows program exactly its arguments, for an ordinary program
// (the C runtime's rules) and for a batch file under cmd.exe, where a received text must stay
// text. A table of arguments and the line each must become.
#include <gtest/gtest.h>

#include "platform/process_runner.h"

namespace gsms {
namespace {

struct LineCase {
    const char* label;
    std::vector<std::string> args;
    const char* program;  // for a program that splits by the C runtime's rules
    const char* batch;    // for cmd.exe /s /c "<this>"
};

TEST(WindowsCommandLine, EachArgumentArrivesWholeAndNothingIsReadAsSyntax) {
    const LineCase cases[] = {
        {"plain words stay bare for a program, quoted for cmd.exe",
         {"incoming.bat", "+4911", "hallo"},
         "incoming.bat +4911 hallo",
         "\"incoming.bat\" \"+4911\" \"hallo\""},
        {"blanks and an empty argument",
         {"C:\\Program Files\\x.exe", "a b", ""},
         "\"C:\\Program Files\\x.exe\" \"a b\" \"\"",
         "\"C:\\Program Files\\x.exe\" \"a b\" \"\""},
        {"a quote: \\\" for a program, doubled for cmd.exe",
         {"x", "say \"hi\""},
         "x \"say \\\"hi\\\"\"",
         "\"x\" \"say \"\"hi\"\"\""},
        {"backslashes are doubled only before a quote",
         {"x", "C:\\dir\\", "a\\\\\"b"},
         "x C:\\dir\\ \"a\\\\\\\\\\\"b\"",
         "\"x\" \"C:\\dir\\\\\" \"a\\\\\\\\\"\"b\""},
        {"cmd.exe operators stay inside the quotes",
         {"x", "a & del * | more > out (y) ^z"},
         "x \"a & del * | more > out (y) ^z\"",
         "\"x\" \"a & del * | more > out (y) ^z\""},
        {"% cannot start a variable under cmd.exe",
         {"x", "100% %PATH%"},
         "x \"100% %PATH%\"",
         "\"x\" \"100%%cd:~,% %%cd:~,%PATH%%cd:~,%\""},
        {"a line break is a blank for cmd.exe, which would end the command there",
         {"x", "Zeile eins\rZeile zwei\n"},
         "x \"Zeile eins\rZeile zwei\n\"",
         "\"x\" \"Zeile eins Zeile zwei \""},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(windowsCommandLine(c.args, false), c.program) << c.label;
        EXPECT_EQ(windowsCommandLine(c.args, true), c.batch) << c.label;
    }
}

}  // namespace
}  // namespace gsms

// The serial line settings of TEVRAK.INI ("Mode", in the Windows mode syntax) and the port
// name ("Port").
//
// Input: a mode text and a port name. What must hold:
//   - a mode text is either refused or gives a rate the line can be set to, 5 to 8 data bits,
//     a parity and a stop bit setting the port knows;
//   - the settings read from a text, written in either syntax ("9600,E,7,2" or
//     "baud=9600 parity=E data=7 stop=2"), read back the same; letter case does not matter;
//   - a port name "COMn" names /dev/ttyS<n-1>, every other name stays as it was given.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "harness.h"
#include "platform/serial_port.h"

using namespace gsms;

namespace {

constexpr unsigned kRates[] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                               19200, 38400, 57600, 115200, 230400, 460800, 921600};

bool same(const LineSettings& a, const LineSettings& b) {
    return a.baud == b.baud && a.dataBits == b.dataBits && a.parity == b.parity &&
           a.stopBits == b.stopBits;
}

bool parsesAs(const std::string& text, const LineSettings& expected) {
    LineSettings again;
    return parseModeText(text.c_str(), again) && same(again, expected);
}

std::string withCase(std::string s, int (*change)(int)) {
    for (char& c : s) c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string mode = in.ConsumeRandomLengthString(80);
    const std::string port = in.ConsumeRemainingBytesAsString();

    LineSettings ls;
    if (parseModeText(mode.c_str(), ls)) {
        FUZZ_CHECK(std::find(std::begin(kRates), std::end(kRates), ls.baud) != std::end(kRates));
        FUZZ_CHECK(ls.dataBits >= 5 && ls.dataBits <= 8);
        FUZZ_CHECK(ls.parity >= 0 && ls.parity <= 4);
        FUZZ_CHECK(ls.stopBits >= 0 && ls.stopBits <= 2);
        const char parity = "NOEMS"[ls.parity];
        const char* stop = ls.stopBits == 0 ? "1" : ls.stopBits == 1 ? "1.5" : "2";
        const std::string rate = std::to_string(ls.baud);
        FUZZ_CHECK(
            parsesAs(rate + "," + parity + "," + std::to_string(ls.dataBits) + "," + stop, ls));
        FUZZ_CHECK(parsesAs("baud=" + rate + " parity=" + parity +
                                " data=" + std::to_string(ls.dataBits) + " stop=" + stop,
                            ls));
        FUZZ_CHECK(parsesAs(withCase(mode, std::toupper), ls));
        FUZZ_CHECK(parsesAs(withCase(mode, std::tolower), ls));
    }

    const std::string path = SerialPort::devicePath(port);
    if (path != port) {
        FUZZ_CHECK(port.size() > 3 && (port[0] == 'C' || port[0] == 'c') &&
                   port.find_first_not_of("0123456789", 3) == std::string::npos);
        FUZZ_CHECK(fuzz::startsWith(path, "/dev/ttyS") &&
                   std::stol(path.substr(9)) + 1 == std::stol(port.substr(3)));
    }
    return 0;
}

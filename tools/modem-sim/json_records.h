// The simulator's records: what a submission was, and the JSON lines written for it.
//
// Records are written by the simulator's serving thread only; the helpers are pure.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace gsms::sim {

struct Submission {
    std::string time;              // UTC, ISO 8601 with milliseconds
    std::string to;                // the destination given to AT+CMGS (PDU mode: TP-DA)
    std::array<int, 4> csmp{};     // fo, vp, pid, dcs in force at the Ctrl-Z (PDU mode: the
                                   // PDU's own; vp -1 when it has none)
    std::string bytes;             // the text bytes as received (PDU mode: the PDU's octets)
    std::string latin1;            // their ISO 8859-1 reading
    int ref = -1;                  // the +CMGS reference; -1 when the modem answered an error
    std::string error;             // that error's result line ("+CMS ERROR: 500"), else empty
    // PDU mode only.
    bool pdu = false;
    std::string alphabet;          // "gsm7", "8bit", "ucs2"; empty for a PDU not understood
    int messageClass = -1;
    int concatRef = -1;            // a part of a concatenated message: reference, parts, part
    int concatTotal = 0;
    int concatPart = 0;
    std::string text;              // the part's text, UTF-8
    std::string message;           // the whole message, UTF-8, on the part that completes it
    std::string why;               // why the PDU was refused
};

// The current UTC time as "2024-05-01T12:00:00.123Z".
std::string utcNow();
// The current UTC time in the modem's time-stamp form "24/05/01,12:00:00+00".
std::string modemTimestamp();
// Lower-case hex of every byte.
std::string toHex(std::string_view bytes);
// Decodes an even count of hex digits; false (out unchanged) on anything else.
bool fromHex(std::string_view hex, std::string& out);
// A quoted JSON string of ISO 8859-1 bytes (so any byte sequence gives valid UTF-8).
std::string jsonString(std::string_view latin1);
// The same of UTF-8 text, passed through as it is.
std::string jsonUtf8(std::string_view utf8);

// {"time":...,"to":...,"csmp":[fo,vp,pid,dcs],"hex":...,"text":...,"ref":N|null[,"error":...]}
// PDU mode adds "mode":"pdu","alphabet":...,"class":N|null[,"udh":{"ref":R,"parts":T,
// "part":P}][,"message":... on the part that completes it][,"why":...], "text" in UTF-8.
std::string submissionJson(const Submission& s);
// {"time":...,"command":...}
std::string commandJson(const std::string& time, std::string_view command);

// An append-only file of JSON lines; each line goes out in one write, so a reader never
// sees half of one. A closed (never opened) file ignores writes.
class JsonLines {
public:
    JsonLines() = default;
    ~JsonLines();
    JsonLines(const JsonLines&) = delete;
    JsonLines& operator=(const JsonLines&) = delete;
    // false when the file cannot be opened for appending.
    [[nodiscard]] bool open(const std::string& path);
    void close();
    void append(const std::string& json);

private:
    int fd_ = -1;
};

}  // namespace gsms::sim

// INI files as other programs write them (TEVRAK.INI, KORLIN.INI, job files, hestrum.ini): the
// text encodings, the reader and the writer.
//
// Input: a section, a key and a value to write, then the file's bytes. What must hold:
//   - decoding and encoding again gives any file back byte for byte (plain, UTF-8 with its
//     mark, UTF-16 either way with a lone surrogate or an odd last byte);
//   - a value written (UTF-8, as the gateway's strings are) is read back as written (trimmed
//     of the blanks reading trims, without the quotes reading removes), in the file's own
//     encoding;
//   - every other key keeps its value, and every line of the file stays, in order (or, when a
//     plain single-byte file had to become UTF-8, as many lines as before besides the new);
//   - a name or value with a line break or a NUL is refused, so that nothing it holds can
//     become a line of its own (a PIN= smuggled into TEVRAK.INI).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "platform/ini_file.h"
#include "platform/text_encoding.h"

using namespace gsms;

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimmed(std::string s) {
    while (!s.empty() && blank(s.front())) s.erase(s.begin());
    while (!s.empty() && (blank(s.back()) || s.back() == '\r')) s.pop_back();
    return s;
}

bool holdsLineBreak(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

// What reading gives back for a written value.
std::string readBack(const std::string& value) {
    std::string v = trimmed(value);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

// A name the file can hold as that name: no line break, no blanks around it (reading trims
// them), in a section name no ']', in a key name no '=' and not the start of a comment or a
// section.
bool usableSection(const std::string& s) {
    return !s.empty() && !holdsLineBreak(s) && trimmed(s) == s && s.find(']') == std::string::npos;
}
bool usableKey(const std::string& k) {
    return !k.empty() && !holdsLineBreak(k) && trimmed(k) == k &&
           k.find('=') == std::string::npos && k.front() != ';' && k.front() != '[';
}

bool sameNameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Sections and keys of the file as probes (in the gateway's UTF-8): each key line's
// name with the section header before it.
struct Probe {
    std::string section, key;
};
std::vector<Probe> probesOf(const ini::Text& t) {
    std::vector<Probe> out;
    std::string section;
    const auto encoding = static_cast<text::Encoding>(t.encoding);
    for (const std::string& raw : t.lines) {
        const std::string line = trimmed(raw);
        if (line.size() >= 2 && line.front() == '[' && line.find(']') != std::string::npos) {
            section = text::toUtf8(encoding, trimmed(line.substr(1, line.find(']') - 1)));
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || line.front() == ';') continue;
        out.push_back({section, text::toUtf8(encoding, trimmed(line.substr(0, eq)))});
        if (out.size() == 32) break;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto utf8 = [](const std::string& s) {
        return text::fromCodePoints(text::codePoints(s));
    };
    const std::string section = utf8(in.ConsumeRandomLengthString(24));
    const std::string key = utf8(in.ConsumeRandomLengthString(24));
    const std::string value = utf8(in.ConsumeRandomLengthString(80));
    const std::string file = in.ConsumeRemainingBytesAsString();

    const text::Decoded decoded = text::decode(file);
    FUZZ_CHECK(text::encode(decoded.encoding, decoded.text, decoded.tail) == file);

    const ini::Text before(file);
    (void)ini::parseInt(before.value(section, key).value_or(""));
    const std::vector<Probe> probes = probesOf(before);
    std::vector<std::optional<std::string>> valuesBefore;
    for (const Probe& p : probes) valuesBefore.push_back(before.value(p.section, p.key));

    if (holdsLineBreak(section) || holdsLineBreak(key) || holdsLineBreak(value)) {
        // Refused before any file is touched.
        FUZZ_CHECK(!ini::write("refused.ini", section, key, value));
        FUZZ_CHECK(::access("refused.ini", F_OK) != 0);
        return 0;
    }
    const std::string written = ini::withValue(file, section, key, value);
    const ini::Text after(written);
    FUZZ_CHECK(after.encoding == before.encoding);
    // The gateway writes names of its own ("Config", "LastAlarm"); what a name that is not
    // one (" x", "a=b") does to the file is nobody's concern but the lines it keeps.
    const bool names = usableSection(section) && usableKey(key);
    if (names) FUZZ_CHECK(after.value(section, key) == readBack(value));

    // Every other line of the file is still there, in order: one line was replaced, or the key
    // added to its section, or the section and the key added at the end.
    const std::vector<std::string>& was = before.lines;
    const std::vector<std::string>& now = after.lines;
    std::size_t same = 0;
    while (same < was.size() && same < now.size() && was[same] == now[same]) ++same;
    auto restIs = [&](std::size_t from, std::size_t fromWas) {
        return now.size() - from == was.size() - fromWas &&
               std::equal(now.begin() + static_cast<std::ptrdiff_t>(from), now.end(),
                          was.begin() + static_cast<std::ptrdiff_t>(fromWas));
    };
    const bool becameUtf8 = before.encoding == 0 && text::isMultiByteUtf8(written) &&
                            !text::isMultiByteUtf8(file);
    FUZZ_CHECK(now == was || (same < was.size() && restIs(same + 1, same + 1)) ||
               restIs(same + 1, same) || (same == was.size() && now.size() == was.size() + 2) ||
               (becameUtf8 && now.size() - was.size() <= 2));

    for (std::size_t i = 0; names && i < probes.size(); ++i) {
        const Probe& p = probes[i];
        if (sameNameNoCase(p.section, section) && sameNameNoCase(p.key, key)) continue;
        FUZZ_CHECK(after.value(p.section, p.key) == valuesBefore[i]);
    }
    return 0;
}

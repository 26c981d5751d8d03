#include "platform/ini_file.h"

#include <strings.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <vector>

#include "platform/file_append.h"
#include "platform/text_encoding.h"

namespace gsms::ini {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "[name]" lines give the section name.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[') return std::nullopt;
    auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return KeyLine{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

text::Encoding encodingOf(const Text& t) { return static_cast<text::Encoding>(t.encoding); }

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A line of a plain file as UTF-8, its name and its value each read as the reader reads them.
std::string lineToUtf8(const std::string& line) {
    const std::string_view l(line);
    // Split where the reader splits: a section's name apart from what follows its ']', a key
    // apart from its value, since each may read as UTF-8 while the whole line does not.
    std::size_t cut = std::string_view::npos;
    if (sectionName(line)) cut = line.find(']');
    else if (keyLine(line)) cut = line.find('=');
    if (cut == std::string_view::npos) return text::plainToUtf8(l);
    return text::plainToUtf8(l.substr(0, cut)) + line[cut] + text::plainToUtf8(l.substr(cut + 1));
}

// A plain file takes new text in the encoding it already has: UTF-8 when it reads as UTF-8,
// else the single-byte encoding while every piece fits there and reads back the same. Else the
// whole file becomes UTF-8, each line as the gateway read it, so that nothing is lost and
// every other value reads as before.
void putPlain(Text& doc, const std::vector<std::string*>& pieces) {
    std::string whole;
    for (const auto& l : doc.lines) whole += l, whole += '\n';
    const bool utf8 =
        text::isMultiByteUtf8(whole) || (text::kAsciiFileTakesUtf8 && isAscii(whole));
    if (utf8) return;
    std::vector<std::string> single(pieces.size());
    bool fits = true;
    for (std::size_t i = 0; i < pieces.size() && fits; ++i)
        fits = text::utf8ToAnsi(*pieces[i], single[i]) &&
               text::plainToUtf8(single[i]) == *pieces[i];
    if (fits) {
        for (std::size_t i = 0; i < pieces.size(); ++i) *pieces[i] = std::move(single[i]);
        return;
    }
    for (auto& l : doc.lines) l = lineToUtf8(l);
}

bool holdsLineBreak(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::string withValue(const std::string& current, std::string_view section, std::string_view key,
                      std::string_view value) {
    Text doc(current);
    std::string name(section), k(key), v(value);
    if (encodingOf(doc) == text::Encoding::Plain) putPlain(doc, {&name, &k, &v});
    const std::string newLine = k + "=" + v;

    // Find the first section of that name and the first key in it.
    std::ptrdiff_t sectionStart = -1;
    std::ptrdiff_t sectionEnd = -1;  // index after the last non-blank line of the section
    bool replaced = false;
    auto& lines = doc.lines;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = sectionName(lines[i])) {
            if (sectionStart >= 0) break;
            if (doc.sameName(*name, section)) {
                sectionStart = static_cast<std::ptrdiff_t>(i);
                sectionEnd = sectionStart + 1;
            }
            continue;
        }
        if (sectionStart < 0) continue;
        if (!trim(lines[i]).empty()) sectionEnd = static_cast<std::ptrdiff_t>(i) + 1;
        auto kl = keyLine(lines[i]);
        if (kl && doc.sameName(kl->key, key)) {
            lines[i] = newLine;
            replaced = true;
            break;
        }
    }
    if (!replaced) {
        if (sectionStart >= 0) {
            lines.insert(lines.begin() + sectionEnd, newLine);
        } else {
            lines.push_back("[" + name + "]");
            lines.push_back(newLine);
        }
    }
    return doc.bytes();
}

Text::Text(std::string_view bytes) {
    text::Decoded d = text::decode(bytes);
    encoding = static_cast<unsigned char>(d.encoding);
    tail = std::move(d.tail);
    std::string_view t = d.text;
    cut = !tail.empty() || (!t.empty() && t.back() != '\n');
    std::size_t pos = 0;
    while (pos < t.size()) {
        const auto nl = t.find('\n', pos);
        std::string_view line = t.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
            crlf = true;
        }
        lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        pos = nl + 1;
    }
    // A new file, or one without a line end yet, gets the platform's.
    if (t.find('\n') == std::string_view::npos) crlf = crlf || files::kLineEnd == "\r\n";
}

bool Text::sameName(std::string_view inFile, std::string_view wanted) const {
    if (encodingOf(*this) != text::Encoding::Plain || isAscii(inFile))
        return equalNoCase(inFile, wanted);
    return equalNoCase(text::plainToUtf8(inFile), wanted);
}

std::string Text::bytes() const {
    std::string out;
    for (const auto& l : lines) {
        out += l;
        out += crlf ? "\r\n" : "\n";
    }
    return text::encode(encodingOf(*this), out, tail);
}

namespace {

// A value in matching quotes loses them, as with the private-profile functions, except when
// it is several quoted strings: `"C:\Alarm Scripts\on sms.cmd" "%s" "%s"` would otherwise
// lose its first and last quote only and name no program. Such a value is told by its first
// quote closing before the end with a blank after it.
std::string_view unquoted(std::string_view v) {
    if (v.size() < 2 || (v.front() != '"' && v.front() != '\'') || v.back() != v.front())
        return v;
    const std::size_t close = v.find(v.front(), 1);
    if (close + 1 < v.size() && (v[close + 1] == ' ' || v[close + 1] == '\t')) return v;
    return v.substr(1, v.size() - 2);
}

}  // namespace

std::optional<std::string_view> Text::raw(std::string_view section,
                                          std::string_view key) const {
    bool inSection = false;
    bool sectionSeen = false;
    for (const auto& line : lines) {
        if (auto name = sectionName(line)) {
            // The first of duplicate sections wins: a later one with the same name is skipped.
            if (inSection) return std::nullopt;
            inSection = !sectionSeen && sameName(*name, section);
            if (inSection) sectionSeen = true;
            continue;
        }
        if (!inSection) continue;
        auto kl = keyLine(line);
        if (!kl || !sameName(kl->key, key)) continue;
        return unquoted(kl->value);
    }
    return std::nullopt;
}

std::optional<std::string> Text::value(std::string_view section, std::string_view key) const {
    auto v = raw(section, key);
    if (!v) return std::nullopt;
    return text::toUtf8(encodingOf(*this), *v);
}

std::optional<std::string> read(const std::string& path, std::string_view section,
                                std::string_view key, Failure* failure) {
    std::string bytes;
    if (files::readWhole(path, bytes, failure) <= 0) return std::nullopt;
    return Text(bytes).value(section, key);
}

bool write(const std::string& path, std::string_view section, std::string_view key,
           std::string_view value, Failure* failure) {
    if (holdsLineBreak(section) || holdsLineBreak(key) || holdsLineBreak(value)) {
        if (failure != nullptr) *failure = Failure{Failure::CannotWrite, EINVAL};
        return false;
    }
    return files::rewrite(
               path,
               [&](const std::string& current) { return withValue(current, section, key, value); },
               failure) == 0;
}

int parseInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool neg = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
    long long v = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i++] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (neg) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    if (v < INT_MIN) v = INT_MIN;
    return static_cast<int>(v);
}

}  // namespace gsms::ini

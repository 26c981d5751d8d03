#include "frontend/window_forms.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/profile_file.h"
#include "platform/file_append.h"
#include "platform/program_args.h"
#include "platform/text_encoding.h"
#include "sms/sms_coding.h"

namespace gsms {

namespace {

const char* const kHistoryFile = "tevrak.ini";
const char* const kHistorySection = "LastPhoneNums";
constexpr std::size_t kHistoryValue = 64;  // 63 characters and the terminator

// The record's text capacities, terminator excluded.
constexpr int kPortLength = sizeof(GatewaySettings::portName) - 1;
constexpr int kModeLength = sizeof(GatewaySettings::portMode) - 1;
constexpr int kPinLength = sizeof(GatewaySettings::pin) - 1;
constexpr int kNumberLength = sizeof(GatewaySettings::number) - 1;
constexpr int kPort2Length = sizeof(GatewaySettings::Modem::portName) - 1;
constexpr int kMode2Length = sizeof(GatewaySettings::Modem::portMode) - 1;
constexpr int kPin2Length = sizeof(GatewaySettings::Modem::pin) - 1;
// Seconds that still fit the record's millisecond field.
constexpr long long kMaxRefreshSeconds = INT_MAX / 1000;

bool g_settingsModified = false;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

template <std::size_t N>
void storeText(char (&field)[N], const std::string& text) {
    // The dialogs limit characters, the fields hold bytes: a longer text is cut between two.
    const std::size_t n = text::utf8HeadBytes(text, N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace

std::vector<std::string> readNumberHistory() {
    const ProfileFile history(kHistoryFile);
    std::vector<std::string> numbers;
    for (int i = 1; i <= kNumberHistorySize; ++i) {
        char value[kHistoryValue];
        history.readString(kHistorySection, std::to_string(i).c_str(), "", sizeof value, value);
        if (value[0] != '\0') numbers.emplace_back(value);
    }
    return numbers;
}

int typedLength(std::u16string_view typed) {
    int length = 0;
    for (std::size_t i = 0; i < typed.size(); ++i)
        length += typed[i] == u'\n' && (i == 0 || typed[i - 1] != u'\r') ? 2 : 1;
    return length;
}

bool rememberNumber(const std::string& number, const std::vector<std::string>& shown) {
    if (std::find(shown.begin(), shown.end(), number) != shown.end()) return false;
    const ProfileFile history(kHistoryFile);
    for (int k = kNumberHistorySize; k >= 2; --k) {
        char value[kHistoryValue];
        history.readString(kHistorySection, std::to_string(k - 1).c_str(), "", sizeof value,
                           value);
        (void)history.writeString(kHistorySection, std::to_string(k).c_str(), value);
    }
    (void)history.writeString(kHistorySection, "1", number.c_str());
    return true;
}

std::optional<long long> parseInteger(std::string_view text, bool allowSign) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    std::size_t i = 0;
    bool negative = false;
    if (allowSign && i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > 0xFFFFFFFFLL) return std::nullopt;
    }
    return negative ? -value : value;
}

FormValue takeSigned(std::string_view text) {
    const auto v = parseInteger(text, true);
    if (!v || *v < INT_MIN || *v > INT_MAX) return {0, "Please enter an integer."};
    return {*v, {}};
}

FormValue takeUnsigned(std::string_view text, long long maximum) {
    const auto v = parseInteger(text, false);
    if (!v || *v > maximum) return {0, "Please enter a positive integer."};
    return {*v, {}};
}

FormValue takeUnsignedInRange(std::string_view text, long long minimum, long long maximum) {
    const auto v = parseInteger(text, false);
    if (!v) return {0, "Please enter a positive integer."};
    if (*v < minimum || *v > maximum)
        return {0, "Please enter an integer between " + std::to_string(minimum) + " and " +
                       std::to_string(maximum) + "."};
    return {*v, {}};
}

std::array<std::string, 4> splitPortMode(std::string_view mode) {
    std::array<std::string, 4> tokens;
    std::size_t t = 0;
    std::size_t i = 0;
    const auto alnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    // Like the old pattern: what follows the fourth token does not matter.
    for (; t < 4; ++t) {
        if (t > 0) {
            if (i >= mode.size() || mode[i] != ',') break;
            ++i;
        }
        const std::size_t start = i;
        while (i < mode.size() && alnum(mode[i])) ++i;
        if (i == start) break;
        tokens[t] = std::string(mode.substr(start, i - start));
    }
    if (t != 4) tokens = {};
    return tokens;
}

std::string joinPortMode(std::string_view baud, const std::array<std::string, 4>& tokens) {
    return std::string(baud) + ',' + tokens[1] + ',' + tokens[2] + ',' + tokens[3];
}

SettingsForm settingsForm(const GatewaySettings& s) {
    SettingsForm form;
    form.modeTokens = splitPortMode(s.portMode);
    form.port = s.portName;
    form.baud = form.modeTokens[0];
    form.parity = form.modeTokens[1];
    form.pin = s.pin;
    form.number = s.number;
    form.retries = std::to_string(s.retryCount.load());
    form.retryDelay = std::to_string(static_cast<unsigned>(s.retryDelay.load()));
    form.incoming = s.incomingEnable.load() != 0;
    form.pduCoding = s.smsCoding.load() == kSmsCodingPdu;
    form.refreshSeconds = std::to_string(static_cast<unsigned>(s.qualityPollMs.load() / 1000));
    form.techAlarm = std::to_string(s.techAlarmNbr.load());
    form.quietMinutes = std::to_string(s.sleepMinAfterAlarm.load());
    form.port2 = s.modem2.portName;
    form.mode2 = s.modem2.portMode[0] != '\0' ? s.modem2.portMode : s.portMode;
    form.pin2 = s.modem2.pin;
    return form;
}

SettingsLimits settingsLimits(const SettingsForm& form) {
    const auto& t = form.modeTokens;
    const int rest = static_cast<int>(t[1].size() + t[2].size() + t[3].size()) + 3;
    return {kPortLength, std::max(0, kModeLength - rest), kPinLength, kNumberLength,
            kPort2Length, kMode2Length, kPin2Length};
}

FormRefusal checkSettingsForm(const SettingsForm& form) {
    const struct {
        int control;
        FormValue value;
    } checks[] = {
        {kSettingsRetryDelay, takeUnsigned(form.retryDelay, INT_MAX)},
        {kSettingsRefresh, takeUnsigned(form.refreshSeconds, kMaxRefreshSeconds)},
        {kSettingsTechAlarm, takeSigned(form.techAlarm)},
        {kSettingsQuiet, takeSigned(form.quietMinutes)},
    };
    for (const auto& c : checks)
        if (!c.value.message.empty()) return {c.control, c.value.message};
    const std::string port2 = trimmed(form.port2);
    if (port2.empty()) return {};
    // Two links on one port would each take the other's answers.
    if (port2 == trimmed(form.port))
        return {kSettingsPort2, "The second modem needs a port of its own."};
    if (splitPortMode(trimmed(form.mode2))[0].empty())
        return {kSettingsMode2,
                "Please enter the second modem's mode as baud rate, parity, data bits and stop "
                "bits, as 96,N,8,1."};
    return {};
}

int applySettingsForm(const SettingsForm& form, GatewaySettings& s) {
    if (checkSettingsForm(form).control != 0) return -1;
    storeText(s.portName, form.port);
    s.retryCount = std::atoi(form.retries.c_str());
    s.incomingEnable = form.incoming ? 1 : 0;
    s.smsCoding = form.pduCoding ? kSmsCodingPdu : kSmsCodingText;
    storeText(s.pin, form.pin);
    storeText(s.number, form.number);
    s.retryDelay = static_cast<int>(takeUnsigned(form.retryDelay, INT_MAX).value);
    s.qualityPollMs =
        static_cast<int>(takeUnsigned(form.refreshSeconds, kMaxRefreshSeconds).value) * 1000;
    s.techAlarmNbr = static_cast<int>(takeSigned(form.techAlarm).value);
    s.sleepMinAfterAlarm = static_cast<int>(takeSigned(form.quietMinutes).value);
    storeText(s.portMode, joinPortMode(form.baud, form.modeTokens));
    // Without a port there is no second modem: nothing of it is kept.
    s.modem2 = {};
    if (!trimmed(form.port2).empty()) {
        storeText(s.modem2.portName, trimmed(form.port2));
        storeText(s.modem2.portMode, trimmed(form.mode2));
        storeText(s.modem2.pin, form.pin2);
    }
    return 0;
}

bool settingsModified() { return g_settingsModified; }
void setSettingsModified(bool modified) { g_settingsModified = modified; }

void windowTrace(std::string_view line) {
    static const std::string path = program::environment("GSMS_WINDOW_TRACE").value_or("");
    if (path.empty()) return;
    std::string whole(line);
    whole += '\n';
    (void)files::append(path, whole, files::IfMissing::Create);
}

std::string traceColour(std::uint32_t colour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    return text;
}

}  // namespace gsms

#include "core/settings_update.h"

#include <cstdio>

#include "core/log.h"
#include "core/profile_file.h"
#include "core/settings.h"

namespace gsms {

namespace {

constexpr const char* kSection = "Config";
constexpr const char* kModem2Section = "Modem2";

void writeInt(const char* key, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%i", value);
    tevrakIni().writeString(kSection, key, text);
}

template <typename... Args>
void report(const char* format, Args... args) {
    char line[paths::kPathSize + 256];  // a port name of any length is shown whole
    std::snprintf(line, sizeof line, format, args...);
    fileLog(line);
    windowLog(nullptr, line, kColorGrey);
}

void report(const char* text) {
    fileLog(text);
    windowLog(nullptr, text, kColorGrey);
}

}  // namespace

int saveSettings() {
    const GatewaySettings& s = settings();
    ProfileFile& ini = tevrakIni();
    ini.writeString(kSection, "Port", s.portName);
    ini.writeString(kSection, "Mode", s.portMode);
    writeInt("RetryCount", s.retryCount.load());
    writeInt("RetryDelay", s.retryDelay.load());
    writeInt("IncomingEnable", s.incomingEnable.load());
    writeInt("QualityPollEverySecs", s.qualityPollMs.load() / 1000);
    // An empty number or PIN leaves what the file has.
    if (s.number[0] != '\0') ini.writeString(kSection, "Number", s.number);
    if (s.pin[0] != '\0') ini.writeString(kSection, "PIN", s.pin);
    writeInt("TechAlarmNbr", s.techAlarmNbr.load());
    writeInt("SleepMinAfterAlarm", s.sleepMinAfterAlarm.load());
    writeInt("SmsCoding", s.smsCoding.load());
    // Section Modem2 only where a second modem is named, or was and is no more: a file that
    // never had one gets no section.
    const bool second = s.modem2.portName[0] != '\0';
    const bool secondRemoved =
        !second && !ini.readString(kModem2Section, "Port", "").empty();
    if (second) {
        ini.writeString(kModem2Section, "Port", s.modem2.portName);
        ini.writeString(kModem2Section, "Mode", s.modem2.portMode);
        if (s.modem2.pin[0] != '\0') ini.writeString(kModem2Section, "PIN", s.modem2.pin);
    } else if (secondRemoved) {
        ini.writeString(kModem2Section, "Port", "");
    }

    report("Settings parameters updated");
    report("New settings parameters :");
    report("Com Port: %s.  Com Port settings: %s", s.portName, s.portMode);
    // The PIN itself never reaches a log: only whether one is set.
    report("Phone Number: %s. PIN: %s", s.number, s.pin[0] != '\0' ? "****" : "");
    report("Retries on Errors %i every %i seconds", s.retryCount.load(), s.retryDelay.load());
    report("Enable incoming: %i. Refresh Signal Indicator every %i seconds",
           s.incomingEnable.load(), s.qualityPollMs.load() / 1000);
    report("Start techalarm: %d", s.techAlarmNbr.load());
    report("SMS coding: %d", s.smsCoding.load());
    if (second)
        report("Second modem: Com Port: %s.  Com Port settings: %s. PIN: %s", s.modem2.portName,
               s.modem2.portMode, s.modem2.pin[0] != '\0' ? "****" : "");
    else if (secondRemoved)
        report("Second modem: none");
    return 0;
}

}  // namespace gsms

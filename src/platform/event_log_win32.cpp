// Windows: ReportEventW into the Application log. The entry's text is the event's one insert
// string; the message table of gsmsd.exe (src/app/gsmsd_events.mc), which the source's
// registry key names, makes it the whole description.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/event_log.h"
#include "platform/win32_text.h"

namespace gsms {
namespace {

std::atomic<HANDLE> source{nullptr};

// The ids of gsmsd_events.mc: severity in the top two bits, the message number below.
constexpr DWORD kErrorEvent = 0xC0000001;
constexpr DWORD kWarningEvent = 0x80000002;
constexpr DWORD kInformationEvent = 0x40000003;

}  // namespace

void openEventLog() {
    if (source.load() != nullptr) return;
    std::wstring name;
    for (const char* p = kEventSource; *p != '\0'; ++p) name += static_cast<wchar_t>(*p);
    source.store(RegisterEventSourceW(nullptr, name.c_str()));
}

void reportEvent(EventKind kind, std::string_view text) {
    HANDLE log = source.load();
    if (log == nullptr) return;
    // The gateway's texts are UTF-8; a NUL would end the entry early.
    std::wstring wide = win32::wide(text);
    for (wchar_t& c : wide)
        if (c == L'\0') c = L' ';
    const wchar_t* strings[] = {wide.c_str()};
    const WORD type = kind == EventKind::Error     ? EVENTLOG_ERROR_TYPE
                      : kind == EventKind::Warning ? EVENTLOG_WARNING_TYPE
                                                   : EVENTLOG_INFORMATION_TYPE;
    const DWORD id = kind == EventKind::Error     ? kErrorEvent
                     : kind == EventKind::Warning ? kWarningEvent
                                                  : kInformationEvent;
    (void)ReportEventW(log, type, 0, id, nullptr, 1, 0, strings, nullptr);
}

}  // namespace gsms

#include <windows.h>

#include <io.h>

#include "platform/console.h"

namespace gsms::console {
namespace {

// Manual reset, never closed: the handler may run on its own thread until the process ends.
HANDLE stopEvent = nullptr;

BOOL WINAPI onControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            SetEvent(stopEvent);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The system ends the process when this returns: the main thread ends it first.
            SetEvent(stopEvent);
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool showsColours(std::FILE* stream) {
    const int fd = _fileno(stream);
    if (fd < 0 || !_isatty(fd)) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return false;
    return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void prepareStopRequests() {
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);
}

void waitForStopRequest() {
    if (stopEvent != nullptr) WaitForSingleObject(stopEvent, INFINITE);
    else Sleep(INFINITE);
}

}  // namespace gsms::console

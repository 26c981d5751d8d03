// Windows serial port: the COM port opened exclusively for overlapped I/O, its line settings
// from the mode text through BuildCommDCB, the time-outs kept by the driver. One read and one
// write may be pending at the same time, each with its own request record and event.
// close() and open() may run while another thread reads or writes: each transfer holds the
// port's line lock shared, and the handle is closed or put in place only under it exclusively,
// after the pending transfers were cancelled.
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "platform/serial_port.h"
#include "platform/win32_errors.h"
#include "platform/win32_text.h"

namespace gsms {

struct SerialPort::Native {
    std::atomic<HANDLE> port{INVALID_HANDLE_VALUE};
    // Shared for a transfer or a change of the line's settings, exclusive to close the handle
    // or put a new one in place. A leaf: nothing is taken while it is held.
    std::shared_mutex line;
    HANDLE readEvent = nullptr;   // manual reset, completion of reads
    HANDLE writeEvent = nullptr;  // manual reset, completion of writes
    OVERLAPPED readRequest{};     // its file offset stays 0: a COM port has none
    OVERLAPPED writeRequest{};
};

namespace {

// Waits for a transfer that did not complete at once. The bytes moved, or -1.
int finish(HANDLE port, OVERLAPPED& request, BOOL started, DWORD moved) {
    if (started) return static_cast<int>(moved);
    if (GetLastError() != ERROR_IO_PENDING) return -1;
    const BOOL ok = GetOverlappedResult(port, &request, &moved, TRUE);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    ResetEvent(request.hEvent);
    // Wine ends a transfer whose time-out passed with ERROR_TIMEOUT where Windows reports
    // success: either way it is the bytes moved until then (0 when nothing came).
    if (ok || error == ERROR_TIMEOUT) return static_cast<int>(moved);
    return -1;
}

DWORD clampCount(std::size_t count) {
    return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
}

}  // namespace

std::string SerialPort::devicePath(const std::string& portName) {
    // "COM1" to "COM9" open under their bare names, COM10 and above only in the device
    // namespace; the namespace serves all of them alike.
    if (portName.size() > 3 && _strnicmp(portName.c_str(), "COM", 3) == 0 &&
        portName.find_first_not_of("0123456789", 3) == std::string::npos)
        return "\\\\.\\" + portName;
    return portName;
}

SerialPort::SerialPort(const char* deviceName) : native_(std::make_unique<Native>()) {
    if (deviceName != nullptr) deviceName_ = deviceName;
    native_->readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    native_->writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    native_->readRequest.hEvent = native_->readEvent;
    native_->writeRequest.hEvent = native_->writeEvent;
}

SerialPort::~SerialPort() {
    if (native_->port != INVALID_HANDLE_VALUE) CloseHandle(native_->port);
    if (native_->readEvent != nullptr) CloseHandle(native_->readEvent);
    if (native_->writeEvent != nullptr) CloseHandle(native_->writeEvent);
}

void SerialPort::releaseAtProcessEnd() {}

bool SerialPort::isOpen() const { return native_->port.load() != INVALID_HANDLE_VALUE; }

int SerialPort::open() {
    std::unique_lock lock(native_->line);
    if (isOpen()) {
        lastError_ = EBUSY;
        return 0;
    }
    if (deviceName_.empty()) {
        lastError_ = ENOENT;
        return 0;
    }
    if (native_->readEvent == nullptr || native_->writeEvent == nullptr) {
        lastError_ = ENOMEM;
        return 0;
    }
    HANDLE h = CreateFileW(win32::wide(devicePath(deviceName_)).c_str(),
                           GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A COM port that another program holds answers "access denied".
        lastError_ = error == ERROR_ACCESS_DENIED ? EBUSY : win32::errnoFrom(error);
        return 0;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) {
        // A file or another device under that name: no serial line to talk to.
        CloseHandle(h);
        lastError_ = ENOTTY;
        return 0;
    }
    native_->port = h;
    lock.unlock();
    if (baud_ != 0) (void)applyLine();
    setTimeouts(500);
    purge();
    return 1;
}

void SerialPort::close() {
    {
        // The pending transfers end now rather than at their time-outs.
        std::shared_lock lock(native_->line);
        if (!isOpen()) return;
        (void)CancelIoEx(native_->port.load(), nullptr);
    }
    std::unique_lock lock(native_->line);
    const HANDLE h = native_->port.exchange(INVALID_HANDLE_VALUE);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

bool SerialPort::applyLine() {
    std::shared_lock lock(native_->line);
    if (!isOpen()) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(native_->port, &dcb)) return false;
    dcb.BaudRate = baud_;
    dcb.ByteSize = static_cast<BYTE>(dataBits_);
    dcb.Parity = static_cast<BYTE>(parity_);
    dcb.StopBits = static_cast<BYTE>(stopBits_);
    dcb.fAbortOnError = FALSE;
    return SetCommState(native_->port, &dcb) != 0;
}

void SerialPort::configure(const char* mode) {
    std::shared_lock lock(native_->line);
    if (!isOpen() || mode == nullptr) return;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(native_->port, &dcb)) return;
    // Also switches hardware and software flow control off.
    if (!BuildCommDCBA(mode, &dcb)) return;
    baud_ = dcb.BaudRate;
    dataBits_ = dcb.ByteSize;
    parity_ = dcb.Parity;
    stopBits_ = dcb.StopBits;
    // A line error must not abort the pending reads and writes.
    dcb.fAbortOnError = FALSE;
    (void)SetCommState(native_->port, &dcb);
}

void SerialPort::setTimeouts(int unit) {
    std::shared_lock lock(native_->line);
    if (!isOpen()) return;
    const DWORD t = unit > 0 ? static_cast<DWORD>(unit) * 10 : 0;
    COMMTIMEOUTS timeouts{};
    (void)GetCommTimeouts(native_->port, &timeouts);
    timeouts.ReadIntervalTimeout = t;
    timeouts.ReadTotalTimeoutMultiplier = t;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = t;
    timeouts.WriteTotalTimeoutConstant = t;
    (void)SetCommTimeouts(native_->port, &timeouts);
}

void SerialPort::purge() {
    std::shared_lock lock(native_->line);
    if (isOpen()) (void)PurgeComm(native_->port.load(), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

int SerialPort::read(void* buffer, std::size_t count) {
    std::shared_lock lock(native_->line);
    const HANDLE port = native_->port.load();
    if (port == INVALID_HANDLE_VALUE) return -1;
    DWORD moved = 0;
    const BOOL started = ReadFile(port, buffer, clampCount(count), &moved, &native_->readRequest);
    return finish(port, native_->readRequest, started, moved);
}

int SerialPort::write(const void* buffer, std::size_t count) {
    std::shared_lock lock(native_->line);
    const HANDLE port = native_->port.load();
    if (port == INVALID_HANDLE_VALUE) return -1;
    DWORD moved = 0;
    const BOOL started = WriteFile(port, buffer, clampCount(count), &moved, &native_->writeRequest);
    return finish(port, native_->writeRequest, started, moved);
}

}  // namespace gsms

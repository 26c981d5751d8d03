// SerialPort: the modem's serial line.
//
// POSIX (serial_port_posix.cpp), over termios: open() takes the device exclusively (TIOCEXCL
// plus an advisory flock), raw mode; closing it, or releaseAtProcessEnd(), clears TIOCEXCL.
// Port names "COMn" mean /dev/ttyS<n-1>; any other name is a device path, as long as the
// system allows (a /dev/serial/by-id/... link is followed).
// configure() parses a Windows mode text ("96,N,8,1", "baud=9600 parity=N data=8 stop=1").
// Windows (serial_port_win32.cpp): the COM port opened exclusively for overlapped I/O
// ("COMn" as "\\.\COMn", so that COM10 and above open too); BuildCommDCB reads the mode
// text; the time-outs are the driver's; abort-on-error is always off.
// setTimeouts(unit): t = unit x 10 ms; a read waits at most t per byte (0 bytes when none came),
// a write of n bytes at most t x (n + 1).
// Thread safety: one thread may read while another writes; never two reads or two writes at once.
// close() and a later open() may run while other threads read or write: a transfer in progress
// ends on the line it began on, the ones after a close fail at once (-1), and those after the
// open use the new line. (POSIX: the new line is put under the descriptor number of the old;
// Windows: a lock inside the port keeps the handle from being closed under a transfer.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace gsms {

class SerialPort {
public:
    explicit SerialPort(const char* deviceName);
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // 1 on success, 0 on failure (missing device, held by another program, no terminal);
    // lastError() then holds the system's reason. After close() it opens the device name anew
    // (a link is resolved again) and applies the stored line settings again.
    [[nodiscard]] int open();
    // Lets the line go (the device, its exclusive hold and lock), so that a device that comes
    // back, or another program, may open it; reads and writes fail until the next open().
    void close();
    // Applies a mode text; an unparsable text changes nothing.
    void configure(const char* mode);
    // unit in tens of milliseconds.
    void setTimeouts(int unit);
    // Discards what the driver holds in both directions.
    void purge();
    // Bytes read (0 when the time-out passed without data), -1 on error, when not open, and
    // at once (after what was still buffered) when the other side hung up.
    [[nodiscard]] int read(void* buffer, std::size_t count);
    // Bytes written, -1 on error or when not open.
    [[nodiscard]] int write(const void* buffer, std::size_t count);

    bool isOpen() const;
    const std::string& deviceName() const { return deviceName_; }
    // Why the last open failed: an errno (EBUSY when another program holds the port).
    int lastError() const { return lastError_; }
    // Gives back every terminal a SerialPort of this process holds exclusively, for a process
    // that ends without closing its port (POSIX: clears TIOCEXCL, async-signal-safe; Windows:
    // nothing, the system releases the port with the process).
    static void releaseAtProcessEnd();
    // The device path a port name resolves to ("COM2" -> "/dev/ttyS1"; "\\.\COM2" on Windows).
    static std::string devicePath(const std::string& portName);

    // Line settings stored by the last successful configure (baud 0: none yet).
    std::uint32_t baudRate() const { return baud_; }
    int dataBits() const { return dataBits_; }
    int parity() const { return parity_; }      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits() const { return stopBits_; }  // 0 one, 1 one and a half, 2 two

private:
    // The platform's side: the descriptor and the time-out (POSIX); the handle, the two
    // events and the two request records (Windows). Defined in the platform's file.
    struct Native;
    bool applyLine();
    std::string deviceName_;
    int lastError_ = 0;
    std::unique_ptr<Native> native_;
    std::uint32_t baud_ = 0;
    int dataBits_ = 8;
    int parity_ = 0;
    int stopBits_ = 0;
};

// POSIX: the Windows mode text parsed (Windows leaves that to BuildCommDCB). Returns false
// when the text cannot be parsed.
struct LineSettings {
    std::uint32_t baud = 0;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
};
bool parseModeText(const char* mode, LineSettings& out);

}  // namespace gsms

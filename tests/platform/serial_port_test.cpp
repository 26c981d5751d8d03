#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

namespace gsms {
namespace {

// A pseudo-terminal pair; the slave side stands in for the modem's device.
struct Pty {
    Pty() {
        char name[128];
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
        ::close(slave);  // the port under test opens it by name
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    int master = -1;
    int slave = -1;
    std::string path;
};

TEST(SerialMode, DefaultModeIs9600EightNoneOne) {
    LineSettings ls;
    ASSERT_TRUE(parseModeText("96,N,8,1", ls));
    EXPECT_EQ(ls.baud, 9600u);
    EXPECT_EQ(ls.parity, 0);
    EXPECT_EQ(ls.dataBits, 8);
    EXPECT_EQ(ls.stopBits, 0);
}

TEST(SerialMode, WindowsSyntaxVariants) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t baud;
        int parity, data, stop;
    } cases[] = {
        {"19,E,7,2", true, 19200, 2, 7, 2},
        {"115200,n,8,1", true, 115200, 0, 8, 0},
        {"baud=9600 parity=N data=8 stop=1", true, 9600, 0, 8, 0},
        {"12,O,8,1.5", true, 1200, 1, 8, 1},
        {"48", true, 4800, 0, 8, 0},
        {"garbage", false, 0, 0, 0, 0},
        {"96,X,8,1", false, 0, 0, 0, 0},
        {"96,N,9,1", false, 0, 0, 0, 0},
        {"12345,N,8,1", false, 0, 0, 0, 0},
        {"", false, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        LineSettings ls;
        EXPECT_EQ(parseModeText(c.text, ls), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(ls.baud, c.baud) << c.text;
            EXPECT_EQ(ls.parity, c.parity) << c.text;
            EXPECT_EQ(ls.dataBits, c.data) << c.text;
            EXPECT_EQ(ls.stopBits, c.stop) << c.text;
        }
    }
}

TEST(SerialPortNames, ComNamesMapToTtyS) {
    EXPECT_EQ(SerialPort::devicePath("COM2"), "/dev/ttyS1");
    EXPECT_EQ(SerialPort::devicePath("com1"), "/dev/ttyS0");
    EXPECT_EQ(SerialPort::devicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

TEST(SerialPortOpen, ConfigureAppliesModeWithoutFlowControl) {
    Pty pty;
    SerialPort port(pty.path.c_str());
    ASSERT_EQ(port.open(), 1);
    port.configure("96,N,8,1");
    EXPECT_EQ(port.baudRate(), 9600u);
    struct termios tio {};
    int fd = ::open(pty.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    // The port holds the device exclusively, so read the line state through the master.
    if (fd >= 0) ::close(fd);
    ASSERT_EQ(::tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
}

TEST(SerialPortOpen, UnparsableModeKeepsLineAndStoredBaudZero) {
    Pty pty;
    SerialPort port(pty.path.c_str());
    ASSERT_EQ(port.open(), 1);
    struct termios before {};
    ASSERT_EQ(::tcgetattr(pty.master, &before), 0);
    port.configure("nonsense");
    EXPECT_EQ(port.baudRate(), 0u);
    struct termios after {};
    ASSERT_EQ(::tcgetattr(pty.master, &after), 0);
    EXPECT_EQ(::cfgetospeed(&before), ::cfgetospeed(&after));
    EXPECT_EQ(before.c_cflag, after.c_cflag);
}

TEST(SerialPortOpen, SecondOpenOfTheSameDeviceFails) {
    Pty pty;
    SerialPort first(pty.path.c_str());
    SerialPort second(pty.path.c_str());
    ASSERT_EQ(first.open(), 1);
    EXPECT_EQ(second.open(), 0);
}

// socat keeps its side of the pseudo-terminal open: a port given back, closed or at the end of
// the process, must open again (only root could open a terminal left exclusive), while a
// second port is still refused as long as the first holds it.
TEST(SerialPortOpen, PseudoTerminalOpensAgainOnceGivenBack) {
    Pty pty;
    const struct {
        const char* label;
        bool byProcessEnd;
    } cases[] = {{"port closed", false}, {"process ended without closing", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.byProcessEnd) {
            const pid_t child = ::fork();
            if (child == 0) {
                SerialPort* leaked = new SerialPort(pty.path.c_str());
                if (leaked->open() != 1) _exit(3);
                SerialPort::releaseAtProcessEnd();
                _exit(0);
            }
            int status = -1;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        } else {
            SerialPort first(pty.path.c_str());
            ASSERT_EQ(first.open(), 1);
            SerialPort second(pty.path.c_str());
            EXPECT_EQ(second.open(), 0);
        }
        const int fd = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        int exclusive = -1;
        ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        ::close(fd);
        SerialPort again(pty.path.c_str());
        EXPECT_EQ(again.open(), 1);
    }
}

TEST(SerialPortOpen, MissingDeviceAndOverlongNameFail) {
    SerialPort missing("/dev/does-not-exist-gsms");
    EXPECT_EQ(missing.open(), 0);
    std::string longName = "/dev/" + std::string(60, 'x');
    SerialPort tooLong(longName.c_str());
    EXPECT_EQ(tooLong.open(), 0);
    char buf[1];
    EXPECT_EQ(missing.read(buf, 1), -1);
    EXPECT_EQ(missing.write("a", 1), -1);
}

// "cannot open <port>" is followed by the system's reason; the stable names Linux gives USB
// modems (/dev/serial/by-id/usb-..., 55 to 90 characters and more) open like any device.
TEST(SerialPortOpen, FailuresCarryTheSystemsReasonAndLongNamesOpen) {
    Pty pty;
    char dirTemplate[] = "/tmp/gsms-by-id-XXXXXX";
    const std::string dir = ::mkdtemp(dirTemplate);
    const std::string byId = dir + "/usb-Quectel_Incorporated_LTE_Module_EC25-EUX_" +
                             std::string(60, '0') + "-if02-port0";
    ASSERT_EQ(::symlink(pty.path.c_str(), byId.c_str()), 0);
    const std::string plain = dir + "/plain-file";
    ::close(::open(plain.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));

    SerialPort held(byId.c_str());
    ASSERT_EQ(held.open(), 1);
    struct Case {
        const char* label;
        std::string name;
        int error;
    } cases[] = {
        {"no such device", "/dev/does-not-exist-gsms", ENOENT},
        {"held by another program", pty.path, EBUSY},
        {"not a terminal", plain, ENOTTY},
        {"no name at all", "", ENOENT},
    };
    for (const Case& c : cases) {
        SerialPort port(c.name.c_str());
        EXPECT_EQ(port.open(), 0) << c.label;
        EXPECT_EQ(port.lastError(), c.error) << c.label;
    }
    EXPECT_GT(byId.size(), 120u);
    EXPECT_EQ(held.deviceName(), byId);
    ::unlink(byId.c_str());
    ::unlink(plain.c_str());
    ::rmdir(dir.c_str());
}

TEST(SerialPortIo, EmptyReadReturnsZeroAfterAboutHalfASecond) {
    Pty pty;
    SerialPort port(pty.path.c_str());
    ASSERT_EQ(port.open(), 1);
    port.setTimeouts(50);
    char byte = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(&byte, 1), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 450);
}

TEST(SerialPortIo, WriteWhileAReadIsPending) {
    Pty pty;
    SerialPort port(pty.path.c_str());
    ASSERT_EQ(port.open(), 1);
    port.setTimeouts(50);
    std::atomic<bool> gotByte{false};
    char received = 0;
    std::thread reader([&] {
        for (int i = 0; i < 100 && !gotByte; ++i)
            if (port.read(&received, 1) == 1) gotByte = true;
    });
    // Answer from the "modem" side only after the port has written, while the read waits.
    EXPECT_EQ(port.write("AT\r", 3), 3);
    char cmd[3];
    std::size_t got = 0;
    while (got < 3) {
        ssize_t n = ::read(pty.master, cmd + got, 3 - got);
        if (n > 0) got += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(std::string(cmd, 3), "AT\r");
    ASSERT_EQ(::write(pty.master, "K", 1), 1);
    reader.join();
    EXPECT_TRUE(gotByte);
    EXPECT_EQ(received, 'K');
}

TEST(SerialPortIo, HungUpPortReadsMinusOneAtOnce) {
    Pty pty;
    SerialPort port(pty.path.c_str());
    ASSERT_EQ(port.open(), 1);
    port.setTimeouts(50);
    ::close(pty.master);  // the modem's side is gone
    pty.master = -1;
    char byte = 0;
    // An error at once, not a 500 ms wait spent polling a hang-up (the reader pauses).
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.read(&byte, 1), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
}

}  // namespace
}  // namespace gsms

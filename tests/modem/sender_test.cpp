#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "core/settings.h"
#include "modem/at_sender.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "platform/serial_port.h"
#include "support/temp_dir.h"

namespace gsms {
namespace {

class Sender : public ::testing::Test {
protected:
    void SetUp() override {
        char name[128];
        int slave = -1;
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        ::close(slave);
        port = std::make_unique<SerialPort>(name);
        ASSERT_EQ(port->open(), 1);
        port->setTimeouts(50);
        firstModem().port() = port.get();
        resetSettingsForTest();
        resetPacingForTest(firstModem());
        for (auto& e : modemState().events) e.reset();
    }
    void TearDown() override {
        firstModem().port() = nullptr;
        resetSettingsForTest();
        ::close(master);
    }
    // Reads what the port sent, up to `count` bytes or a second of silence.
    std::string received(std::size_t count) {
        std::string out;
        while (out.size() < count) {
            struct pollfd p {master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) break;
            char buf[256];
            ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    test::TempDir dir;
    int master = -1;
    std::unique_ptr<SerialPort> port;
};

TEST_F(Sender, CapitalisedCommandKeepsItsSuffix) {
    settings().capitalizeCommands = 1;
    ASSERT_EQ(sendCommand(firstModem(), "at+cscs", "=\"gsm\"\r"), 0);
    EXPECT_EQ(received(12), "AT+CSCS=\"gsm\"\r");
}

TEST_F(Sender, PlainCommandIsSentAsGiven) {
    ASSERT_EQ(sendCommand(firstModem(), "at+cmgf", "=1\r"), 0);
    EXPECT_EQ(received(10), "at+cmgf=1\r");
}

TEST_F(Sender, FloodProtectionKeepsCommandsApartButNotTheFirst) {
    settings().floodProtection = 200;
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(sendCommand(firstModem(), "at", "\r"), 0);
    auto t1 = std::chrono::steady_clock::now();
    ASSERT_EQ(sendCommand(firstModem(), "at", "\r"), 0);
    auto t2 = std::chrono::steady_clock::now();
    using std::chrono::milliseconds;
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(t1 - t0).count(), 150);
    // The gap runs from the first transmission, which began after t0 and before t1.
    EXPECT_GE(std::chrono::duration_cast<milliseconds>(t2 - t0).count(), 195);
    EXPECT_EQ(received(6), "at\rat\r");
}

TEST_F(Sender, NothingIsSentBeforeAPortExists) {
    firstModem().port() = nullptr;
    EXPECT_EQ(sendCommand(firstModem(), "at", "\r"), -1);
    firstModem().port() = port.get();
    struct pollfd p {master, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 100), 0);
}

TEST_F(Sender, OverlongCommandIsCutToTheBuffer) {
    std::string huge(3000, 'a');
    ASSERT_EQ(sendCommand(firstModem(), huge.c_str(), "\r"), 0);
    EXPECT_EQ(received(1023).size(), 1023u);
}

TEST_F(Sender, WaitOkOrErrorResults) {
    ModemState& s = modemState();
    EXPECT_EQ(waitOkOrError(firstModem(), 50), -1);
    s.event(ModemEvent::Error).set();
    EXPECT_EQ(waitOkOrError(firstModem(), 50), 1);
    s.event(ModemEvent::Error).reset();
    std::thread answer([&] { s.event(ModemEvent::Ok).set(); });
    EXPECT_EQ(waitOkOrError(firstModem(), 5000), 0);
    answer.join();
    EXPECT_EQ(waitOk(firstModem(), 10), 0);
    EXPECT_EQ(waitCfunOrError(firstModem(), 10), -1);
    s.event(ModemEvent::Cfun).set();
    EXPECT_EQ(waitCfunOrError(firstModem(), 10), 0);
}

}  // namespace
}  // namespace gsms

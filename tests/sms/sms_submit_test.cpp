#include "sms/sms_submit.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "engine/settings.h"
#include "modem/modem_state.h"
#include "modem/serial_port.h"

namespace gsms {
namespace {

// A minimal text-mode modem on the master side of a pseudo-terminal: OK to every command,
// the "> " prompt to at+cmgs, and "+CMGS" with OK (or a chosen answer) after Ctrl-Z.
class ScriptedModem {
public:
    ScriptedModem() {
        char name[128];
        int slave = -1;
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);
            path_ = name;
        }
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedModem() {
        stop_ = true;
        thread_.join();
        ::close(master_);
    }
    const std::string& path() const { return path_; }
    std::vector<std::string> commands() {
        std::lock_guard lock(mutex_);
        return commands_;
    }
    std::vector<std::string> parts() {
        std::lock_guard lock(mutex_);
        return parts_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        commands_.clear();
        parts_.clear();
    }
    std::atomic<bool> noPrompt{false};
    std::atomic<int> failPart{-1};  // zero-based part answered with ERROR

private:
    void reply(const std::string& s) { (void)!::write(master_, s.data(), s.size()); }
    void serve() {
        std::string line;
        bool inText = false;
        std::string body;
        while (!stop_) {
            struct pollfd p {master_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            unsigned char c;
            if (::read(master_, &c, 1) != 1) continue;
            if (inText) {
                if (c == 0x1A) {
                    inText = false;
                    int index;
                    {
                        std::lock_guard lock(mutex_);
                        parts_.push_back(body);
                        index = static_cast<int>(parts_.size()) - 1;
                    }
                    body.clear();
                    reply(index == failPart ? "\r\nERROR\r\n" : "\r\n+CMGS: 1\r\n\r\nOK\r\n");
                } else {
                    body.push_back(static_cast<char>(c));
                }
                continue;
            }
            if (c != '\r') {
                line.push_back(static_cast<char>(c));
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            if (line.rfind("at+cmgs", 0) == 0) {
                if (!noPrompt) {
                    reply("\r\n> ");
                    inText = true;
                }
            } else {
                reply("\r\nOK\r\n");
            }
            line.clear();
        }
    }
    int master_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> commands_;
    std::vector<std::string> parts_;
};

// One port and one reader for the whole test program, as in the engine.
ScriptedModem& modem() {
    static ScriptedModem* m = [] {
        auto* sim = new ScriptedModem;
        auto* port = new SerialPort(sim->path().c_str());
        if (port->open() == 1) port->setTimeouts(50);
        serialPortRef() = port;
        std::thread(inputThread).detach();
        return sim;
    }();
    return *m;
}

class SendSms : public ::testing::Test {
protected:
    void SetUp() override {
        modem().clear();
        modem().noPrompt = false;
        modem().failPart = -1;
        settings().maxMsgLength = 800;
    }
    std::vector<std::size_t> partSizes() {
        std::vector<std::size_t> out;
        for (const auto& p : modem().parts()) out.push_back(p.size());
        return out;
    }
};

TEST_F(SendSms, SpacesRemovedFromTheNumber) {
    ASSERT_EQ(sendSms("+49 170 123 45", "hi", 0), 0);
    auto cmds = modem().commands();
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], "at+csmp=17,167,0,0");
    EXPECT_EQ(cmds[1], "at+cmgs=\"+4917012345\"");
    EXPECT_EQ(modem().parts(), std::vector<std::string>{"hi"});
}

TEST_F(SendSms, FlashSelectsClassZero) {
    ASSERT_EQ(sendSms("1", "x", 1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,16");
    modem().clear();
    ASSERT_EQ(sendSms("1", "x", -1), 0);
    EXPECT_EQ(modem().commands()[0], "at+csmp=17,167,0,0");
}

TEST_F(SendSms, PartSizes) {
    ASSERT_EQ(sendSms("1", std::string(160, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160}));
    modem().clear();
    ASSERT_EQ(sendSms("1", std::string(161, 'a').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 1}));
    modem().clear();
    std::string accented(150, 'a');
    accented[10] = static_cast<char>(0xE9);
    ASSERT_EQ(sendSms("1", accented.c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{140, 10}));
    EXPECT_EQ(modem().parts()[0][10], '\x05');
    modem().clear();
    ASSERT_EQ(sendSms("1", std::string(1000, 'b').c_str(), 0), 0);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160, 160, 160, 160}));
}

TEST_F(SendSms, EmptyTextOrZeroLengthSendsOnlyParameters) {
    ASSERT_EQ(sendSms("1", "", 0), 0);
    EXPECT_EQ(modem().commands().size(), 1u);
    settings().maxMsgLength = -5;
    ASSERT_EQ(sendSms("1", "text", 0), 0);
    EXPECT_EQ(modem().commands().size(), 2u);
    EXPECT_TRUE(modem().parts().empty());
}

TEST_F(SendSms, TextIsWrittenInTheGsmAlphabet) {
    ASSERT_EQ(sendSms("1", "@[~\r\n", 0), 0);
    EXPECT_EQ(modem().parts()[0], std::string("\x00  \r\n", 5));
}

TEST_F(SendSms, SecondOfThreePartsFails) {
    modem().failPart = 1;
    EXPECT_EQ(sendSms("1", std::string(400, 'c').c_str(), 0), -1);
    EXPECT_EQ(partSizes(), (std::vector<std::size_t>{160, 160}));
}

TEST_F(SendSms, OversizedInputIsRefusedBeforeTheModem) {
    EXPECT_EQ(sendSms(std::string(60, '1').c_str(), "x", 0), -1);
    EXPECT_EQ(sendSms("1", std::string(2048, 'x').c_str(), 0), -1);
    EXPECT_TRUE(modem().commands().empty());
    EXPECT_EQ(sendSms(("1 " + std::string(58, '2')).c_str(), "", 0), 0);
}

}  // namespace
}  // namespace gsms

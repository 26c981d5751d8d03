// A scripted text-mode modem on a pseudo-terminal, with the engine's one port and reader.
#pragma once

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "modem/at_sender.h"
#include "modem/input_thread.h"
#include "modem/modem_link.h"
#include "modem/modem_state.h"
#include "platform/serial_port.h"

namespace gsms::test {

// A minimal text-mode modem on the master side of a pseudo-terminal: OK to every command,
// the "> " prompt to at+cmgs, and "+CMGS" with OK (or a chosen answer) after Ctrl-Z; ESC
// drops the text (recorded as the command "<ESC>") and answers OK.
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
    std::atomic<bool> cscaWriteError{false};
    // The information line answered to a query ("ERROR" answers ERROR).
    void setInfoAnswer(const std::string& command, const std::string& answer) {
        std::lock_guard lock(mutex_);
        info_[command] = answer;
    }
    // The exact bytes answered to a command, in place of the rules above; an empty text makes
    // the modem stay silent. Kept until clearReplies().
    void setReply(const std::string& command, const std::string& bytes) {
        std::lock_guard lock(mutex_);
        replies_[command] = bytes;
    }
    void clearReplies() {
        std::lock_guard lock(mutex_);
        replies_.clear();
    }
    void setCscaAnswer(const std::string& a) {
        std::lock_guard lock(mutex_);
        cscaAnswer = a;
    }

private:
    std::optional<std::string> scriptedReply(const std::string& command) {
        std::lock_guard lock(mutex_);
        auto it = replies_.find(command);
        if (it == replies_.end()) return std::nullopt;
        return it->second;
    }
    std::string infoAnswer(const std::string& command) {
        std::lock_guard lock(mutex_);
        auto it = info_.find(command);
        return it == info_.end() ? std::string() : it->second;
    }
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
                if (c == 0x1B) {  // ESC: the text is dropped
                    inText = false;
                    body.clear();
                    {
                        std::lock_guard lock(mutex_);
                        commands_.push_back("<ESC>");
                    }
                    reply("\r\nOK\r\n");
                } else if (c == 0x1A) {
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
                // Control bytes (a stray ESC, LF) are no part of a command, as on a modem.
                if (c >= 0x20) line.push_back(static_cast<char>(c));
                continue;
            }
            if (line.empty()) continue;
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(line);
            }
            if (auto scripted = scriptedReply(line)) {
                reply(*scripted);
            } else if (line.rfind("at+cmgs", 0) == 0) {
                if (!noPrompt) {
                    reply("\r\n> ");
                    inText = true;
                }
            } else if (line == "at+settle") {
                reply("\r\n+SETTLE\r\n");  // no OK behind it: nothing trails
            } else if (auto info = infoAnswer(line); !info.empty()) {
                reply(info == "ERROR" ? "\r\nERROR\r\n" : "\r\n" + info + "\r\n\r\nOK\r\n");
            } else if (line == "at+csca?") {
                std::string answer;
                {
                    std::lock_guard lock(mutex_);
                    answer = cscaAnswer;
                }
                reply(answer.empty() ? std::string() : "\r\n" + answer + "\r\n\r\nOK\r\n");
            } else if (line.rfind("at+csca=", 0) == 0 && cscaWriteError) {
                reply("\r\nERROR\r\n");
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
    std::map<std::string, std::string> info_{
        {"at+cpin?", "+CPIN: READY"}, {"at+cfun?", "+CFUN: 1"}, {"at+cmgf?", "+CMGF: 1"}};
    std::map<std::string, std::string> replies_;
    std::string cscaAnswer = "+CSCA: \"+491710760000\",145";
};

// One port and one reader for the whole test program, as in the engine.
inline ScriptedModem& modem() {
    static ScriptedModem* m = [] {
        auto* sim = new ScriptedModem;
        auto* port = new SerialPort(sim->path().c_str());
        if (port->open() == 1) port->setTimeouts(50);
        firstModem().port() = port;
        std::thread([] { inputThread(firstModem()); }).detach();
        return sim;
    }();
    return *m;
}

// Returns once the reader has taken in all the modem sent before: an exchange that waits only
// for its information line leaves its OK in flight, and that OK would end the next test's
// wait early. Call with the settings reset (no capitals); the command list is cleared.
inline void settleModem() {
    ScriptedModem& m = modem();
    {
        std::lock_guard lock(firstModem().modemLock());
        ModemState& s = modemState();
        s.clearCapture();
        s.responseCapture = true;
        (void)sendCommand(firstModem(), "at+settle", "\r");
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (s.capture().find("+SETTLE") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        s.responseCapture = false;
        s.clearCapture();
    }
    m.clear();
}

}  // namespace gsms::test

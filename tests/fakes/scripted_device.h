// A device for the fake serial backend that answers from a script.
//
// Lines: DSR, DCD and CTS on by default (connected and ready). With "CTS follows RTS"
// (on by default) the device drops CTS while the host holds RTS off and raises it
// again when RTS returns, as the host purge expects.
//
// Commands: every complete host command (bytes up to and including "\r") is logged
// and answered by the first of these that applies:
//   1. the device purge "z\r", answered "zY\r" (or "zN\r") unless switched off;
//   2. the next scripted reply (raw bytes, possibly malformed; "" = silent once);
//   3. the reply rule for the command character;
//   4. the handler;
//   5. otherwise the device stays silent.
//
// Usage:
//   ScriptedDevice dev;
//   fake_serial::Attach(3, &dev);
//   dev.Script("A01F4\r");   // answer to the next command
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fake_serial.h"

class ScriptedDevice : public fake_serial::Peer {
  public:
    enum class PurgeAnswer { Purged, NotPurged, Off };
    // Fallback for commands with no script entry and no rule: return true and fill
    // reply to answer, false to stay silent. command comes without its "\r".
    using Handler = std::function<bool(const std::string& command, std::string& reply)>;

    void SetDsr(bool on) { dsr_ = on; }
    void SetDcd(bool on) { dcd_ = on; }
    void SetCts(bool on) { cts_ = on; }
    void SetRing(bool on) { ring_ = on; }
    // DSR and DCD together: the cable is plugged in or not.
    void SetConnected(bool on) { dsr_ = dcd_ = on; }
    void SetCtsFollowsRts(bool on) { ctsFollowsRts_ = on; }
    void SetPurgeAnswer(PurgeAnswer answer) { purgeAnswer_ = answer; }

    // Queue the answer to the next unanswered command.
    void Script(const std::string& reply) { script_.push_back(reply); }
    std::size_t ScriptLeft() const { return script_.size(); }
    void ClearScript() { script_.clear(); }
    // Standing answer to every command starting with `command`.
    void Rule(char command, const std::string& reply) { rules_[command] = reply; }
    void ClearRule(char command) { rules_.erase(command); }
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // Answers leave this many ms of virtual time after their command (0: at once).
    void SetReplyDelayMs(std::uint32_t ms) { replyDelayMs_ = ms; }

    // Every complete command received, without its "\r".
    const std::vector<std::string>& Commands() const { return commands_; }
    void ClearCommands() { commands_.clear(); }
    bool HostDtr() const { return hostDtr_; }
    bool HostRts() const { return hostRts_; }
    bool Cts() const { return cts_ && (!ctsFollowsRts_ || hostRts_); }

    // fake_serial::Peer
    void OnHostBytes(unsigned com, const char* data, std::size_t n) override;
    void OnHostLines(unsigned com, bool dtr, bool rts) override;
    std::uint32_t ModemStatus(unsigned com) override;
    void OnTime(unsigned com, std::uint64_t nowMs) override;

  private:
    struct Pending {
        std::uint64_t dueMs;
        unsigned com;
        std::string bytes;
    };
    void Answer(unsigned com, const std::string& command);
    void Send(unsigned com, const std::string& bytes);

    bool dsr_ = true;
    bool dcd_ = true;
    bool cts_ = true;
    bool ring_ = false;
    bool ctsFollowsRts_ = true;
    bool hostDtr_ = false;
    bool hostRts_ = false;
    PurgeAnswer purgeAnswer_ = PurgeAnswer::Purged;
    std::deque<std::string> script_;
    std::map<char, std::string> rules_;
    Handler handler_;
    std::uint32_t replyDelayMs_ = 0;
    std::string partial_;
    std::vector<std::string> commands_;
    std::deque<Pending> pending_;
};

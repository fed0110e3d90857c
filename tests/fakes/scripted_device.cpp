#include "scripted_device.h"

void ScriptedDevice::OnHostBytes(unsigned com, const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] != '\r') {
            partial_.push_back(data[i]);
            continue;
        }
        std::string command;
        command.swap(partial_);
        commands_.push_back(command);
        Answer(com, command);
    }
}

void ScriptedDevice::OnHostLines(unsigned, bool dtr, bool rts) {
    hostDtr_ = dtr;
    hostRts_ = rts;
}

std::uint32_t ScriptedDevice::ModemStatus(unsigned) {
    return (Cts() ? 0x10u : 0u) | (dsr_ ? 0x20u : 0u) | (ring_ ? 0x40u : 0u) | (dcd_ ? 0x80u : 0u);
}

void ScriptedDevice::OnTime(unsigned, std::uint64_t nowMs) {
    while (!pending_.empty() && pending_.front().dueMs <= nowMs) {
        const Pending due = pending_.front();
        pending_.pop_front();
        fake_serial::DeviceSend(due.com, due.bytes);
    }
}

void ScriptedDevice::Answer(unsigned com, const std::string& command) {
    if (command == "z" && purgeAnswer_ != PurgeAnswer::Off) {
        Send(com, purgeAnswer_ == PurgeAnswer::Purged ? "zY\r" : "zN\r");
        return;
    }
    if (!script_.empty()) {
        const std::string reply = script_.front();
        script_.pop_front();
        Send(com, reply);
        return;
    }
    if (!command.empty()) {
        auto rule = rules_.find(command[0]);
        if (rule != rules_.end()) {
            Send(com, rule->second);
            return;
        }
    }
    std::string reply;
    if (handler_ && handler_(command, reply)) Send(com, reply);
}

void ScriptedDevice::Send(unsigned com, const std::string& bytes) {
    if (bytes.empty()) return;
    // Answers leave in order, so a late one holds back those behind it.
    if (replyDelayMs_ == 0 && pending_.empty()) {
        fake_serial::DeviceSend(com, bytes);
        return;
    }
    pending_.push_back(Pending{fake_serial::NowMs() + replyDelayMs_, com, bytes});
}

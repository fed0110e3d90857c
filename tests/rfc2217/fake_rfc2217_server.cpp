#include "fake_rfc2217_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr std::uint8_t kComPort = 44;

}  // namespace

FakeRfc2217Server::FakeRfc2217Server(Habit habit) : habit_(habit) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 4) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("fake server: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

FakeRfc2217Server::~FakeRfc2217Server() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    Wake();
    thread_.join();
    if (client_ >= 0) close(client_);
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

std::string FakeRfc2217Server::Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

void FakeRfc2217Server::Wake() {
    const char byte = 0;
    (void)!write(wake_[1], &byte, 1);
}

void FakeRfc2217Server::Queue(const Bytes& bytes, bool split) {
    if (!split) {
        outgoing_.push_back(bytes);
        return;
    }
    for (std::uint8_t byte : bytes) outgoing_.push_back(Bytes{byte});
}

void FakeRfc2217Server::QueueSub(std::uint8_t code, const Bytes& value) {
    Bytes message = {IAC, SB, kComPort, code};
    for (std::uint8_t byte : value) {
        message.push_back(byte);
        if (byte == IAC) message.push_back(IAC);
    }
    message.push_back(IAC);
    message.push_back(SE);
    Queue(message);
}

void FakeRfc2217Server::QueueModemState() {
    QueueSub(107, {static_cast<std::uint8_t>(lines_ | (rts_ ? 0x10 : 0))});
}

void FakeRfc2217Server::SendRaw(const Bytes& raw, bool split) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Queue(raw, split);
    }
    Wake();
}

void FakeRfc2217Server::SendData(const std::string& data) {
    Bytes escaped;
    for (char c : data) {
        escaped.push_back(static_cast<std::uint8_t>(c));
        if (static_cast<std::uint8_t>(c) == IAC) escaped.push_back(IAC);
    }
    SendRaw(escaped);
}

void FakeRfc2217Server::SendSub(std::uint8_t code, const Bytes& value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        QueueSub(code, value);
    }
    Wake();
}

void FakeRfc2217Server::SetLines(std::uint8_t dsrRingDcd) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_ = dsrRingDcd & 0xE0;
}

void FakeRfc2217Server::ForceBaudAck(std::uint32_t baud) {
    std::lock_guard<std::mutex> lock(mutex_);
    forcedBaud_ = baud;
}

void FakeRfc2217Server::SetAcknowledges(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    acknowledges_ = on;
}

void FakeRfc2217Server::Disconnect() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        disconnect_ = true;
    }
    Wake();
}

std::vector<FakeRfc2217Server::Command> FakeRfc2217Server::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<FakeRfc2217Server::Command> FakeRfc2217Server::CommandsWithCode(
    std::uint8_t code) const {
    std::vector<Command> found;
    for (const Command& c : Commands()) {
        if (c.code == code) found.push_back(c);
    }
    return found;
}

FakeRfc2217Server::Bytes FakeRfc2217Server::Data() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_;
}

FakeRfc2217Server::Bytes FakeRfc2217Server::Raw() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return raw_;
}

FakeRfc2217Server::Bytes FakeRfc2217Server::Negotiations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return negotiations_;
}

bool FakeRfc2217Server::Connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return client_ >= 0;
}

void FakeRfc2217Server::ClearRecords() {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
    data_.clear();
    raw_.clear();
}

bool FakeRfc2217Server::WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void FakeRfc2217Server::OnNegotiation(std::uint8_t verb, std::uint8_t option) {
    negotiations_.push_back(verb);
    negotiations_.push_back(option);
    if (option == kComPort && verb == WILL) {
        if (habit_ == Habit::RefusesComPort) {
            Queue({IAC, DONT, kComPort});
            return;
        }
        Queue({IAC, DO, kComPort});
        if (habit_ == Habit::ReportsWhenAsked) QueueModemState();
        return;
    }
    // BINARY and SGA are welcome, once each way; everything else is ignored.
    if (option != 0 && option != 3) return;
    if (verb == WILL && !answeredDo_[option]) {
        answeredDo_[option] = true;
        Queue({IAC, DO, option});
    } else if (verb == DO && !answeredWill_[option]) {
        answeredWill_[option] = true;
        Queue({IAC, WILL, option});
    }
}

void FakeRfc2217Server::OnSub() {
    if (sub_.size() < 2 || sub_[0] != kComPort) return;
    const std::uint8_t code = sub_[1];
    const Bytes value(sub_.begin() + 2, sub_.end());
    commands_.push_back({code, value});
    switch (code) {
        case 1:
            if (acknowledges_ && value.size() == 4) {
                Bytes acked = value;
                if (forcedBaud_ != 0) {
                    acked = {static_cast<std::uint8_t>(forcedBaud_ >> 24),
                             static_cast<std::uint8_t>(forcedBaud_ >> 16),
                             static_cast<std::uint8_t>(forcedBaud_ >> 8),
                             static_cast<std::uint8_t>(forcedBaud_)};
                }
                QueueSub(101, acked);
            }
            break;
        case 2:
        case 3:
        case 4:
        case 12:
            if (acknowledges_) QueueSub(code + 100, value);
            break;
        case 5:
            if (value.size() == 1 && (value[0] == 11 || value[0] == 12)) rts_ = value[0] == 11;
            if (acknowledges_) QueueSub(105, value);
            break;
        case 7:
            if (habit_ == Habit::ReportsWhenAsked) QueueModemState();
            break;
        case 11:
            if (habit_ == Habit::ReportsOnMask) QueueModemState();
            break;
        default:
            break;
    }
}

void FakeRfc2217Server::Receive(std::uint8_t byte) {
    switch (state_) {
        case State::Data:
            if (byte == IAC) {
                state_ = State::Iac;
            } else {
                data_.push_back(byte);
            }
            break;
        case State::Iac:
            state_ = State::Data;
            if (byte == IAC) {
                data_.push_back(byte);
            } else if (byte >= WILL && byte <= DONT) {
                verb_ = byte;
                state_ = State::Verb;
            } else if (byte == SB) {
                sub_.clear();
                state_ = State::Sub;
            }
            break;
        case State::Verb:
            state_ = State::Data;
            OnNegotiation(verb_, byte);
            break;
        case State::Sub:
            if (byte == IAC) {
                state_ = State::SubIac;
            } else {
                sub_.push_back(byte);
            }
            break;
        case State::SubIac:
            if (byte == IAC) {
                sub_.push_back(byte);
                state_ = State::Sub;
            } else {
                state_ = State::Data;
                if (byte == SE) OnSub();
            }
            break;
    }
}

void FakeRfc2217Server::Run() {
    for (;;) {
        std::vector<Bytes> outgoing;
        int client;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_) return;
            if (disconnect_ && client_ >= 0) {
                close(client_);
                client_ = -1;
            }
            client = client_;
            if (client >= 0) outgoing.swap(outgoing_);
        }
        for (std::size_t i = 0; i < outgoing.size(); ++i) {
            // Pieces of a split send go out apart, so the client reads them apart.
            if (outgoing[i].size() == 1 && i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            (void)!send(client, outgoing[i].data(), outgoing[i].size(), MSG_NOSIGNAL);
        }

        pollfd fds[2] = {{wake_[0], POLLIN, 0}, {-1, POLLIN, 0}};
        bool accepting;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            accepting = client_ < 0 && !disconnect_;
            fds[1].fd = accepting ? listener_ : client_;
        }
        if (poll(fds, 2, 10) <= 0) continue;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (accepting) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::lock_guard<std::mutex> lock(mutex_);
            client_ = fd;
            if (habit_ != Habit::Mute) {
                // Offers a client must refuse: ECHO would bounce its data back.
                Queue({IAC, WILL, 1, IAC, DO, 24});
            }
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t got = recv(fds[1].fd, buffer, sizeof buffer, 0);
        std::lock_guard<std::mutex> lock(mutex_);
        if (got <= 0) {
            close(client_);
            client_ = -1;
            disconnect_ = true;
            continue;
        }
        raw_.insert(raw_.end(), buffer, buffer + got);
        if (habit_ == Habit::Mute) continue;
        for (ssize_t i = 0; i < got; ++i) Receive(buffer[i]);
    }
}

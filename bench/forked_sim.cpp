#include "forked_sim.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

#include "device_model.h"
#include "rfc2217_session.h"

namespace bench {
namespace {

std::uint64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

int Listen(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void Apply(quenta_sim::DeviceModel& model, char fault, std::uint64_t now) {
    model.ClearFaults();
    model.SetConnected(fault != static_cast<char>(ForkedSim::Fault::Disconnected), now);
    if (fault == static_cast<char>(ForkedSim::Fault::NoAnswer)) {
        model.SetReplyFault(0, quenta_sim::ReplyFault::NoAnswer);
    } else if (fault == static_cast<char>(ForkedSim::Fault::CtsStuckInactive)) {
        model.SetCtsFault(quenta_sim::CtsFault::StuckInactive);
    }
}

// The child: one client at a time, faults from the control pipe, acknowledged once
// they are in force. Ends when the control pipe closes.
[[noreturn]] void Serve(int listener, int control, int ack, bool pace) {
    quenta_sim::DeviceModel model;
    model.SetPacing(pace);
    quenta_sim::Rfc2217Session session(model, nullptr, false);
    int client = -1;
    for (;;) {
        pollfd fds[3] = {{control, POLLIN, 0}, {listener, POLLIN, 0}, {client, 0, 0}};
        timespec timeout{};
        timespec* wait = nullptr;
        if (client >= 0) {
            fds[2].events = static_cast<short>(POLLIN | (session.Outbox().empty() ? 0 : POLLOUT));
            const std::uint64_t wake = session.NextWakeUs();
            const std::uint64_t now = NowUs();
            if (wake != UINT64_MAX) {
                const std::uint64_t us = wake > now ? wake - now : 0;
                timeout.tv_sec = static_cast<time_t>(us / 1000000u);
                timeout.tv_nsec = static_cast<long>(us % 1000000u) * 1000;
                wait = &timeout;
            }
        }
        if (ppoll(fds, client >= 0 ? 3 : 2, wait, nullptr) < 0 && errno != EINTR) _exit(1);
        if (fds[0].revents) {
            char fault = 0;
            if (read(control, &fault, 1) != 1) _exit(0);
            Apply(model, fault, NowUs());
            if (client >= 0) session.Pump(NowUs());
            (void)!write(ack, &fault, 1);
        }
        if (fds[1].revents & POLLIN) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0 && client >= 0) {
                close(fd);
            } else if (fd >= 0) {
                const int on = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                client = fd;
                session.Open(NowUs());
            }
        }
        if (client >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::uint8_t buffer[4096];
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n > 0) {
                session.Receive(buffer, static_cast<std::size_t>(n), NowUs());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                close(client);
                client = -1;
                session.Close(NowUs());
            }
        }
        if (client < 0) continue;
        session.Pump(NowUs());
        std::string& outbox = session.Outbox();
        if (!outbox.empty()) {
            const ssize_t n = send(client, outbox.data(), outbox.size(), MSG_NOSIGNAL);
            if (n > 0) outbox.erase(0, static_cast<std::size_t>(n));
        }
    }
}

}  // namespace

ForkedSim::ForkedSim(bool pace) {
    std::uint16_t port = 0;
    const int listener = Listen(port);
    int control[2];
    int ack[2];
    if (listener < 0 || pipe2(control, O_CLOEXEC) != 0 || pipe2(ack, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        close(control[1]);
        close(ack[0]);
        Serve(listener, control[0], ack[1], pace);
    }
    close(listener);
    close(control[0]);
    close(ack[1]);
    control_ = control[1];
    ack_ = ack[0];
    if (pid_ > 0) url_ = "rfc2217://127.0.0.1:" + std::to_string(port);
}

ForkedSim::~ForkedSim() {
    if (control_ >= 0) close(control_);
    if (ack_ >= 0) close(ack_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool ForkedSim::SetFault(Fault fault) {
    const char byte = static_cast<char>(fault);
    char reply = 0;
    if (write(control_, &byte, 1) != 1) return false;
    pollfd p{ack_, POLLIN, 0};
    return poll(&p, 1, 5000) == 1 && read(ack_, &reply, 1) == 1 && reply == byte;
}

}  // namespace bench

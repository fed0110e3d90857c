// quenta-sim: one simulated device served over RFC 2217 on TCP. A single-threaded
// poll loop; with pacing, its time-out is the timer for the next reply byte.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "device_model.h"
#include "rfc2217_session.h"
#include "server_options.h"

namespace {

using quenta_sim::DeviceConfig;
using quenta_sim::DeviceModel;
using quenta_sim::Rfc2217Session;
using quenta_sim::ServerOptions;

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    (void)!write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void Log(const std::string& message) {
    std::fprintf(stderr, "quenta-sim: %s\n", message.c_str());
    std::fflush(stderr);
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string AddressText(const sockaddr* address, socklen_t) {
    char host[INET6_ADDRSTRLEN] = "?";
    unsigned port = 0;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        port = ntohs(in->sin_port);
        return std::string(host) + ":" + std::to_string(port);
    }
    if (address->sa_family == AF_INET6) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
        port = ntohs(in6->sin6_port);
        return "[" + std::string(host) + "]:" + std::to_string(port);
    }
    return "?";
}

int Listen(const ServerOptions& options, std::string& bound) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(options.port);
    const int rc = getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0) {
        Log("cannot resolve " + options.host + ": " + gai_strerror(rc));
        return -1;
    }
    int fd = -1;
    std::string failure;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            failure = SystemError("socket");
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 4) != 0) {
            failure = SystemError("cannot listen on " + options.host + ":" + port);
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) {
        Log(failure);
        return -1;
    }
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    bound = AddressText(reinterpret_cast<sockaddr*>(&address), length);
    return fd;
}

std::string FormatRate(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", rate);
    return text;
}

class Clock {
  public:
    std::uint64_t NowUs() const {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - start_)
                                              .count());
    }

  private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

bool InstallSignals() {
    if (pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGINT, &action, nullptr) != 0 || sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    signal(SIGPIPE, SIG_IGN);
    return true;
}

int Serve(const ServerOptions& options) {
    if (!InstallSignals()) {
        Log(SystemError("cannot install signal handlers"));
        return 1;
    }
    std::string bound;
    const int listener = Listen(options, bound);
    if (listener < 0) return 1;

    DeviceConfig config;
    config.seed = options.seed;
    config.interlockClosed = options.interlockClosed;
    DeviceModel model(config);
    model.SetPacing(options.pace);
    model.SetFaultRate(options.faultRate);
    for (const quenta_sim::CommandFault& fault : options.faults)
        model.SetReplyFault(fault.command, fault.fault, fault.times);
    model.SetCtsFault(options.cts);
    Rfc2217Session session(model, Log, options.verbose);
    Clock clock;

    Log("listening on " + bound);
    Log(std::string("seed ") + std::to_string(options.seed) + ", interlock " +
        (options.interlockClosed ? "closed" : "open") + ", pacing " +
        (options.pace ? "on" : "off") + ", fault rate " + FormatRate(options.faultRate));
    for (const quenta_sim::CommandFault& fault : options.faults) {
        Log(std::string("fault on ") +
            (fault.command ? std::string("command ") + fault.command : std::string("any command")) +
            ": " + quenta_sim::ReplyFaultName(fault.fault) + ", " +
            (fault.times == DeviceModel::kForever
                 ? std::string("every reply")
                 : std::to_string(fault.times) + (fault.times == 1 ? " reply" : " replies")));
    }
    if (options.cts != quenta_sim::CtsFault::None)
        Log(options.cts == quenta_sim::CtsFault::StuckActive ? "CTS stuck active"
                                                             : "CTS stuck inactive");

    int client = -1;
    std::string clientName;
    auto disconnect = [&](const std::string& why) {
        Log("client " + clientName + " " + why);
        close(client);
        client = -1;
        session.Close(clock.NowUs());
    };

    // After a failed accept (out of descriptors, say) the listener rests a while,
    // or poll would report it again at once, forever.
    std::uint64_t listenerRestsUntil = 0;
    for (;;) {
        const std::uint64_t now = clock.NowUs();
        const bool resting = now < listenerRestsUntil;
        pollfd fds[3] = {
            {g_signalPipe[0], POLLIN, 0}, {resting ? -1 : listener, POLLIN, 0}, {client, 0, 0}};
        std::uint64_t wake = resting ? listenerRestsUntil : UINT64_MAX;
        if (client >= 0) {
            fds[2].events = POLLIN | (session.Outbox().empty() ? 0 : POLLOUT);
            wake = std::min(wake, session.NextWakeUs());
        }
        // ppoll: a byte lasts 48 us, and poll's milliseconds would bunch them up.
        timespec timeout{};
        if (wake != UINT64_MAX && wake > now) {
            const std::uint64_t us = std::min<std::uint64_t>(wake - now, 60000000);
            timeout.tv_sec = static_cast<time_t>(us / 1000000);
            timeout.tv_nsec = static_cast<long>(us % 1000000 * 1000);
        }
        if (ppoll(fds, client >= 0 ? 3 : 2, wake == UINT64_MAX ? nullptr : &timeout, nullptr) < 0) {
            if (errno == EINTR) continue;
            Log(SystemError("poll"));
            break;
        }
        if (fds[0].revents) {
            Log("stopping on signal");
            break;
        }
        // The client first: one that has just gone makes room for one now waiting.
        if (client >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            std::uint8_t buffer[4096];
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n > 0) {
                session.Receive(buffer, static_cast<std::size_t>(n), clock.NowUs());
            } else if (n == 0) {
                disconnect("disconnected");
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                disconnect(SystemError("lost"));
            }
        }
        if (fds[1].revents & POLLIN) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            const int fd = accept4(listener, reinterpret_cast<sockaddr*>(&address), &length,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                const std::string name = AddressText(reinterpret_cast<sockaddr*>(&address), length);
                if (client >= 0) {
                    Log("refused client " + name + ": the device is in use by " + clientName);
                    close(fd);
                } else {
                    const int on = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                    client = fd;
                    clientName = name;
                    Log("client " + clientName + " connected");
                    session.Open(clock.NowUs());
                }
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Log(SystemError("accept"));
                listenerRestsUntil = clock.NowUs() + 100000;
            }
        }
        if (client < 0) continue;
        session.Pump(clock.NowUs());
        std::string& outbox = session.Outbox();
        if (!outbox.empty()) {
            const ssize_t n = send(client, outbox.data(), outbox.size(), MSG_NOSIGNAL);
            if (n > 0) {
                outbox.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                disconnect(SystemError("lost"));
            }
        }
    }
    if (client >= 0) disconnect("dropped at shutdown");
    close(listener);
    Log("stopped");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    std::string error;
    if (!quenta_sim::ParseServerOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quenta-sim: %s\nTry 'quenta-sim --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(quenta_sim::kServerUsage, stdout);
        return 0;
    }
    return Serve(options);
}

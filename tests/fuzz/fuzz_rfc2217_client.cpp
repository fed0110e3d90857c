// Arbitrary server bytes through the whole network serial client: a server on loopback
// agrees to COM port control and reports the lines, then sends the input and hangs up,
// while the client configures the port, polls the lines, reads, writes, purges and
// closes. Nothing may crash, hang or break the client's bounds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "rfc2217_transport.h"

namespace {

constexpr int kWaitMs = 3000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

int Listener(std::uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Fail("no listener");
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, kWaitMs) == 1;
}

// The server's side of one connection: agreement, the lines, the input, hang-up.
void Serve(int listener, const std::uint8_t* data, std::size_t size) {
    if (!Readable(listener)) return;
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    static const std::uint8_t kOpening[] = {
        255, 253, 44,                      // IAC DO COM-PORT-OPTION
        255, 250, 44, 107, 0xB0, 255, 240  // NOTIFY-MODEMSTATE: CTS, DSR, DCD
    };
    send(fd, kOpening, sizeof kOpening, MSG_NOSIGNAL);
    if (size > 0) send(fd, data, size, MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    // Until the client hangs up too.
    std::uint8_t sink[4096];
    while (Readable(fd) && recv(fd, sink, sizeof sink, 0) > 0) {
    }
    close(fd);
}

void Client(const std::string& url) {
    const serial_os::Handle port = rfc2217::Open(url.c_str());
    if (port == serial_os::kInvalidHandle) return;
    serial_os::LineSettings settings;
    if (rfc2217::GetLineSettings(port, settings)) {
        settings.baudRate = 230400;
        settings.byteSize = 8;
        settings.parity = serial_os::kEvenParity;
        rfc2217::SetLineSettings(port, settings);
    }
    // Reads wait at most 1 ms for what they ask.
    rfc2217::SetTimeouts(port, serial_os::Timeouts{0, 0, 1, 0, 0});
    char buffer[300];
    for (int i = 0; i < 2000; ++i) {
        std::uint32_t status = 0;
        std::uint32_t errors = 0;
        std::uint32_t count = 0;
        rfc2217::GetModemStatus(port, status);
        if ((status & ~0xF0u) != 0) Fail("modem status beyond the line bits");
        const bool read = rfc2217::Read(port, buffer, sizeof buffer, count);
        if (count > sizeof buffer) Fail("read beyond the buffer");
        rfc2217::ClearErrors(port, errors);
        if (i % 50 == 0) {
            std::uint32_t written = 0;
            rfc2217::Write(port, "U\r", 2, written);
            if (written > 2) Fail("wrote more than asked");
            rfc2217::EscapeFunction(port, i % 100 == 0 ? serial_os::kSetRts : serial_os::kClearRts);
        }
        if (i == 100) rfc2217::Purge(port, 0xF);
        if (!read) break;  // gone, and nothing left to read
    }
    rfc2217::PeerReport report;
    rfc2217::GetPeerReport(port, report);
    if (!rfc2217::Close(port)) Fail("close failed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::uint16_t port = 0;
    static const int listener = Listener(port);
    std::thread server(Serve, listener, data, size);
    Client("rfc2217://127.0.0.1:" + std::to_string(port));
    server.join();
    return 0;
}

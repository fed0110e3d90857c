#include "rfc2217_transport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "telnet_codec.h"

namespace rfc2217 {

namespace {

using serial_os::Handle;

// COM-PORT-OPTION commands, client to server. The server answers with the code plus 100.
constexpr std::uint8_t kSignature = 0;
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kSetControl = 5;
constexpr std::uint8_t kNotifyLineState = 6;
constexpr std::uint8_t kNotifyModemState = 7;
constexpr std::uint8_t kFlowSuspend = 8;
constexpr std::uint8_t kFlowResume = 9;
constexpr std::uint8_t kSetLineStateMask = 10;
constexpr std::uint8_t kSetModemStateMask = 11;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServer = 100;

// SET-CONTROL values.
constexpr std::uint8_t kNoFlowControl = 1;
constexpr std::uint8_t kXonXoffFlowControl = 2;
constexpr std::uint8_t kHardwareFlowControl = 3;
constexpr std::uint8_t kBreakOn = 5;
constexpr std::uint8_t kBreakOff = 6;
constexpr std::uint8_t kDtrOn = 8;
constexpr std::uint8_t kDtrOff = 9;
constexpr std::uint8_t kRtsOn = 11;
constexpr std::uint8_t kRtsOff = 12;

// PURGE-DATA values: the server's buffers, seen from the serial side.
constexpr std::uint8_t kPurgeReceive = 1;
constexpr std::uint8_t kPurgeTransmit = 2;
constexpr std::uint8_t kPurgeBoth = 3;

// NOTIFY-LINESTATE bits that are line errors, with their ClearCommError flags.
struct LineError {
    std::uint8_t bit;
    std::uint32_t flag;
};
constexpr LineError kLineErrors[] = {
    {0x02, serial_os::kErrOverrun},
    {0x04, serial_os::kErrRxParity},
    {0x08, serial_os::kErrFrame},
    {0x10, serial_os::kErrBreak},
};
constexpr std::uint8_t kLineErrorMask = 0x1E;

// Modem state: the line bits match the Windows status word, the low four are deltas.
constexpr std::uint8_t kModemLines = 0xF0;
constexpr std::uint8_t kAllModemEvents = 0xFF;

// EscapeCommFunction codes without a name in the seam.
constexpr std::uint32_t kSetBreak = 8;
constexpr std::uint32_t kClearBreak = 9;

constexpr std::uint32_t kPurgeAll = serial_os::kPurgeTxAbort | serial_os::kPurgeRxAbort |
                                    serial_os::kPurgeTxClear | serial_os::kPurgeRxClear;
constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;

constexpr int kMaxConnections = 16;
constexpr std::size_t kRxCapacity = 16384;
constexpr std::size_t kControlCapacity = 512;
constexpr std::size_t kUrlCapacity = 256;
constexpr std::size_t kHostCapacity = 256;
constexpr int kConnectTimeoutMs = 3000;
constexpr int kNegotiationTimeoutMs = 3000;
constexpr int kOpenModemRetryMs = 50;
// Servers differ in when they report the modem lines (some only when asked, some
// once a second), and the host purge gives CTS only a thousand 1 ms polls to drop,
// so a poll of the lines asks again, but no more often than this.
constexpr std::int64_t kModemPollIntervalMs = 5;
constexpr int kStallTimeoutMs = 5000;
constexpr int kCloseLingerMs = 200;
constexpr int kMaxReadsPerDrain = 16;

const char kSignatureText[] = "Telvar";

// A line setting the server acknowledges with the value it really uses.
struct AckedSetting {
    bool set = false;
    std::uint32_t sent = 0;
    std::uint32_t pending = 0;  // requests whose acknowledgement has not arrived
};

struct Connection {
    int fd = -1;
    bool dead = false;
    bool suspended = false;   // the server asked us to stop sending data
    bool discarding = false;  // received data goes nowhere (purge)
    char url[kUrlCapacity] = {};
    telnet::Decoder decoder;
    telnet::Negotiator negotiator;
    std::uint8_t rx[kRxCapacity] = {};
    std::size_t rxHead = 0;
    std::size_t rxCount = 0;
    std::uint8_t control[kControlCapacity] = {};
    std::size_t controlLength = 0;
    serial_os::LineSettings settings;
    serial_os::Timeouts timeouts;
    std::uint32_t lineErrors = 0;
    std::int64_t lastModemRequestMs = 0;
    bool modemRequested = false;
    AckedSetting baudRate, dataSize, parity, stopSize;
    PeerReport report;
};

Connection g_connections[kMaxConnections];

std::int64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int Remaining(std::int64_t deadline) {
    const std::int64_t left = deadline - NowMs();
    return left <= 0 ? 0 : left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

Connection* Find(Handle port) {
    if (port < 0) return nullptr;
    for (Connection& c : g_connections) {
        if (c.fd >= 0 && c.fd == port) return &c;
    }
    return nullptr;
}

// ---- receive side ----

void RxPush(Connection& c, std::uint8_t byte) {
    if (c.discarding) return;
    if (c.rxCount == kRxCapacity) {
        // A full driver queue loses bytes and says so; it does not stop the line.
        c.lineErrors |= serial_os::kErrRxOver;
        ++c.report.droppedDataBytes;
        return;
    }
    c.rx[(c.rxHead + c.rxCount) % kRxCapacity] = byte;
    ++c.rxCount;
}

std::uint32_t RxTake(Connection& c, std::uint8_t* out, std::uint32_t n) {
    std::uint32_t taken = 0;
    while (taken < n && c.rxCount > 0) {
        const std::size_t run = kRxCapacity - c.rxHead;
        std::size_t chunk = c.rxCount < run ? c.rxCount : run;
        if (chunk > n - taken) chunk = n - taken;
        std::memcpy(out + taken, c.rx + c.rxHead, chunk);
        c.rxHead = (c.rxHead + chunk) % kRxCapacity;
        c.rxCount -= chunk;
        taken += static_cast<std::uint32_t>(chunk);
    }
    if (c.rxCount == 0) c.rxHead = 0;
    return taken;
}

// Replies and commands wait here, so that they never land inside an escaped data
// pair that is half sent. Replies we have no room for are dropped and counted.
bool QueueControl(Connection& c, const std::uint8_t* bytes, std::size_t n) {
    if (n > kControlCapacity - c.controlLength) {
        ++c.report.droppedReplies;
        return false;
    }
    std::memcpy(c.control + c.controlLength, bytes, n);
    c.controlLength += n;
    return true;
}

bool QueueSub(Connection& c, std::uint8_t code, const std::uint8_t* value, std::size_t n) {
    std::uint8_t payload[16];
    std::uint8_t message[2 * sizeof payload + 6];
    if (n + 1 > sizeof payload) return false;
    payload[0] = code;
    std::memcpy(payload + 1, value, n);
    const std::size_t length =
        telnet::Subnegotiation(telnet::kOptComPort, payload, n + 1, message, sizeof message);
    return length > 0 && QueueControl(c, message, length);
}

bool QueueSub(Connection& c, std::uint8_t code, std::uint8_t value) {
    return QueueSub(c, code, &value, 1);
}

void CheckAck(Connection& c, AckedSetting& setting, std::uint32_t value) {
    if (setting.pending > 0 && --setting.pending > 0) return;  // answers an older request
    if (setting.set && value != setting.sent) ++c.report.settingMismatches;
}

void HandleComPort(Connection& c, const std::uint8_t* sub, std::size_t length) {
    if (length < 2) {
        ++c.report.droppedSubnegotiations;
        return;
    }
    const std::uint8_t code = sub[1];
    const std::uint8_t* value = sub + 2;
    const std::size_t n = length - 2;
    const bool oneByte = n == 1;
    switch (code) {
        case kServer + kSignature:
            // An empty signature is the server asking for ours.
            if (n == 0) {
                QueueSub(c, kSignature, reinterpret_cast<const std::uint8_t*>(kSignatureText),
                         sizeof kSignatureText - 1);
            }
            return;
        case kServer + kSetBaudRate:
            if (n != 4) break;
            c.report.ackedBaudRate = static_cast<std::uint32_t>(value[0]) << 24 |
                                     static_cast<std::uint32_t>(value[1]) << 16 |
                                     static_cast<std::uint32_t>(value[2]) << 8 | value[3];
            CheckAck(c, c.baudRate, c.report.ackedBaudRate);
            return;
        case kServer + kSetDataSize:
            if (!oneByte) break;
            c.report.ackedDataSize = value[0];
            CheckAck(c, c.dataSize, value[0]);
            return;
        case kServer + kSetParity:
            if (!oneByte) break;
            c.report.ackedParity = value[0];
            CheckAck(c, c.parity, value[0]);
            return;
        case kServer + kSetStopSize:
            if (!oneByte) break;
            c.report.ackedStopSize = value[0];
            CheckAck(c, c.stopSize, value[0]);
            return;
        case kServer + kNotifyLineState:
            if (!oneByte) break;
            for (const LineError& e : kLineErrors) {
                if (value[0] & e.bit) c.lineErrors |= e.flag;
            }
            return;
        case kServer + kNotifyModemState:
            if (!oneByte) break;
            // Whatever made the server send it, it is the state of the lines now.
            c.report.modemState = value[0];
            c.report.modemStateKnown = true;
            ++c.report.modemNotifications;
            return;
        case kServer + kFlowSuspend:
            c.suspended = true;
            return;
        case kServer + kFlowResume:
            c.suspended = false;
            return;
        default:
            // Acknowledgements of SET-CONTROL, the masks and PURGE-DATA carry nothing
            // we act on; several servers never send them at all.
            return;
    }
    ++c.report.droppedSubnegotiations;
}

void Feed(Connection& c, const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        switch (c.decoder.Push(bytes[i])) {
            case telnet::Decoder::Event::Data:
                RxPush(c, c.decoder.Data());
                break;
            case telnet::Decoder::Event::Negotiation: {
                std::uint8_t reply[telnet::Negotiator::kMaxReply];
                const std::size_t length =
                    c.negotiator.Receive(c.decoder.Verb(), c.decoder.Option(), reply);
                if (length > 0) QueueControl(c, reply, length);
                c.report.comPortAgreed = c.negotiator.ComPortAgreed();
                break;
            }
            case telnet::Decoder::Event::Subnegotiation:
                if (c.decoder.Sub()[0] == telnet::kOptComPort) {
                    HandleComPort(c, c.decoder.Sub(), c.decoder.SubLength());
                }
                break;
            case telnet::Decoder::Event::Dropped:
                ++c.report.droppedSubnegotiations;
                break;
            case telnet::Decoder::Event::Command:
            case telnet::Decoder::Event::None:
                break;
        }
    }
}

// Takes what the socket holds without waiting. A closed or failed connection marks
// the port dead; bytes received before stay readable.
void Drain(Connection& c) {
    std::uint8_t buffer[4096];
    for (int i = 0; i < kMaxReadsPerDrain && !c.dead; ++i) {
        const ssize_t got = recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            Feed(c, buffer, static_cast<std::size_t>(got));
            if (static_cast<std::size_t>(got) < sizeof buffer) return;
        } else if (got == 0) {
            c.dead = true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        } else {
            c.dead = true;
        }
    }
}

// Waits for the socket; true when it is readable or writable as asked (or failed,
// which the next recv or send reports).
bool WaitSocket(Connection& c, short events, int timeoutMs) {
    pollfd p{c.fd, events, 0};
    const int ready = poll(&p, 1, timeoutMs);
    return ready > 0;
}

// ---- send side ----

// Sends what the socket takes now. Returns the bytes sent, or -1 when the connection
// is gone (never SIGPIPE).
ssize_t SendSome(Connection& c, const std::uint8_t* bytes, std::size_t n) {
    for (;;) {
        const ssize_t sent = send(c.fd, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        c.dead = true;
        return -1;
    }
}

// Sends n bytes; waits while the socket is full, but gives up after a stall of
// kStallTimeoutMs. Keeps reading meanwhile, so a server blocked on its own sends
// cannot deadlock us. sent: bytes handed to the kernel.
bool SendAll(Connection& c, const std::uint8_t* bytes, std::size_t n, std::size_t& sent) {
    sent = 0;
    std::int64_t deadline = NowMs() + kStallTimeoutMs;
    while (sent < n) {
        if (c.dead) return false;
        const ssize_t now = SendSome(c, bytes + sent, n - sent);
        if (now < 0) return false;
        if (now > 0) {
            sent += static_cast<std::size_t>(now);
            deadline = NowMs() + kStallTimeoutMs;
            continue;
        }
        const int left = Remaining(deadline);
        if (left == 0) return false;
        pollfd p{c.fd, POLLOUT | POLLIN, 0};
        if (poll(&p, 1, left) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) Drain(c);
    }
    return true;
}

// Hands the queued control bytes to the kernel. With wait false it only takes what
// the socket accepts at once and leaves the rest queued.
bool FlushControl(Connection& c, bool wait) {
    while (c.controlLength > 0) {
        if (c.dead) return false;
        std::size_t sent = 0;
        bool ok;
        if (wait) {
            // Copy out first: SendAll may read, and reading may queue more replies.
            std::uint8_t bytes[kControlCapacity];
            const std::size_t n = c.controlLength;
            std::memcpy(bytes, c.control, n);
            ok = SendAll(c, bytes, n, sent);
        } else {
            const ssize_t now = SendSome(c, c.control, c.controlLength);
            ok = now >= 0;
            sent = ok ? static_cast<std::size_t>(now) : 0;
        }
        std::memmove(c.control, c.control + sent, c.controlLength - sent);
        c.controlLength -= sent;
        if (!ok) return false;
        if (!wait && sent == 0) return true;
    }
    return !c.dead;
}

// Reads what has arrived and answers what needs answering, without waiting.
void Pump(Connection& c) {
    Drain(c);
    if (!c.dead) FlushControl(c, false);
}

bool SendCommand(Connection& c, std::uint8_t code, const std::uint8_t* value, std::size_t n) {
    if (c.dead) return false;
    if (!QueueSub(c, code, value, n)) {
        // Full of replies the server is slow to take: make room once.
        if (!FlushControl(c, true) || !QueueSub(c, code, value, n)) return false;
    }
    return FlushControl(c, true);
}

bool SendCommand(Connection& c, std::uint8_t code, std::uint8_t value) {
    return SendCommand(c, code, &value, 1);
}

// Both ways of asking, because servers answer only one of them: pyserial's reports
// on NOTIFY-MODEMSTATE, ser2net on SET-MODEMSTATE-MASK.
void RequestModemState(Connection& c) {
    QueueSub(c, kSetModemStateMask, kAllModemEvents);
    QueueSub(c, kNotifyModemState, 0);
    c.lastModemRequestMs = NowMs();
    c.modemRequested = true;
}

// ---- connecting ----

bool ParseUrl(const char* url, char* host, char* port) {
    const char* p = url + 10;  // after "rfc2217://"
    const char* hostEnd;
    const char* hostStart = p;
    if (*p == '[') {
        hostStart = p + 1;
        hostEnd = std::strchr(hostStart, ']');
        if (!hostEnd) return false;
        p = hostEnd + 1;
    } else {
        while (*p && *p != ':' && *p != '/' && *p != '?') ++p;
        hostEnd = p;
    }
    const std::size_t hostLength = static_cast<std::size_t>(hostEnd - hostStart);
    if (hostLength == 0 || hostLength >= kHostCapacity || *p != ':') return false;
    std::memcpy(host, hostStart, hostLength);
    host[hostLength] = '\0';
    ++p;
    unsigned long value = 0;
    std::size_t digits = 0;
    while (*p >= '0' && *p <= '9' && digits < 6) {
        value = value * 10 + static_cast<unsigned long>(*p - '0');
        port[digits++] = *p++;
    }
    port[digits] = '\0';
    if (digits == 0 || value == 0 || value > 65535) return false;
    return *p == '\0' || *p == '/' || *p == '?';
}

int ConnectTo(const sockaddr* address, socklen_t length, std::int64_t deadline) {
    const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, address, length) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&p, 1, Remaining(deadline));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t size = sizeof error;
        if (ready <= 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0) {
            close(fd);
            return -1;
        }
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int Connect(const char* host, const char* port) {
    const std::int64_t deadline = NowMs() + kConnectTimeoutMs;
    const auto number = static_cast<std::uint16_t>(std::strtoul(port, nullptr, 10));
    // Numeric addresses need no resolver (and no allocation).
    sockaddr_in v4{};
    if (inet_pton(AF_INET, host, &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(number);
        return ConnectTo(reinterpret_cast<sockaddr*>(&v4), sizeof v4, deadline);
    }
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, host, &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(number);
        return ConnectTo(reinterpret_cast<sockaddr*>(&v6), sizeof v6, deadline);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo* a = found; a && fd < 0 && Remaining(deadline) > 0; a = a->ai_next) {
        fd = ConnectTo(a->ai_addr, a->ai_addrlen, deadline);
    }
    freeaddrinfo(found);
    return fd;
}

void Release(Connection& c) {
    if (c.fd >= 0) close(c.fd);
    c.fd = -1;
}

// The seam's idea of a port nobody configured yet.
serial_os::LineSettings DefaultSettings() {
    serial_os::LineSettings s;
    s.baudRate = 9600;
    s.byteSize = 8;
    s.parity = 0;
    s.stopBits = serial_os::kOneStopBit;
    s.dtrControl = 1;
    s.rtsControl = 1;
    return s;
}

// Waits (bounded) for the server's side of the opening: COM port control agreed,
// and the modem lines reported once, so that the first status read is the truth.
bool Negotiate(Connection& c) {
    const std::int64_t deadline = NowMs() + kNegotiationTimeoutMs;
    while (!c.negotiator.ComPortAgreed()) {
        if (c.dead || c.negotiator.ComPortRefused()) return false;
        if (!FlushControl(c, false)) return false;
        const int left = Remaining(deadline);
        if (left == 0) return false;
        const short events = c.controlLength > 0 ? POLLIN | POLLOUT : POLLIN;
        if (WaitSocket(c, events, left)) Drain(c);
    }
    QueueSub(c, kSetLineStateMask, kLineErrorMask);
    while (!c.report.modemStateKnown && !c.dead) {
        if (NowMs() - c.lastModemRequestMs >= kOpenModemRetryMs || !c.modemRequested) {
            RequestModemState(c);
        }
        if (!FlushControl(c, false)) return false;
        const int left = Remaining(deadline);
        if (left == 0) break;  // a silent server: the lines read as off until it speaks
        const int wait = left < kOpenModemRetryMs ? left : kOpenModemRetryMs;
        if (WaitSocket(c, c.controlLength > 0 ? POLLIN | POLLOUT : POLLIN, wait)) Drain(c);
    }
    return FlushControl(c, true);
}

std::uint32_t Clamp(std::uint64_t value) {
    return value > kMaxDword ? kMaxDword : static_cast<std::uint32_t>(value);
}

}  // namespace

bool IsUrl(const char* name) {
    return name && strncasecmp(name, "rfc2217://", 10) == 0;
}

bool IsHandle(Handle port) {
    return Find(port) != nullptr;
}

Handle Open(const char* url) {
    char host[kHostCapacity];
    char port[8];
    if (!IsUrl(url) || std::strlen(url) >= kUrlCapacity || !ParseUrl(url, host, port)) {
        return serial_os::kInvalidHandle;
    }
    Connection* slot = nullptr;
    for (Connection& c : g_connections) {
        // One user per port, as with a local serial port.
        if (c.fd >= 0 && strcasecmp(c.url, url) == 0) return serial_os::kInvalidHandle;
        if (c.fd < 0 && !slot) slot = &c;
    }
    if (!slot) return serial_os::kInvalidHandle;
    const int fd = Connect(host, port);
    if (fd < 0) return serial_os::kInvalidHandle;

    Connection& c = *slot;
    c.fd = fd;
    c.dead = false;
    c.suspended = false;
    c.discarding = false;
    std::snprintf(c.url, sizeof c.url, "%s", url);
    c.decoder = telnet::Decoder();
    c.negotiator = telnet::Negotiator();
    c.rxHead = c.rxCount = 0;
    c.controlLength = 0;
    c.settings = DefaultSettings();
    c.timeouts = serial_os::Timeouts{10, 0, 10, 0, 0};
    c.lineErrors = 0;
    c.lastModemRequestMs = 0;
    c.modemRequested = false;
    c.baudRate = c.dataSize = c.parity = c.stopSize = AckedSetting();
    c.report = PeerReport();

    std::uint8_t requests[16];
    QueueControl(c, requests, c.negotiator.Start(requests));
    if (!Negotiate(c)) {
        Release(c);
        return serial_os::kInvalidHandle;
    }
    return fd;
}

bool GetLineSettings(Handle port, serial_os::LineSettings& settings) {
    Connection* c = Find(port);
    if (!c || c->dead) return false;
    settings = c->settings;
    return true;
}

bool SetLineSettings(Handle port, const serial_os::LineSettings& s) {
    Connection* c = Find(port);
    if (!c || c->dead) return false;
    // Refuse what the protocol cannot carry rather than pretend it is in force.
    const bool hardwareFlow = s.outxCtsFlow || s.rtsControl == 2;
    const bool softwareFlow = s.outX || s.inX;
    if (s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8 || s.parity > 4 || s.stopBits > 2 ||
        s.dtrControl > 1 || s.rtsControl > 2 || s.outxDsrFlow || s.dsrSensitivity ||
        (hardwareFlow && softwareFlow)) {
        return false;
    }
    static constexpr std::uint8_t kStopCodes[] = {1, 3, 2};  // one, one and a half, two
    const std::uint8_t baud[4] = {
        static_cast<std::uint8_t>(s.baudRate >> 24), static_cast<std::uint8_t>(s.baudRate >> 16),
        static_cast<std::uint8_t>(s.baudRate >> 8), static_cast<std::uint8_t>(s.baudRate)};
    const std::uint8_t parity = static_cast<std::uint8_t>(s.parity + 1);
    const std::uint8_t stop = kStopCodes[s.stopBits];
    const std::uint8_t flow = hardwareFlow   ? kHardwareFlowControl
                              : softwareFlow ? kXonXoffFlowControl
                                             : kNoFlowControl;

    c->baudRate = {true, s.baudRate, c->baudRate.pending + 1};
    c->dataSize = {true, s.byteSize, c->dataSize.pending + 1};
    c->parity = {true, parity, c->parity.pending + 1};
    c->stopSize = {true, stop, c->stopSize.pending + 1};
    bool ok = SendCommand(*c, kSetBaudRate, baud, sizeof baud) &&
              SendCommand(*c, kSetDataSize, s.byteSize) && SendCommand(*c, kSetParity, parity) &&
              SendCommand(*c, kSetStopSize, stop) && SendCommand(*c, kSetControl, flow);
    // As SetCommState: a disabled line is driven low, an enabled one high.
    if (ok) ok = SendCommand(*c, kSetControl, s.dtrControl == 1 ? kDtrOn : kDtrOff);
    if (ok && s.rtsControl != 2) {
        ok = SendCommand(*c, kSetControl, s.rtsControl == 1 ? kRtsOn : kRtsOff);
    }
    if (ok) c->settings = s;
    return ok;
}

bool SetTimeouts(Handle port, const serial_os::Timeouts& timeouts) {
    Connection* c = Find(port);
    if (!c) return false;
    c->timeouts = timeouts;
    return true;
}

bool Purge(Handle port, std::uint32_t flags) {
    Connection* c = Find(port);
    if (!c || c->dead || (flags & ~kPurgeAll) != 0) return false;
    const bool rx = flags & serial_os::kPurgeRxClear;
    const bool tx = flags & serial_os::kPurgeTxClear;
    // Writes and reads complete within their calls, so there is nothing to abort.
    if (rx || tx) {
        const std::uint8_t what = rx && tx ? kPurgeBoth : rx ? kPurgeReceive : kPurgeTransmit;
        if (!SendCommand(*c, kPurgeData, what)) return false;
    }
    if (rx) {
        // Drop what is already here; the server's buffer is cleared by the command.
        c->discarding = true;
        Drain(*c);
        c->discarding = false;
        c->rxHead = c->rxCount = 0;
    }
    return !c->dead;
}

bool EscapeFunction(Handle port, std::uint32_t function) {
    struct Escape {
        std::uint32_t function;
        std::uint8_t control;
    };
    static constexpr Escape kEscapes[] = {
        {serial_os::kSetRts, kRtsOn}, {serial_os::kClearRts, kRtsOff},
        {serial_os::kSetDtr, kDtrOn}, {serial_os::kClearDtr, kDtrOff},
        {kSetBreak, kBreakOn},        {kClearBreak, kBreakOff},
    };
    Connection* c = Find(port);
    if (!c) return false;
    if (c->dead) {
        // Servers drop the lines of a client that is gone (pyserial's, ser2net and
        // quenta-sim all do), so on a lost connection they are off already. Saying so
        // lets Close release the port; raising a line is impossible.
        return function == serial_os::kClearRts || function == serial_os::kClearDtr;
    }
    for (const Escape& e : kEscapes) {
        if (e.function == function) return SendCommand(*c, kSetControl, e.control);
    }
    return false;
}

bool GetModemStatus(Handle port, std::uint32_t& status) {
    Connection* c = Find(port);
    if (!c || c->dead) return false;
    Drain(*c);
    if (NowMs() - c->lastModemRequestMs >= kModemPollIntervalMs) RequestModemState(*c);
    if (!FlushControl(*c, false)) return false;
    status = c->report.modemState & kModemLines;
    return true;
}

bool Read(Handle port, void* data, std::uint32_t length, std::uint32_t& read) {
    read = 0;
    Connection* c = Find(port);
    if (!c || (!data && length > 0)) return false;
    const std::int64_t start = NowMs();
    auto* out = static_cast<std::uint8_t*>(data);
    if (!c->dead) Pump(*c);
    read = RxTake(*c, out, length);
    if (read == length) return true;

    const serial_os::Timeouts& t = c->timeouts;
    const bool immediate =
        t.readInterval == kMaxDword && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
    // Interval and multiplier all ones with a constant: wait for the first byte only.
    const bool firstByte = t.readInterval == kMaxDword && t.readTotalMultiplier == kMaxDword &&
                           t.readTotalConstant > 0 && t.readTotalConstant < kMaxDword;
    if (immediate || (firstByte && read > 0)) return read > 0 || !c->dead;

    std::uint64_t total = firstByte ? t.readTotalConstant
                                    : static_cast<std::uint64_t>(t.readTotalMultiplier) * length +
                                          t.readTotalConstant;
    const bool hasTotal = total > 0;
    const bool hasInterval = !firstByte && t.readInterval > 0 && t.readInterval != kMaxDword;
    const std::int64_t totalDeadline = start + static_cast<std::int64_t>(Clamp(total));
    std::int64_t lastByte = start;
    while (read < length) {
        if (c->dead) return read > 0;
        std::int64_t deadline = hasTotal ? totalDeadline : -1;
        if (hasInterval && read > 0) {
            const std::int64_t gap = lastByte + t.readInterval;
            if (deadline < 0 || gap < deadline) deadline = gap;
        }
        int wait = -1;
        if (deadline >= 0) {
            wait = Remaining(deadline);
            if (wait == 0) break;
        }
        const short events = c->controlLength > 0 ? POLLIN | POLLOUT : POLLIN;
        if (!WaitSocket(*c, events, wait)) continue;
        Pump(*c);
        const std::uint32_t got = RxTake(*c, out + read, length - read);
        if (got > 0) {
            read += got;
            lastByte = NowMs();
            if (firstByte) break;
        }
    }
    return true;
}

bool Write(Handle port, const void* data, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    Connection* c = Find(port);
    if (!c || c->dead || (!data && length > 0)) return false;
    const auto* in = static_cast<const std::uint8_t*>(data);
    Pump(*c);
    while (written < length) {
        if (!FlushControl(*c, true)) return false;
        // The server asked us to hold our data; wait for it, within the stall bound.
        const std::int64_t deadline = NowMs() + kStallTimeoutMs;
        while (c->suspended && !c->dead) {
            const int left = Remaining(deadline);
            if (left == 0) return false;
            if (WaitSocket(*c, POLLIN, left)) Pump(*c);
        }
        std::uint8_t stage[2048];
        std::size_t consumed = 0;
        const std::size_t n =
            telnet::Escape(in + written, length - written, stage, sizeof stage, consumed);
        std::size_t sent = 0;
        if (!SendAll(*c, stage, n, sent)) {
            // Count the data bytes whose coding went out whole.
            for (std::size_t coded = 0; written < length;) {
                const std::size_t size = in[written] == telnet::kIac ? 2 : 1;
                if (coded + size > sent) break;
                coded += size;
                ++written;
            }
            return false;
        }
        written += static_cast<std::uint32_t>(consumed);
    }
    return true;
}

bool ClearErrors(Handle port, std::uint32_t& errors) {
    errors = 0;
    Connection* c = Find(port);
    if (!c) return false;
    if (!c->dead) Pump(*c);
    errors = c->lineErrors;
    c->lineErrors = 0;
    return !c->dead;
}

bool WaitEvent(Handle port, std::uint32_t& eventMask) {
    Connection* c = Find(port);
    if (!c || c->dead) return false;
    // Every write hands all its bytes to the kernel before it returns, so the
    // transmit side is empty by the time anyone can wait for it.
    if (!FlushControl(*c, true)) return false;
    eventMask = serial_os::kEventTxEmpty;
    return true;
}

bool Close(Handle port) {
    Connection* c = Find(port);
    if (!c) return false;
    if (!c->dead) {
        FlushControl(*c, false);
        // Closing with unread bytes would reset the connection and could throw away
        // our last commands at the server; say goodbye and read until it does.
        shutdown(c->fd, SHUT_WR);
        const std::int64_t deadline = NowMs() + kCloseLingerMs;
        c->discarding = true;
        while (!c->dead) {
            const int left = Remaining(deadline);
            if (left == 0 || !WaitSocket(*c, POLLIN, left)) break;
            Drain(*c);
        }
    }
    Release(*c);
    return true;
}

bool GetPeerReport(Handle port, PeerReport& report) {
    Connection* c = Find(port);
    if (!c) return false;
    report = c->report;
    return true;
}

}  // namespace rfc2217

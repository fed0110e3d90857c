// POSIX serial backend. A port name \\.\COM<n> resolves when it opens: to the value of
// TELVAR_COM<n> if set, else to /dev/ttyS<n-1>. An rfc2217:// name is a network port of
// the rfc2217 transport; anything else is a tty driven with termios and the modem-control
// ioctls, with the Windows time-out semantics built from poll().
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#if defined(__linux__)
#include <linux/serial.h>
#endif

#include "rfc2217_transport.h"
#include "serial_os.h"

namespace {

using serial_os::Handle;
using serial_os::LineSettings;
using serial_os::Timeouts;

constexpr std::uint32_t kForever = 0xFFFFFFFFu;

static_assert(sizeof(termios) <= sizeof(LineSettings::native), "termios fits the native record");

// An open tty. Fixed storage: the library has eight slots, Ombrel uses one.
struct Tty {
    int fd = -1;
    Timeouts timeouts;
#if defined(TIOCGICOUNT)
    bool counters = false;  // the driver keeps error counters
    serial_icounter_struct seen = {};
#endif
};
Tty g_ttys[32];

Tty* Find(Handle port) {
    if (port < 0 || port > INT_MAX) return nullptr;
    for (Tty& t : g_ttys) {
        if (t.fd == static_cast<int>(port)) return &t;
    }
    return nullptr;
}

std::int64_t NowUs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// When the last pause of SleepMs ended (CLOCK_MONOTONIC, microseconds).
std::int64_t g_lastPauseEndUs = 0;

// --- the port name ---

// "\\.\COM<n>" gives n; false for any other name.
bool ComNumber(const char* name, unsigned& n) {
    static const char kPrefix[] = "\\\\.\\COM";
    if (std::strncmp(name, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* digits = name + sizeof kPrefix - 1;
    if (*digits < '0' || *digits > '9') return false;
    char* end = nullptr;
    const unsigned long value = std::strtoul(digits, &end, 10);
    if (*end != '\0' || value > 0xFFFFu) return false;
    n = static_cast<unsigned>(value);
    return true;
}

// The name to open, in `storage` when it has to be formed; null when there is none.
const char* Resolve(const char* name, char* storage, std::size_t size) {
    unsigned n = 0;
    if (!ComNumber(name, n)) return name;
    char variable[24];
    std::snprintf(variable, sizeof variable, "TELVAR_COM%u", n);
    const char* chosen = std::getenv(variable);
    if (chosen && *chosen) return chosen;
    if (n == 0) return nullptr;  // COM1 is the first port: there is no ttyS-1
    std::snprintf(storage, size, "/dev/ttyS%u", n - 1);
    return storage;
}

// --- line settings <-> termios ---

struct Speed {
    std::uint32_t rate;
    speed_t code;
};
const Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#if defined(B460800)
    {460800, B460800},
#endif
#if defined(B921600)
    {921600, B921600},
#endif
};

const tcflag_t kByteSizes[] = {CS5, CS6, CS7, CS8};  // 5 to 8 data bits

bool Load(int fd, const LineSettings& settings, termios& t) {
    // A record that never came from GetLineSettings starts from the driver's own.
    for (unsigned char b : settings.native) {
        if (b != 0) {
            std::memcpy(&t, settings.native, sizeof t);
            return true;
        }
    }
    return tcgetattr(fd, &t) == 0;
}

bool TtyGetLineSettings(Tty& tty, LineSettings& s) {
    termios t;
    if (tcgetattr(tty.fd, &t) != 0) return false;
    s = LineSettings();
    const speed_t speed = cfgetospeed(&t);
    for (const Speed& sp : kSpeeds) {
        if (sp.code == speed) s.baudRate = sp.rate;
    }
    for (std::uint8_t i = 0; i < 4; ++i) {
        if ((t.c_cflag & CSIZE) == kByteSizes[i]) s.byteSize = std::uint8_t(5 + i);
    }
    if (t.c_cflag & PARENB) {
        s.parity = (t.c_cflag & PARODD) ? 1 : 2;
#if defined(CMSPAR)
        if (t.c_cflag & CMSPAR) s.parity = (t.c_cflag & PARODD) ? 3 : 4;
#endif
    }
    s.stopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    // With parity on the driver checks it and counts the errors (see ClearErrors).
    s.parityCheck = (t.c_cflag & PARENB) != 0;
    s.outxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
    s.rtsControl = s.outxCtsFlow ? 2 : serial_os::kRtsControlDisable;
    s.dtrControl = serial_os::kDtrControlDisable;
    s.txContinueOnXoff = true;
    s.outX = (t.c_iflag & IXON) != 0;
    s.inX = (t.c_iflag & IXOFF) != 0;
    std::memcpy(s.native, &t, sizeof t);
    return true;
}

bool TtySetLineSettings(Tty& tty, const LineSettings& s) {
    // What a tty cannot do is refused rather than silently dropped.
    if (s.outxDsrFlow || s.dsrSensitivity || s.dtrControl == 2 || s.rtsControl == 3 ||
        s.errorChar || s.discardNull || s.abortOnError || s.parity > 4 || s.stopBits > 2 ||
        s.byteSize < 5 || s.byteSize > 8) {
        return false;
    }
    const Speed* speed = nullptr;
    for (const Speed& sp : kSpeeds) {
        if (sp.rate == s.baudRate) speed = &sp;
    }
    termios t;
    if (!speed || !Load(tty.fd, s, t)) return false;

    // Raw bytes both ways. INPCK stays off: with it the tty layer turns a byte with a
    // parity or framing error into NUL; without it the byte passes as received and the
    // error shows in the driver's counters, which is what the line-error flags report.
    // Breaks are counted there too instead of arriving as NUL bytes.
    t.c_iflag &= ~tcflag_t(BRKINT | PARMRK | INPCK | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL |
                           IXON | IXOFF | IXANY);
    t.c_iflag |= IGNBRK;
    if (s.outX) t.c_iflag |= IXON;
    if (s.inX) t.c_iflag |= IXOFF;
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHONL | ICANON | ISIG | IEXTEN);

    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#if defined(CMSPAR)
    t.c_cflag &= ~tcflag_t(CMSPAR);
#endif
    // CLOCAL: a missing carrier must not hang up the port; the library reads DCD itself.
    t.c_cflag |= CREAD | CLOCAL | kByteSizes[s.byteSize - 5];
    if (s.parity != 0) t.c_cflag |= PARENB;
    if (s.parity == 1 || s.parity == 3) t.c_cflag |= PARODD;
    if (s.parity >= 3) {
#if defined(CMSPAR)
        t.c_cflag |= CMSPAR;
#else
        return false;
#endif
    }
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    if (s.outxCtsFlow || s.rtsControl == 2) t.c_cflag |= CRTSCTS;

    // Reads never block in the driver: the time-outs are ours.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, speed->code) != 0 || cfsetospeed(&t, speed->code) != 0) return false;
    return tcsetattr(tty.fd, TCSANOW, &t) == 0;
}

// --- open and close ---

Handle TtyOpen(const char* name) {
    Tty* slot = nullptr;
    for (Tty& t : g_ttys) {
        if (t.fd < 0) {
            slot = &t;
            break;
        }
    }
    if (!slot) return serial_os::kInvalidHandle;

    // O_NONBLOCK keeps the open from waiting for a carrier, and stays: reads then
    // never block whatever the termios say, and writes wait in poll().
    const int fd = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return serial_os::kInvalidHandle;
    // Exclusive use, as on Windows. TIOCEXCL does not stop root, so the port is also
    // locked; flock belongs to the open file description, so a second open in this
    // process fails as well.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return serial_os::kInvalidHandle;
    }
    ioctl(fd, TIOCEXCL);

    *slot = Tty();
    slot->fd = fd;
#if defined(__linux__)
    // USB adapters otherwise hold received bytes for up to 16 ms, more than a read waits.
    serial_struct serial;
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
#if defined(TIOCGICOUNT)
    slot->counters = ioctl(fd, TIOCGICOUNT, &slot->seen) == 0;
#endif
    return fd;
}

bool TtyClose(Tty& tty) {
    ioctl(tty.fd, TIOCNXCL);
    const int result = close(tty.fd);
    tty = Tty();
    // After EINTR the descriptor is gone on Linux all the same.
    return result == 0 || errno == EINTR;
}

// --- bytes ---

bool IsImmediate(const Timeouts& t) {
    return t.readInterval == kForever && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
}

// Windows read semantics: return when `length` bytes are in, when the total time-out
// has passed since the call began, or when more than the interval passes between two
// bytes. The immediate set returns at once with what the driver holds.
bool TtyRead(Tty& tty, void* data, std::uint32_t length, std::uint32_t& read) {
    read = 0;
    if (length == 0) return true;
    if (!data) return false;
    char* bytes = static_cast<char*>(data);
    const Timeouts& t = tty.timeouts;
    const std::int64_t start = NowUs();
    const std::uint64_t totalMs =
        std::uint64_t(t.readTotalConstant) + std::uint64_t(t.readTotalMultiplier) * length;
    const bool interval = t.readInterval != 0 && t.readInterval != kForever;
    std::int64_t lastByte = start;
    bool hungUp = false;
    for (;;) {
        const ssize_t n = ::read(tty.fd, bytes + read, length - read);
        if (n > 0) {
            read += static_cast<std::uint32_t>(n);
            lastByte = NowUs();
            if (read == length) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // Nothing there. After a hang-up nothing will come: a vanished device.
        if (hungUp) return read > 0;
        if (IsImmediate(t)) return true;

        std::int64_t waitUs = -1;  // no limit: wait for the bytes, as Windows does
        const std::int64_t now = NowUs();
        if (totalMs != 0) waitUs = start + std::int64_t(totalMs) * 1000 - now;
        if (interval && read > 0) {
            const std::int64_t gap = lastByte + std::int64_t(t.readInterval) * 1000 - now;
            waitUs = waitUs < 0 ? gap : (gap < waitUs ? gap : waitUs);
            if (gap <= 0) return true;
        }
        if (totalMs != 0 && waitUs <= 0) return true;
        pollfd p = {tty.fd, POLLIN, 0};
        const int timeoutMs = waitUs < 0 ? -1 : int((waitUs + 999) / 1000);
        const int ready = poll(&p, 1, timeoutMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) hungUp = true;
    }
}

bool TtyWrite(Tty& tty, const void* data, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    if (!data && length > 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (written < length) {
        const ssize_t n = ::write(tty.fd, bytes + written, length - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // Writes have no time-out: wait until the driver takes more.
        pollfd p = {tty.fd, POLLOUT, 0};
        if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
    }
    return true;
}

// --- lines, queues, errors ---

bool TtyPurge(Tty& tty, std::uint32_t flags) {
    // Nothing is ever pending (no overlapped I/O), so the abort flags have no work.
    const bool rx = (flags & serial_os::kPurgeRxClear) != 0;
    const bool tx = (flags & serial_os::kPurgeTxClear) != 0;
    if (!rx && !tx) return true;
    return tcflush(tty.fd, rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0;
}

// EscapeCommFunction codes as modem-control ioctls.
struct Escape {
    std::uint32_t function;
    unsigned long request;
    int line;
};
const Escape kEscapes[] = {
    {serial_os::kSetRts, TIOCMBIS, TIOCM_RTS},
    {serial_os::kClearRts, TIOCMBIC, TIOCM_RTS},
    {serial_os::kSetDtr, TIOCMBIS, TIOCM_DTR},
    {serial_os::kClearDtr, TIOCMBIC, TIOCM_DTR},
};

bool TtyEscape(Tty& tty, std::uint32_t function) {
    for (const Escape& e : kEscapes) {
        if (e.function == function) return ioctl(tty.fd, e.request, &e.line) == 0;
    }
    return false;
}

bool TtyModemStatus(Tty& tty, std::uint32_t& status) {
    int bits = 0;
    // A port without modem lines (a pty) fails here: no line state is made up.
    if (ioctl(tty.fd, TIOCMGET, &bits) != 0) return false;
    status = ((bits & TIOCM_CTS) ? serial_os::kModemCts : 0) |
             ((bits & TIOCM_DSR) ? serial_os::kModemDsr : 0) |
             ((bits & TIOCM_RI) ? serial_os::kModemRing : 0) |
             ((bits & TIOCM_CD) ? serial_os::kModemDcd : 0);
    return true;
}

bool TtyClearErrors(Tty& tty, std::uint32_t& errors) {
    errors = 0;
#if defined(TIOCGICOUNT)
    serial_icounter_struct now;
    if (!tty.counters || ioctl(tty.fd, TIOCGICOUNT, &now) != 0) return true;
    const serial_icounter_struct& was = tty.seen;
    if (now.frame != was.frame) errors |= serial_os::kErrFrame;
    if (now.parity != was.parity) errors |= serial_os::kErrRxParity;
    if (now.overrun != was.overrun) errors |= serial_os::kErrOverrun;
    if (now.brk != was.brk) errors |= serial_os::kErrBreak;
    if (now.buf_overrun != was.buf_overrun) errors |= serial_os::kErrRxOver;
    tty.seen = now;
#else
    (void)tty;
#endif
    return true;
}

bool TtyWaitEvent(Tty& tty, std::uint32_t& eventMask) {
    // The only event the library waits for is "transmit buffer empty".
    while (tcdrain(tty.fd) != 0) {
        if (errno != EINTR) return false;
    }
    eventMask = serial_os::kEventTxEmpty;
    return true;
}

// Runs op on the open tty behind port; false for a handle that is not one.
template <typename Op>
bool OnTty(Handle port, Op op) {
    Tty* tty = Find(port);
    return tty && op(*tty);
}

}  // namespace

namespace serial_os {

Handle OpenPort(const char* path) {
    if (!path) return kInvalidHandle;
    char storage[32];
    const char* name = Resolve(path, storage, sizeof storage);
    if (!name) return kInvalidHandle;
    return rfc2217::IsUrl(name) ? rfc2217::Open(name) : TtyOpen(name);
}

// Every operation on an open port goes to the transport that opened it.

bool GetLineSettings(Handle port, LineSettings& settings) {
    if (rfc2217::IsHandle(port)) return rfc2217::GetLineSettings(port, settings);
    return OnTty(port, [&](Tty& t) { return TtyGetLineSettings(t, settings); });
}

bool SetLineSettings(Handle port, const LineSettings& settings) {
    if (rfc2217::IsHandle(port)) return rfc2217::SetLineSettings(port, settings);
    return OnTty(port, [&](Tty& t) { return TtySetLineSettings(t, settings); });
}

bool SetTimeouts(Handle port, const Timeouts& timeouts) {
    if (rfc2217::IsHandle(port)) return rfc2217::SetTimeouts(port, timeouts);
    return OnTty(port, [&](Tty& t) { return t.timeouts = timeouts, true; });
}

bool PurgePort(Handle port, std::uint32_t flags) {
    if (rfc2217::IsHandle(port)) return rfc2217::Purge(port, flags);
    return OnTty(port, [&](Tty& t) { return TtyPurge(t, flags); });
}

bool EscapeFunction(Handle port, std::uint32_t function) {
    if (rfc2217::IsHandle(port)) return rfc2217::EscapeFunction(port, function);
    return OnTty(port, [&](Tty& t) { return TtyEscape(t, function); });
}

bool GetModemStatus(Handle port, std::uint32_t& status) {
    if (rfc2217::IsHandle(port)) return rfc2217::GetModemStatus(port, status);
    return OnTty(port, [&](Tty& t) { return TtyModemStatus(t, status); });
}

bool ReadPort(Handle port, void* data, std::uint32_t length, std::uint32_t& read) {
    read = 0;
    if (rfc2217::IsHandle(port)) return rfc2217::Read(port, data, length, read);
    return OnTty(port, [&](Tty& t) { return TtyRead(t, data, length, read); });
}

bool WritePort(Handle port, const void* data, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    if (rfc2217::IsHandle(port)) return rfc2217::Write(port, data, length, written);
    return OnTty(port, [&](Tty& t) { return TtyWrite(t, data, length, written); });
}

bool ClearErrors(Handle port, std::uint32_t& errors) {
    errors = 0;
    if (rfc2217::IsHandle(port)) return rfc2217::ClearErrors(port, errors);
    return OnTty(port, [&](Tty& t) { return TtyClearErrors(t, errors); });
}

bool WaitEvent(Handle port, std::uint32_t& eventMask) {
    if (rfc2217::IsHandle(port)) return rfc2217::WaitEvent(port, eventMask);
    return OnTty(port, [&](Tty& t) { return TtyWaitEvent(t, eventMask); });
}

bool ClosePort(Handle port) {
    if (rfc2217::IsHandle(port)) return rfc2217::Close(port);
    return OnTty(port, [](Tty& t) { return TtyClose(t); });
}

void SleepMs(std::uint32_t milliseconds) {
    // Windows ends a Sleep on a tick of its 1 ms clock, so a loop of 1 ms pauses polls
    // once a millisecond. A timer that adds its wake-up latency to every pause would
    // stretch a wait of 1000 polls by a tenth: a pause that follows right on the one
    // before ends a period after that one's end, any other a period from now.
    const std::int64_t period = static_cast<std::int64_t>(milliseconds) * 1000;
    const std::int64_t now = NowUs();
    std::int64_t end = g_lastPauseEndUs + period;
    if (end <= now || end > now + period) end = now + period;
    g_lastPauseEndUs = end;
    const timespec deadline = {static_cast<time_t>(end / 1000000),
                               static_cast<long>(end % 1000000) * 1000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

void GetLocalTime(LocalTime& now) {
    const std::time_t t = std::time(nullptr);
    std::tm tm = {};
    localtime_r(&t, &tm);
    now.year = tm.tm_year + 1900;
    now.month = tm.tm_mon + 1;
    now.day = tm.tm_mday;
    now.hour = tm.tm_hour;
    now.minute = tm.tm_min;
    now.second = tm.tm_sec;
    now.weekday = tm.tm_wday;
}

}  // namespace serial_os

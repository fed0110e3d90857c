// A serial backend that costs next to nothing: one port whose device answers from fixed
// storage at once, CTS following RTS. Linked instead of a real backend, it leaves the
// library's own work as the only thing a transaction spends time on.
#include <cstring>

#include "serial_os.h"

namespace {

constexpr serial_os::Handle kHandle = 0x1000;

struct Device {
    bool open = false;
    bool rts = false;
    char command[64] = {};
    std::size_t commandLength = 0;
    char toHost[4096] = {};
    std::size_t head = 0;
    std::size_t pending = 0;
} g_device;

void Queue(const char* bytes, std::size_t n) {
    if (g_device.pending == 0) g_device.head = 0;
    if (n > sizeof g_device.toHost - g_device.head - g_device.pending) return;
    std::memcpy(g_device.toHost + g_device.head + g_device.pending, bytes, n);
    g_device.pending += n;
}

void Answer() {
    static char display[1 + 2048 + 1];
    switch (g_device.command[0]) {
        case 'z':
            Queue("zY\r", 3);
            break;
        case 'U':
            Queue("U00000E1080\r", 12);
            break;
        case 'L':
            display[0] = 'L';
            std::memset(display + 1, '0', 2048);
            display[sizeof display - 1] = '\r';
            Queue(display, sizeof display);
            break;
        default:
            break;
    }
}

}  // namespace

namespace serial_os {

Handle OpenPort(const char*) {
    if (g_device.open) return kInvalidHandle;
    g_device = Device();
    g_device.open = true;
    return kHandle;
}

bool GetLineSettings(Handle port, LineSettings& settings) {
    settings = LineSettings();
    return port == kHandle;
}

bool SetLineSettings(Handle port, const LineSettings&) {
    return port == kHandle;
}

bool SetTimeouts(Handle port, const Timeouts&) {
    return port == kHandle;
}

bool PurgePort(Handle port, std::uint32_t) {
    g_device.pending = 0;
    return port == kHandle;
}

bool EscapeFunction(Handle port, std::uint32_t function) {
    if (function == kSetRts) g_device.rts = true;
    if (function == kClearRts) g_device.rts = false;
    return port == kHandle;
}

bool GetModemStatus(Handle port, std::uint32_t& status) {
    status = kModemDsr | kModemDcd | (g_device.rts ? kModemCts : 0);
    return port == kHandle;
}

bool ReadPort(Handle port, void* data, std::uint32_t length, std::uint32_t& read) {
    read = length < g_device.pending ? length : static_cast<std::uint32_t>(g_device.pending);
    std::memcpy(data, g_device.toHost + g_device.head, read);
    g_device.head += read;
    g_device.pending -= read;
    return port == kHandle;
}

bool WritePort(Handle port, const void* data, std::uint32_t length, std::uint32_t& written) {
    const char* bytes = static_cast<const char*>(data);
    for (std::uint32_t i = 0; i < length; ++i) {
        if (bytes[i] == '\r') {
            Answer();
            g_device.commandLength = 0;
        } else if (g_device.commandLength < sizeof g_device.command) {
            g_device.command[g_device.commandLength++] = bytes[i];
        }
    }
    written = length;
    return port == kHandle;
}

bool ClearErrors(Handle port, std::uint32_t& errors) {
    errors = 0;
    return port == kHandle;
}

bool WaitEvent(Handle port, std::uint32_t& eventMask) {
    eventMask = kEventTxEmpty;
    return port == kHandle;
}

bool ClosePort(Handle port) {
    g_device.open = false;
    return port == kHandle;
}

void SleepMs(std::uint32_t) {}

void GetLocalTime(LocalTime& now) {
    now = LocalTime();
}

}  // namespace serial_os

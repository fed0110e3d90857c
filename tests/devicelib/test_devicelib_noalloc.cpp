// After TELVAR_Open the library allocates nothing: not on success, not on failures with
// trace lines, dumps and repairs. Every operator new and malloc of the process is
// counted, so the serial backend here answers from fixed storage.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "counting_allocator.h"
#include "library_reset.h"
#include "serial_os.h"
#include "telvar.h"

// A device on one port, from fixed storage: lines follow the host (CTS with RTS), and
// each command is answered from a table, or with a broken reply when asked to.
namespace {

struct Device {
    bool open = false;
    bool rts = false;
    char command[64] = {};
    std::size_t commandLength = 0;
    char toHost[4096] = {};
    std::size_t pending = 0;
    bool breakNextReply = false;
} g_device;

void Queue(const char* bytes, std::size_t n) {
    if (n > sizeof g_device.toHost - g_device.pending) return;
    std::memcpy(g_device.toHost + g_device.pending, bytes, n);
    g_device.pending += n;
}

void Queue(const char* text) {
    Queue(text, std::strlen(text));
}

void QueueZeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Queue("0", 1);
}

void Answer() {
    const char c = g_device.command[0];
    if (g_device.breakNextReply && c != 'z') {
        g_device.breakNextReply = false;
        Queue("?garbage\r");
        return;
    }
    switch (c) {
        case 'z':
            Queue("zY\r");
            break;
        case 'A':
            Queue(g_device.commandLength > 1 ? "A007B\r" : "A0064\r");
            break;
        case 'H':
            Queue("H2EE0138809C4739F\r");
            break;
        case 'U':
            Queue("U00000E1080\r");
            break;
        case 'P':
            Queue("PQUENTA\r");
            break;
        case 'L':
            Queue("L");
            QueueZeros(2048);
            Queue("\r");
            break;
        case 'l':
            Queue("l");
            Queue(g_device.command + 1, 1);
            QueueZeros(256);
            Queue("\r");
            break;
        case 'K':
        case 'E':
            Queue(g_device.command, g_device.commandLength);
            Queue("\r");
            break;
        default:
            break;
    }
}

}  // namespace

namespace serial_os {

Handle OpenPort(const char*) {
    if (g_device.open) return kInvalidHandle;
    g_device.open = true;
    return 1;
}
bool GetLineSettings(Handle, LineSettings&) {
    return true;
}
bool SetLineSettings(Handle, const LineSettings&) {
    return true;
}
bool SetTimeouts(Handle, const Timeouts&) {
    return true;
}
bool PurgePort(Handle, std::uint32_t) {
    g_device.pending = 0;
    return true;
}
bool EscapeFunction(Handle, std::uint32_t function) {
    if (function == kSetRts || function == kClearRts) g_device.rts = function == kSetRts;
    return true;
}
bool GetModemStatus(Handle, std::uint32_t& status) {
    status = kModemDsr | kModemDcd | (g_device.rts ? kModemCts : 0);
    return true;
}
bool ReadPort(Handle, void* data, std::uint32_t length, std::uint32_t& read) {
    read = static_cast<std::uint32_t>(length < g_device.pending ? length : g_device.pending);
    std::memcpy(data, g_device.toHost, read);
    std::memmove(g_device.toHost, g_device.toHost + read, g_device.pending - read);
    g_device.pending -= read;
    return true;
}
bool WritePort(Handle, const void* data, std::uint32_t length, std::uint32_t& written) {
    const char* bytes = static_cast<const char*>(data);
    for (std::uint32_t i = 0; i < length; ++i) {
        if (bytes[i] == '\r') {
            Answer();
            g_device.commandLength = 0;
        } else if (g_device.commandLength < sizeof g_device.command - 1) {
            g_device.command[g_device.commandLength++] = bytes[i];
            g_device.command[g_device.commandLength] = '\0';
        }
    }
    written = length;
    return true;
}
bool ClearErrors(Handle, std::uint32_t& errors) {
    errors = 0;
    return true;
}
bool WaitEvent(Handle, std::uint32_t& eventMask) {
    eventMask = kEventTxEmpty;
    return true;
}
bool ClosePort(Handle) {
    g_device.open = false;
    return true;
}
void SleepMs(std::uint32_t) {}
void GetLocalTime(LocalTime& now) {
    now = LocalTime();
    now.year = 2024;
    now.month = 3;
    now.day = 5;
}

}  // namespace serial_os

namespace {

TEST(NoAllocation, AfterOpenNotEvenOnFailures) {
    telvar::ResetLibraryState();
    char path[] = "/tmp/telvar-noalloc-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    // The trace stream itself is allocated here, before counting starts.
    ASSERT_EQ(TELVAR_OpenDebugFile(0, path), 0);
    ASSERT_EQ(TELVAR_Open(0, 1), 0);

    static double d[4];
    static unsigned seconds;
    static unsigned short milliseconds;
    static char text[8192];
    static unsigned char display[1024];
    static int results[12];
    counting_allocator::Start();
    int n = 0;
    results[n++] = TELVAR_Get_Amplitude(0, d);
    d[0] = 12.34;
    results[n++] = TELVAR_Set_Amplitude(0, d);
    results[n++] = TELVAR_Get_HousekeepingData(0, d, d + 1, d + 2, d + 3);
    results[n++] = TELVAR_GetUptime(0, &seconds, &milliseconds);
    results[n++] = TELVAR_Prod_ID(0, text);
    results[n++] = TELVAR_ReadDisplay(0, display);
    results[n++] = TELVAR_ReadDisplayRow(0, 8, display);  // refused, repaired, refused
    results[n++] = TELVAR_SimulateEncoder(0, 16);         // refused, repaired, refused
    g_device.breakNextReply = true;                       // traced with a dump, repaired
    results[n++] = TELVAR_SimulateKeypad(0, 0x31);
    results[n++] = TELVAR_Get_Amplitude(0, nullptr);
    results[n++] = TELVAR_Purge(0);
    results[n++] = TELVAR_Close(0);
    const char* message = TELVAR_ErrorMessage(0);
    const long allocations = counting_allocator::Stop();

    EXPECT_EQ(allocations, 0);
    const int expected[12] = {0, 0, 0, 0, 0, 0, -15, -15, 0, -15, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(results[i], expected[i]) << "call " << i;
    EXPECT_STREQ(message, "No error");
    EXPECT_STREQ(text, "QUENTA");
    EXPECT_EQ(seconds, 3600u);
    EXPECT_EQ(TELVAR_CloseDebugFile(0), 0);
    std::FILE* trace = std::fopen(path, "r");
    ASSERT_NE(trace, nullptr);
    char contents[16384] = {};
    contents[std::fread(contents, 1, sizeof contents - 1, trace)] = '\0';
    std::fclose(trace);
    std::remove(path);
    EXPECT_NE(std::strstr(contents, "Data read: '"), nullptr);
    EXPECT_NE(std::strstr(contents, "Repairing communication"), nullptr);
    telvar::ResetLibraryState();
}

}  // namespace

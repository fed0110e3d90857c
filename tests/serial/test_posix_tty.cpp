// The POSIX backend on a pseudo-terminal: the byte path, the time-out sets, purge,
// exclusive open and name resolution. A pty has no modem lines, so those calls fail
// here, and the tests pin that they say so.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "comport.h"
#include "serial_os.h"

namespace {

using serial_os::Handle;
using serial_os::kInvalidHandle;
using Clock = std::chrono::steady_clock;

constexpr serial_os::Timeouts kNormal = {10, 0, 10, 0, 0};
constexpr serial_os::Timeouts kImmediate = {0xFFFFFFFFu, 0, 0, 0, 0};
constexpr unsigned kCom = 201;
const char kComPath[] = "\\\\.\\COM201";

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A pty pair with its slave published as COM201.
class PosixTty : public ::testing::Test {
  protected:
    void SetUp() override {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        char name[128];
        ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
        slave = name;
        setenv("TELVAR_COM201", name, 1);
    }
    void TearDown() override {
        unsetenv("TELVAR_COM201");
        if (handle != kInvalidHandle) serial_os::ClosePort(handle);
        if (master >= 0) close(master);
    }

    Handle Open(const serial_os::Timeouts& timeouts = kNormal) {
        handle = serial_os::OpenPort(kComPath);
        EXPECT_NE(handle, kInvalidHandle);
        serial_os::LineSettings s;
        EXPECT_TRUE(serial_os::GetLineSettings(handle, s));
        EXPECT_TRUE(serial_os::SetLineSettings(handle, s));  // raw mode
        EXPECT_TRUE(serial_os::SetTimeouts(handle, timeouts));
        return handle;
    }
    void DeviceSends(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // The pty hands bytes over asynchronously; wait (bounded) until the port sees them.
    void AwaitInput(Handle h) {
        pollfd p = {static_cast<int>(h), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
    }
    std::string DeviceReceives(std::size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p = {master, POLLIN, 0};
            if (poll(&p, 1, 2000) != 1) break;
            char chunk[64];
            const ssize_t r = read(master, chunk, sizeof chunk);
            if (r <= 0) break;
            got.append(chunk, std::size_t(r));
        }
        return got;
    }
    std::string Read(Handle h, std::uint32_t n, bool expectOk = true) {
        char data[64] = {};
        std::uint32_t got = 0;
        EXPECT_EQ(serial_os::ReadPort(h, data, n, got), expectOk);
        return std::string(data, got);
    }

    int master = -1;
    std::string slave;
    Handle handle = kInvalidHandle;
};

TEST_F(PosixTty, ComPortOpensThePtyAndStopsAtTheModemLines) {
    COMPort port;
    std::FILE* trace = std::tmpfile();
    port.DebugFile = trace;
    // Everything up to the lines works; a pty has no RTS or DTR.
    EXPECT_FALSE(port.Open(kCom));
    EXPECT_EQ(port.IOState, 10);
    ASSERT_NE(port.PortHandle, kInvalidHandle);
    handle = port.PortHandle;

    serial_os::LineSettings s;
    ASSERT_TRUE(serial_os::GetLineSettings(port.PortHandle, s));
    EXPECT_EQ(s.baudRate, 230400u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_FALSE(s.outxCtsFlow || s.outX || s.inX);
    // A Linux pty keeps speed and raw mode but forces CS8 and drops PARENB, so the
    // parity cannot be read back here.
    termios t;
    std::memcpy(&t, s.native, sizeof t);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | IXON | INPCK | PARMRK), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);

    // The byte path works all the same.
    ASSERT_TRUE(port.Write("A\r", 2));
    EXPECT_EQ(DeviceReceives(2), "A\r");
    DeviceSends("A01F4\r");
    AwaitInput(port.PortHandle);
    char echo = 0;
    ASSERT_TRUE(port.Read(echo, true));
    EXPECT_EQ(echo, 'A');
    char payload[8];
    std::uint32_t length = 5;
    ASSERT_TRUE(port.Read(payload, length, true, true));
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(payload, "01F4\r");

    std::rewind(trace);
    char text[512] = {};
    (void)!std::fread(text, 1, sizeof text - 1, trace);
    const std::string traced = text;
    EXPECT_NE(traced.find("COMPort::Control: Error setting the control lines of the port\n"),
              std::string::npos);
    EXPECT_NE(traced.find("COMPort::Open: Error setting the control lines of the port\n"),
              std::string::npos);
    port.DebugFile = nullptr;
    std::fclose(trace);
    handle = kInvalidHandle;
    serial_os::ClosePort(port.PortHandle);
    port.PortHandle = kInvalidHandle;
}

TEST_F(PosixTty, ModemLineCallsFailRatherThanInventLineStates) {
    const Handle h = Open();
    for (std::uint32_t f :
         {serial_os::kSetRts, serial_os::kClearRts, serial_os::kSetDtr, serial_os::kClearDtr}) {
        EXPECT_FALSE(serial_os::EscapeFunction(h, f)) << f;
    }
    std::uint32_t status = 0x5A;
    EXPECT_FALSE(serial_os::GetModemStatus(h, status));
    EXPECT_EQ(status, 0x5Au);
    // No error counters on a pty either: no errors known, which is not a failure.
    std::uint32_t errors = 1;
    EXPECT_TRUE(serial_os::ClearErrors(h, errors));
    EXPECT_EQ(errors, 0u);
}

TEST_F(PosixTty, NormalSetWaitsAboutTenMsForMissingBytes) {
    const Handle h = Open();
    auto start = Clock::now();
    EXPECT_EQ(Read(h, 4), "");
    double ms = MsSince(start);
    EXPECT_GE(ms, 9.0);
    EXPECT_LT(ms, 500.0);

    DeviceSends("ab");
    AwaitInput(h);
    start = Clock::now();
    EXPECT_EQ(Read(h, 4), "ab");
    ms = MsSince(start);
    EXPECT_GE(ms, 9.0);
    EXPECT_LT(ms, 500.0);

    DeviceSends("wxyz");
    AwaitInput(h);
    EXPECT_EQ(Read(h, 4).size() + Read(h, 4).size(), 4u);  // nothing lost on the way
}

TEST_F(PosixTty, ImmediateSetReturnsAtOnceWithWhatIsThere) {
    const Handle h = Open(kImmediate);
    // The quickest of a few tries, so that one stalled scheduler slice does not count.
    double fastest = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(Read(h, 8), "");
        const double ms = MsSince(start);
        fastest = ms < fastest ? ms : fastest;
    }
    EXPECT_LT(fastest, 5.0);

    DeviceSends("xyz");
    AwaitInput(h);
    EXPECT_EQ(Read(h, 8), "xyz");
}

TEST_F(PosixTty, PurgeDropsWhatArrived) {
    const Handle h = Open(kImmediate);
    DeviceSends("junk");
    AwaitInput(h);
    EXPECT_TRUE(serial_os::PurgePort(h, 0x000F));
    EXPECT_EQ(Read(h, 8), "");
    DeviceSends("ok");
    AwaitInput(h);
    EXPECT_EQ(Read(h, 8), "ok");
}

TEST_F(PosixTty, WritesArriveWholeAndDrain) {
    const Handle h = Open();
    const std::string block(3000, 'q');
    std::uint32_t written = 0;
    EXPECT_TRUE(serial_os::WritePort(h, block.data(), std::uint32_t(block.size()), written));
    EXPECT_EQ(written, block.size());
    EXPECT_EQ(DeviceReceives(block.size()), block);
    std::uint32_t mask = 0;
    EXPECT_TRUE(serial_os::WaitEvent(h, mask));
    EXPECT_EQ(mask, serial_os::kEventTxEmpty);
}

TEST_F(PosixTty, OpenIsExclusive) {
    const Handle h = Open();
    EXPECT_EQ(serial_os::OpenPort(kComPath), kInvalidHandle);
    EXPECT_EQ(serial_os::OpenPort(slave.c_str()), kInvalidHandle);
    EXPECT_TRUE(serial_os::ClosePort(h));
    handle = kInvalidHandle;
    std::uint32_t got = 0;
    char c;
    EXPECT_FALSE(serial_os::ReadPort(h, &c, 1, got));  // a closed handle is refused
    EXPECT_FALSE(serial_os::ClosePort(h));
    Open();  // and the port can be had again
}

TEST_F(PosixTty, NamesResolveWhenThePortOpens) {
    // TELVAR_COM<n> wins; without it COM<n> is /dev/ttyS<n-1>, which is absent here.
    unsetenv("TELVAR_COM201");
    EXPECT_EQ(serial_os::OpenPort(kComPath), kInvalidHandle);
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM0"), kInvalidHandle);
    setenv("TELVAR_COM201", "/dev/null", 1);  // not a tty
    EXPECT_EQ(serial_os::OpenPort(kComPath), kInvalidHandle);
    setenv("TELVAR_COM201", "rfc2217://127.0.0.1:1", 1);  // the network transport's
    EXPECT_EQ(serial_os::OpenPort(kComPath), kInvalidHandle);
    EXPECT_EQ(serial_os::OpenPort(nullptr), kInvalidHandle);
    setenv("TELVAR_COM201", slave.c_str(), 1);
    Open();
}

TEST_F(PosixTty, AVanishedDeviceFailsTheReadInsteadOfHanging) {
    const Handle h = Open();
    close(master);
    master = -1;
    const auto start = Clock::now();
    Read(h, 4, false);
    EXPECT_LT(MsSince(start), 500.0);
}

TEST_F(PosixTty, UnsupportedLineSettingsAreRefused) {
    const Handle h = Open();
    serial_os::LineSettings s;
    ASSERT_TRUE(serial_os::GetLineSettings(h, s));
    serial_os::LineSettings bad = s;
    bad.baudRate = 12345;
    EXPECT_FALSE(serial_os::SetLineSettings(h, bad));
    bad = s;
    bad.discardNull = true;
    EXPECT_FALSE(serial_os::SetLineSettings(h, bad));
    bad = s;
    bad.byteSize = 9;
    EXPECT_FALSE(serial_os::SetLineSettings(h, bad));
}

TEST(PosixClock, SleepAndLocalTime) {
    const auto start = Clock::now();
    serial_os::SleepMs(20);
    EXPECT_GE(MsSince(start), 19.0);
    serial_os::LocalTime now;
    serial_os::GetLocalTime(now);
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.weekday >= 0 && now.weekday <= 6);
}

}  // namespace

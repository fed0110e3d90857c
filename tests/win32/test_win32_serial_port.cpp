// The Win32 serial backend on a real port handle. The driver (serial_port_peer.py)
// links a pseudo-terminal into Wine as the port named by QUENTA_TEST_PORT and echoes
// every byte it receives. Wine cannot drive or read modem lines on a pty, so DTR/RTS
// and the status word are not exercised here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "serial_os.h"

namespace {

using serial_os::Handle;
using serial_os::kInvalidHandle;

const serial_os::Timeouts kNormal{10, 0, 10, 0, 0};
const serial_os::Timeouts kImmediate{0xFFFFFFFFu, 0, 0, 0, 0};

class Win32SerialPort : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("QUENTA_TEST_PORT");
        if (name == nullptr || *name == '\0') GTEST_SKIP() << "no test port (run by the driver)";
        path_ = name;
        port_ = serial_os::OpenPort(path_.c_str());
        ASSERT_NE(port_, kInvalidHandle) << path_;
        ASSERT_TRUE(serial_os::SetTimeouts(port_, kNormal));
        ASSERT_TRUE(serial_os::PurgePort(port_, 0x000F));
    }

    void TearDown() override {
        if (port_ != kInvalidHandle) {
            EXPECT_TRUE(serial_os::ClosePort(port_));
        }
    }

    // Reads until `count` bytes arrived or about two seconds of normal time-outs passed.
    std::string ReadAtLeast(std::size_t count) {
        std::string received;
        for (int attempt = 0; attempt < 200 && received.size() < count; ++attempt) {
            char chunk[64];
            std::uint32_t got = 0;
            EXPECT_TRUE(serial_os::ReadPort(port_, chunk, sizeof chunk, got));
            received.append(chunk, got);
        }
        return received;
    }

    std::string path_;
    Handle port_ = kInvalidHandle;
};

TEST_F(Win32SerialPort, ClosedPortCanBeOpenedAgain) {
    ASSERT_TRUE(serial_os::ClosePort(port_));
    port_ = serial_os::OpenPort(path_.c_str());
    EXPECT_NE(port_, kInvalidHandle);
}

TEST_F(Win32SerialPort, AcceptsTheDeviceLineSettings) {
    serial_os::LineSettings settings;
    ASSERT_TRUE(serial_os::GetLineSettings(port_, settings));
    settings.baudRate = 230400;
    settings.byteSize = 8;
    settings.parity = serial_os::kEvenParity;
    settings.stopBits = serial_os::kOneStopBit;
    settings.parityCheck = true;
    settings.dtrControl = serial_os::kDtrControlDisable;
    settings.rtsControl = serial_os::kRtsControlDisable;
    settings.txContinueOnXoff = true;
    settings.eventChar = '\r';
    EXPECT_TRUE(serial_os::SetLineSettings(port_, settings));
}

TEST_F(Win32SerialPort, ReadWithNormalTimeoutsReturnsEmptyWhenNothingArrives) {
    char byte = 0;
    std::uint32_t got = 99;
    EXPECT_TRUE(serial_os::ReadPort(port_, &byte, 1, got));
    EXPECT_EQ(got, 0u);
}

TEST_F(Win32SerialPort, WrittenBytesComeBackFromThePeer) {
    std::uint32_t written = 0;
    ASSERT_TRUE(serial_os::WritePort(port_, "A0\r", 3, written));
    EXPECT_EQ(written, 3u);
    std::uint32_t errors = 0xFFFF;
    EXPECT_TRUE(serial_os::ClearErrors(port_, errors));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(ReadAtLeast(3), "A0\r");
}

TEST_F(Win32SerialPort, ImmediateTimeoutsHandOutWhatIsWaiting) {
    ASSERT_TRUE(serial_os::SetTimeouts(port_, kImmediate));
    char buffer[16];
    std::uint32_t got = 99;
    EXPECT_TRUE(serial_os::ReadPort(port_, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);

    std::uint32_t written = 0;
    ASSERT_TRUE(serial_os::WritePort(port_, "xyz", 3, written));
    std::string received;
    for (int attempt = 0; attempt < 200 && received.size() < 3; ++attempt) {
        serial_os::SleepMs(10);
        ASSERT_TRUE(serial_os::ReadPort(port_, buffer, sizeof buffer, got));
        received.append(buffer, got);
    }
    EXPECT_EQ(received, "xyz");
}

TEST_F(Win32SerialPort, PurgeDropsReceivedBytes) {
    std::uint32_t written = 0;
    ASSERT_TRUE(serial_os::WritePort(port_, "stale", 5, written));
    serial_os::SleepMs(300);  // let the echo arrive
    ASSERT_TRUE(serial_os::PurgePort(port_, 0x000F));
    ASSERT_TRUE(serial_os::SetTimeouts(port_, kImmediate));
    char buffer[16];
    std::uint32_t got = 99;
    EXPECT_TRUE(serial_os::ReadPort(port_, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
}

TEST(Win32SerialBackend, MissingPortGivesTheInvalidHandle) {
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM0"), kInvalidHandle);
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM249"), kInvalidHandle);
}

// Zeller's congruence: 0 = Sunday.
int Weekday(int year, int month, int day) {
    if (month < 3) {
        month += 12;
        --year;
    }
    const int h = (day + 13 * (month + 1) / 5 + year + year / 4 - year / 100 + year / 400) % 7;
    return (h + 6) % 7;
}

TEST(Win32SerialBackend, LocalTimeIsAConsistentDate) {
    serial_os::LocalTime now;
    serial_os::GetLocalTime(now);
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 59);
    EXPECT_EQ(now.weekday, Weekday(now.year, now.month, now.day));
}

}  // namespace

// The transport against pyserial's RFC 2217 server, an implementation of the protocol
// that owes nothing to ours, with a scripted device behind it (pyserial_server.py).
// Exits with 77 (skipped) when the system interpreter has no pyserial.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "rfc2217_transport.h"

namespace {

using serial_os::Handle;
using serial_os::kInvalidHandle;
using Clock = std::chrono::steady_clock;

constexpr char kPython[] = "/usr/bin/python3";

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// One run of the server script; killed when it goes out of scope.
class PyserialServer {
  public:
    PyserialServer() {
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execl(kPython, kPython, PYSERIAL_SERVER, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        // The first line is the port it listens on.
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c;
        while (line.find('\n') == std::string::npos && poll(&p, 1, 10000) > 0 &&
               read(out[0], &c, 1) == 1) {
            line += c;
        }
        close(out[0]);
        if (line.find('\n') != std::string::npos)
            url_ = "rfc2217://127.0.0.1:" + line.substr(0, line.find('\n'));
    }
    ~PyserialServer() { Kill(); }

    const std::string& Url() const { return url_; }
    void Kill() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    std::string url_;
};

bool PollLines(Handle port, std::uint32_t mask, std::uint32_t want) {
    for (int poll = 0; poll < 1000; ++poll) {
        std::uint32_t status = 0;
        if (!rfc2217::GetModemStatus(port, status)) return false;
        if ((status & mask) == want) return true;
        SleepMs(1);
    }
    return false;
}

// The library's read: one call, then up to 100 repeats 5 ms apart for what is missing.
std::string ReadReply(Handle port, std::uint32_t length) {
    std::string reply(length, '\0');
    std::uint32_t count = 0;
    for (int repeat = 0; repeat <= 100 && count < length; ++repeat) {
        if (repeat > 0) SleepMs(5);
        std::uint32_t got = 0;
        if (!rfc2217::Read(port, &reply[count], length - count, got)) break;
        count += got;
    }
    reply.resize(count);
    return reply;
}

bool IsDeviceReply(const std::string& reply) {
    if (reply.size() != 12 || reply[0] != 'U' || reply[11] != '\r') return false;
    for (int i = 1; i <= 10; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(reply[i]))) return false;
    }
    return true;
}

TEST(PyserialServer, LineSettingsHandshakeAndCommandRoundTrips) {
    PyserialServer server;
    ASSERT_FALSE(server.Url().empty()) << "server did not start";
    const Handle port = rfc2217::Open(server.Url().c_str());
    ASSERT_NE(port, kInvalidHandle);

    // What opening a port does: the device's line settings, normal time-outs, purge,
    // then RTS and DTR on.
    serial_os::LineSettings s;
    ASSERT_TRUE(rfc2217::GetLineSettings(port, s));
    s.baudRate = 230400;
    s.byteSize = 8;
    s.parity = serial_os::kEvenParity;
    s.parityCheck = true;
    s.stopBits = serial_os::kOneStopBit;
    s.dtrControl = serial_os::kDtrControlDisable;
    s.rtsControl = serial_os::kRtsControlDisable;
    s.txContinueOnXoff = true;
    s.eventChar = '\r';
    ASSERT_TRUE(rfc2217::SetLineSettings(port, s));
    ASSERT_TRUE(rfc2217::SetTimeouts(port, serial_os::Timeouts{10, 0, 10, 0, 0}));
    ASSERT_TRUE(rfc2217::Purge(port, 0x0F));
    ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kSetRts));
    ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kSetDtr));

    ASSERT_TRUE(PollLines(port, serial_os::kModemDsr | serial_os::kModemDcd | serial_os::kModemCts,
                          serial_os::kModemDsr | serial_os::kModemDcd | serial_os::kModemCts));
    rfc2217::PeerReport report;
    ASSERT_TRUE(rfc2217::GetPeerReport(port, report));
    EXPECT_EQ(report.ackedBaudRate, 230400u);
    EXPECT_EQ(report.ackedDataSize, 8);
    EXPECT_EQ(report.ackedParity, 3);
    EXPECT_EQ(report.ackedStopSize, 1);
    EXPECT_EQ(report.settingMismatches, 0u);

    for (int round = 0; round < 3; ++round) {
        // The host purge: RTS off, CTS must follow within 1000 polls of 1 ms.
        ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kClearRts));
        ASSERT_TRUE(PollLines(port, serial_os::kModemCts, 0)) << "round " << round;
        ASSERT_TRUE(rfc2217::Purge(port, 0x0F));
        ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kSetRts));
        ASSERT_TRUE(PollLines(port, serial_os::kModemCts, serial_os::kModemCts));

        std::uint32_t written = 0;
        ASSERT_TRUE(rfc2217::Write(port, "U\r", 2, written));
        EXPECT_EQ(written, 2u);
        const std::string reply = ReadReply(port, 12);
        EXPECT_TRUE(IsDeviceReply(reply)) << reply;
    }
    std::uint32_t errors = 0xFF;
    EXPECT_TRUE(rfc2217::ClearErrors(port, errors));
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(rfc2217::Close(port));
}

TEST(PyserialServer, KilledServerFailsCallsInsteadOfHanging) {
    PyserialServer server;
    ASSERT_FALSE(server.Url().empty()) << "server did not start";
    const Handle port = rfc2217::Open(server.Url().c_str());
    ASSERT_NE(port, kInvalidHandle);
    ASSERT_TRUE(rfc2217::SetTimeouts(port, serial_os::Timeouts{10, 0, 10, 0, 0}));
    ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kSetRts));
    ASSERT_TRUE(PollLines(port, serial_os::kModemCts, serial_os::kModemCts));

    server.Kill();
    const auto start = Clock::now();
    char buffer[16];
    std::uint32_t count = 0;
    bool readFailed = false;
    for (int i = 0; i < 200 && !readFailed; ++i) {
        readFailed = !rfc2217::Read(port, buffer, sizeof buffer, count);
    }
    EXPECT_TRUE(readFailed);
    EXPECT_FALSE(rfc2217::Write(port, "U\r", 2, count));
    EXPECT_FALSE(rfc2217::GetModemStatus(port, count));
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(),
              3000);
    EXPECT_TRUE(rfc2217::Close(port));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::system("/usr/bin/python3 -c 'import serial.rfc2217' 2>/dev/null") != 0) {
        std::printf("pyserial is not installed for /usr/bin/python3: skipped\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}

// The device model behind the fake serial backend: first through the seam itself,
// then with the library on top, on virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fake_serial.h"
#include "library_reset.h"
#include "serial_os.h"
#include "sim_peer.h"
#include "telvar.h"

using quenta_sim::CtsFault;
using quenta_sim::ReplyFault;

namespace {

constexpr unsigned kCom = 4;
constexpr std::uint32_t kConnected = serial_os::kModemDsr | serial_os::kModemDcd;
constexpr std::uint32_t kReady = kConnected | serial_os::kModemCts;

class SimPeerSeam : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_serial::Reset();
        fake_serial::Attach(kCom, &device);
        port = serial_os::OpenPort("\\\\.\\COM4");
        ASSERT_NE(port, serial_os::kInvalidHandle);
        serial_os::Timeouts immediate;
        immediate.readInterval = 0xFFFFFFFFu;
        ASSERT_TRUE(serial_os::SetTimeouts(port, immediate));
    }
    void TearDown() override { fake_serial::Reset(); }

    std::uint32_t Lines() {
        std::uint32_t status = 0;
        EXPECT_TRUE(serial_os::GetModemStatus(port, status));
        return status;
    }
    void Write(const std::string& text) {
        std::uint32_t written = 0;
        ASSERT_TRUE(serial_os::WritePort(port, text.data(), text.size(), written));
    }
    std::string Read() {
        char buffer[4096];
        std::uint32_t n = 0;
        EXPECT_TRUE(serial_os::ReadPort(port, buffer, sizeof buffer, n));
        return std::string(buffer, n);
    }

    SimPeer device;
    serial_os::Handle port = serial_os::kInvalidHandle;
};

TEST_F(SimPeerSeam, LinesFollowTheHostsRts) {
    EXPECT_EQ(Lines(), kConnected);  // a fresh port has RTS off
    ASSERT_TRUE(serial_os::EscapeFunction(port, serial_os::kSetRts));
    EXPECT_EQ(Lines(), kReady);
    ASSERT_TRUE(serial_os::EscapeFunction(port, serial_os::kClearRts));
    EXPECT_EQ(Lines(), kConnected);
    device.Model().SetConnected(false, 0);
    EXPECT_EQ(Lines(), 0u);
}

TEST_F(SimPeerSeam, RepliesArriveAtOnceOrPacedOnVirtualTime) {
    Write("V\r");
    EXPECT_EQ(Read(), "V0114\r");

    device.SetPacing(true);
    Write("L\r");  // 2050 bytes at 47.7 us: just under 98 ms
    EXPECT_EQ(Read(), "");
    fake_serial::AdvanceMs(10);
    EXPECT_EQ(Read().size(), 209u);
    fake_serial::AdvanceMs(88);
    EXPECT_EQ(Read().size(), 2050u - 209u);
}

TEST_F(SimPeerSeam, UptimeRunsOnVirtualTime) {
    fake_serial::AdvanceMs(1500);
    Write("U\r");
    EXPECT_EQ(Read(), "U0000000180\r");
}

// The library on top: the model must satisfy everything a host expects of a device.
class SimPeerLibrary : public ::testing::Test {
  protected:
    static constexpr unsigned short kSlot = 1;

    void SetUp() override {
        telvar::ResetLibraryState();
        fake_serial::Reset();
        fake_serial::Attach(kCom, &device);
        ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0);
    }
    void TearDown() override {
        telvar::ResetLibraryState();
        fake_serial::Reset();
    }

    SimPeer device;
};

TEST_F(SimPeerLibrary, EveryCommandConvertsCleanly) {
    double amplitude = 123.4;
    ASSERT_EQ(TELVAR_Set_Amplitude(kSlot, &amplitude), 0);
    EXPECT_DOUBLE_EQ(amplitude, 123.4);
    int enable = 1;
    ASSERT_EQ(TELVAR_Set_Enable(kSlot, &enable), 0);
    fake_serial::AdvanceMs(500);

    double a1 = 0, a2 = 0, drain = 0, heatsink = 0, coil = 0;
    int frequency = 0;
    ASSERT_EQ(TELVAR_Get_RFGData(kSlot, &a1, &a2, &drain, &frequency, &heatsink, &coil), 0);
    EXPECT_NEAR(a1, 123.4, 1.0);
    EXPECT_NEAR(frequency, 13560000, 2000);
    double v12 = 0, v5 = 0, v3 = 0, cpu = 0;
    ASSERT_EQ(TELVAR_Get_HousekeepingData(kSlot, &v12, &v5, &v3, &cpu), 0);
    EXPECT_NEAR(v12, 12.0, 0.1);
    double volts = 0, amps = 0, psu = 0;
    ASSERT_EQ(TELVAR_Get_PowerData(kSlot, &volts, &amps, &psu), 0);
    EXPECT_GT(amps, 0.1);
    double lo = -1, hi = -1, supply = -1;
    ASSERT_EQ(TELVAR_GetHardwareCapability(kSlot, &lo, &hi, &supply), 0);
    EXPECT_DOUBLE_EQ(hi, 400.0);
    unsigned short version = 0;
    ASSERT_EQ(TELVAR_FW_Ver(kSlot, &version), 0);
    EXPECT_EQ(version, 0x0114);
    char date[12] = {};
    ASSERT_EQ(TELVAR_FW_Date(kSlot, date), 0);
    EXPECT_STREQ(date, "Apr 20 2015");
    static char id[8192];
    ASSERT_EQ(TELVAR_Prod_ID(kSlot, id), 0);
    EXPECT_STREQ(id, "QUENTA HV RF generator, simulated");

    ASSERT_EQ(TELVAR_SimulateKeypad(kSlot, 0x02), 0);   // down to the RF line
    ASSERT_EQ(TELVAR_SimulateEncoderButton(kSlot), 0);  // switches RF off
    ASSERT_EQ(TELVAR_Get_Enable(kSlot, &enable), 0);
    EXPECT_EQ(enable, 0);
    ASSERT_EQ(TELVAR_SimulateEncoder(kSlot, 0x8), 0);
    unsigned char display[1024];
    ASSERT_EQ(TELVAR_ReadDisplay(kSlot, display), 0);
    EXPECT_EQ(std::memcmp(display + 2 * 128, "> Amplitude   123.4 V", 21), 0);
    unsigned char row[128];
    ASSERT_EQ(TELVAR_ReadDisplayRow(kSlot, 7, row), 0);
    EXPECT_EQ(std::memcmp(row, "Last input: encoder 8", 21), 0);
}

TEST_F(SimPeerLibrary, PurgesWorkAndBrokenRepliesAreRepaired) {
    ASSERT_EQ(TELVAR_Purge(kSlot), 0);  // needs CTS to drop with RTS
    int purged = 0, empty = 0;
    ASSERT_EQ(TELVAR_Device_Purge(kSlot, &purged), 0);
    EXPECT_EQ(purged, 1);
    ASSERT_EQ(TELVAR_Buffer_State(kSlot, &empty), 0);
    EXPECT_EQ(empty, 1);

    const ReplyFault faults[] = {ReplyFault::NoAnswer, ReplyFault::WrongEcho,
                                 ReplyFault::ShortPayload, ReplyFault::MissingCr,
                                 ReplyFault::Corrupt};
    for (const ReplyFault fault : faults) {
        SCOPED_TRACE(quenta_sim::ReplyFaultName(fault));
        device.Model().SetReplyFault('V', fault, 1);
        unsigned short version = 0;
        // Corruption may hit a digit and go unnoticed; the other faults must be noticed
        // and repaired.
        EXPECT_EQ(TELVAR_FW_Ver(kSlot, &version), 0);
        if (fault != ReplyFault::Corrupt) {
            EXPECT_EQ(version, 0x0114);
        }
    }
}

TEST_F(SimPeerLibrary, LineFaultsGiveTheirStatusCodes) {
    device.Model().SetCtsFault(CtsFault::StuckActive);
    EXPECT_EQ(TELVAR_Purge(kSlot), -102);
    device.Model().SetCtsFault(CtsFault::StuckInactive);
    unsigned int seconds = 0;
    unsigned short ms = 0;
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &ms), -101);
    device.Model().SetCtsFault(CtsFault::None);
    device.Model().SetConnected(false, fake_serial::NowMs() * 1000);
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &ms), -100);
    device.Model().SetConnected(true, fake_serial::NowMs() * 1000);
    EXPECT_EQ(TELVAR_Purge(kSlot), 0);  // RTS back on after the failed purges
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &ms), 0);
    EXPECT_EQ(seconds, fake_serial::NowMs() / 1000);
}

}  // namespace

// The fake backend and the scripted device: what the library tests build on.
#include <gtest/gtest.h>

#include <string>

#include "fake_serial.h"
#include "scripted_device.h"
#include "serial_os.h"

namespace {

using fake_serial::Op;
using serial_os::Handle;
using serial_os::kInvalidHandle;

constexpr serial_os::Timeouts kNormal = {10, 0, 10, 0, 0};
constexpr serial_os::Timeouts kImmediate = {0xFFFFFFFFu, 0, 0, 0, 0};

class FakeSerial : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_serial::Reset();
        fake_serial::Attach(3, &device);
    }
    void TearDown() override { fake_serial::Reset(); }

    Handle OpenCom3(const serial_os::Timeouts& timeouts = kNormal) {
        Handle h = serial_os::OpenPort("\\\\.\\COM3");
        EXPECT_NE(h, kInvalidHandle);
        EXPECT_TRUE(serial_os::SetTimeouts(h, timeouts));
        return h;
    }
    std::string Read(Handle h, std::uint32_t n) {
        char data[64] = {};
        std::uint32_t got = 0;
        EXPECT_TRUE(serial_os::ReadPort(h, data, n, got));
        return std::string(data, got);
    }
    void Write(Handle h, const std::string& bytes) {
        std::uint32_t written = 0;
        ASSERT_TRUE(serial_os::WritePort(h, bytes.data(), std::uint32_t(bytes.size()), written));
        ASSERT_EQ(written, bytes.size());
    }

    ScriptedDevice device;
};

TEST_F(FakeSerial, OnlyAttachedComPathsOpen) {
    fake_serial::Attach(12, nullptr);
    for (const char* bad :
         {"\\\\.\\COM4", "\\\\.\\COM", "\\\\.\\COM03", "\\\\.\\COM3x", "COM3", "/dev/ttyS2", ""}) {
        EXPECT_EQ(serial_os::OpenPort(bad), kInvalidHandle) << bad;
    }
    EXPECT_EQ(serial_os::OpenPort(nullptr), kInvalidHandle);
    EXPECT_NE(serial_os::OpenPort("\\\\.\\COM12"), kInvalidHandle);
}

TEST_F(FakeSerial, OpenIsExclusiveUntilClosed) {
    const Handle h = OpenCom3();
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM3"), kInvalidHandle);
    EXPECT_TRUE(serial_os::ClosePort(h));
    EXPECT_FALSE(serial_os::ClosePort(h));
    std::uint32_t status = 0;
    EXPECT_FALSE(serial_os::GetModemStatus(h, status));  // a stale handle is refused
    EXPECT_NE(serial_os::OpenPort("\\\\.\\COM3"), kInvalidHandle);
}

TEST_F(FakeSerial, NormalReadWaitsTenMsOfVirtualTimeOnlyWhenShort) {
    const Handle h = OpenCom3();
    fake_serial::DeviceSend(3, "ab");
    EXPECT_EQ(Read(h, 2), "ab");
    EXPECT_EQ(fake_serial::NowMs(), 0u);

    fake_serial::DeviceSend(3, "c");
    EXPECT_EQ(Read(h, 4), "c");
    EXPECT_EQ(fake_serial::NowMs(), 10u);
    EXPECT_EQ(Read(h, 1), "");
    EXPECT_EQ(fake_serial::NowMs(), 20u);
}

TEST_F(FakeSerial, NormalReadCollectsALateAnswerAndReturnsWhenComplete) {
    const Handle h = OpenCom3();
    device.SetReplyDelayMs(3);
    device.Script("x1\r");
    Write(h, "x\r");
    EXPECT_EQ(Read(h, 3), "x1\r");
    EXPECT_EQ(fake_serial::NowMs(), 3u);
}

TEST_F(FakeSerial, ImmediateReadNeverWaits) {
    const Handle h = OpenCom3(kImmediate);
    EXPECT_EQ(Read(h, 8), "");
    fake_serial::DeviceSend(3, "xyz");
    EXPECT_EQ(Read(h, 8), "xyz");
    EXPECT_EQ(fake_serial::NowMs(), 0u);
}

TEST_F(FakeSerial, SleepRunsTheDeviceClock) {
    const Handle h = OpenCom3(kImmediate);
    device.SetReplyDelayMs(5);
    device.Script("late\r");
    Write(h, "q\r");
    serial_os::SleepMs(4);
    EXPECT_EQ(Read(h, 8), "");
    serial_os::SleepMs(1);
    EXPECT_EQ(Read(h, 8), "late\r");
}

TEST_F(FakeSerial, PurgeDropsOnlyTheReceiveQueueWhenAsked) {
    const Handle h = OpenCom3();
    fake_serial::DeviceSend(3, "junk");
    EXPECT_TRUE(serial_os::PurgePort(h, serial_os::kPurgeTxClear));
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 4u);
    EXPECT_TRUE(serial_os::PurgePort(h, 0x0F));
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 0u);
    EXPECT_EQ(fake_serial::View(3).purges, 2);
}

TEST_F(FakeSerial, ShortWriteDeliversOnlyTheAcceptedPrefix) {
    const Handle h = OpenCom3();
    fake_serial::ShortWrite(2);
    std::uint32_t written = 0;
    EXPECT_TRUE(serial_os::WritePort(h, "ab\rcd\r", 6, written));
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(fake_serial::View(3).hostWritten, "ab");
    EXPECT_TRUE(device.Commands().empty());
    Write(h, "\r");  // the next write is whole again
    EXPECT_EQ(device.Commands(), std::vector<std::string>{"ab"});
}

TEST_F(FakeSerial, FaultsHitTheNamedOperationOnly) {
    const Handle h = OpenCom3();
    std::uint32_t status = 0;
    fake_serial::FailNext(Op::GetModemStatus, 2);
    EXPECT_FALSE(serial_os::GetModemStatus(h, status));
    EXPECT_TRUE(serial_os::EscapeFunction(h, serial_os::kSetRts));
    EXPECT_FALSE(serial_os::GetModemStatus(h, status));
    EXPECT_TRUE(serial_os::GetModemStatus(h, status));

    fake_serial::FailAlways(Op::ReadPort);
    char c;
    std::uint32_t got = 7;
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(serial_os::ReadPort(h, &c, 1, got));
    EXPECT_EQ(got, 0u);
    fake_serial::FailAlways(Op::ReadPort, false);
    EXPECT_TRUE(serial_os::ReadPort(h, &c, 1, got));

    fake_serial::FailNext(Op::OpenPort);
    EXPECT_TRUE(serial_os::ClosePort(h));
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM3"), kInvalidHandle);
    EXPECT_NE(serial_os::OpenPort("\\\\.\\COM3"), kInvalidHandle);
}

TEST_F(FakeSerial, LineErrorsAreReportedOnceAndEventsAsSet) {
    const Handle h = OpenCom3();
    std::uint32_t errors = 0;
    fake_serial::RaiseLineErrors(serial_os::kErrBreak);
    fake_serial::RaiseLineErrors(serial_os::kErrFrame);
    EXPECT_TRUE(serial_os::ClearErrors(h, errors));
    EXPECT_EQ(errors, 0x18u);
    EXPECT_TRUE(serial_os::ClearErrors(h, errors));
    EXPECT_EQ(errors, 0u);

    std::uint32_t mask = 0;
    EXPECT_TRUE(serial_os::WaitEvent(h, mask));
    EXPECT_EQ(mask, serial_os::kEventTxEmpty);
    fake_serial::SetEventMask(0x0001);
    EXPECT_TRUE(serial_os::WaitEvent(h, mask));
    EXPECT_EQ(mask, 0x0001u);
}

TEST_F(FakeSerial, SettingsAreKeptAndBadOnesRefused) {
    const Handle h = OpenCom3();
    serial_os::LineSettings s;
    ASSERT_TRUE(serial_os::GetLineSettings(h, s));
    EXPECT_EQ(s.baudRate, 9600u);
    s.baudRate = 230400;
    EXPECT_TRUE(serial_os::SetLineSettings(h, s));
    EXPECT_EQ(fake_serial::View(3).settings.baudRate, 230400u);
    s.byteSize = 9;
    EXPECT_FALSE(serial_os::SetLineSettings(h, s));
    EXPECT_EQ(fake_serial::View(3).settings.byteSize, 8);
}

TEST_F(FakeSerial, CallsAreLoggedInOrder) {
    const Handle h = OpenCom3();
    Write(h, "z\r");
    char buf[4];
    std::uint32_t got = 0;
    serial_os::ReadPort(h, buf, 3, got);
    std::uint32_t errors = 0;
    serial_os::ClearErrors(h, errors);
    serial_os::EscapeFunction(h, 9);
    serial_os::SleepMs(5);
    const std::vector<std::string> expected = {
        "OpenPort \\\\.\\COM3", "SetTimeouts normal",      "WritePort 2 -> 2", "ReadPort 3 -> 3",
        "ClearErrors -> 0x0",   "EscapeFunction 9 failed", "SleepMs 5"};
    EXPECT_EQ(fake_serial::Calls(), expected);
}

TEST_F(FakeSerial, ResetForgetsEverything) {
    const Handle h = OpenCom3();
    fake_serial::FailAlways(Op::WritePort);
    fake_serial::AdvanceMs(7);
    fake_serial::Reset();
    EXPECT_EQ(fake_serial::NowMs(), 0u);
    EXPECT_TRUE(fake_serial::Calls().empty());
    EXPECT_FALSE(fake_serial::View(3).open);
    EXPECT_EQ(serial_os::OpenPort("\\\\.\\COM3"), kInvalidHandle);  // detached
    (void)h;
}

// The scripted device.

class Device : public FakeSerial {
  protected:
    std::uint32_t Status(Handle h) {
        std::uint32_t status = 0;
        EXPECT_TRUE(serial_os::GetModemStatus(h, status));
        return status;
    }
};

TEST_F(Device, CtsFollowsRtsUnlessSwitchedOff) {
    const Handle h = OpenCom3();
    EXPECT_EQ(Status(h), 0xA0u);  // connected, RTS still off
    ASSERT_TRUE(serial_os::EscapeFunction(h, serial_os::kSetRts));
    EXPECT_EQ(Status(h), 0xB0u);
    ASSERT_TRUE(serial_os::EscapeFunction(h, serial_os::kClearRts));
    EXPECT_EQ(Status(h), 0xA0u);
    device.SetCtsFollowsRts(false);
    EXPECT_EQ(Status(h), 0xB0u);
    device.SetCts(false);
    device.SetRing(true);
    device.SetDcd(false);
    EXPECT_EQ(Status(h), 0x60u);
    device.SetConnected(false);
    EXPECT_EQ(Status(h), 0x40u);
}

TEST_F(Device, AnswersPurgeScriptRuleHandlerInThatOrder) {
    const Handle h = OpenCom3();
    device.Rule('A', "A0123\r");
    device.SetHandler([](const std::string& command, std::string& reply) {
        reply = command + "!\r";
        return command[0] == 'h';
    });
    device.Script("A\xff\r");  // malformed on purpose
    device.Script("");         // silent once

    Write(h, "z\r");
    EXPECT_EQ(Read(h, 3), "zY\r");
    Write(h, "A\r");
    EXPECT_EQ(Read(h, 8), "A\xff\r");
    Write(h, "A\r");
    EXPECT_EQ(Read(h, 8), "");
    Write(h, "A\r");
    EXPECT_EQ(Read(h, 8), "A0123\r");
    Write(h, "h1\r");
    EXPECT_EQ(Read(h, 8), "h1!\r");
    Write(h, "q\r");
    EXPECT_EQ(Read(h, 8), "");

    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::NotPurged);
    Write(h, "z\r");
    EXPECT_EQ(Read(h, 3), "zN\r");
    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::Off);
    device.Script("zX\r");
    Write(h, "z\r");
    EXPECT_EQ(Read(h, 3), "zX\r");

    const std::vector<std::string> commands = {"z", "A", "A", "A", "h1", "q", "z", "z"};
    EXPECT_EQ(device.Commands(), commands);
}

TEST_F(Device, ACommandSplitAcrossWritesIsAnsweredOnceComplete) {
    const Handle h = OpenCom3();
    device.Script("a\r");
    Write(h, "a0");
    Write(h, "1F4");
    EXPECT_EQ(Read(h, 2), "");
    Write(h, "\r");
    EXPECT_EQ(Read(h, 2), "a\r");
    EXPECT_EQ(device.Commands(), std::vector<std::string>{"a01F4"});
}

TEST_F(Device, DelayedAnswersKeepTheirOrder) {
    const Handle h = OpenCom3(kImmediate);
    device.SetReplyDelayMs(2);
    device.Script("1\r");
    device.Script("2\r");
    Write(h, "a\rb\r");
    fake_serial::AdvanceMs(2);
    EXPECT_EQ(Read(h, 8), "1\r2\r");
}

}  // namespace

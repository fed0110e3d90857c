#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cycling.h"
#include "ombrel_device_fixture.h"
#include "scripted_device.h"

namespace {

using ombrel::ClockAdd;
using ombrel::ProgramClock;
using ombrel::WaitUntil;

// The device echoes every amplitude it is sent and notes when the command arrived.
class CyclingTest : public OmbrelDeviceTest {
  protected:
    fake_serial::Peer& Device() override { return device; }

    void SetUp() override {
        device.SetHandler([this](const std::string& command, std::string& reply) {
            // A cycle that cannot be stopped ends on a silent device instead of hanging.
            if (command.size() != 5 || command[0] != 'A' || sets.size() >= kMostSets) return false;
            sets.emplace_back(fake_serial::NowMs(), command.substr(1));
            reply = command + "\r";
            return true;
        });
        OmbrelDeviceTest::SetUp();
    }

    static constexpr std::size_t kMostSets = 40;
    ScriptedDevice device;
    // Virtual time and the amplitude digits of every set command.
    std::vector<std::pair<std::uint64_t, std::string>> sets;
};

TEST_F(CyclingTest, WaitUntilReturnsAtTheDeadline) {
    const std::int32_t deadline = ClockAdd(ProgramClock(), 100);
    fake_console::PressKey(' ', 10);  // without Space abort the keyboard is not read
    EXPECT_TRUE(WaitUntil(deadline, false));
    EXPECT_EQ(ProgramClock(), deadline);
    EXPECT_EQ(fake_console::KeysRead(), 0);
    // 1 ms sleeps, no busy loop.
    EXPECT_EQ(fake_console::Sleeps(), 100);
}

TEST_F(CyclingTest, WaitUntilWithAPastDeadlineDoesNotLookAtTheKeyboard) {
    fake_serial::AdvanceMs(50);
    fake_console::PressKey(' ');
    EXPECT_TRUE(WaitUntil(ClockAdd(ProgramClock(), -10), true));
    EXPECT_TRUE(WaitUntil(ProgramClock(), true));
    EXPECT_EQ(fake_console::KeysRead(), 0);
    EXPECT_EQ(fake_console::Sleeps(), 0);
}

TEST_F(CyclingTest, SpaceEndsTheWaitAndOtherKeysAreDropped) {
    const std::int32_t start = ProgramClock();
    fake_console::PressKey('a', 5);
    fake_console::PressKey(0x120, 6);  // an extended key whose second code is 0x20
    fake_console::PressKey(' ', 30);
    fake_console::PressKey('b', 40);
    EXPECT_FALSE(WaitUntil(ClockAdd(start, 100), true));
    EXPECT_EQ(ProgramClock() - start, 30);
    EXPECT_EQ(fake_console::KeysRead(), 3);
}

TEST_F(CyclingTest, WaitsSurviveTheWrapOfTheProgramClock) {
    // 24.8 days after the start the clock wraps to negative values.
    fake_console::AddTickOffset(static_cast<std::uint32_t>(INT32_MAX - ProgramClock() - 20));
    const std::int32_t before = ProgramClock();
    ASSERT_EQ(before, INT32_MAX - 20);
    const std::int32_t deadline = ClockAdd(before, 100);
    EXPECT_LT(deadline, 0);
    const std::uint64_t begin = fake_serial::NowMs();
    EXPECT_TRUE(WaitUntil(deadline, false));
    EXPECT_EQ(fake_serial::NowMs() - begin, 100u);
    // A deadline just behind the wrapped clock is past.
    EXPECT_TRUE(WaitUntil(ClockAdd(deadline, -5), false));
    EXPECT_EQ(fake_serial::NowMs() - begin, 100u);
}

TEST_F(CyclingTest, CycleKeepsItsAbsoluteScheduleUntilSpace) {
    device.SetReplyDelayMs(7);  // each call takes its time inside the half period
    const std::uint64_t start = fake_serial::NowMs();
    fake_console::PressKey('q', start + 60);  // dropped, the cycle goes on
    fake_console::PressKey(' ', start + 230);
    const std::string out = Console([] { ombrel::CycleAmplitude(1.0, 2.04, 0.101); });

    // P = 101 ms: the maximum for 50 ms, the minimum for 51 ms, no drift.
    const std::vector<std::pair<std::uint64_t, std::string>> expected = {{start, "0014"},
                                                                         {start + 50, "000A"},
                                                                         {start + 101, "0014"},
                                                                         {start + 151, "000A"},
                                                                         {start + 202, "0014"}};
    EXPECT_EQ(sets, expected);
    EXPECT_EQ(out,
              "Press SPACE to stop...\nRF amplitude: 2.0V\nRF amplitude: 1.0V\nRF amplitude: "
              "2.0V\nRF amplitude: 1.0V\nRF amplitude: 2.0V\nCycle stopped\n");
}

TEST_F(CyclingTest, CycleInDebugAndQuietMode) {
    ombrel::modes.debug = true;
    fake_console::PressKey(' ', fake_serial::NowMs() + 60);
    fake_console::PressKey('x', fake_serial::NowMs() + 60);  // left over: emptied at the end
    std::string out = Console([] { ombrel::CycleAmplitude(3.0, 1.0, 0.1); });
    // Minimum above maximum: the first half still sends the value given as maximum.
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].second, "000A");
    EXPECT_EQ(out,
              "Cycling the RF amplitude, press SPACE to stop...\nSetting the RF amplitude:\nRF "
              "amplitude: 1.0V\nSetting the RF amplitude:\nRF amplitude: 3.0V\nSPACE pressed, "
              "cycling the RF amplitude stopped\n");
    EXPECT_EQ(fake_console::KeysRead(), 2);

    ombrel::modes = ombrel::Modes();
    ombrel::modes.quiet = true;
    fake_console::PressKey(' ', fake_serial::NowMs() + 10);
    out = Console([] { ombrel::CycleAmplitude(1.0, 2.0, 0.1); });
    EXPECT_EQ(out, "Press SPACE to stop...\nCycle stopped\n");
}

TEST_F(CyclingTest, SpaceStopsACycleThatRunsBehindItsSchedule) {
    // Every call takes longer than its half period: the waits never wait.
    device.SetReplyDelayMs(80);
    fake_console::PressKey(' ', fake_serial::NowMs() + 500);
    const std::string out = Console([] { ombrel::CycleAmplitude(1.0, 2.0, 0.1); });
    EXPECT_TRUE(Contains(out, "Cycle stopped\n")) << out;
    EXPECT_LE(sets.back().first, 600u);
}

TEST_F(CyclingTest, WrongPeriodsSendNothing) {
    for (double period : {0.05, 0.0, -1.0, std::nan("")}) {
        const std::string out = Console([period] { ombrel::CycleAmplitude(1.0, 2.0, period); });
        char expected[80];
        std::snprintf(expected, sizeof expected, "Wrong period specified: %.1lf, must be >= 0.ls\n",
                      period);
        EXPECT_EQ(out, expected);
    }
    EXPECT_EQ(Console([] { ombrel::CycleAmplitude(1.0, 2.0, 0.05); }),
              "Wrong period specified: 0.1, must be >= 0.ls\n");
    EXPECT_TRUE(sets.empty());
}

TEST_F(CyclingTest, FailureEndsTheCycleWithoutTheStopMessage) {
    device.SetHandler(nullptr);  // the device stops answering
    fake_console::PressKey('k', fake_serial::NowMs() + 1);
    const std::string out = Console([] { ombrel::CycleAmplitude(1.0, 2.0, 1.0); });
    EXPECT_EQ(out.rfind("Press SPACE to stop...\nError at TELVAR_Set_Amplitude: ", 0), 0u) << out;
    EXPECT_EQ(out.find("Cycle stopped"), std::string::npos);
    EXPECT_EQ(fake_console::KeysRead(), 0);  // the keyboard is left as it is
}

TEST_F(CyclingTest, CycleEndsWhenInputEnds) {
    fake_console::EndInput(fake_serial::NowMs() + 120);
    const std::string out = Console([] { ombrel::CycleAmplitude(1.0, 2.0, 0.1); });
    EXPECT_TRUE(Contains(out, "Cycle stopped\n")) << out;
    EXPECT_EQ(sets.size(), 3u);
}

TEST_F(CyclingTest, EndOfInputStopsALongHalfPeriodAtOnce) {
    fake_console::EndInput(fake_serial::NowMs() + 120);
    const std::uint64_t start = fake_serial::NowMs();
    const std::string out = Console([] { ombrel::CycleAmplitude(1.0, 2.0, 1e6); });
    EXPECT_TRUE(Contains(out, "Cycle stopped\n")) << out;
    EXPECT_EQ(sets.size(), 1u);
    EXPECT_LT(fake_serial::NowMs() - start, 1000u);
}

}  // namespace

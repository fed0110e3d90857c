#include "cycling.h"

#include <cstdio>

#include "console.h"
#include "operations.h"
#include "program.h"
#include "telvar.h"

namespace ombrel {

namespace {

constexpr int kSpace = 0x20;

std::uint32_t StartTick() {
    static const std::uint32_t start = console::TickCount();
    return start;
}

// Reads the waiting keys; true when a Space was among them. Other keys are dropped.
bool SpaceWaiting() {
    bool space = false;
    while (console::KeyAvailable()) {
        const int key = ReadKeyCode();
        if (key < 0) break;
        if (key == kSpace) space = true;
    }
    return space;
}

// The wait of a half period: as WaitUntil with Space, but Space is also looked at when
// the deadline has passed, and the end of input stops the cycle at once, since no Space
// can come any more and a long period would otherwise hold a script for its whole length.
bool WaitHalf(std::int32_t deadline) {
    for (;;) {
        if (console::InputEnded()) return false;
        if (ClockReached(ProgramClock(), deadline)) return !SpaceWaiting();
        if (console::KeyAvailable()) {
            if (ReadKeyCode() == kSpace) return false;
            continue;
        }
        console::SleepMs(1);
    }
}

// One half period: the amplitude call and its wait. False when the cycle ends.
bool CycleHalf(double& amplitude, std::int32_t& deadline, std::int32_t halfMs, bool& stopped) {
    if (modes.debug) std::printf("Setting the RF amplitude:\n");
    if (TELVAR_Set_Amplitude(kSlot, &amplitude) != 0) {
        ErrorReport("TELVAR_Set_Amplitude");
        return false;
    }
    if (!modes.quiet) std::printf("RF amplitude: %.1lfV\n", amplitude);
    std::fflush(stdout);
    deadline = ClockAdd(deadline, halfMs);
    if (!WaitHalf(deadline)) {
        stopped = true;
        return false;
    }
    return true;
}

}  // namespace

std::int32_t ProgramClock() {
    const std::uint32_t start = StartTick();
    return static_cast<std::int32_t>(console::TickCount() - start);
}

std::int32_t ClockAdd(std::int32_t time, std::int64_t milliseconds) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(time) +
                                     static_cast<std::uint32_t>(milliseconds));
}

bool ClockReached(std::int32_t now, std::int32_t deadline) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(now) -
                                     static_cast<std::uint32_t>(deadline)) >= 0;
}

int ReadKeyCode() {
    const int key = console::ReadKey();
    if (key != 0) return key;
    const int second = console::ReadKey();
    return second < 0 ? -1 : 0x100 + second;
}

void DiscardPendingKeys() {
    while (console::KeyAvailable()) {
        if (ReadKeyCode() < 0) break;
    }
}

bool WaitUntil(std::int32_t deadline, bool spaceAborts) {
    for (;;) {
        if (ClockReached(ProgramClock(), deadline)) return true;
        if (spaceAborts && console::KeyAvailable()) {
            if (ReadKeyCode() == kSpace) return false;
            continue;
        }
        console::SleepMs(1);
    }
}

bool WaitUntilOrSpace(std::int32_t deadline) {
    return WaitUntil(deadline, true) && !SpaceWaiting();
}

void CycleAmplitude(double minimum, double maximum, double period) {
    if (!(period >= 0.1)) {
        std::printf("Wrong period specified: %.1lf, must be >= 0.ls\n", period);
        return;
    }
    std::printf(modes.debug ? "Cycling the RF amplitude, press SPACE to stop...\n"
                            : "Press SPACE to stop...\n");

    // Periods beyond 24.8 days cannot be told from the past by the wrapping clock.
    const double periodMs = period * 1000.0 + 0.5;
    const std::int32_t full =
        periodMs >= 2147483647.0 ? 2147483647 : static_cast<std::int32_t>(periodMs);
    const std::int32_t firstHalf = full / 2;
    const std::int32_t secondHalf = full - firstHalf;

    // Absolute deadlines: the calls take their time inside the half periods, so the
    // cycle does not drift, and after an overrun it catches up back to back.
    std::int32_t deadline = ProgramClock();
    bool stopped = false;
    while (CycleHalf(maximum, deadline, firstHalf, stopped) &&
           CycleHalf(minimum, deadline, secondHalf, stopped)) {
    }
    if (!stopped) return;
    std::printf(modes.debug ? "SPACE pressed, cycling the RF amplitude stopped\n"
                            : "Cycle stopped\n");
    DiscardPendingKeys();
}

}  // namespace ombrel

// The POSIX backend's pauses, on the real clock. Only lower bounds are checked (a pause
// can always take longer on a busy machine): a pause after a gap lasts what was asked,
// and a run of 1 ms pauses, which keeps a 1 ms rhythm instead of adding the timer's
// latency to each pause, never polls faster than once a millisecond.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>

#include "serial_os.h"

namespace {

std::int64_t NowUs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

TEST(PauseBounds, APauseAfterAGapLastsWhatWasAsked) {
    for (std::uint32_t ms : {1u, 5u, 12u}) {
        serial_os::SleepMs(1);
        const timespec gap{0, 20 * 1000000L};  // work between two pauses
        nanosleep(&gap, nullptr);
        const std::int64_t start = NowUs();
        serial_os::SleepMs(ms);
        EXPECT_GE(NowUs() - start, static_cast<std::int64_t>(ms) * 1000) << ms << " ms";
    }
}

TEST(PauseBounds, ARunOfPausesKeepsItsRhythm) {
    serial_os::SleepMs(1);
    const std::int64_t start = NowUs();
    for (int i = 0; i < 100; ++i) serial_os::SleepMs(1);
    // The first pause may end up to a millisecond after the one before it.
    EXPECT_GE(NowUs() - start, 99 * 1000);
}

}  // namespace

// Helpers shared by the benchmarks: clocks, sample summaries and the wire arithmetic of
// the device's line.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

namespace bench {

// 230400 baud, 8 data bits, even parity, 1 stop bit: 11 bit times per character.
constexpr double kCharacterUs = 11.0 * 1e6 / 230400.0;

// The time `characters` take on the line, both directions together.
constexpr double WireUs(int characters) {
    return characters * kCharacterUs;
}

// "U\r" out, "U", ten digits and "\r" back.
constexpr int kUptimeCharacters = 2 + 12;
// "L\r" out, "L", 2048 digits and "\r" back.
constexpr int kDisplayCharacters = 2 + 2050;

inline std::int64_t ClockNs(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline std::int64_t NowNs() {
    return ClockNs(CLOCK_MONOTONIC);
}

// CPU time of the whole process: user and system, all threads.
inline std::int64_t CpuNs() {
    return ClockNs(CLOCK_PROCESS_CPUTIME_ID);
}

struct Summary {
    std::size_t count = 0;
    double medianUs = 0;
    double p99Us = 0;
    double meanUs = 0;
    double maxUs = 0;
};

// Takes the samples by value: sorting them is part of summarising.
inline Summary Summarize(std::vector<std::int64_t> samplesNs) {
    Summary s;
    s.count = samplesNs.size();
    if (samplesNs.empty()) return s;
    std::sort(samplesNs.begin(), samplesNs.end());
    const auto at = [&](double q) {
        const std::size_t i = static_cast<std::size_t>(q * static_cast<double>(s.count - 1) + 0.5);
        return samplesNs[std::min(i, s.count - 1)] / 1000.0;
    };
    s.medianUs = at(0.5);
    s.p99Us = at(0.99);
    s.maxUs = samplesNs.back() / 1000.0;
    double total = 0;
    for (std::int64_t v : samplesNs) total += static_cast<double>(v);
    s.meanUs = total / static_cast<double>(s.count) / 1000.0;
    return s;
}

inline void PrintSummary(const char* label, const Summary& s) {
    std::printf("%-34s n=%zu  median %.2f us  p99 %.2f us  mean %.2f us  max %.2f us\n", label,
                s.count, s.medianUs, s.p99Us, s.meanUs, s.maxUs);
}

}  // namespace bench

// The in-process measurement, shared by the two builds that differ only in the serial
// backend linked under the library: time per transaction, one call at a time.
#pragma once

#include <cstdio>
#include <vector>

#include "bench_common.h"
#include "telvar.h"

namespace bench {

// `between` runs outside the timed calls (a backend may need tidying).
template <typename Between>
int RunInProcess(const char* label, unsigned short slot, int uptimes, int displays,
                 Between between) {
    unsigned seconds = 0;
    unsigned short milliseconds = 0;
    static unsigned char display[1024];
    int failures = 0;
    for (int i = 0; i < 1000; ++i) TELVAR_GetUptime(slot, &seconds, &milliseconds);

    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(uptimes));
    for (int i = 0; i < uptimes; ++i) {
        const std::int64_t t0 = NowNs();
        failures += TELVAR_GetUptime(slot, &seconds, &milliseconds) != 0;
        samples.push_back(NowNs() - t0);
        between();
    }
    const Summary uptime = Summarize(samples);

    samples.clear();
    for (int i = 0; i < displays; ++i) {
        const std::int64_t t0 = NowNs();
        failures += TELVAR_ReadDisplay(slot, display) != 0;
        samples.push_back(NowNs() - t0);
        between();
    }
    const Summary readDisplay = Summarize(samples);

    char name[96];
    std::snprintf(name, sizeof name, "%s uptime", label);
    PrintSummary(name, uptime);
    std::snprintf(name, sizeof name, "%s display", label);
    PrintSummary(name, readDisplay);
    std::printf(
        "RESULT %s uptime_median_us=%.2f uptime_p99_us=%.2f display_median_us=%.2f "
        "display_p99_us=%.2f failures=%d\n",
        label, uptime.medianUs, uptime.p99Us, readDisplay.medianUs, readDisplay.p99Us, failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace bench

// Transactions back to back through the shipped library over a network serial port:
// TELVAR_GetUptime and TELVAR_ReadDisplay, each set against the time its characters
// take on a 230400 baud 8E1 line. Against a paced simulator the ratio says how close
// the library comes to the wire; against an unpaced one the times are the library's
// and the network's own.
//
//   bench_wire rfc2217://127.0.0.1:7003 [uptime-count [display-count]]
//   bench_wire forked-paced|forked [uptime-count [display-count]]
//
// "forked" serves the simulated device from a child process of this one, whose pacing
// is timed to the microsecond: a reference for what the simulator's own timing costs.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "forked_sim.h"
#include "telvar.h"

namespace {

constexpr unsigned short kSlot = 0;
constexpr unsigned char kCom = 9;

struct Run {
    bench::Summary summary;
    double perSecond = 0;
    double cpuUs = 0;  // process CPU time per transaction
    int failures = 0;
};

template <typename Call>
Run Measure(int count, Call call) {
    std::vector<std::int64_t> samples;
    samples.reserve(static_cast<std::size_t>(count));
    Run run;
    const std::int64_t cpu0 = bench::CpuNs();
    const std::int64_t start = bench::NowNs();
    for (int i = 0; i < count; ++i) {
        const std::int64_t t0 = bench::NowNs();
        const int status = call();
        samples.push_back(bench::NowNs() - t0);
        if (status != 0) ++run.failures;
    }
    const double seconds = static_cast<double>(bench::NowNs() - start) / 1e9;
    run.cpuUs = static_cast<double>(bench::CpuNs() - cpu0) / 1000.0 / count;
    run.perSecond = count / seconds;
    run.summary = bench::Summarize(std::move(samples));
    return run;
}

void Report(const char* name, const Run& run, int characters) {
    const double wireUs = bench::WireUs(characters);
    const double wirePerSecond = 1e6 / wireUs;
    bench::PrintSummary(name, run.summary);
    std::printf(
        "  %.1f transactions/s, wire limit %.1f/s (%.1f us for %d characters): "
        "ratio %.3f; CPU %.1f us per transaction; failures %d\n",
        run.perSecond, wirePerSecond, wireUs, characters, run.perSecond / wirePerSecond, run.cpuUs,
        run.failures);
    // One line per figure for the scripts.
    std::printf(
        "RESULT %s_per_second=%.1f ratio=%.3f median_us=%.1f p99_us=%.1f cpu_us=%.1f "
        "failures=%d\n",
        name, run.perSecond, run.perSecond / wirePerSecond, run.summary.medianUs, run.summary.p99Us,
        run.cpuUs, run.failures);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL [uptime-count [display-count]]\n", argv[0]);
        return 2;
    }
    const int uptimes = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int displays = argc > 3 ? std::atoi(argv[3]) : 30;
    const std::string target = argv[1];
    std::unique_ptr<bench::ForkedSim> forked;
    if (target == "forked" || target == "forked-paced") {
        forked = std::make_unique<bench::ForkedSim>(target == "forked-paced");
        if (!forked->Ok()) return 1;
    }
    setenv("TELVAR_COM9", forked ? forked->Url().c_str() : argv[1], 1);
    const int opened = TELVAR_Open(kSlot, kCom);
    if (opened != 0) {
        std::fprintf(stderr, "TELVAR_Open: %d %s\n", opened, TELVAR_ErrorMessage(kSlot));
        return 1;
    }
    unsigned seconds = 0;
    unsigned short milliseconds = 0;
    static unsigned char display[1024];
    // Warm up: the first calls meet a cold cache and a fresh connection.
    for (int i = 0; i < 50; ++i) TELVAR_GetUptime(kSlot, &seconds, &milliseconds);

    const Run uptime =
        Measure(uptimes, [&] { return TELVAR_GetUptime(kSlot, &seconds, &milliseconds); });
    const Run readDisplay = Measure(displays, [&] { return TELVAR_ReadDisplay(kSlot, display); });
    TELVAR_Close(kSlot);

    Report("uptime", uptime, bench::kUptimeCharacters);
    Report("display", readDisplay, bench::kDisplayCharacters);
    return uptime.failures == 0 && readDisplay.failures == 0 ? 0 : 1;
}

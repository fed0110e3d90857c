// How long a command takes to give up, with real sleeps over a network serial port,
// set against what the library's bounds imply:
// - a device that does not answer: every read of a reply (the echo of the command, and
//   of the device purge in each of the ten repairs) waits 10 ms, then repeats 100 times
//   with 5 ms pauses and 10 ms reads: 11 x 1510 ms;
// - a device that is not connected: the handshake's connection wait, then ten repairs
//   with two connection waits each, 1000 polls of 1 ms per wait: 21000 ms.
#include <cstdio>
#include <cstdlib>

#include "bench_common.h"
#include "forked_sim.h"
#include "telvar.h"

namespace {

constexpr double kReadWaitMs = 10 + 100 * (5 + 10);  // one reply that never comes
constexpr double kPollWaitMs = 1000 * 1;             // one handshake wait that runs out

struct Case {
    const char* name;
    bench::ForkedSim::Fault fault;
    double impliedMs;
};

const Case kCases[] = {
    {"no_answer", bench::ForkedSim::Fault::NoAnswer, 11 * kReadWaitMs},
    {"not_connected", bench::ForkedSim::Fault::Disconnected, 21 * kPollWaitMs},
};

}  // namespace

int main() {
    bench::ForkedSim sim;
    if (!sim.Ok()) return 1;
    setenv("TELVAR_COM9", sim.Url().c_str(), 1);
    if (TELVAR_Open(0, 9) != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(0));
        return 1;
    }
    bool within = true;
    for (const Case& c : kCases) {
        if (!sim.SetFault(c.fault)) return 1;
        unsigned seconds = 0;
        unsigned short milliseconds = 0;
        const std::int64_t t0 = bench::NowNs();
        const int status = TELVAR_GetUptime(0, &seconds, &milliseconds);
        const double ms = static_cast<double>(bench::NowNs() - t0) / 1e6;
        const double deviation = 100.0 * (ms - c.impliedMs) / c.impliedMs;
        std::printf(
            "%-14s TELVAR_GetUptime returned %d (%s) after %.0f ms; implied %.0f ms; "
            "%+.2f %%\n",
            c.name, status, TELVAR_ErrorMessage(0), ms, c.impliedMs, deviation);
        std::printf("RESULT %s status=%d ms=%.0f implied_ms=%.0f deviation_percent=%.2f\n", c.name,
                    status, ms, c.impliedMs, deviation);
        within = within && deviation < 10 && deviation > -10;
        // Healthy again: the next command must succeed.
        sim.SetFault(bench::ForkedSim::Fault::None);
        const int after = TELVAR_GetUptime(0, &seconds, &milliseconds);
        std::printf("  next command once the device is back: %d\n", after);
    }
    TELVAR_Close(0);
    return within ? 0 : 1;
}

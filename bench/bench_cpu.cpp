// CPU time spent waiting, as a share of one core: Ombrel's WaitUntil on a terminal with
// no key pressed, and the library's handshake polls (1 ms apart) against a device that
// is never ready and one that is not connected. Waiting should cost next to nothing.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>

#include "bench_common.h"
#include "console.h"
#include "cycling.h"
#include "forked_sim.h"
#include "telvar.h"

namespace {

struct Share {
    double wallS = 0;
    double cpuS = 0;
    double Percent() const { return wallS > 0 ? 100.0 * cpuS / wallS : 0; }
};

template <typename F>
Share Measure(F f) {
    const std::int64_t wall0 = bench::NowNs();
    const std::int64_t cpu0 = bench::CpuNs();
    f();
    Share s;
    s.cpuS = static_cast<double>(bench::CpuNs() - cpu0) / 1e9;
    s.wallS = static_cast<double>(bench::NowNs() - wall0) / 1e9;
    return s;
}

void Report(const char* name, const Share& s) {
    std::printf("%-46s wall %.2f s  CPU %.4f s  %.2f %% of one core\n", name, s.wallS, s.cpuS,
                s.Percent());
    std::printf("RESULT %s cpu_percent=%.3f\n", name, s.Percent());
}

// A pseudo-terminal as standard input, as in an interactive run: raw mode, key polls.
bool TerminalInput() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0 || dup2(slave, STDIN_FILENO) < 0) return false;
    close(slave);
    return true;  // the master stays open: a terminal that nobody types on
}

}  // namespace

int main() {
    if (!TerminalInput()) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 1;
    }
    console::Init();
    constexpr std::int32_t kWaitMs = 3000;
    // The platform's own price of waking once a millisecond: what no 1 ms poll can
    // get under.
    Report("baseline_bare_1ms_sleeps", Measure([] {
               for (int i = 0; i < kWaitMs; ++i) console::SleepMs(1);
           }));
    Report("ombrel_WaitUntil_space_aborts", Measure([] {
               ombrel::WaitUntil(ombrel::ClockAdd(ombrel::ProgramClock(), kWaitMs), true);
           }));
    Report("ombrel_WaitUntil", Measure([] {
               ombrel::WaitUntil(ombrel::ClockAdd(ombrel::ProgramClock(), kWaitMs), false);
           }));
    console::Restore();

    bench::ForkedSim sim;
    if (!sim.Ok()) return 1;
    setenv("TELVAR_COM9", sim.Url().c_str(), 1);
    if (TELVAR_Open(0, 9) != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(0));
        return 1;
    }
    // The host purge ends in the handshake check, which then polls CTS 1000 times.
    sim.SetFault(bench::ForkedSim::Fault::CtsStuckInactive);
    int status = 0;
    Report("handshake_polls_not_ready", Measure([&] {
               for (int i = 0; i < 3; ++i) status = TELVAR_Purge(0);
           }));
    std::printf("  TELVAR_Purge returned %d (%s)\n", status, TELVAR_ErrorMessage(0));
    // The connection wait: 1000 polls for DSR and DCD.
    sim.SetFault(bench::ForkedSim::Fault::Disconnected);
    Report("handshake_polls_not_connected", Measure([&] {
               for (int i = 0; i < 3; ++i) status = TELVAR_Purge(0);
           }));
    std::printf("  TELVAR_Purge returned %d (%s)\n", status, TELVAR_ErrorMessage(0));
    sim.SetFault(bench::ForkedSim::Fault::None);
    TELVAR_Close(0);
    return 0;
}

// Ombrel's sampling schedule over a whole test protocol against the unpaced simulated
// device: how late each sample of the sweep starts against its ideal point on the
// 500 ms grid of its step, and how much CPU the program burns per second of waiting.
//
//   bench_sampling_schedule [steps [duration_s [pause]]]    (default: 3 steps of 10 s)
//
// The library calls of the sweep are intercepted in this executable (it defines them
// and forwards to the shared library's), so the protocol runs unchanged. Standard
// input is a pseudo-terminal nobody types on, as in an interactive run; the program's
// console output goes to /dev/null, which also means no live lines.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_common.h"
#include "console.h"
#include "forked_sim.h"
#include "program.h"
#include "protocol.h"
#include "telvar.h"

namespace {

constexpr std::int64_t kSampleNs = 500 * 1000000LL;

struct Record {
    std::int64_t stepStartNs = -1;  // when the amplitude call of the step returned
    int sampleInStep = 0;
    std::vector<std::int64_t> latenessNs;
    std::int64_t sweepStartNs = -1;
    std::int64_t sweepEndNs = -1;
    std::int64_t callWallNs = 0;  // inside the sweep's library calls
    std::int64_t callCpuNs = 0;
    std::int64_t sweepCpuStartNs = 0;
    std::int64_t sweepCpuEndNs = 0;
    std::int64_t lastCallWallNs = 0;
    std::int64_t lastCallCpuNs = 0;
};
Record record;

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Times one forwarded call made during the sweep.
template <typename Call>
int Timed(Call call) {
    const std::int64_t wall0 = bench::NowNs();
    const std::int64_t cpu0 = bench::CpuNs();
    const int status = call();
    record.lastCallWallNs = bench::NowNs() - wall0;
    record.lastCallCpuNs = bench::CpuNs() - cpu0;
    if (record.sweepStartNs >= 0) {
        record.callWallNs += record.lastCallWallNs;
        record.callCpuNs += record.lastCallCpuNs;
    }
    return status;
}

bool TerminalInput() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0 || dup2(slave, STDIN_FILENO) < 0) return false;
    close(slave);
    return true;
}

}  // namespace

extern "C" {

int TELVAR_Set_Amplitude(unsigned short port, double* amplitude) {
    static const auto real = Next<int (*)(unsigned short, double*)>("TELVAR_Set_Amplitude");
    // Every amplitude call starts a step, but the last one, which restores the amplitude
    // after the sweep: the sweep ends where it begins.
    record.sweepEndNs = bench::NowNs();
    record.sweepCpuEndNs = bench::CpuNs();
    if (record.sweepStartNs < 0) {
        record.sweepStartNs = record.sweepEndNs;
        record.sweepCpuStartNs = record.sweepCpuEndNs;
    }
    const int status = Timed([&] { return real(port, amplitude); });
    // The step's grid starts at the program clock's millisecond read right after the
    // call, and WaitUntil returns once the millisecond tick reaches a grid point.
    // (CLOCK_MONOTONIC in whole milliseconds, as the console's tick counter reads it).
    record.stepStartNs = bench::NowNs() / 1000000 * 1000000;
    record.sampleInStep = 0;
    return status;
}

int TELVAR_Get_RFGData(unsigned short port, double* a1, double* a2, double* drain, int* frequency,
                       double* heatsink, double* coil) {
    static const auto real =
        Next<int (*)(unsigned short, double*, double*, double*, int*, double*, double*)>(
            "TELVAR_Get_RFGData");
    const std::int64_t ideal = record.stepStartNs + record.sampleInStep++ * kSampleNs;
    record.latenessNs.push_back(bench::NowNs() - ideal);
    return Timed([&] { return real(port, a1, a2, drain, frequency, heatsink, coil); });
}

int TELVAR_Set_Enable(unsigned short port, int* enable) {
    static const auto real = Next<int (*)(unsigned short, int*)>("TELVAR_Set_Enable");
    return Timed([&] { return real(port, enable); });
}

int TELVAR_Get_PowerData(unsigned short port, double* voltage, double* current, double* heatsink) {
    static const auto real =
        Next<int (*)(unsigned short, double*, double*, double*)>("TELVAR_Get_PowerData");
    return Timed([&] { return real(port, voltage, current, heatsink); });
}

}  // extern "C"

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::atoi(argv[1]) : 3;
    const double duration = argc > 2 ? std::atof(argv[2]) : 10.0;
    const bool pause = argc > 3 && std::atoi(argv[3]) != 0;
    if (steps < 1 || !(duration >= 0)) {
        std::fprintf(stderr, "usage: %s [steps [duration_s [pause]]]\n", argv[0]);
        return 2;
    }

    bench::ForkedSim sim;
    if (!sim.Ok() || !TerminalInput()) {
        std::fprintf(stderr, "no simulator or no pseudo-terminal\n");
        return 1;
    }
    setenv("TELVAR_COM3", sim.Url().c_str(), 1);
    std::FILE* results = fdopen(dup(STDOUT_FILENO), "w");
    if (results == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
    console::Init();
    if (TELVAR_Open(ombrel::kSlot, 3) != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(ombrel::kSlot));
        return 1;
    }
    char path[] = "/tmp/bench-protocol-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 1;
    close(fd);

    const std::int64_t wall0 = bench::NowNs();
    ombrel::CreateTestProtocol(path, 100, 100 + 10.0 * (steps - 1), 10, duration, pause);
    const double totalS = static_cast<double>(bench::NowNs() - wall0) / 1e9;
    TELVAR_Close(ombrel::kSlot);
    console::Restore();
    unlink(path);

    // The sweep: from the first amplitude call to the one that restores the amplitude.
    const double sweepS = static_cast<double>(record.sweepEndNs - record.sweepStartNs) / 1e9;
    const double sweepCpuS =
        static_cast<double>(record.sweepCpuEndNs - record.sweepCpuStartNs) / 1e9;
    const double callS = static_cast<double>(record.callWallNs - record.lastCallWallNs) / 1e9;
    const double callCpuS = static_cast<double>(record.callCpuNs - record.lastCallCpuNs) / 1e9;
    const double waitS = sweepS - callS;
    const double waitCpuS = sweepCpuS - callCpuS;

    std::fprintf(results, "protocol: %d steps of %.1f s%s, %.1f s in all\n", steps, duration,
                 pause ? ", Space polled" : "", totalS);
    const bench::Summary late = bench::Summarize(record.latenessNs);
    std::fprintf(results,
                 "sample lateness against the 500 ms grid: n=%zu  median %.0f us  p99 %.0f us  "
                 "worst %.0f us\n",
                 late.count, late.medianUs, late.p99Us, late.maxUs);
    std::fprintf(results,
                 "sweep: %.2f s, of it %.3f s in library calls (%.3f s CPU), %.2f s waiting\n",
                 sweepS, callS, callCpuS, waitS);
    std::fprintf(results, "CPU while waiting: %.1f ms per second of waiting (%.2f %% of a core)\n",
                 waitS > 0 ? 1000.0 * waitCpuS / waitS : 0.0,
                 waitS > 0 ? 100.0 * waitCpuS / waitS : 0.0);
    std::fprintf(results, "RESULT sampling_lateness_median_us=%.0f worst_us=%.0f\n", late.medianUs,
                 late.maxUs);
    std::fprintf(results, "RESULT waiting_cpu_ms_per_s=%.2f\n",
                 waitS > 0 ? 1000.0 * waitCpuS / waitS : 0.0);
    std::fclose(results);
    return late.count > 0 ? 0 : 1;
}

// Heap allocations per exported call of the shipped library after TELVAR_Open, over a
// network serial port: every malloc, calloc, realloc and operator new of the process is
// counted, the library's and its serial backend's alike. Failing calls with a trace
// file open are counted too; against a simulator with random faults (quenta-sim
// --fault-rate) the successful calls' failures, dumps and repairs are as well.
//
//   bench_allocations rfc2217://127.0.0.1:7003
#include <cstdio>
#include <cstdlib>
#include <new>

#include "counting_allocator.h"
#include "telvar.h"
#include "telvar_calls.h"

namespace {

constexpr unsigned short kSlot = 0;
constexpr unsigned short kClosedSlot = 1;  // never opened: every command fails
constexpr int kRepeats = 20;

struct Query {
    const char* name;
    int (*call)(unsigned short slot);
};

// The functions that only answer from the library's state; the device commands come
// from the table the fault soak walks.
const Query kQueries[] = {
    {"TELVAR_Version", [](unsigned short) { return TELVAR_Version() == 0x0114 ? 0 : -1; }},
    {"TELVAR_State", [](unsigned short s) { return TELVAR_State(s) * 0; }},
    {"TELVAR_ErrorMessage", [](unsigned short s) { return TELVAR_ErrorMessage(s) ? 0 : -1; }},
    {"TELVAR_IO_State", [](unsigned short s) { return TELVAR_IO_State(s) * 0; }},
    {"TELVAR_IO_ErrorMessage", [](unsigned short s) { return TELVAR_IO_ErrorMessage(s) ? 0 : -1; }},
};

// Every exported function but TELVAR_Open, TELVAR_Close and the trace file pair, which
// are counted on their own.
template <typename F>
void ForEachCall(F f) {
    for (const Query& q : kQueries) f(q.name, q.call);
    for (const telvar_calls::Call& c : telvar_calls::kCalls) f(c.name, c.call);
}

// Allocations made by `count` calls of f.
template <typename F>
long Count(int count, F f, int& failures) {
    counting_allocator::Start();
    for (int i = 0; i < count; ++i) failures += f() != 0;
    return counting_allocator::Stop();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    setenv("TELVAR_COM9", argv[1], 1);
    int failures = 0;
    const long open = Count(
        1, [] { return TELVAR_Open(kSlot, 9); }, failures);
    if (failures != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(kSlot));
        return 1;
    }
    std::printf("TELVAR_Open (connects, resolves nothing): %ld allocations\n", open);
    // Traced, so that the failures of a faulty device write their lines and dumps.
    TELVAR_OpenDebugFile(kSlot, "/dev/null");

    long total = 0;
    int calls = 0;
    std::printf("%-30s %12s %12s\n", "function (x20, success)", "allocations", "failures");
    ForEachCall([&](const char* name, int (*call)(unsigned short)) {
        int failed = 0;
        const long n = Count(
            kRepeats, [&] { return call(kSlot); }, failed);
        std::printf("%-30s %12ld %12d\n", name, n, failed);
        total += n;
        calls += kRepeats;
        failures += failed;
    });

    // The failure paths write trace lines, dumps and repairs. The trace file's stream
    // gets its buffer from stdio when it opens; that is the file's, not a call's.
    int ignored = 0;
    const long traceOpen = Count(
        1, [] { return TELVAR_OpenDebugFile(kClosedSlot, "/dev/null"); }, ignored);
    long failing = 0;
    ForEachCall([&](const char*, int (*call)(unsigned short)) {
        failing += Count(
            2, [&] { return call(kClosedSlot); }, ignored);
        calls += 2;
    });
    const long traceClose = Count(
        1, [] { return TELVAR_CloseDebugFile(kClosedSlot); }, ignored);
    const long close = Count(
        1, [] { return TELVAR_Close(kSlot); }, ignored);
    TELVAR_CloseDebugFile(kSlot);
    total += failing + close;

    std::printf("%-30s %12ld\n", "failing calls, trace file on", failing);
    std::printf("%-30s %12ld\n", "TELVAR_Close", close);
    std::printf(
        "TELVAR_OpenDebugFile: %ld (the stream and its buffer), TELVAR_CloseDebugFile: "
        "%ld\n",
        traceOpen, traceClose);
    std::printf("RESULT allocations_per_call=%.3f calls=%d allocations=%ld failures=%d\n",
                static_cast<double>(total) / calls, calls, total, failures);
    // Against a simulator with random faults the failures are the point.
    return total == 0 ? 0 : 1;
}

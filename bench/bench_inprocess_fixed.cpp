// The library alone: transactions against a backend that answers from fixed storage at
// once, so every microsecond measured is spent in the library (handshake polls, writes,
// reads, reply checks and conversions).
#include <cstdio>
#include <cstdlib>

#include "inprocess_run.h"

int main(int argc, char** argv) {
    const int uptimes = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int displays = argc > 2 ? std::atoi(argv[2]) : 20000;
    if (TELVAR_Open(0, 3) != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(0));
        return 1;
    }
    const int result = bench::RunInProcess("library", 0, uptimes, displays, [] {});
    TELVAR_Close(0);
    return result;
}

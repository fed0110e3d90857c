// Transactions in process against the simulated device on the fake serial backend (the
// tests' setup): the library plus the fake's bookkeeping and the device model.
#include <cstdio>
#include <cstdlib>

#include "fake_serial.h"
#include "inprocess_run.h"
#include "sim_peer.h"

int main(int argc, char** argv) {
    const int uptimes = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int displays = argc > 2 ? std::atoi(argv[2]) : 5000;
    fake_serial::Reset();
    SimPeer device;
    fake_serial::Attach(3, &device);
    if (TELVAR_Open(0, 3) != 0) {
        std::fprintf(stderr, "TELVAR_Open failed: %s\n", TELVAR_ErrorMessage(0));
        return 1;
    }
    // The fake logs every call; the log is emptied outside the timed calls.
    const int result =
        bench::RunInProcess("fake+sim", 0, uptimes, displays, [] { fake_serial::ClearCalls(); });
    TELVAR_Close(0);
    return result;
}

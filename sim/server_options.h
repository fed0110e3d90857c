// The command line of quenta-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"

namespace quenta_sim {

// One --fault: `fault` on the next `times` replies to `command` (0: any command).
struct CommandFault {
    char command = 0;
    ReplyFault fault = ReplyFault::None;
    int times = DeviceModel::kForever;
};

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 7003;  // 0: any free port
    std::uint64_t seed = 1;
    bool interlockClosed = true;
    bool pace = false;
    double faultRate = 0.0;
    std::vector<CommandFault> faults;  // in command-line order; a later one for a command wins
    CtsFault cts = CtsFault::None;
    bool verbose = false;
    bool help = false;
};

// Fills options from argv; false with a one-line reason in error.
bool ParseServerOptions(int argc, const char* const* argv, ServerOptions& options,
                        std::string& error);

extern const char kServerUsage[];

}  // namespace quenta_sim

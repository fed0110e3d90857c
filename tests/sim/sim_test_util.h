// Helpers shared by the simulated-device tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include "device_model.h"

namespace sim_test {

// Sends one command line (CR added) at nowUs and returns every reply byte due by then.
inline std::string Transact(quenta_sim::DeviceModel& model, const std::string& line,
                            std::uint64_t nowUs = 0) {
    model.HostWrite(line + "\r", nowUs);
    return model.ReadOutput(nowUs);
}

// The payload of a well-formed reply to `command`, or "<bad reply>" if it is not one.
inline std::string Payload(const std::string& reply, char command) {
    if (reply.size() < 2 || reply[0] != command || reply.back() != '\r') return "<bad reply>";
    return reply.substr(1, reply.size() - 2);
}

inline long Hex(const std::string& text, std::size_t pos, std::size_t digits) {
    return std::strtol(text.substr(pos, digits).c_str(), nullptr, 16);
}

inline bool IsUpperHex(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

}  // namespace sim_test

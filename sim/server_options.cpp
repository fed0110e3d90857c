#include "server_options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quenta_sim {

const char kServerUsage[] =
    "Usage: quenta-sim [--listen HOST:PORT] [--seed N] [--interlock open|closed] [--pace]\n"
    "                  [--fault-rate R] [--fault CMD:KIND[:TIMES]]...\n"
    "                  [--cts stuck-inactive|stuck-active] [--verbose]\n"
    "\n"
    "Serves one simulated QUENTA device as a network serial port (RFC 2217, Telnet\n"
    "COM Port Control), for example for TELVAR_COM3=rfc2217://127.0.0.1:7003.\n"
    "One client at a time; a second one is refused while the first is connected.\n"
    "\n"
    "  --listen HOST:PORT     address to listen on (default 127.0.0.1:7003); PORT 0 picks\n"
    "                         a free port; an IPv6 HOST goes in brackets: [::1]:7003.\n"
    "                         The bound address is logged as \"listening on HOST:PORT\".\n"
    "  --seed N               seed of the measurement noise and random faults (default 1);\n"
    "                         the same seed and the same traffic give the same replies\n"
    "  --interlock open|closed  state of the interlock input (default closed); with it\n"
    "                         open the RF output stays off\n"
    "  --pace                 send each reply byte no earlier than its time on a 230400\n"
    "                         baud 8E1 line (11 bits, about 47.7 us a byte)\n"
    "  --fault-rate R         give each reply a random fault (lost, wrong echo, short,\n"
    "                         no carriage return, corrupted byte) with probability R,\n"
    "                         0 to 1 (default 0)\n"
    "  --fault CMD:KIND[:TIMES]  give the next TIMES replies to command CMD (a command\n"
    "                         character such as A, or * for any command) the fault KIND:\n"
    "                         no-answer (carried out, reply lost), wrong-echo (echo in\n"
    "                         the other letter case), short (half the payload), no-cr\n"
    "                         (no carriage return), corrupt (one byte changed). Without\n"
    "                         TIMES every reply. Repeatable; a later one for the same CMD\n"
    "                         replaces the earlier. A command's own fault comes before\n"
    "                         one for *, both before --fault-rate. Counts run over the\n"
    "                         server's life, not per client\n"
    "  --cts stuck-inactive|stuck-active  hold CTS off (the device never ready) or on\n"
    "                         (it no longer follows the host's RTS)\n"
    "  --verbose              log negotiation, line changes and every command with its\n"
    "                         reply to stderr\n"
    "  --help                 show this text\n"
    "\n"
    "Connections are logged to stderr. SIGINT or SIGTERM stops the server.\n";

namespace {

bool ParseListen(const std::string& text, ServerOptions& options, std::string& error) {
    std::string host, port;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "--listen: expected [IPV6]:PORT, got '" + text + "'";
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            error = "--listen: expected HOST:PORT, got '" + text + "'";
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(port.c_str(), &end, 10);
    if (host.empty() || port.empty() || *end != '\0' || errno != 0 || value > 65535 ||
        port[0] == '-' || port[0] == '+') {
        error = "--listen: expected HOST:PORT with PORT 0 to 65535, got '" + text + "'";
        return false;
    }
    options.host = host;
    options.port = static_cast<std::uint16_t>(value);
    return true;
}

struct FaultKind {
    const char* name;
    ReplyFault fault;
};

const FaultKind kFaultKinds[] = {
    {"no-answer", ReplyFault::NoAnswer}, {"wrong-echo", ReplyFault::WrongEcho},
    {"short", ReplyFault::ShortPayload}, {"no-cr", ReplyFault::MissingCr},
    {"corrupt", ReplyFault::Corrupt},
};

// CMD:KIND[:TIMES]
bool ParseFault(const std::string& text, ServerOptions& options, std::string& error) {
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        const std::size_t colon = text.find(':', from);
        parts.push_back(text.substr(from, colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3 || parts[0].size() != 1) {
        error = "--fault: expected CMD:KIND[:TIMES], got '" + text + "'";
        return false;
    }
    CommandFault fault;
    const char command = parts[0][0];
    if (command != '*' && std::strchr(kCommandCharacters, command) == nullptr) {
        error = std::string("--fault: '") + command + "' is not a command character (one of " +
                kCommandCharacters + ", or * for any) in '" + text + "'";
        return false;
    }
    fault.command = command == '*' ? 0 : command;

    for (const FaultKind& kind : kFaultKinds)
        if (parts[1] == kind.name) fault.fault = kind.fault;
    if (fault.fault == ReplyFault::None) {
        error = "--fault: unknown fault '" + parts[1] +
                "' (no-answer, wrong-echo, short, no-cr or corrupt) in '" + text + "'";
        return false;
    }

    if (parts.size() == 3) {
        const std::string& times = parts[2];
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(times.c_str(), &end, 10);
        if (times.empty() || !std::isdigit(static_cast<unsigned char>(times[0])) || *end != '\0' ||
            errno != 0 || value < 1 || value > INT_MAX) {
            error =
                "--fault: TIMES must be a count from 1 up, got '" + times + "' in '" + text + "'";
            return false;
        }
        fault.times = static_cast<int>(value);
    }
    options.faults.push_back(fault);
    return true;
}

}  // namespace

bool ParseServerOptions(int argc, const char* const* argv, ServerOptions& options,
                        std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i] ? argv[i] : "";
        std::string value;
        bool hasValue = false;
        const std::size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        auto need = [&]() {
            if (hasValue) return true;
            if (i + 1 >= argc || !argv[i + 1]) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto flag = [&]() {
            if (!hasValue) return true;
            error = name + " takes no value";
            return false;
        };

        if (name == "--help" || name == "-h") {
            if (!flag()) return false;
            options.help = true;
        } else if (name == "--listen") {
            if (!need() || !ParseListen(value, options, error)) return false;
        } else if (name == "--seed") {
            if (!need()) return false;
            char* end = nullptr;
            errno = 0;
            const unsigned long long seed = std::strtoull(value.c_str(), &end, 0);
            if (value.empty() || *end != '\0' || errno != 0 || value[0] == '-') {
                error = "--seed: expected a non-negative integer, got '" + value + "'";
                return false;
            }
            options.seed = seed;
        } else if (name == "--interlock") {
            if (!need()) return false;
            if (value != "open" && value != "closed") {
                error = "--interlock: expected open or closed, got '" + value + "'";
                return false;
            }
            options.interlockClosed = value == "closed";
        } else if (name == "--pace") {
            if (!flag()) return false;
            options.pace = true;
        } else if (name == "--fault-rate") {
            if (!need()) return false;
            char* end = nullptr;
            const double rate = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !std::isfinite(rate) || rate < 0.0 || rate > 1.0) {
                error = "--fault-rate: expected a number from 0 to 1, got '" + value + "'";
                return false;
            }
            options.faultRate = rate;
        } else if (name == "--fault") {
            if (!need() || !ParseFault(value, options, error)) return false;
        } else if (name == "--cts") {
            if (!need()) return false;
            if (value == "stuck-inactive") {
                options.cts = CtsFault::StuckInactive;
            } else if (value == "stuck-active") {
                options.cts = CtsFault::StuckActive;
            } else {
                error = "--cts: expected stuck-inactive or stuck-active, got '" + value + "'";
                return false;
            }
        } else if (name == "--verbose" || name == "-v") {
            if (!flag()) return false;
            options.verbose = true;
        } else {
            error = "unknown argument '" + std::string(argv[i] ? argv[i] : "") + "'";
            return false;
        }
    }
    return true;
}

}  // namespace quenta_sim

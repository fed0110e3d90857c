// Network serial ports (RFC 2217, Telnet COM Port Control) for the POSIX backend.
// A port name "rfc2217://HOST:PORT" opens one; its handles answer the same
// operations as a tty's.
//
// HOST is an IPv4 address, an IPv6 address in brackets or a host name; anything after
// the port ("/path", "?options") is ignored. The handle is the socket descriptor, so it
// never collides with a tty's, and IsHandle knows it from a fixed table of open
// connections. Every wait is bounded: connecting (3 s), negotiating (3 s), and a write
// that makes no progress (5 s); a lost connection fails the call instead of hanging.
// Only clearing RTS or DTR still succeeds on a lost connection: the server has dropped
// the lines of a client that went away, and the port must stay closable.
#pragma once

#include <cstdint>

#include "serial_os.h"

namespace rfc2217 {

bool IsUrl(const char* name);
bool IsHandle(serial_os::Handle port);

serial_os::Handle Open(const char* url);
bool GetLineSettings(serial_os::Handle port, serial_os::LineSettings& settings);
bool SetLineSettings(serial_os::Handle port, const serial_os::LineSettings& settings);
bool SetTimeouts(serial_os::Handle port, const serial_os::Timeouts& timeouts);
bool Purge(serial_os::Handle port, std::uint32_t flags);
bool EscapeFunction(serial_os::Handle port, std::uint32_t function);
bool GetModemStatus(serial_os::Handle port, std::uint32_t& status);
bool Read(serial_os::Handle port, void* data, std::uint32_t length, std::uint32_t& read);
bool Write(serial_os::Handle port, const void* data, std::uint32_t length, std::uint32_t& written);
bool ClearErrors(serial_os::Handle port, std::uint32_t& errors);
bool WaitEvent(serial_os::Handle port, std::uint32_t& eventMask);
bool Close(serial_os::Handle port);

// What the server told us that the serial operations have no place for. Servers
// acknowledge a line setting with the value they actually use, and some never
// acknowledge at all, so no call waits for an acknowledgement; a value that differs
// from the one we set is counted here instead.
struct PeerReport {
    bool comPortAgreed = false;    // the server accepted COM port control
    bool modemStateKnown = false;  // at least one modem-state notification arrived
    std::uint8_t modemState = 0;   // the last one, as sent (line bits and delta bits)
    std::uint32_t modemNotifications = 0;
    std::uint32_t settingMismatches = 0;       // acknowledgements that differ from what we set
    std::uint32_t ackedBaudRate = 0;           // last acknowledged values, 0 = none yet;
    std::uint8_t ackedDataSize = 0;            // data size, parity and stop size in the
    std::uint8_t ackedParity = 0;              // protocol's own codes (parity 1 none,
    std::uint8_t ackedStopSize = 0;            // 2 odd, 3 even; stop size 1 one, 2 two)
    std::uint32_t droppedSubnegotiations = 0;  // oversize, cut short or malformed
    std::uint32_t droppedDataBytes = 0;        // arrived while the receive buffer was full
    std::uint32_t droppedReplies = 0;          // answers to the server we had no room for
};

// False for a handle that is not an open network port.
bool GetPeerReport(serial_os::Handle port, PeerReport& report);

}  // namespace rfc2217

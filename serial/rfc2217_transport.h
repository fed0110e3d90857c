// Network serial ports (RFC 2217, Telnet COM Port Control) for the POSIX backend.
// A port name "rfc2217://HOST:PORT" opens one; its handles answer the same
// operations as a tty's.
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
bool Write(serial_os::Handle port, const void* data, std::uint32_t length,
           std::uint32_t& written);
bool ClearErrors(serial_os::Handle port, std::uint32_t& errors);
bool WaitEvent(serial_os::Handle port, std::uint32_t& eventMask);
bool Close(serial_os::Handle port);

}  // namespace rfc2217

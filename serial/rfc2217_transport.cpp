// Placeholder until the network transport lands: no rfc2217:// port opens.
#include "rfc2217_transport.h"

#include <cstring>

namespace rfc2217 {

bool IsUrl(const char* name) { return name && std::strncmp(name, "rfc2217://", 10) == 0; }
bool IsHandle(serial_os::Handle) { return false; }
serial_os::Handle Open(const char*) { return serial_os::kInvalidHandle; }
bool GetLineSettings(serial_os::Handle, serial_os::LineSettings&) { return false; }
bool SetLineSettings(serial_os::Handle, const serial_os::LineSettings&) { return false; }
bool SetTimeouts(serial_os::Handle, const serial_os::Timeouts&) { return false; }
bool Purge(serial_os::Handle, std::uint32_t) { return false; }
bool EscapeFunction(serial_os::Handle, std::uint32_t) { return false; }
bool GetModemStatus(serial_os::Handle, std::uint32_t&) { return false; }
bool Read(serial_os::Handle, void*, std::uint32_t, std::uint32_t& read) { return read = 0, false; }
bool Write(serial_os::Handle, const void*, std::uint32_t, std::uint32_t& written) {
    return written = 0, false;
}
bool ClearErrors(serial_os::Handle, std::uint32_t& errors) { return errors = 0, false; }
bool WaitEvent(serial_os::Handle, std::uint32_t&) { return false; }
bool Close(serial_os::Handle) { return false; }

}  // namespace rfc2217

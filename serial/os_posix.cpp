// POSIX serial backend (placeholder until the tty driver lands): nothing opens.
#include <ctime>

#include "serial_os.h"

namespace serial_os {

Handle OpenPort(const char*) {
    return kInvalidHandle;
}
bool GetLineSettings(Handle, LineSettings&) {
    return false;
}
bool SetLineSettings(Handle, const LineSettings&) {
    return false;
}
bool SetTimeouts(Handle, const Timeouts&) {
    return false;
}
bool PurgePort(Handle, std::uint32_t) {
    return false;
}
bool EscapeFunction(Handle, std::uint32_t) {
    return false;
}
bool GetModemStatus(Handle, std::uint32_t&) {
    return false;
}
bool ReadPort(Handle, void*, std::uint32_t, std::uint32_t& read) {
    return read = 0, false;
}
bool WritePort(Handle, const void*, std::uint32_t, std::uint32_t& written) {
    return written = 0, false;
}
bool ClearErrors(Handle, std::uint32_t& errors) {
    return errors = 0, false;
}
bool WaitEvent(Handle, std::uint32_t&) {
    return false;
}
bool ClosePort(Handle) {
    return false;
}
void SleepMs(std::uint32_t milliseconds) {
    timespec t{static_cast<time_t>(milliseconds / 1000),
               static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}
void GetLocalTime(LocalTime& now) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    now = LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                    tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

}  // namespace serial_os

// The serial platform seam: one operation per Windows serial call that COMPort uses,
// in portable types. Exactly one backend is linked: Win32, POSIX (tty and rfc2217://),
// or the fake backend of the tests.
#pragma once

#include <cstdint>

namespace serial_os {

// An open port. All bits set means "no port", as INVALID_HANDLE_VALUE does on Windows.
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// CreateFileA access bits: GENERIC_READ | GENERIC_WRITE.
constexpr std::uint32_t kReadWriteAccess = 0xC0000000u;

// PurgeComm flags.
constexpr std::uint32_t kPurgeTxAbort = 0x0001;
constexpr std::uint32_t kPurgeRxAbort = 0x0002;
constexpr std::uint32_t kPurgeTxClear = 0x0004;
constexpr std::uint32_t kPurgeRxClear = 0x0008;

// EscapeCommFunction codes.
constexpr std::uint32_t kSetRts = 3;
constexpr std::uint32_t kClearRts = 4;
constexpr std::uint32_t kSetDtr = 5;
constexpr std::uint32_t kClearDtr = 6;

// GetCommModemStatus bits.
constexpr std::uint32_t kModemCts = 0x10;
constexpr std::uint32_t kModemDsr = 0x20;
constexpr std::uint32_t kModemRing = 0x40;
constexpr std::uint32_t kModemDcd = 0x80;

// ClearCommError flags (CE_ values).
constexpr std::uint32_t kErrRxOver = 0x0001;
constexpr std::uint32_t kErrOverrun = 0x0002;
constexpr std::uint32_t kErrRxParity = 0x0004;
constexpr std::uint32_t kErrFrame = 0x0008;
constexpr std::uint32_t kErrBreak = 0x0010;
constexpr std::uint32_t kErrTxFull = 0x0100;
constexpr std::uint32_t kErrIoe = 0x0400;
constexpr std::uint32_t kErrMode = 0x8000;

// WaitCommEvent mask bit for "transmit buffer empty".
constexpr std::uint32_t kEventTxEmpty = 0x0004;

// DCB values used by the line settings.
constexpr std::uint8_t kEvenParity = 2;
constexpr std::uint8_t kOneStopBit = 0;
constexpr std::uint8_t kDtrControlDisable = 0;
constexpr std::uint8_t kRtsControlDisable = 0;

// The line-settings record (DCB). GetLineSettings fills every field and keeps the
// platform's own record in `native`, so that SetLineSettings changes only the fields
// below and leaves everything else as the driver reported it.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    bool parityCheck = false;       // fParity
    bool outxCtsFlow = false;       // fOutxCtsFlow
    bool outxDsrFlow = false;       // fOutxDsrFlow
    std::uint8_t dtrControl = 0;    // fDtrControl
    bool dsrSensitivity = false;    // fDsrSensitivity
    bool txContinueOnXoff = false;  // fTXContinueOnXoff
    bool outX = false;              // fOutX
    bool inX = false;               // fInX
    bool errorChar = false;         // fErrorChar
    bool discardNull = false;       // fNull
    std::uint8_t rtsControl = 0;    // fRtsControl
    bool abortOnError = false;      // fAbortOnError
    char eventChar = 0;             // EvtChar
    alignas(8) unsigned char native[128] = {};
};

// COMMTIMEOUTS, in milliseconds. 0xFFFFFFFF as read interval with both read totals 0
// means "return at once with what the driver holds".
struct Timeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

struct LocalTime {
    int year = 0;     // four digits
    int month = 0;    // 1..12
    int day = 0;      // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0;  // 0 = Sunday
};

Handle OpenPort(const char* path);                                    // CreateFileA
bool GetLineSettings(Handle port, LineSettings& settings);            // GetCommState
bool SetLineSettings(Handle port, const LineSettings& settings);      // SetCommState
bool SetTimeouts(Handle port, const Timeouts& timeouts);              // SetCommTimeouts
bool PurgePort(Handle port, std::uint32_t flags);                     // PurgeComm
bool EscapeFunction(Handle port, std::uint32_t function);             // EscapeCommFunction
bool GetModemStatus(Handle port, std::uint32_t& status);              // GetCommModemStatus
bool ReadPort(Handle port, void* data, std::uint32_t length,          // ReadFile
              std::uint32_t& read);
bool WritePort(Handle port, const void* data, std::uint32_t length,   // WriteFile
               std::uint32_t& written);
bool ClearErrors(Handle port, std::uint32_t& errors);                 // ClearCommError
bool WaitEvent(Handle port, std::uint32_t& eventMask);                // WaitCommEvent
bool ClosePort(Handle port);                                          // CloseHandle
void SleepMs(std::uint32_t milliseconds);                             // Sleep
void GetLocalTime(LocalTime& now);

}  // namespace serial_os

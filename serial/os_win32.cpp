// Windows backend of the serial seam: each operation is the Win32 call of the same
// meaning, synchronous, on the handle CreateFileA gave.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: mmsystem.h needs its types.
#include <mmsystem.h>

#include <atomic>
#include <cstring>

#include "serial_os.h"

namespace serial_os {
namespace {

static_assert(sizeof(DCB) <= sizeof(LineSettings::native), "DCB must fit the native record");
static_assert(alignof(DCB) <= 8, "the native record is 8-byte aligned");

HANDLE ToNative(Handle port) {
    return reinterpret_cast<HANDLE>(port);
}

// The handshake waits poll in 1 ms sleeps; at the default 15.6 ms timer tick each of
// them would last a whole tick. Ask for 1 ms ticks while any port is open.
std::atomic<int> openPorts{0};

void PortOpened() {
    if (openPorts.fetch_add(1) == 0) timeBeginPeriod(1);
}

void PortClosed() {
    int count = openPorts.load();
    while (count > 0 && !openPorts.compare_exchange_weak(count, count - 1)) {
    }
    if (count == 1) timeEndPeriod(1);
}

}  // namespace

Handle OpenPort(const char* path) {
    HANDLE port = CreateFileA(path, kReadWriteAccess, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return kInvalidHandle;
    PortOpened();
    return reinterpret_cast<Handle>(port);
}

bool GetLineSettings(Handle port, LineSettings& settings) {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(ToNative(port), &dcb)) return false;
    std::memcpy(settings.native, &dcb, sizeof dcb);
    settings.baudRate = dcb.BaudRate;
    settings.byteSize = dcb.ByteSize;
    settings.parity = dcb.Parity;
    settings.stopBits = dcb.StopBits;
    settings.parityCheck = dcb.fParity != 0;
    settings.outxCtsFlow = dcb.fOutxCtsFlow != 0;
    settings.outxDsrFlow = dcb.fOutxDsrFlow != 0;
    settings.dtrControl = static_cast<std::uint8_t>(dcb.fDtrControl);
    settings.dsrSensitivity = dcb.fDsrSensitivity != 0;
    settings.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
    settings.outX = dcb.fOutX != 0;
    settings.inX = dcb.fInX != 0;
    settings.errorChar = dcb.fErrorChar != 0;
    settings.discardNull = dcb.fNull != 0;
    settings.rtsControl = static_cast<std::uint8_t>(dcb.fRtsControl);
    settings.abortOnError = dcb.fAbortOnError != 0;
    settings.eventChar = dcb.EvtChar;
    return true;
}

bool SetLineSettings(Handle port, const LineSettings& settings) {
    // Start from the record the driver reported: fields we do not set stay as read.
    DCB dcb;
    std::memcpy(&dcb, settings.native, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.fParity = settings.parityCheck;
    dcb.fOutxCtsFlow = settings.outxCtsFlow;
    dcb.fOutxDsrFlow = settings.outxDsrFlow;
    dcb.fDtrControl = settings.dtrControl & 0x3u;
    dcb.fDsrSensitivity = settings.dsrSensitivity;
    dcb.fTXContinueOnXoff = settings.txContinueOnXoff;
    dcb.fOutX = settings.outX;
    dcb.fInX = settings.inX;
    dcb.fErrorChar = settings.errorChar;
    dcb.fNull = settings.discardNull;
    dcb.fRtsControl = settings.rtsControl & 0x3u;
    dcb.fAbortOnError = settings.abortOnError;
    dcb.EvtChar = settings.eventChar;
    return SetCommState(ToNative(port), &dcb) != FALSE;
}

bool SetTimeouts(Handle port, const Timeouts& timeouts) {
    COMMTIMEOUTS native;
    native.ReadIntervalTimeout = timeouts.readInterval;
    native.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return SetCommTimeouts(ToNative(port), &native) != FALSE;
}

bool PurgePort(Handle port, std::uint32_t flags) {
    return PurgeComm(ToNative(port), flags) != FALSE;
}

bool EscapeFunction(Handle port, std::uint32_t function) {
    return EscapeCommFunction(ToNative(port), function) != FALSE;
}

bool GetModemStatus(Handle port, std::uint32_t& status) {
    DWORD word = 0;
    if (!GetCommModemStatus(ToNative(port), &word)) return false;
    status = word;
    return true;
}

bool ReadPort(Handle port, void* data, std::uint32_t length, std::uint32_t& read) {
    DWORD count = 0;
    const BOOL ok = ::ReadFile(ToNative(port), data, length, &count, nullptr);
    read = count;
    return ok != FALSE;
}

bool WritePort(Handle port, const void* data, std::uint32_t length, std::uint32_t& written) {
    DWORD count = 0;
    const BOOL ok = ::WriteFile(ToNative(port), data, length, &count, nullptr);
    written = count;
    return ok != FALSE;
}

bool ClearErrors(Handle port, std::uint32_t& errors) {
    DWORD flags = 0;
    const BOOL ok = ClearCommError(ToNative(port), &flags, nullptr);
    errors = flags;
    return ok != FALSE;
}

bool WaitEvent(Handle port, std::uint32_t& eventMask) {
    DWORD mask = 0;
    if (!WaitCommEvent(ToNative(port), &mask, nullptr)) return false;
    eventMask = mask;
    return true;
}

bool ClosePort(Handle port) {
    const BOOL ok = CloseHandle(ToNative(port));
    // The caller drops the handle whatever the outcome, so the port counts as closed.
    PortClosed();
    return ok != FALSE;
}

void SleepMs(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void GetLocalTime(LocalTime& now) {
    SYSTEMTIME time;
    ::GetLocalTime(&time);
    now.year = time.wYear;
    now.month = time.wMonth;
    now.day = time.wDay;
    now.hour = time.wHour;
    now.minute = time.wMinute;
    now.second = time.wSecond;
    now.weekday = time.wDayOfWeek;
}

}  // namespace serial_os

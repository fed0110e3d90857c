#include "comport.h"

#include <cstring>

// A trace line: time stamp, then the message, only while a trace file is set.
#define COMPORT_TRACE(...)                        \
    do {                                          \
        if (DebugFile) {                          \
            WriteDebugTime();                     \
            std::fprintf(DebugFile, __VA_ARGS__); \
        }                                         \
    } while (0)

namespace {

constexpr std::uint32_t kForever = 0xFFFFFFFFu;
constexpr std::uint32_t kPurgeAll = serial_os::kPurgeTxAbort | serial_os::kPurgeRxAbort |
                                    serial_os::kPurgeTxClear | serial_os::kPurgeRxClear;
constexpr std::uint32_t kReadRepeats = 100;
constexpr std::uint32_t kRepeatPauseMs = 5;

enum IOStates : std::int32_t {
    kNoError = 0,
    kNotOpen = 1,
    kCannotOpen = 2,
    kCannotGetState = 3,
    kCannotSetState = 4,
    kCannotSetTimeouts = 5,
    kCannotPurge = 6,
    kReadError = 7,
    kWriteError = 8,
    kWrongWriteCount = 9,
    kControlError = 10,
    kStatusError = 11,
    kDeviceBusy = 12,
};

const char* const kIOStateTexts[] = {
    "No error",
    "Port has not been opened yet",
    "Cannot open the port",
    "Cannot get the state of the port",
    "Cannot set the state of the port",
    "Cannot set the timeouts for the port",
    "Cannot clear the port",
    "Error reading data from the port",
    "Error writing data to the port",
    "Wrong data amount written to the port",
    "Error setting the control lines of the port",
    "Error reading the status lines of the port",
    "Device is busy",
};

// The device's line, applied over whatever the driver reports.
using LineSetting = void (*)(serial_os::LineSettings&);
const LineSetting kLineSettings[] = {
    [](serial_os::LineSettings& s) { s.baudRate = 230400; },
    [](serial_os::LineSettings& s) { s.byteSize = 8; },
    [](serial_os::LineSettings& s) { s.parity = serial_os::kEvenParity; },
    [](serial_os::LineSettings& s) { s.parityCheck = true; },
    [](serial_os::LineSettings& s) { s.stopBits = serial_os::kOneStopBit; },
    [](serial_os::LineSettings& s) { s.outxCtsFlow = false; },
    [](serial_os::LineSettings& s) { s.outxDsrFlow = false; },
    [](serial_os::LineSettings& s) { s.dtrControl = serial_os::kDtrControlDisable; },
    [](serial_os::LineSettings& s) { s.dsrSensitivity = false; },
    [](serial_os::LineSettings& s) { s.txContinueOnXoff = true; },
    [](serial_os::LineSettings& s) { s.outX = false; },
    [](serial_os::LineSettings& s) { s.inX = false; },
    [](serial_os::LineSettings& s) { s.errorChar = false; },
    [](serial_os::LineSettings& s) { s.discardNull = false; },
    [](serial_os::LineSettings& s) { s.rtsControl = serial_os::kRtsControlDisable; },
    [](serial_os::LineSettings& s) { s.abortOnError = false; },
    [](serial_os::LineSettings& s) { s.eventChar = '\r'; },
};

constexpr serial_os::Timeouts kNormalTimeouts = {10, 0, 10, 0, 0};
constexpr serial_os::Timeouts kImmediateTimeouts = {kForever, 0, 0, 0, 0};

struct LineError {
    std::uint32_t flag;
    const char* word;
};
const LineError kLineErrors[] = {
    {serial_os::kErrBreak, " break"},     {serial_os::kErrFrame, " framing"},
    {serial_os::kErrIoe, " I/O"},         {serial_os::kErrMode, " invalid"},
    {serial_os::kErrOverrun, " overrun"}, {serial_os::kErrRxOver, " overflow"},
    {serial_os::kErrRxParity, " parity"}, {serial_os::kErrTxFull, " full"},
};

// English names whatever the locale: the trace format is fixed.
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The line errors since the last look go into COMErrors and onto the trace.
void TakeLineErrors(COMPort& port) {
    std::uint32_t errors = 0;
    serial_os::ClearErrors(port.PortHandle, errors);
    port.COMErrors = errors;
    port.WriteCOMError();
}

bool HasCarriageReturn(const char* data, std::uint32_t count) {
    return std::memchr(data, '\r', count) != nullptr;
}

}  // namespace

COMPort::COMPort()
    : DebugFile(nullptr),
      PortHandle(serial_os::kInvalidHandle),
      IOState(kNotOpen),
      COMErrors(0),
      Buffer(),
      BufferCount(0) {}

COMPort::~COMPort() {
    Close();
}

bool COMPort::Open(unsigned char COMNumber) {
    if (PortHandle != serial_os::kInvalidHandle) {
        COMPORT_TRACE("COMPort::Open: The port is already open\n");
        IOState = kCannotOpen;
        return false;
    }
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%u", unsigned(COMNumber));
    PortHandle = serial_os::OpenPort(path);
    if (PortHandle == serial_os::kInvalidHandle) {
        COMPORT_TRACE("COMPort::Open: Cannot open the port %s\n", path);
        IOState = kCannotOpen;
        return false;
    }
    serial_os::LineSettings settings;
    if (!serial_os::GetLineSettings(PortHandle, settings)) {
        COMPORT_TRACE("COMPort::Open: Cannot get the port state\n");
        IOState = kCannotGetState;
        return false;
    }
    for (LineSetting apply : kLineSettings) apply(settings);
    if (!serial_os::SetLineSettings(PortHandle, settings)) {
        COMPORT_TRACE("COMPort::Open: Cannot set the port state\n");
        IOState = kCannotSetState;
        return false;
    }
    if (!SetCommTimeout()) {
        COMPORT_TRACE("COMPort::Open: Cannot set the port timing\n");
        IOState = kCannotSetTimeouts;
        return false;
    }
    if (!Purge()) {
        COMPORT_TRACE("COMPort::Open: Cannot purge the port\n");
        return false;
    }
    if (!Control(true, true)) {
        COMPORT_TRACE("COMPort::Open: Error setting the control lines of the port\n");
        return false;
    }
    return true;
}

bool COMPort::Close() {
    IOState = kNotOpen;
    if (PortHandle == serial_os::kInvalidHandle) {
        COMPORT_TRACE("COMPort::Close: Port handle is invalid\n");
        return false;
    }
    if (!Control(false, false)) return false;
    const bool closed = serial_os::ClosePort(PortHandle);
    PortHandle = serial_os::kInvalidHandle;
    if (!closed) COMPORT_TRACE("COMPort::Close: Cannot close the port\n");
    return closed;
}

bool COMPort::Purge() {
    const bool ok = serial_os::PurgePort(PortHandle, kPurgeAll);
    IOState = ok ? kNoError : kCannotPurge;
    BufferCount = 0;
    if (!ok) COMPORT_TRACE("COMPort::Purge: Cannot purge the port\n");
    return ok;
}

bool COMPort::SetCommTimeout() {
    const bool ok = serial_os::SetTimeouts(PortHandle, kNormalTimeouts);
    if (!ok) COMPORT_TRACE("COMPort::SetCommTimeout: Cannot set the port timing\n");
    return ok;
}

bool COMPort::ResetCommTimeout() {
    const bool ok = serial_os::SetTimeouts(PortHandle, kImmediateTimeouts);
    if (!ok) COMPORT_TRACE("COMPort::ResetCommTimeout: Cannot set the port timing\n");
    return ok;
}

bool COMPort::Status(bool& CTS, bool& DSR, bool& Ring, bool& DCD) {
    std::uint32_t status = 0;
    if (!serial_os::GetModemStatus(PortHandle, status)) {
        COMPORT_TRACE("COMPort::Status: Error reading the status lines of the port\n");
        IOState = kStatusError;
        return false;
    }
    CTS = (status & serial_os::kModemCts) != 0;
    DSR = (status & serial_os::kModemDsr) != 0;
    Ring = (status & serial_os::kModemRing) != 0;
    DCD = (status & serial_os::kModemDcd) != 0;
    IOState = kNoError;
    return true;
}

bool COMPort::Control(bool DTR, bool RTS) {
    const bool ok =
        serial_os::EscapeFunction(PortHandle, RTS ? serial_os::kSetRts : serial_os::kClearRts) &&
        serial_os::EscapeFunction(PortHandle, DTR ? serial_os::kSetDtr : serial_os::kClearDtr);
    if (!ok) {
        COMPORT_TRACE("COMPort::Control: Error setting the control lines of the port\n");
        IOState = kControlError;
        return false;
    }
    IOState = kNoError;
    return true;
}

bool COMPort::DeviceReady() {
    bool cts = false, dsr = false, ring = false, dcd = false;
    if (!Status(cts, dsr, ring, dcd)) {
        COMPORT_TRACE("COMPort::DeviceReady: Error reading the status lines of the port\n");
        return false;
    }
    if (cts) return true;
    COMPORT_TRACE("COMPort::DeviceReady: Device not ready (CTS inactive)\n");
    IOState = kDeviceBusy;
    return false;
}

bool COMPort::DataAvailable() {
    if (BufferCount > 0) return true;
    ResetCommTimeout();
    std::uint32_t read = 0;
    const bool ok = serial_os::ReadPort(PortHandle, Buffer, kBufferSize, read);
    BufferCount = read;
    TakeLineErrors(*this);
    if (!ok) COMPORT_TRACE("COMPort::DataAvailable: Cannot read the port\n");
    SetCommTimeout();
    return ok && BufferCount > 0 && DeviceReady();
}

bool COMPort::ReadFile(char* Data, std::uint32_t Length, std::uint32_t& Count, bool StopAtCR) {
    std::uint32_t read = 0;
    bool ok = Data != nullptr && serial_os::ReadPort(PortHandle, Data, Length, read);
    Count = read;
    TakeLineErrors(*this);
    if (!ok) {
        COMPORT_TRACE("COMPort::ReadFile: Could not read the port\n");
        IOState = kReadError;
        return false;
    }
    for (std::uint32_t k = 1; k <= kReadRepeats; ++k) {
        if (Count >= Length) return true;
        if (StopAtCR && HasCarriageReturn(Data, Count)) return true;
        COMPORT_TRACE(
            "COMPort::ReadFile: Could not read the data, repeating the operation #%u, data "
            "read so far: %lu, expected: %lu\n",
            unsigned(k), static_cast<unsigned long>(Count), static_cast<unsigned long>(Length));
        serial_os::SleepMs(kRepeatPauseMs);
        read = 0;
        ok = serial_os::ReadPort(PortHandle, Data + Count, Length - Count, read);
        TakeLineErrors(*this);
        if (!ok) {
            COMPORT_TRACE("COMPort::ReadFile: Could not read the port\n");
            // Only a read that has nothing at all is an error; keep what arrived.
            if (Count == 0) {
                IOState = kReadError;
                return false;
            }
        }
        Count += read;
    }
    return true;
}

bool COMPort::Read(char& Character, bool SkipReadyCheck) {
    if (BufferCount == 0) {
        if (!SkipReadyCheck && !DeviceReady()) {
            COMPORT_TRACE("COMPort::Read-char: Device not ready\n");
            return false;
        }
        if (!ReadFile(Buffer, 1, BufferCount, true)) {
            COMPORT_TRACE("COMPort::Read-char: Could not read the port\n");
            IOState = kReadError;
            return false;
        }
        if (BufferCount == 0) {
            COMPORT_TRACE("COMPort::Read-char: Could not read the character from the port\n");
            IOState = kReadError;
            return false;
        }
    }
    Character = Buffer[0];
    --BufferCount;
    std::memmove(Buffer, Buffer + 1, BufferCount);
    IOState = kNoError;
    return true;
}

bool COMPort::Read(char* Data, std::uint32_t& Length, bool SkipReadyCheck, bool StopAtCR) {
    std::uint32_t wanted = Length;
    Length = 0;
    if (!Data) {
        COMPORT_TRACE("COMPort::Read-array: Could not read the port\n");
        IOState = kReadError;
        return false;
    }
    if (BufferCount > 0 && BufferCount < wanted) {
        std::memcpy(Data, Buffer, BufferCount);
        Length = BufferCount;
        wanted -= BufferCount;
        BufferCount = 0;
        // The receive buffer bounds one read; the caller sees the shortfall in Length.
        const std::uint32_t request = wanted < kBufferSize ? wanted : kBufferSize;
        if ((SkipReadyCheck || DeviceReady()) &&
            !ReadFile(Buffer, request, BufferCount, StopAtCR)) {
            COMPORT_TRACE("COMPort::Read-array: Cannot read the port\n");
            BufferCount = 0;
        }
    } else if (BufferCount == 0 && wanted > 0) {
        if (!SkipReadyCheck && !DeviceReady()) {
            COMPORT_TRACE("COMPort::Read-array: Device not ready\n");
            BufferCount = 0;
            return false;
        }
        const std::uint32_t request = wanted < kBufferSize ? wanted : kBufferSize;
        if (!ReadFile(Buffer, request, BufferCount, StopAtCR)) {
            COMPORT_TRACE("COMPort::Read-array: Could not read the port\n");
            BufferCount = 0;
            IOState = kReadError;
            return false;
        }
    }
    const std::uint32_t n = wanted < BufferCount ? wanted : BufferCount;
    std::memcpy(Data + Length, Buffer, n);
    Data[Length + n] = '\0';
    BufferCount -= n;
    std::memmove(Buffer, Buffer + n, BufferCount);
    Length += n;
    IOState = kNoError;
    return true;
}

bool COMPort::Write(char Character) {
    std::uint32_t written = 0;
    const bool ok = serial_os::WritePort(PortHandle, &Character, 1, written);
    TakeLineErrors(*this);
    if (!ok) {
        COMPORT_TRACE("COMPort::Write-char: Cannot write the port\n");
        IOState = kWriteError;
        return false;
    }
    if (written != 1) {
        COMPORT_TRACE("COMPort::Write-char: %lu bytes instead of 1 written to the port\n",
                      static_cast<unsigned long>(written));
        IOState = kWrongWriteCount;
        return false;
    }
    IOState = kNoError;
    return true;
}

bool COMPort::Write(const char* const Data, unsigned int Length) {
    std::uint32_t written = 0;
    const bool ok =
        (Data != nullptr || Length == 0) && serial_os::WritePort(PortHandle, Data, Length, written);
    TakeLineErrors(*this);
    if (!ok) {
        COMPORT_TRACE("COMPort::Write-array: Cannot write the port\n");
        IOState = kWriteError;
        return false;
    }
    if (written != Length) {
        COMPORT_TRACE("COMPort::Write-array: %lu bytes instead of %u written to the port\n",
                      static_cast<unsigned long>(written), Length);
        IOState = kWrongWriteCount;
        return false;
    }
    IOState = kNoError;
    return true;
}

bool COMPort::WaitWriteBufferEmpty() {
    std::uint32_t mask = 0;
    if (!serial_os::WaitEvent(PortHandle, mask)) {
        COMPORT_TRACE("COMPort::WaitWriteBufferEmpty: Error waiting for port events\n");
        return false;
    }
    return mask == serial_os::kEventTxEmpty;
}

const char* COMPort::ErrorMessage() {
    const std::int32_t count = sizeof kIOStateTexts / sizeof kIOStateTexts[0];
    return IOState >= 0 && IOState < count ? kIOStateTexts[IOState] : "Unknown error";
}

void COMPort::WriteDebugTime() {
    if (!DebugFile) return;
    serial_os::LocalTime now;
    serial_os::GetLocalTime(now);
    const char* weekday = now.weekday >= 0 && now.weekday < 7 ? kWeekdays[now.weekday] : "???";
    const char* month = now.month >= 1 && now.month <= 12 ? kMonths[now.month - 1] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n", weekday, month, now.day,
                  now.hour, now.minute, now.second, now.year);
    std::fprintf(DebugFile, "\n%s", text);
}

void COMPort::WriteCOMError() {
    if (!DebugFile || COMErrors == 0) return;
    WriteDebugTime();
    std::fprintf(DebugFile, "CommError = %08lX:", static_cast<unsigned long>(COMErrors));
    for (const LineError& e : kLineErrors) {
        if (COMErrors & e.flag) std::fputs(e.word, DebugFile);
    }
    std::fputs("\n", DebugFile);
}

// One serial (COM) port with the device's fixed line settings, its modem lines,
// a receive buffer of its own and the last I/O state.
#pragma once

#include <cstdint>
#include <cstdio>

#include "serial_os.h"
#include "telvar_api.h"

class TELVAR_API COMPort {
public:
    COMPort();
    ~COMPort();
    COMPort(const COMPort&) = delete;
    COMPort& operator=(const COMPort&) = delete;

    bool Open(unsigned char COMNumber);
    bool Close();
    bool Purge();
    bool SetCommTimeout();
    bool ResetCommTimeout();
    bool Status(bool& CTS, bool& DSR, bool& Ring, bool& DCD);
    bool Control(bool DTR, bool RTS);
    bool DeviceReady();
    bool DataAvailable();
    bool ReadFile(char* Data, std::uint32_t Length, std::uint32_t& Count, bool StopAtCR);
    bool Read(char& Character, bool SkipReadyCheck);
    bool Read(char* Data, std::uint32_t& Length, bool SkipReadyCheck, bool StopAtCR);
    bool Write(char Character);
    bool Write(const char* const Data, unsigned int Length);
    bool WaitWriteBufferEmpty();
    const char* ErrorMessage();
    void WriteDebugTime();
    void WriteCOMError();

    static constexpr std::uint32_t kBufferSize = 8192;

    // The slot's trace file; set and cleared from outside the class.
    std::FILE* DebugFile;
    serial_os::Handle PortHandle;
    std::int32_t IOState;
    std::uint32_t COMErrors;
    char Buffer[kBufferSize];
    std::uint32_t BufferCount;
};

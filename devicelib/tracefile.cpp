// The per-slot trace file.
#include <cstdio>

#include "library.h"
#include "telvar.h"

using namespace telvar;

extern "C" {

int TELVAR_OpenDebugFile(unsigned short PortNumber, const char* FileName) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    // Refused before the current file is touched: a bad call loses nothing.
    if (FileName == nullptr) return kTraceOpenFailed;
    COMPort& port = g_slots[PortNumber].port;
    if (port.DebugFile != nullptr && TELVAR_CloseDebugFile(PortNumber) != kOk) {
        return kTraceCloseFailed;
    }
    std::FILE* file = std::fopen(FileName, "w+");
    if (file == nullptr) return kTraceOpenFailed;
    port.DebugFile = file;
    // The first write gives the stream its buffer, here rather than in a later call.
    std::fprintf(file, "Debugging output file for PortNumber=%hu\n", PortNumber);
    port.WriteDebugTime();
    std::fputs("File opened by TELVAR_OpenDebugFile\n", file);
    return kOk;
}

int TELVAR_CloseDebugFile(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    COMPort& port = g_slots[PortNumber].port;
    std::FILE* file = port.DebugFile;
    if (file == nullptr) return kOk;
    port.WriteDebugTime();
    std::fputs("File closed by TELVAR_CloseDebugFile\n", file);
    port.DebugFile = nullptr;
    return std::fclose(file) == 0 ? kOk : kTraceCloseFailed;
}

}  // extern "C"

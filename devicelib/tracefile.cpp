// The per-slot trace file.
#include <cstdio>

#include "library.h"
#include "telvar.h"

namespace telvar {
namespace {

// Stream buffers of our own, so that tracing never allocates one.
char g_traceBuffers[kSlotCount][BUFSIZ];

}  // namespace
}  // namespace telvar

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
    std::setvbuf(file, g_traceBuffers[PortNumber], _IOFBF, sizeof g_traceBuffers[PortNumber]);
    port.DebugFile = file;
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

// Port slots, status codes and texts, opening and closing, library lifecycle.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "library.h"
#include "library_reset.h"
#include "telvar.h"

namespace telvar {

// Constructed at load, before any exported call; destroyed at unload, which closes
// any port still open. Trace files are left to the host.
Slot g_slots[kSlotCount];

namespace {

struct StatusText {
    int code;
    const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {kOk, "No error"},
    {kOpenFailed, "Error opening the port"},
    {kCloseFailed, "Error closing the port"},
    {kPurgeFailed, "Error purging the port"},
    {kControlFailed, "Error setting the port control lines"},
    {kStatusFailed, "Error reading the port status lines"},
    {kSendCommandFailed, "Error sending command"},
    {kSendDataFailed, "Error sending data"},
    {kSendTerminatorFailed, "Error sending the termination character"},
    {kReceiveCommandFailed, "Error receiving command"},
    {kReceiveDataFailed, "Error receiving data"},
    {kReceiveTerminatorFailed, "Error receiving the termination character"},
    {kWrongCommand, "Wrong command received"},
    {kWrongReply, "Wrong argument received"},
    {kWrongArgument, "Wrong argument passed to the function"},
    {kNotConnected, "Device not connected"},
    {kNotReady, "Device not ready"},
    {kStillReady, "Device state could not be set to not ready"},
    {kPortOutOfRange, "PortNumber out of range"},
    {kTraceOpenFailed, "Error opening the file for debugging output"},
    {kTraceCloseFailed, "Error closing the file for debugging output"},
};

const char* StatusMessage(int code) {
    for (const StatusText& entry : kStatusTexts) {
        if (entry.code == code) return entry.text;
    }
    return "Unknown error";
}

}  // namespace

void Trace(unsigned short portNumber, const char* format, ...) {
    COMPort& port = g_slots[portNumber].port;
    if (port.DebugFile == nullptr) return;
    port.WriteDebugTime();
    std::fprintf(port.DebugFile, "PortNumber: %hu, ", portNumber);
    std::va_list args;
    va_start(args, format);
    std::vfprintf(port.DebugFile, format, args);
    va_end(args);
}

void TraceStamped(unsigned short portNumber, const char* format, ...) {
    COMPort& port = g_slots[portNumber].port;
    if (port.DebugFile == nullptr) return;
    port.WriteDebugTime();
    std::va_list args;
    va_start(args, format);
    std::vfprintf(port.DebugFile, format, args);
    va_end(args);
}

void TraceMore(unsigned short portNumber, const char* format, ...) {
    COMPort& port = g_slots[portNumber].port;
    if (port.DebugFile == nullptr) return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(port.DebugFile, format, args);
    va_end(args);
}

void ResetLibraryState() {
    for (Slot& slot : g_slots) {
        if (slot.port.DebugFile != nullptr) {
            std::fclose(slot.port.DebugFile);
            slot.port.DebugFile = nullptr;
        }
        slot.port.~COMPort();
        new (&slot.port) COMPort();
        slot.status = 0;
    }
    std::memset(g_argument, 0, sizeof g_argument);
    std::memset(g_reply, 0, sizeof g_reply);
    g_replyLength = 0;
}

}  // namespace telvar

using namespace telvar;

extern "C" {

unsigned short TELVAR_Version(void) {
    return 0x0114;
}

int TELVAR_Open(unsigned short PortNumber, unsigned char COMNumber) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    if (!g_slots[PortNumber].port.Open(COMNumber)) {
        Trace(PortNumber, "TELVAR_Open: Error opening the port as COM%d\n", COMNumber);
        return Store(PortNumber, kOpenFailed);
    }
    return RepairLoop(PortNumber);
}

int TELVAR_Close(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    return Store(PortNumber, g_slots[PortNumber].port.Close() ? kOk : kCloseFailed);
}

int TELVAR_State(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    return g_slots[PortNumber].status;
}

const char* TELVAR_ErrorMessage(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return StatusMessage(kPortOutOfRange);
    return StatusMessage(g_slots[PortNumber].status);
}

int TELVAR_IO_State(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return kPortOutOfRange;
    return g_slots[PortNumber].port.IOState;
}

const char* TELVAR_IO_ErrorMessage(unsigned short PortNumber) {
    if (!InRange(PortNumber)) return StatusMessage(kPortOutOfRange);
    return g_slots[PortNumber].port.ErrorMessage();
}

}  // extern "C"

// Internal pieces of the Telvar library shared by its source files: the slot table,
// the status codes, trace lines and the transaction building blocks. Not exported.
#pragma once

#include <cstdint>

#include "comport.h"

#if defined(__GNUC__)
#define TELVAR_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TELVAR_PRINTF(fmt, args)
#endif

namespace telvar {

// Status codes of the exported functions.
enum Status : int {
    kOk = 0,
    kOpenFailed = -2,
    kCloseFailed = -3,
    kPurgeFailed = -4,
    kControlFailed = -5,
    kStatusFailed = -6,
    kSendCommandFailed = -7,
    kSendDataFailed = -8,
    kSendTerminatorFailed = -9,
    kReceiveCommandFailed = -10,
    kReceiveDataFailed = -11,
    kReceiveTerminatorFailed = -12,
    kWrongCommand = -13,
    kWrongReply = -14,
    kWrongArgument = -15,
    kNotConnected = -100,
    kNotReady = -101,
    kStillReady = -102,
    kPortOutOfRange = -200,
    kTraceOpenFailed = -400,
    kTraceCloseFailed = -401,
};

constexpr unsigned short kSlotCount = 8;

struct Slot {
    COMPort port;
    int status = 0;
};

extern Slot g_slots[kSlotCount];

inline bool InRange(unsigned short portNumber) {
    return portNumber < kSlotCount;
}

// Keeps code as the slot's stored status and hands it back.
inline int Store(unsigned short portNumber, int code) {
    g_slots[portNumber].status = code;
    return code;
}

// Trace lines go to the slot's trace file only when one is open.
// Trace: time stamp, "PortNumber: %hu, " and the message.
void Trace(unsigned short portNumber, const char* format, ...) TELVAR_PRINTF(2, 3);
// TraceStamped: time stamp and the message, without the slot prefix.
void TraceStamped(unsigned short portNumber, const char* format, ...) TELVAR_PRINTF(2, 3);
// TraceMore: continues the current entry, no time stamp.
void TraceMore(unsigned short portNumber, const char* format, ...) TELVAR_PRINTF(2, 3);

// Shared by every slot: calls never overlap.
constexpr std::uint32_t kArgumentSize = 512;
constexpr std::uint32_t kReplySize = 8192;
extern char g_argument[kArgumentSize];
extern char g_reply[kReplySize + 1];
extern std::uint32_t g_replyLength;

// Transaction building blocks. Each failing step traces, stores and returns its code;
// none of them stores success.
int CheckIfc(unsigned short portNumber);
int WriteCommand(unsigned short portNumber, char command);          // plain form
int WriteCommandArgument(unsigned short portNumber, char command);  // text of g_argument
// The long argument form's formatting and check. It runs before the handshake, so an
// unfit value sends nothing; the text then goes out with WriteCommandArgument.
int FormatLongArgument(unsigned short portNumber, std::uint32_t value, int digits);
// payload <= 0 reads up to the carriage return.
int ReadCommand(unsigned short portNumber, char command, int payload);
int CheckYesNo(unsigned short portNumber, char command, int& flag);
int CheckInteger(unsigned short portNumber, char command, std::uint32_t& value);
void DumpReply(unsigned short portNumber);

int HostPurge(unsigned short portNumber);
// The device purge transaction, defined with the other commands.
int DevicePurge(unsigned short portNumber, int& purged);
int RepairLoop(unsigned short portNumber);

// The wrapper of every device command: the inner transaction once and, when it fails
// and a repair succeeds, once more. The second attempt's result is final.
template <typename Inner>
int RepairAndRetry(unsigned short portNumber, Inner inner) {
    if (!InRange(portNumber)) return kPortOutOfRange;
    if (inner(portNumber) == kOk) return g_slots[portNumber].status;
    if (RepairLoop(portNumber) != kOk) return g_slots[portNumber].status;
    return inner(portNumber);
}

}  // namespace telvar

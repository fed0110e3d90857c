// Fake serial backend for tests: implements serial_os on virtual time, with a device
// (Peer) on the far end of each fake port and per-operation fault injection.
// Linked into test executables instead of the real backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial_os.h"

namespace fake_serial {

enum class Op {
    OpenPort,
    GetLineSettings,
    SetLineSettings,
    SetTimeouts,
    PurgePort,
    EscapeFunction,
    GetModemStatus,
    ReadPort,
    WritePort,
    ClearErrors,
    WaitEvent,
    ClosePort,
    kCount
};

// The device behind a fake port. The fake calls it as the host acts and as virtual
// time passes; the device answers by queueing bytes with DeviceSend.
class Peer {
public:
    virtual ~Peer() = default;
    // Bytes the host wrote.
    virtual void OnHostBytes(unsigned com, const char* data, std::size_t n) = 0;
    // The host changed DTR or RTS.
    virtual void OnHostLines(unsigned com, bool dtr, bool rts) { (void)com, (void)dtr, (void)rts; }
    // Modem status word: CTS 0x10, DSR 0x20, RING 0x40, DCD 0x80.
    virtual std::uint32_t ModemStatus(unsigned com) = 0;
    // Virtual time moved on to nowMs.
    virtual void OnTime(unsigned com, std::uint64_t nowMs) { (void)com, (void)nowMs; }
};

// Back to the start: no ports, no faults, virtual time 0, default local time.
void Reset();

// Make \\.\COM<com> exist, with peer (may be null: a port with nothing attached,
// modem status 0) behind it. The peer must outlive its use.
void Attach(unsigned com, Peer* peer);

// Queue bytes from the device to the host's receive queue of \\.\COM<com>.
void DeviceSend(unsigned com, const char* data, std::size_t n);
void DeviceSend(unsigned com, const std::string& data);

// Virtual clock in milliseconds; SleepMs and waiting reads advance it.
std::uint64_t NowMs();
void AdvanceMs(std::uint64_t ms);

// Fault injection. FailNext makes the next `times` calls of op fail (on any port);
// FailAlways makes every call fail until cleared.
void FailNext(Op op, int times = 1);
void FailAlways(Op op, bool on = true);
// Lets the next `skip` calls of op through, then fails `times` calls: a failure in
// the middle of a sequence (the DTR step of a line change, the second read of a loop).
void FailLater(Op op, int skip, int times = 1);
// The next WritePort accepts only `accepted` bytes.
void ShortWrite(std::uint32_t accepted);
// The next ClearErrors reports these CE_ flags.
void RaiseLineErrors(std::uint32_t flags);
// WaitEvent reports this mask.
void SetEventMask(std::uint32_t mask);
// Time stamp that GetLocalTime reports.
void SetLocalTime(const serial_os::LocalTime& now);

// What happened, for assertions.
struct PortView {
    bool open = false;
    bool dtr = false;
    bool rts = false;
    serial_os::LineSettings settings;    // as last applied
    serial_os::Timeouts timeouts;        // as last applied
    std::string hostWritten;             // every byte the host wrote
    std::size_t pendingToHost = 0;       // bytes queued for the host
    int purges = 0;
};
PortView View(unsigned com);
// Every seam call in order, as text such as "EscapeFunction 4" or "ReadPort 1 -> 1".
// Shapes: "OpenPort <path>", "GetLineSettings", "SetLineSettings", "SetTimeouts normal"
// (or "immediate", or the five numbers "i/m/c/wm/wc"), "PurgePort 0xF", "EscapeFunction 3",
// "GetModemStatus -> 0xB0", "ReadPort <asked> -> <got>", "WritePort <asked> -> <taken>",
// "ClearErrors -> 0x18", "WaitEvent -> 0x4", "ClosePort", "SleepMs 5"; a failing call ends
// in " failed" (without its results). GetLocalTime is not logged: only traces use it.
const std::vector<std::string>& Calls();
void ClearCalls();

}  // namespace fake_serial

// The fake serial backend: serial_os on virtual time, with a Peer device behind each
// attached \\.\COM<n>. Single-threaded, like the library it serves.
#include "fake_serial.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

namespace fake_serial {
namespace {

constexpr std::uint32_t kForever = 0xFFFFFFFFu;
// A read with no time-outs at all blocks on Windows until its bytes come; here it
// gives up after this much virtual time so that a broken test cannot hang.
constexpr std::uint64_t kBlockingReadCapMs = 60000;
// Handles are the COM number plus this, so that no handle is 0 or -1.
constexpr serial_os::Handle kHandleBase = 0x1000;

const char* const kOpNames[] = {"OpenPort",  "GetLineSettings", "SetLineSettings", "SetTimeouts",
                                "PurgePort", "EscapeFunction",  "GetModemStatus",  "ReadPort",
                                "WritePort", "ClearErrors",     "WaitEvent",       "ClosePort"};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == static_cast<std::size_t>(Op::kCount),
              "one name per operation");

struct Port {
    Peer* peer = nullptr;
    bool open = false;
    bool dtr = false;
    bool rts = false;
    serial_os::LineSettings settings;
    serial_os::Timeouts timeouts;
    std::string hostWritten;
    std::deque<char> toHost;
    int purges = 0;
};

// What a freshly installed driver reports: 9600 8N1, lines enabled while open.
serial_os::LineSettings DriverDefaults() {
    serial_os::LineSettings s;
    s.baudRate = 9600;
    s.byteSize = 8;
    s.dtrControl = 1;
    s.rtsControl = 1;
    s.txContinueOnXoff = true;
    // A recognisable pattern, so tests can see that the native record survives.
    std::memset(s.native, 0xA5, sizeof s.native);
    return s;
}

serial_os::LocalTime DefaultLocalTime() {
    serial_os::LocalTime t;
    t.year = 2021;
    t.month = 1;
    t.day = 2;
    t.hour = 3;
    t.minute = 4;
    t.second = 5;
    t.weekday = 6;
    return t;
}

struct State {
    std::map<unsigned, Port> ports;
    std::uint64_t nowMs = 0;
    int failSkip[static_cast<int>(Op::kCount)] = {};
    int failNext[static_cast<int>(Op::kCount)] = {};
    bool failAlways[static_cast<int>(Op::kCount)] = {};
    bool shortWrite = false;
    std::uint32_t shortWriteAccepted = 0;
    std::uint32_t lineErrors = 0;
    std::uint32_t eventMask = serial_os::kEventTxEmpty;
    serial_os::LocalTime localTime = DefaultLocalTime();
    std::vector<std::string> calls;
};

State& S() {
    static State state;
    return state;
}

// Consumes one injected fault of op, if any.
bool Injected(Op op) {
    State& s = S();
    const int i = static_cast<int>(op);
    if (s.failAlways[i]) return true;
    if (s.failSkip[i] > 0) {
        --s.failSkip[i];
        return false;
    }
    if (s.failNext[i] > 0) {
        --s.failNext[i];
        return true;
    }
    return false;
}

void Log(Op op, const char* detail, bool ok) {
    std::string line = kOpNames[static_cast<int>(op)];
    if (detail && *detail) line.append(" ").append(detail);
    if (!ok) line.append(" failed");
    S().calls.push_back(line);
}

// The open port behind a handle, or null.
Port* Lookup(serial_os::Handle handle) {
    if (handle < kHandleBase) return nullptr;
    auto it = S().ports.find(static_cast<unsigned>(handle - kHandleBase));
    return it != S().ports.end() && it->second.open ? &it->second : nullptr;
}

// Common entry of every port operation: injected fault, then a valid handle.
Port* Enter(Op op, serial_os::Handle handle) {
    if (Injected(op)) return nullptr;
    return Lookup(handle);
}

// Virtual time passes in 1 ms steps; every device sees each step.
void Tick(std::uint64_t ms) {
    State& s = S();
    for (std::uint64_t i = 0; i < ms; ++i) {
        ++s.nowMs;
        for (auto& entry : s.ports) {
            if (entry.second.peer) entry.second.peer->OnTime(entry.first, s.nowMs);
        }
    }
}

// "\\.\COM<n>" with n in plain decimal; false for anything else.
bool ParsePortPath(const char* path, unsigned& com) {
    static const char kPrefix[] = "\\\\.\\COM";
    if (!path || std::strncmp(path, kPrefix, sizeof kPrefix - 1) != 0) return false;
    const char* digits = path + sizeof kPrefix - 1;
    if (*digits < '0' || *digits > '9' || (digits[0] == '0' && digits[1] != '\0')) return false;
    char* end = nullptr;
    const unsigned long n = std::strtoul(digits, &end, 10);
    if (*end != '\0' || n > 0xFFFFu) return false;
    com = static_cast<unsigned>(n);
    return true;
}

bool IsImmediate(const serial_os::Timeouts& t) {
    return t.readInterval == kForever && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
}

}  // namespace

void Reset() {
    S() = State();
}

void Attach(unsigned com, Peer* peer) {
    auto inserted = S().ports.emplace(com, Port());
    if (inserted.second) inserted.first->second.settings = DriverDefaults();
    // Attaching again swaps the device and keeps the port as it is.
    inserted.first->second.peer = peer;
}

void DeviceSend(unsigned com, const char* data, std::size_t n) {
    auto it = S().ports.find(com);
    // Nobody listens on a closed port: the bytes are lost, as on a real line.
    if (it == S().ports.end() || !it->second.open || !data) return;
    it->second.toHost.insert(it->second.toHost.end(), data, data + n);
}

void DeviceSend(unsigned com, const std::string& data) {
    DeviceSend(com, data.data(), data.size());
}

std::uint64_t NowMs() {
    return S().nowMs;
}
void AdvanceMs(std::uint64_t ms) {
    Tick(ms);
}

void FailNext(Op op, int times) {
    FailLater(op, 0, times);
}
void FailLater(Op op, int skip, int times) {
    if (op >= Op::kCount) return;
    S().failSkip[static_cast<int>(op)] = skip;
    S().failNext[static_cast<int>(op)] = times;
}
void FailAlways(Op op, bool on) {
    if (op < Op::kCount) S().failAlways[static_cast<int>(op)] = on;
}
void ShortWrite(std::uint32_t accepted) {
    S().shortWrite = true;
    S().shortWriteAccepted = accepted;
}
void RaiseLineErrors(std::uint32_t flags) {
    S().lineErrors |= flags;
}
void SetEventMask(std::uint32_t mask) {
    S().eventMask = mask;
}
void SetLocalTime(const serial_os::LocalTime& now) {
    S().localTime = now;
}

PortView View(unsigned com) {
    PortView view;
    auto it = S().ports.find(com);
    if (it == S().ports.end()) return view;
    const Port& p = it->second;
    view.open = p.open;
    view.dtr = p.dtr;
    view.rts = p.rts;
    view.settings = p.settings;
    view.timeouts = p.timeouts;
    view.hostWritten = p.hostWritten;
    view.pendingToHost = p.toHost.size();
    view.purges = p.purges;
    return view;
}

const std::vector<std::string>& Calls() {
    return S().calls;
}
void ClearCalls() {
    S().calls.clear();
}

}  // namespace fake_serial

namespace serial_os {

using fake_serial::Enter;
using fake_serial::Log;
using fake_serial::Op;
using fake_serial::Port;

Handle OpenPort(const char* path) {
    unsigned com = 0;
    const bool injected = fake_serial::Injected(Op::OpenPort);
    auto& ports = fake_serial::S().ports;
    auto it = fake_serial::ParsePortPath(path, com) ? ports.find(com) : ports.end();
    // Exclusive use: an open port cannot be opened again.
    const bool ok = !injected && it != ports.end() && !it->second.open;
    Log(Op::OpenPort, path ? path : "(null)", ok);
    if (!ok) return kInvalidHandle;
    Port& p = it->second;
    p.open = true;
    p.toHost.clear();
    return fake_serial::kHandleBase + static_cast<Handle>(com);
}

bool GetLineSettings(Handle port, LineSettings& settings) {
    Port* p = Enter(Op::GetLineSettings, port);
    Log(Op::GetLineSettings, "", p != nullptr);
    if (!p) return false;
    settings = p->settings;
    return true;
}

bool SetLineSettings(Handle port, const LineSettings& settings) {
    Port* p = Enter(Op::SetLineSettings, port);
    // A driver refuses what it cannot do.
    const bool ok = p && settings.baudRate != 0 && settings.byteSize >= 5 && settings.byteSize <= 8;
    Log(Op::SetLineSettings, "", ok);
    if (!ok) return false;
    p->settings = settings;
    return true;
}

bool SetTimeouts(Handle port, const Timeouts& timeouts) {
    Port* p = Enter(Op::SetTimeouts, port);
    char detail[80];
    if (fake_serial::IsImmediate(timeouts)) {
        std::snprintf(detail, sizeof detail, "immediate");
    } else if (timeouts.readInterval == 10 && timeouts.readTotalMultiplier == 0 &&
               timeouts.readTotalConstant == 10 && timeouts.writeTotalMultiplier == 0 &&
               timeouts.writeTotalConstant == 0) {
        std::snprintf(detail, sizeof detail, "normal");
    } else {
        std::snprintf(detail, sizeof detail, "%u/%u/%u/%u/%u", unsigned(timeouts.readInterval),
                      unsigned(timeouts.readTotalMultiplier), unsigned(timeouts.readTotalConstant),
                      unsigned(timeouts.writeTotalMultiplier),
                      unsigned(timeouts.writeTotalConstant));
    }
    Log(Op::SetTimeouts, detail, p != nullptr);
    if (!p) return false;
    p->timeouts = timeouts;
    return true;
}

bool PurgePort(Handle port, std::uint32_t flags) {
    Port* p = Enter(Op::PurgePort, port);
    char detail[16];
    std::snprintf(detail, sizeof detail, "0x%X", unsigned(flags));
    Log(Op::PurgePort, detail, p != nullptr);
    if (!p) return false;
    if (flags & kPurgeRxClear) p->toHost.clear();
    ++p->purges;
    return true;
}

bool EscapeFunction(Handle port, std::uint32_t function) {
    Port* p = Enter(Op::EscapeFunction, port);
    const bool known = function >= kSetRts && function <= kClearDtr;
    char detail[16];
    std::snprintf(detail, sizeof detail, "%u", unsigned(function));
    Log(Op::EscapeFunction, detail, p && known);
    if (!p || !known) return false;
    if (function == kSetRts || function == kClearRts) p->rts = function == kSetRts;
    if (function == kSetDtr || function == kClearDtr) p->dtr = function == kSetDtr;
    const unsigned com = static_cast<unsigned>(port - fake_serial::kHandleBase);
    if (p->peer) p->peer->OnHostLines(com, p->dtr, p->rts);
    return true;
}

bool GetModemStatus(Handle port, std::uint32_t& status) {
    Port* p = Enter(Op::GetModemStatus, port);
    const unsigned com = static_cast<unsigned>(port - fake_serial::kHandleBase);
    const std::uint32_t word = p && p->peer ? p->peer->ModemStatus(com) : 0;
    char detail[24];
    std::snprintf(detail, sizeof detail, "-> 0x%X", unsigned(word));
    Log(Op::GetModemStatus, p ? detail : "", p != nullptr);
    if (!p) return false;
    status = word;
    return true;
}

bool ReadPort(Handle port, void* data, std::uint32_t length, std::uint32_t& read) {
    read = 0;
    Port* p = Enter(Op::ReadPort, port);
    if (p && !data && length > 0) p = nullptr;
    if (p && !fake_serial::IsImmediate(p->timeouts) && p->toHost.size() < length) {
        const Timeouts& t = p->timeouts;
        const std::uint64_t total =
            std::uint64_t(t.readTotalConstant) + std::uint64_t(t.readTotalMultiplier) * length;
        const std::uint64_t limit = total ? total : fake_serial::kBlockingReadCapMs;
        std::uint64_t waited = 0;
        std::uint64_t lastArrival = 0;
        std::size_t seen = p->toHost.size();
        while (p->toHost.size() < length && waited < limit) {
            // More than the interval between two bytes ends the read too.
            if (t.readInterval && !p->toHost.empty() && waited - lastArrival > t.readInterval) {
                break;
            }
            fake_serial::Tick(1);
            ++waited;
            if (p->toHost.size() != seen) {
                seen = p->toHost.size();
                lastArrival = waited;
            }
        }
    }
    if (p) {
        const std::size_t n = std::min<std::size_t>(length, p->toHost.size());
        std::copy(p->toHost.begin(), p->toHost.begin() + n, static_cast<char*>(data));
        p->toHost.erase(p->toHost.begin(), p->toHost.begin() + n);
        read = static_cast<std::uint32_t>(n);
    }
    char detail[40];
    std::snprintf(detail, sizeof detail, p ? "%u -> %u" : "%u", unsigned(length), unsigned(read));
    Log(Op::ReadPort, detail, p != nullptr);
    return p != nullptr;
}

bool WritePort(Handle port, const void* data, std::uint32_t length, std::uint32_t& written) {
    written = 0;
    Port* p = Enter(Op::WritePort, port);
    if (p && !data && length > 0) p = nullptr;
    fake_serial::State& s = fake_serial::S();
    if (p) {
        written = length;
        if (s.shortWrite) {
            written = std::min(length, s.shortWriteAccepted);
            s.shortWrite = false;
        }
    }
    char detail[40];
    std::snprintf(detail, sizeof detail, p ? "%u -> %u" : "%u", unsigned(length),
                  unsigned(written));
    Log(Op::WritePort, detail, p != nullptr);
    if (!p) return false;
    const char* bytes = static_cast<const char*>(data);
    p->hostWritten.append(bytes, written);
    const unsigned com = static_cast<unsigned>(port - fake_serial::kHandleBase);
    if (p->peer && written > 0) p->peer->OnHostBytes(com, bytes, written);
    return true;
}

bool ClearErrors(Handle port, std::uint32_t& errors) {
    Port* p = Enter(Op::ClearErrors, port);
    fake_serial::State& s = fake_serial::S();
    errors = p ? s.lineErrors : 0;
    if (p) s.lineErrors = 0;
    char detail[24];
    std::snprintf(detail, sizeof detail, "-> 0x%X", unsigned(errors));
    Log(Op::ClearErrors, p ? detail : "", p != nullptr);
    return p != nullptr;
}

bool WaitEvent(Handle port, std::uint32_t& eventMask) {
    Port* p = Enter(Op::WaitEvent, port);
    char detail[24];
    std::snprintf(detail, sizeof detail, "-> 0x%X", unsigned(fake_serial::S().eventMask));
    Log(Op::WaitEvent, p ? detail : "", p != nullptr);
    if (!p) return false;
    eventMask = fake_serial::S().eventMask;
    return true;
}

bool ClosePort(Handle port) {
    Port* p = Enter(Op::ClosePort, port);
    Log(Op::ClosePort, "", p != nullptr);
    if (!p) return false;
    p->open = false;
    p->toHost.clear();
    return true;
}

void SleepMs(std::uint32_t milliseconds) {
    char line[32];
    std::snprintf(line, sizeof line, "SleepMs %u", unsigned(milliseconds));
    fake_serial::S().calls.push_back(line);
    fake_serial::Tick(milliseconds);
}

void GetLocalTime(LocalTime& now) {
    now = fake_serial::S().localTime;
}

}  // namespace serial_os

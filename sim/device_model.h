// A simulated QUENTA device behind its serial line: bytes from the host in, reply bytes
// out, modem lines both ways. It has no clock of its own; every call carries the
// caller's time in microseconds (which must not go backwards), so tests can run it on
// virtual time and the server on the real clock.
//
// Replies are the echoed command character, the payload and a carriage return.
// Input the device cannot use gets no reply at all, the way a device that drops a
// line it cannot parse behaves: an unknown command character, a missing, malformed or
// surplus argument, or a line longer than kMaxLine before its carriage return (the
// whole line up to the next carriage return is dropped). Line feeds and NUL bytes are
// ignored, so terminals that send CR LF or CR NUL work too. Hexadecimal arguments are
// accepted in either case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "front_panel.h"
#include "physics.h"
#include "rng.h"

namespace quenta_sim {

// Modem status bits as the host reads them.
constexpr std::uint32_t kCts = 0x10;
constexpr std::uint32_t kDsr = 0x20;
constexpr std::uint32_t kRing = 0x40;
constexpr std::uint32_t kDcd = 0x80;

// The device's line: 230400 baud, 8 data bits, even parity, 1 stop bit, so 11 bits a byte.
constexpr std::uint32_t kLineBaud = 230400;
constexpr unsigned kLineBitsPerByte = 11;

// The time one byte takes on a line, in nanoseconds (about 47743 at 230400 baud, 11 bits).
constexpr std::uint64_t ByteTimeNs(std::uint32_t baud = kLineBaud,
                                   unsigned bits = kLineBitsPerByte) {
    return baud ? (bits * 1000000000ull + baud / 2) / baud : 0;
}

// Every command character the device answers (case matters).
constexpr char kCommandCharacters[] = "ABDEGHIKLNPSUVWZlz";

enum class ReplyFault : std::uint8_t {
    None,
    NoAnswer,      // the command is carried out, the reply is lost
    WrongEcho,     // the echo has its letter case flipped ('?' for a non-letter)
    ShortPayload,  // only the first half of the payload is sent
    MissingCr,     // no carriage return at the end
    Corrupt,       // one byte of the reply is changed
};
constexpr int kReplyFaultKinds = 5;  // the faults above except None
const char* ReplyFaultName(ReplyFault fault);

enum class CtsFault : std::uint8_t { None, StuckInactive, StuckActive };

struct DeviceConfig {
    std::uint64_t seed = 1;
    bool interlockClosed = true;
    int minAmplitudeTenths = 0;     // 0.0 V
    int maxAmplitudeTenths = 4000;  // 400.0 V
    std::uint32_t maxSupplyMv = 100000;
    std::uint16_t firmwareVersion = 0x0114;
    std::string firmwareDate = "Apr 20 2015";  // always sent as 11 characters
    std::string productId = "QUENTA HV RF generator, simulated";
    std::uint32_t productNumber = 0x00051A2C;
};

class DeviceModel {
  public:
    static constexpr std::size_t kMaxLine = 32;           // command line, CR excluded
    static constexpr std::size_t kOutputCapacity = 8192;  // unsent reply bytes
    static constexpr int kForever = -1;

    explicit DeviceModel(const DeviceConfig& config = DeviceConfig());

    // --- The host side of the line.
    void HostWrite(const char* data, std::size_t n, std::uint64_t nowUs);
    void HostWrite(std::string_view data, std::uint64_t nowUs) {
        HostWrite(data.data(), data.size(), nowUs);
    }
    // DTR and RTS as the host drives them; both on until first set, so a host that
    // never drives them sees a ready device. Dropping RTS asks the device to become not
    // ready: it drops CTS, and since the host is resynchronising it forgets a half
    // received line and any reply bytes not yet sent. CTS returns with RTS.
    void SetHostLines(bool dtr, bool rts, std::uint64_t nowUs);
    bool HostDtr() const { return dtr_; }
    bool HostRts() const { return rts_; }
    // CTS, DSR, RING, DCD bits.
    std::uint32_t ModemStatus() const;

    // Reply bytes whose time has come (all queued bytes without pacing); returns the count.
    std::size_t ReadOutput(char* out, std::size_t max, std::uint64_t nowUs);
    std::string ReadOutput(std::uint64_t nowUs);
    std::size_t OutputPending() const { return outCount_; }
    // When the next queued byte is due, in microseconds rounded up; UINT64_MAX if none.
    std::uint64_t NextOutputUs() const;
    // Purges: queued reply bytes, and a half received command line.
    void DiscardOutput(std::uint64_t nowUs);
    void DiscardInput() { ResetLine(); }

    // With pacing on, each reply byte becomes due only after its time on the line, one
    // after the other, starting when the reply is made.
    void SetPacing(bool on, std::uint32_t baud = kLineBaud,
                   unsigned bitsPerByte = kLineBitsPerByte);
    bool Pacing() const { return pacing_; }

    void Advance(std::uint64_t nowUs);

    // --- The world outside the protocol.
    void SetInterlockClosed(bool closed);
    bool InterlockClosed() const { return interlockClosed_; }
    // Unplugged: DSR, DCD and CTS drop, and the device hears and sends nothing.
    void SetConnected(bool connected, std::uint64_t nowUs);
    bool Connected() const { return connected_; }

    // --- Faults for tests.
    // Applies `fault` to the next `times` replies to `command` (0: to any command), or
    // to all of them with kForever. ReplyFault::None clears it.
    void SetReplyFault(char command, ReplyFault fault, int times = kForever);
    // Each reply independently gets a random reply fault with this probability (0..1).
    void SetFaultRate(double rate);
    void SetCtsFault(CtsFault fault) { ctsFault_ = fault; }
    void ClearFaults();

    // --- Observation.
    // Called for every complete line with the reply as queued (empty: no reply).
    using Trace = std::function<void(std::string_view line, std::string_view reply)>;
    void SetTrace(Trace trace) { trace_ = std::move(trace); }

    int AmplitudeTenths() const { return panel_.amplitudeTenths; }
    bool RfOn() const { return panel_.rfOn; }
    // The display memory as the "L" command sends it.
    void ReadDisplay(std::uint8_t* memory) const { frontPanel_.Render(panel_, memory); }

    struct Stats {
        std::uint64_t lines = 0;       // complete lines received
        std::uint64_t rejected = 0;    // of those, lines that got no reply for being garbage
        std::uint64_t faulted = 0;     // replies a fault changed or dropped
        std::uint64_t overflowed = 0;  // replies dropped because the output queue was full
    };
    const Stats& GetStats() const { return stats_; }

  private:
    struct FaultSlot {
        ReplyFault fault = ReplyFault::None;
        int times = 0;
    };

    void Tick(std::uint64_t nowUs);
    void ResetLine();
    void Receive(char c);
    void Execute();
    // Builds the echo and payload of a line into reply_; false: no reply.
    bool Respond(char command, const char* arg, std::size_t argLen);
    bool Append(const char* text, std::size_t n);
    bool Appendf(const char* format, ...);
    void DriveRf();
    ReplyFault TakeFault(char command);
    void Queue(const char* data, std::size_t n);

    DeviceConfig config_;
    Physics physics_;
    Rng faultRng_;
    PanelSettings panel_;
    FrontPanel frontPanel_;
    bool interlockClosed_;
    bool connected_ = true;
    bool dtr_ = true;
    bool rts_ = true;
    CtsFault ctsFault_ = CtsFault::None;
    std::uint64_t nowNs_ = 0;

    char line_[kMaxLine];
    std::size_t lineLen_ = 0;
    bool lineOverflow_ = false;

    // Echo, the longest payload (the whole display: 2048) and CR.
    char reply_[2 + 2 * kDisplayBytes + 16];
    std::size_t replyLen_ = 0;

    char out_[kOutputCapacity];
    std::uint64_t outDueNs_[kOutputCapacity];
    std::size_t outHead_ = 0, outCount_ = 0;
    bool pacing_ = false;
    std::uint64_t byteNs_ = ByteTimeNs();
    std::uint64_t wireFreeNs_ = 0;

    FaultSlot faults_[128];  // by command character; [0] is any command
    double faultRate_ = 0.0;

    Trace trace_;
    Stats stats_;
};

}  // namespace quenta_sim

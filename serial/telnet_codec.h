// Telnet stream coding for network serial ports: data with IAC doubling, option
// negotiation without loops, and subnegotiations held in a bounded buffer.
// No allocation; every length from the network is checked against fixed storage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace telnet {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;

constexpr std::uint8_t kOptBinary = 0;
constexpr std::uint8_t kOptEcho = 1;
constexpr std::uint8_t kOptSga = 3;
constexpr std::uint8_t kOptComPort = 44;

// Receive side. Push one byte at a time; the result says what that byte completed,
// so a stream split anywhere decodes the same as in one piece.
class Decoder {
  public:
    enum class Event : std::uint8_t {
        None,            // consumed, nothing complete yet
        Data,            // Data() is one data byte (IAC IAC gives 0xFF)
        Negotiation,     // Verb() is WILL, WONT, DO or DONT; Option() the option
        Command,         // another two-byte command (NOP, GA, BRK...) in Command()
        Subnegotiation,  // Sub(): option byte first, then the value with IAC IAC undone
        Dropped,         // a subnegotiation too long for the buffer, or cut short
    };

    // Longest subnegotiation kept, option byte included. RFC 2217 values are at most
    // 5 bytes; only a signature text is longer, and we never need it whole.
    static constexpr std::size_t kSubCapacity = 64;

    Event Push(std::uint8_t byte);

    std::uint8_t Data() const { return byte_; }
    std::uint8_t Verb() const { return verb_; }
    std::uint8_t Option() const { return byte_; }
    std::uint8_t Command() const { return byte_; }
    const std::uint8_t* Sub() const { return sub_; }
    std::size_t SubLength() const { return subLength_; }

  private:
    enum class State : std::uint8_t { Data, Iac, Verb, Sub, SubIac };

    void BeginSub() {
        subLength_ = 0;
        subOverflow_ = false;
        state_ = State::Sub;
    }
    void AppendSub(std::uint8_t byte);

    State state_ = State::Data;
    std::uint8_t byte_ = 0;
    std::uint8_t verb_ = 0;
    bool subOverflow_ = false;
    std::size_t subLength_ = 0;
    std::uint8_t sub_[kSubCapacity] = {};
};

// Copies data to out with every IAC doubled. Stops before a byte whose coding no
// longer fits, so an IAC pair is never split. consumed: input bytes coded.
std::size_t Escape(const std::uint8_t* data, std::size_t n, std::uint8_t* out, std::size_t capacity,
                   std::size_t& consumed);

// IAC SB option value... IAC SE with the value escaped. Returns the length written,
// or 0 when it does not fit in capacity.
std::size_t Subnegotiation(std::uint8_t option, const std::uint8_t* value, std::size_t n,
                           std::uint8_t* out, std::size_t capacity);

// Client side of option negotiation (the RFC 1143 rules, reduced to what we use):
// we offer and accept BINARY, SGA and COM-PORT-OPTION in both directions and refuse
// everything else. A reply is sent only when a state changes, so no two peers loop.
class Negotiator {
  public:
    static constexpr std::size_t kMaxReply = 3;

    // Our opening requests. out needs room for 15 bytes; returns the length.
    std::size_t Start(std::uint8_t* out);

    // A WILL/WONT/DO/DONT from the peer; writes the reply to out and returns its
    // length (0 or 3).
    std::size_t Receive(std::uint8_t verb, std::uint8_t option, std::uint8_t* out);

    bool LocalEnabled(std::uint8_t option) const;   // we WILL, the peer said DO
    bool RemoteEnabled(std::uint8_t option) const;  // the peer WILL, we said DO

    // The server takes COM port commands once it agreed in either direction;
    // some servers only answer one of the two.
    bool ComPortAgreed() const { return LocalEnabled(kOptComPort) || RemoteEnabled(kOptComPort); }
    // The server turned our COM port offer down and did not offer its own.
    bool ComPortRefused() const { return refusedComPort_ && !ComPortAgreed(); }

  private:
    enum class Side : std::uint8_t { No, WantYes, Yes };
    static constexpr std::size_t kCount = 3;
    static int Index(std::uint8_t option);

    Side local_[kCount] = {};
    Side remote_[kCount] = {};
    bool refusedComPort_ = false;
};

}  // namespace telnet

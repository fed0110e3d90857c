// The server side of one RFC 2217 (Telnet COM Port Control) connection, with the
// device model behind it. It knows nothing of sockets: bytes from the client go in,
// bytes for the client collect in Outbox().
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "device_model.h"

namespace quenta_sim {

// Telnet and RFC 2217 codes. The library has its own copy on the client side; the
// simulator stands apart from it on purpose.
namespace telnet {
constexpr std::uint8_t kSe = 240, kNop = 241, kSb = 250, kWill = 251, kWont = 252, kDo = 253,
                       kDont = 254, kIac = 255;
constexpr std::uint8_t kBinary = 0, kEcho = 1, kSga = 3, kComPort = 44;
}  // namespace telnet

namespace comport {
// Client to server; the server answers with the same code + kServerOffset.
constexpr std::uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kNotifyLineState = 6, kNotifyModemState = 7,
                       kFlowSuspend = 8, kFlowResume = 9, kSetLineStateMask = 10,
                       kSetModemStateMask = 11, kPurgeData = 12;
constexpr std::uint8_t kServerOffset = 100;
// SET-CONTROL values.
constexpr std::uint8_t kFlowRequest = 0, kFlowNone = 1, kFlowHardware = 3, kBreakRequest = 4,
                       kBreakOn = 5, kBreakOff = 6, kDtrRequest = 7, kDtrOn = 8, kDtrOff = 9,
                       kRtsRequest = 10, kRtsOn = 11, kRtsOff = 12, kInboundRequest = 13,
                       kInboundNone = 14, kInboundLast = 19;
// SET-PARITY values.
constexpr std::uint8_t kParityNone = 1, kParityEven = 3, kParitySpace = 5;
// Modem state bits: the lines, and their change flags below them.
constexpr std::uint8_t kDeltaCts = 0x01, kDeltaDsr = 0x02, kRingTrailingEdge = 0x04,
                       kDeltaDcd = 0x08;
// PURGE-DATA values.
constexpr std::uint8_t kPurgeReceive = 1, kPurgeTransmit = 2, kPurgeBoth = 3;
}  // namespace comport

class Rfc2217Session {
  public:
    using Log = std::function<void(const std::string& message)>;
    static constexpr std::size_t kOutboxLimit = 64 * 1024;

    Rfc2217Session(DeviceModel& model, Log log, bool verbose);

    // A client connected: its port opens (DTR and RTS on) and negotiation starts.
    void Open(std::uint64_t nowUs);
    void Receive(const std::uint8_t* data, std::size_t n, std::uint64_t nowUs);
    // Moves due device output and line changes into the outbox.
    void Pump(std::uint64_t nowUs);
    // The client went away: its port closes (DTR and RTS off) and the device forgets
    // whatever was in flight, ready for the next client.
    void Close(std::uint64_t nowUs);

    std::string& Outbox() { return outbox_; }
    // When Pump has device output to move next; UINT64_MAX if nothing is waiting.
    std::uint64_t NextWakeUs() const;

    bool ComPortActive() const {
        return us_[telnet::kComPort] == kYes || him_[telnet::kComPort] == kYes;
    }
    std::uint32_t BaudRate() const { return baud_; }

  private:
    enum OptionState : std::uint8_t { kNo, kYes, kWantYes };
    enum class Parse { Data, Iac, Option, Sb, SbIac };

    static bool Supported(std::uint8_t option);
    void Negotiate(std::uint8_t verb, std::uint8_t option);
    void SendOption(std::uint8_t verb, std::uint8_t option);
    void SubNegotiation();
    void SetControl(std::uint8_t value);
    void Reply(std::uint8_t command, const std::uint8_t* data, std::size_t n);
    void Reply(std::uint8_t command, std::uint8_t value) { Reply(command, &value, 1); }
    void NotifyModemState(std::uint8_t value);
    void CheckLines();
    void FlushData();
    void ApplyLineTiming();
    void Verbose(const std::string& message);

    DeviceModel& model_;
    Log log_;
    bool verbose_;
    std::uint64_t nowUs_ = 0;
    std::string outbox_;

    Parse parse_ = Parse::Data;
    std::uint8_t verb_ = 0;
    OptionState us_[256] = {};   // options we do
    OptionState him_[256] = {};  // options the client does
    bool comPortWasActive_ = false;
    std::uint8_t sb_[64];
    std::size_t sbLen_ = 0;
    bool sbOverflow_ = false;
    char data_[512];
    std::size_t dataLen_ = 0;

    std::uint32_t baud_ = kLineBaud;
    std::uint8_t dataSize_ = 8, parity_ = comport::kParityEven, stopSize_ = 1;
    std::uint8_t flow_ = comport::kFlowNone, break_ = comport::kBreakOff,
                 inbound_ = comport::kInboundNone;
    std::uint8_t lineStateMask_ = 0, modemStateMask_ = 0xFF;
    bool suspended_ = false;
    std::uint32_t lines_ = 0;  // the modem lines as last reported
};

}  // namespace quenta_sim

#include "telnet_codec.h"

namespace telnet {

namespace {

bool IsVerb(std::uint8_t byte) {
    return byte >= kWill && byte <= kDont;
}

}  // namespace

void Decoder::AppendSub(std::uint8_t byte) {
    if (subLength_ < kSubCapacity) {
        sub_[subLength_++] = byte;
    } else {
        subOverflow_ = true;
    }
}

Decoder::Event Decoder::Push(std::uint8_t byte) {
    switch (state_) {
        case State::Data:
            if (byte == kIac) {
                state_ = State::Iac;
                return Event::None;
            }
            byte_ = byte;
            return Event::Data;
        case State::Iac:
            if (byte == kIac) {
                state_ = State::Data;
                byte_ = byte;
                return Event::Data;
            }
            if (IsVerb(byte)) {
                verb_ = byte;
                state_ = State::Verb;
                return Event::None;
            }
            if (byte == kSb) {
                BeginSub();
                return Event::None;
            }
            state_ = State::Data;
            byte_ = byte;
            return Event::Command;
        case State::Verb:
            state_ = State::Data;
            byte_ = byte;
            return Event::Negotiation;
        case State::Sub:
            if (byte == kIac) {
                state_ = State::SubIac;
            } else {
                AppendSub(byte);
            }
            return Event::None;
        case State::SubIac:
            if (byte == kIac) {
                AppendSub(byte);
                state_ = State::Sub;
                return Event::None;
            }
            if (byte == kSe) {
                state_ = State::Data;
                return subOverflow_ || subLength_ == 0 ? Event::Dropped : Event::Subnegotiation;
            }
            // Any other command ends a subnegotiation that never saw its IAC SE. What
            // was collected cannot be trusted; the command itself still counts.
            if (byte == kSb) {
                BeginSub();
            } else if (IsVerb(byte)) {
                verb_ = byte;
                state_ = State::Verb;
            } else {
                state_ = State::Data;
            }
            return Event::Dropped;
    }
    return Event::None;
}

std::size_t Escape(const std::uint8_t* data, std::size_t n, std::uint8_t* out, std::size_t capacity,
                   std::size_t& consumed) {
    std::size_t length = 0;
    consumed = 0;
    while (consumed < n) {
        const std::uint8_t byte = data[consumed];
        const std::size_t need = byte == kIac ? 2 : 1;
        if (capacity - length < need) break;
        out[length++] = byte;
        if (byte == kIac) out[length++] = kIac;
        ++consumed;
    }
    return length;
}

std::size_t Subnegotiation(std::uint8_t option, const std::uint8_t* value, std::size_t n,
                           std::uint8_t* out, std::size_t capacity) {
    if (capacity < 5) return 0;
    std::size_t length = 0;
    out[length++] = kIac;
    out[length++] = kSb;
    out[length++] = option;
    if (option == kIac) out[length++] = kIac;
    std::size_t consumed = 0;
    // Keep two bytes for IAC SE.
    length += Escape(value, n, out + length, capacity - length - 2, consumed);
    if (consumed < n || capacity - length < 2) return 0;
    out[length++] = kIac;
    out[length++] = kSe;
    return length;
}

int Negotiator::Index(std::uint8_t option) {
    switch (option) {
        case kOptBinary:
            return 0;
        case kOptSga:
            return 1;
        case kOptComPort:
            return 2;
        default:
            return -1;
    }
}

std::size_t Negotiator::Start(std::uint8_t* out) {
    static constexpr std::uint8_t kRequests[] = {
        kIac,    kWill, kOptBinary, kIac,    kDo,  kOptBinary, kIac,        kWill,
        kOptSga, kIac,  kDo,        kOptSga, kIac, kWill,      kOptComPort,
    };
    for (std::size_t i = 0; i < sizeof kRequests; ++i) out[i] = kRequests[i];
    local_[Index(kOptBinary)] = Side::WantYes;
    remote_[Index(kOptBinary)] = Side::WantYes;
    local_[Index(kOptSga)] = Side::WantYes;
    remote_[Index(kOptSga)] = Side::WantYes;
    local_[Index(kOptComPort)] = Side::WantYes;
    return sizeof kRequests;
}

std::size_t Negotiator::Receive(std::uint8_t verb, std::uint8_t option, std::uint8_t* out) {
    const int index = Index(option);
    const bool enable = verb == kWill || verb == kDo;
    const bool theirSide = verb == kWill || verb == kWont;
    std::uint8_t answer = 0;
    if (index < 0) {
        // Refuse what we do not know, but only its offers: answering a refusal
        // would start a loop.
        if (enable) answer = theirSide ? kDont : kWont;
    } else {
        Side& side = theirSide ? remote_[index] : local_[index];
        if (enable) {
            if (side == Side::No) answer = theirSide ? kDo : kWill;
            side = Side::Yes;
        } else {
            if (side == Side::Yes) answer = theirSide ? kDont : kWont;
            if (side == Side::WantYes && option == kOptComPort) refusedComPort_ = true;
            side = Side::No;
        }
    }
    if (answer == 0) return 0;
    out[0] = kIac;
    out[1] = answer;
    out[2] = option;
    return 3;
}

bool Negotiator::LocalEnabled(std::uint8_t option) const {
    const int index = Index(option);
    return index >= 0 && local_[index] == Side::Yes;
}

bool Negotiator::RemoteEnabled(std::uint8_t option) const {
    const int index = Index(option);
    return index >= 0 && remote_[index] == Side::Yes;
}

}  // namespace telnet

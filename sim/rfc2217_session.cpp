#include "rfc2217_session.h"

#include <algorithm>
#include <cstdio>

namespace quenta_sim {
namespace {

using namespace telnet;
using namespace comport;

std::string Printable(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\r') {
            text += "\\r";
        } else if (u >= 0x20 && u < 0x7F && c != '\\') {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            text += hex;
        }
    }
    return text;
}

const char* OptionName(std::uint8_t option) {
    switch (option) {
        case kBinary:
            return "BINARY";
        case kEcho:
            return "ECHO";
        case kSga:
            return "SGA";
        case kComPort:
            return "COM-PORT-OPTION";
        default:
            return nullptr;
    }
}

std::string OptionText(std::uint8_t option) {
    const char* name = OptionName(option);
    return name ? name : "option " + std::to_string(option);
}

const char* VerbName(std::uint8_t verb) {
    switch (verb) {
        case kWill:
            return "WILL";
        case kWont:
            return "WONT";
        case kDo:
            return "DO";
        default:
            return "DONT";
    }
}

}  // namespace

Rfc2217Session::Rfc2217Session(DeviceModel& model, Log log, bool verbose)
    : model_(model), log_(std::move(log)), verbose_(verbose) {}

void Rfc2217Session::Verbose(const std::string& message) {
    if (verbose_ && log_) log_(message);
}

bool Rfc2217Session::Supported(std::uint8_t option) {
    return option == kBinary || option == kSga || option == kComPort;
}

void Rfc2217Session::Open(std::uint64_t nowUs) {
    nowUs_ = nowUs;
    outbox_.clear();
    parse_ = Parse::Data;
    std::fill(std::begin(us_), std::end(us_), kNo);
    std::fill(std::begin(him_), std::end(him_), kNo);
    comPortWasActive_ = false;
    sbLen_ = 0;
    sbOverflow_ = false;
    dataLen_ = 0;
    baud_ = kLineBaud;
    dataSize_ = 8;
    parity_ = kParityEven;
    stopSize_ = 1;
    flow_ = kFlowNone;
    break_ = kBreakOff;
    inbound_ = kInboundNone;
    lineStateMask_ = 0;
    modemStateMask_ = 0xFF;
    suspended_ = false;

    if (verbose_) {
        model_.SetTrace([this](std::string_view line, std::string_view reply) {
            Verbose("command \"" + Printable(line) + "\" -> " +
                    (reply.empty() ? std::string("no reply") : "\"" + Printable(reply) + "\""));
        });
    }
    // Opening a port raises DTR and RTS, as a tty does.
    model_.SetHostLines(true, true, nowUs);
    ApplyLineTiming();
    lines_ = model_.ModemStatus();

    for (const std::uint8_t option : {kBinary, kSga}) {
        us_[option] = kWantYes;
        SendOption(kWill, option);
        him_[option] = kWantYes;
        SendOption(kDo, option);
    }
    him_[kComPort] = kWantYes;
    SendOption(kDo, kComPort);
}

void Rfc2217Session::Close(std::uint64_t nowUs) {
    nowUs_ = nowUs;
    FlushData();
    model_.SetHostLines(false, false, nowUs);
    model_.DiscardInput();
    model_.DiscardOutput(nowUs);
    model_.SetTrace(nullptr);
    if (model_.Pacing()) model_.SetPacing(true);
    outbox_.clear();
}

void Rfc2217Session::SendOption(std::uint8_t verb, std::uint8_t option) {
    outbox_ += static_cast<char>(kIac);
    outbox_ += static_cast<char>(verb);
    outbox_ += static_cast<char>(option);
    Verbose(std::string("sent ") + VerbName(verb) + " " + OptionText(option));
}

void Rfc2217Session::Negotiate(std::uint8_t verb, std::uint8_t option) {
    Verbose(std::string("received ") + VerbName(verb) + " " + OptionText(option));
    // The "Q method" of RFC 1143, without its queue: answer only changes of state, so
    // two sides never loop on each other's acknowledgements.
    OptionState& him = him_[option];
    OptionState& us = us_[option];
    switch (verb) {
        case kWill:
            if (him == kWantYes) {
                him = kYes;
            } else if (him == kNo) {
                if (Supported(option)) {
                    him = kYes;
                    SendOption(kDo, option);
                } else {
                    SendOption(kDont, option);
                }
            }
            break;
        case kWont:
            if (him == kYes) SendOption(kDont, option);
            him = kNo;
            break;
        case kDo:
            if (us == kWantYes) {
                us = kYes;
            } else if (us == kNo) {
                if (Supported(option)) {
                    us = kYes;
                    SendOption(kWill, option);
                } else {
                    SendOption(kWont, option);
                }
            }
            break;
        case kDont:
            if (us == kYes) SendOption(kWont, option);
            us = kNo;
            break;
    }
    if (ComPortActive() && !comPortWasActive_) {
        // Clients learn the lines only from notifications, so give them a first one.
        comPortWasActive_ = true;
        lines_ = model_.ModemStatus();
        NotifyModemState(static_cast<std::uint8_t>(lines_ & modemStateMask_));
    }
}

void Rfc2217Session::Receive(const std::uint8_t* data, std::size_t n, std::uint64_t nowUs) {
    nowUs_ = std::max(nowUs_, nowUs);
    if (!data) return;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        switch (parse_) {
            case Parse::Data:
                if (b == kIac) {
                    parse_ = Parse::Iac;
                } else {
                    data_[dataLen_++] = static_cast<char>(b);
                    if (dataLen_ == sizeof data_) FlushData();
                }
                break;
            case Parse::Iac:
                parse_ = Parse::Data;
                if (b == kIac) {
                    data_[dataLen_++] = static_cast<char>(b);
                    if (dataLen_ == sizeof data_) FlushData();
                } else if (b == kSb) {
                    sbLen_ = 0;
                    sbOverflow_ = false;
                    parse_ = Parse::Sb;
                } else if (b == kWill || b == kWont || b == kDo || b == kDont) {
                    verb_ = b;
                    parse_ = Parse::Option;
                }  // NOP, GA, AYT... mean nothing for a serial line
                break;
            case Parse::Option:
                FlushData();
                Negotiate(verb_, b);
                parse_ = Parse::Data;
                break;
            case Parse::Sb:
                if (b == kIac) {
                    parse_ = Parse::SbIac;
                } else if (sbLen_ < sizeof sb_) {
                    sb_[sbLen_++] = b;
                } else {
                    sbOverflow_ = true;
                }
                break;
            case Parse::SbIac:
                if (b == kIac) {
                    if (sbLen_ < sizeof sb_) {
                        sb_[sbLen_++] = b;
                    } else {
                        sbOverflow_ = true;
                    }
                    parse_ = Parse::Sb;
                } else if (b == kSe) {
                    FlushData();
                    if (sbOverflow_) {
                        Verbose("ignored an overlong subnegotiation");
                    } else {
                        SubNegotiation();
                    }
                    parse_ = Parse::Data;
                } else {
                    // IAC and anything but SE or IAC inside a subnegotiation: the
                    // client broke off; drop it and read on as normal.
                    Verbose("ignored an unterminated subnegotiation");
                    parse_ = Parse::Data;
                }
                break;
        }
    }
    FlushData();
}

void Rfc2217Session::FlushData() {
    if (dataLen_ == 0) return;
    model_.HostWrite(data_, dataLen_, nowUs_);
    dataLen_ = 0;
}

void Rfc2217Session::Reply(std::uint8_t command, const std::uint8_t* data, std::size_t n) {
    outbox_ += static_cast<char>(kIac);
    outbox_ += static_cast<char>(kSb);
    outbox_ += static_cast<char>(kComPort);
    outbox_ += static_cast<char>(command + kServerOffset);
    for (std::size_t i = 0; i < n; ++i) {
        outbox_ += static_cast<char>(data[i]);
        if (data[i] == kIac) outbox_ += static_cast<char>(kIac);
    }
    outbox_ += static_cast<char>(kIac);
    outbox_ += static_cast<char>(kSe);
}

void Rfc2217Session::NotifyModemState(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    Verbose(std::string("sent NOTIFY-MODEMSTATE ") + text);
    Reply(kNotifyModemState, value);
}

void Rfc2217Session::CheckLines() {
    const std::uint32_t now = model_.ModemStatus();
    const std::uint32_t changed = now ^ lines_;
    if (changed == 0) return;
    std::uint8_t deltas = 0;
    if (changed & kCts) deltas |= kDeltaCts;
    if (changed & kDsr) deltas |= kDeltaDsr;
    if ((changed & kRing) && !(now & kRing)) deltas |= kRingTrailingEdge;
    if (changed & kDcd) deltas |= kDeltaDcd;
    lines_ = now;
    const std::uint8_t value = static_cast<std::uint8_t>((now | deltas) & modemStateMask_);
    if (ComPortActive() && (value & 0x0F)) NotifyModemState(value);
}

void Rfc2217Session::ApplyLineTiming() {
    if (!model_.Pacing()) return;
    const unsigned bits =
        1u + dataSize_ + (parity_ == kParityNone ? 0u : 1u) + (stopSize_ == 1 ? 1u : 2u);
    model_.SetPacing(true, baud_, bits);
}

void Rfc2217Session::SetControl(std::uint8_t value) {
    const bool dtr = model_.HostDtr(), rts = model_.HostRts();
    std::uint8_t inForce = value;
    switch (value) {
        case kFlowRequest:
            inForce = flow_;
            break;
        case kBreakRequest:
            inForce = break_;
            break;
        case kBreakOn:
        case kBreakOff:
            break_ = value;
            break;
        case kDtrRequest:
            inForce = dtr ? kDtrOn : kDtrOff;
            break;
        case kDtrOn:
        case kDtrOff:
            Verbose(value == kDtrOn ? "DTR on" : "DTR off");
            model_.SetHostLines(value == kDtrOn, rts, nowUs_);
            break;
        case kRtsRequest:
            inForce = rts ? kRtsOn : kRtsOff;
            break;
        case kRtsOn:
        case kRtsOff:
            Verbose(value == kRtsOn ? "RTS on" : "RTS off");
            model_.SetHostLines(dtr, value == kRtsOn, nowUs_);
            break;
        case kInboundRequest:
            inForce = inbound_;
            break;
        default:
            if (value > kInboundLast) {
                Verbose("ignored SET-CONTROL " + std::to_string(value));
                return;
            }
            // The device's line has no flow control: say what stays in force.
            inForce = (value >= kInboundNone && value <= 16) || value == 18 ? inbound_ : flow_;
            break;
    }
    Reply(kSetControl, inForce);
    CheckLines();  // dropping RTS drops CTS at once, and the client waits to see it
}

void Rfc2217Session::SubNegotiation() {
    if (sbLen_ < 2 || sb_[0] != kComPort) {
        Verbose("ignored a subnegotiation");
        return;
    }
    const std::uint8_t command = sb_[1];
    const std::uint8_t* arg = sb_ + 2;
    const std::size_t argLen = sbLen_ - 2;
    const std::uint8_t byte = argLen >= 1 ? arg[0] : 0;
    switch (command) {
        case kSetBaudRate: {
            if (argLen < 4) break;
            const std::uint32_t asked = std::uint32_t{arg[0]} << 24 | std::uint32_t{arg[1]} << 16 |
                                        std::uint32_t{arg[2]} << 8 | arg[3];
            if (asked != 0) baud_ = asked;
            Verbose("SET-BAUDRATE " + std::to_string(asked) + " -> " + std::to_string(baud_));
            ApplyLineTiming();
            const std::uint8_t reply[4] = {
                static_cast<std::uint8_t>(baud_ >> 24), static_cast<std::uint8_t>(baud_ >> 16),
                static_cast<std::uint8_t>(baud_ >> 8), static_cast<std::uint8_t>(baud_)};
            Reply(kSetBaudRate, reply, sizeof reply);
            return;
        }
        case kSetDataSize:
            if (byte >= 5 && byte <= 8) dataSize_ = byte;
            ApplyLineTiming();
            Reply(kSetDataSize, dataSize_);
            return;
        case kSetParity:
            if (byte >= kParityNone && byte <= kParitySpace) parity_ = byte;
            ApplyLineTiming();
            Reply(kSetParity, parity_);
            return;
        case kSetStopSize:
            if (byte >= 1 && byte <= 3) stopSize_ = byte;
            ApplyLineTiming();
            Reply(kSetStopSize, stopSize_);
            return;
        case kSetControl:
            if (argLen < 1) break;
            SetControl(byte);
            return;
        case kNotifyModemState:  // a client polling the lines
            lines_ = model_.ModemStatus();
            NotifyModemState(static_cast<std::uint8_t>(lines_));
            return;
        case kFlowSuspend:
        case kFlowResume:
            suspended_ = command == kFlowSuspend;
            Verbose(suspended_ ? "output suspended" : "output resumed");
            return;
        case kSetLineStateMask:
            if (argLen < 1) break;
            lineStateMask_ = byte;
            Reply(kSetLineStateMask, lineStateMask_);
            return;
        case kSetModemStateMask:
            if (argLen < 1) break;
            modemStateMask_ = byte;
            Reply(kSetModemStateMask, modemStateMask_);
            lines_ = model_.ModemStatus();
            NotifyModemState(static_cast<std::uint8_t>(lines_ & modemStateMask_));
            return;
        case kPurgeData:
            if (argLen < 1 || byte < kPurgeReceive || byte > kPurgeBoth) break;
            Verbose("PURGE-DATA " + std::to_string(byte));
            if (byte & kPurgeReceive) model_.DiscardOutput(nowUs_);
            if (byte & kPurgeTransmit) model_.DiscardInput();
            Reply(kPurgeData, byte);
            return;
        default:
            break;
    }
    Verbose("ignored COM-PORT-OPTION command " + std::to_string(command));
}

void Rfc2217Session::Pump(std::uint64_t nowUs) {
    nowUs_ = std::max(nowUs_, nowUs);
    model_.Advance(nowUs_);
    CheckLines();
    if (suspended_) return;
    char chunk[1024];
    while (outbox_.size() < kOutboxLimit) {
        const std::size_t room = (kOutboxLimit - outbox_.size() + 1) / 2;  // IACs may double
        const std::size_t n = model_.ReadOutput(chunk, std::min(room, sizeof chunk), nowUs_);
        if (n == 0) break;
        for (std::size_t i = 0; i < n; ++i) {
            outbox_ += chunk[i];
            if (static_cast<std::uint8_t>(chunk[i]) == kIac) outbox_ += chunk[i];
        }
    }
}

std::uint64_t Rfc2217Session::NextWakeUs() const {
    if (suspended_ || outbox_.size() >= kOutboxLimit) return UINT64_MAX;
    return model_.NextOutputUs();
}

}  // namespace quenta_sim

#include "device_model.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace quenta_sim {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Exactly `digits` hexadecimal digits.
bool ParseHex(const char* text, std::size_t len, std::size_t digits, std::uint32_t& value) {
    if (len != digits) return false;
    value = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0) return false;
        value = value << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

char WrongEcho(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (std::isupper(u)) return static_cast<char>(std::tolower(u));
    if (std::islower(u)) return static_cast<char>(std::toupper(u));
    return '?';
}

}  // namespace

const char* ReplyFaultName(ReplyFault fault) {
    switch (fault) {
        case ReplyFault::None:
            return "none";
        case ReplyFault::NoAnswer:
            return "no answer";
        case ReplyFault::WrongEcho:
            return "wrong echo";
        case ReplyFault::ShortPayload:
            return "short payload";
        case ReplyFault::MissingCr:
            return "missing carriage return";
        case ReplyFault::Corrupt:
            return "corrupted byte";
    }
    return "?";
}

DeviceModel::DeviceModel(const DeviceConfig& config)
    : config_(config),
      physics_(config.seed, config.maxAmplitudeTenths * 0.1),
      faultRng_(config.seed ^ 0xF4017F4017ull),
      interlockClosed_(config.interlockClosed) {
    panel_.minAmplitudeTenths = config.minAmplitudeTenths;
    panel_.maxAmplitudeTenths = config.maxAmplitudeTenths;
    panel_.amplitudeTenths = config.minAmplitudeTenths;
    panel_.interlockClosed = interlockClosed_;
    panel_.firmwareVersion = config.firmwareVersion;
    // The date always goes out as 11 characters.
    config_.firmwareDate.resize(11, ' ');
    // A variable-length reply must not contain its own terminator.
    std::replace(config_.productId.begin(), config_.productId.end(), '\r', ' ');
    if (config_.productId.size() > 2 * kDisplayBytes) config_.productId.resize(2 * kDisplayBytes);
}

void DeviceModel::Tick(std::uint64_t nowUs) {
    const std::uint64_t ns = nowUs * 1000;
    if (ns > nowNs_) nowNs_ = ns;
    physics_.Advance(nowNs_);
}

void DeviceModel::Advance(std::uint64_t nowUs) {
    Tick(nowUs);
}

void DeviceModel::ResetLine() {
    lineLen_ = 0;
    lineOverflow_ = false;
}

std::uint32_t DeviceModel::ModemStatus() const {
    if (!connected_) return 0;
    bool cts = rts_;
    if (ctsFault_ == CtsFault::StuckActive) cts = true;
    if (ctsFault_ == CtsFault::StuckInactive) cts = false;
    return kDsr | kDcd | (cts ? kCts : 0);
}

void DeviceModel::SetHostLines(bool dtr, bool rts, std::uint64_t nowUs) {
    Tick(nowUs);
    const bool rtsDropped = rts_ && !rts;
    dtr_ = dtr;
    rts_ = rts;
    if (rtsDropped) {
        ResetLine();
        DiscardOutput(nowUs);
    }
}

void DeviceModel::SetInterlockClosed(bool closed) {
    interlockClosed_ = closed;
    panel_.interlockClosed = closed;
    DriveRf();
}

void DeviceModel::SetConnected(bool connected, std::uint64_t nowUs) {
    Tick(nowUs);
    if (connected_ && !connected) {
        ResetLine();
        DiscardOutput(nowUs);
    }
    connected_ = connected;
}

void DeviceModel::SetPacing(bool on, std::uint32_t baud, unsigned bitsPerByte) {
    pacing_ = on && baud > 0;
    byteNs_ = ByteTimeNs(baud, bitsPerByte);
}

void DeviceModel::SetReplyFault(char command, ReplyFault fault, int times) {
    const unsigned char c = static_cast<unsigned char>(command);
    if (c >= 128) return;
    faults_[c].fault = fault;
    faults_[c].times = fault == ReplyFault::None ? 0 : times;
}

void DeviceModel::SetFaultRate(double rate) {
    faultRate_ = rate > 0.0 ? std::min(rate, 1.0) : 0.0;  // also turns NaN into 0
}

void DeviceModel::ClearFaults() {
    for (FaultSlot& slot : faults_) slot = FaultSlot();
    faultRate_ = 0.0;
    ctsFault_ = CtsFault::None;
}

ReplyFault DeviceModel::TakeFault(char command) {
    for (const std::size_t index : {static_cast<std::size_t>(command), std::size_t{0}}) {
        if (index >= 128) continue;
        FaultSlot& slot = faults_[index];
        if (slot.fault == ReplyFault::None || slot.times == 0) continue;
        if (slot.times > 0) --slot.times;
        return slot.fault;
    }
    if (faultRate_ > 0.0 && faultRng_.Unit() < faultRate_)
        return static_cast<ReplyFault>(1 + faultRng_.Below(kReplyFaultKinds));
    return ReplyFault::None;
}

void DeviceModel::HostWrite(const char* data, std::size_t n, std::uint64_t nowUs) {
    Tick(nowUs);
    if (!data || !connected_) return;
    for (std::size_t i = 0; i < n; ++i) Receive(data[i]);
}

void DeviceModel::Receive(char c) {
    if (c == '\r') {
        Execute();
        ResetLine();
    } else if (c == '\n' || c == '\0') {
        // terminal line ends and Telnet's CR NUL
    } else if (lineLen_ < kMaxLine) {
        line_[lineLen_++] = c;
    } else {
        lineOverflow_ = true;
    }
}

void DeviceModel::Execute() {
    if (lineLen_ == 0 && !lineOverflow_) return;  // a bare CR
    ++stats_.lines;
    const std::string_view line(line_, lineLen_);
    replyLen_ = 0;
    if (lineOverflow_ || !Respond(line_[0], line_ + 1, lineLen_ - 1)) {
        ++stats_.rejected;
        if (trace_) trace_(line, std::string_view());
        return;
    }
    reply_[replyLen_++] = '\r';

    std::size_t len = replyLen_;
    const ReplyFault fault = TakeFault(line_[0]);
    switch (fault) {
        case ReplyFault::None:
            break;
        case ReplyFault::NoAnswer:
            len = 0;
            break;
        case ReplyFault::WrongEcho:
            reply_[0] = WrongEcho(reply_[0]);
            break;
        case ReplyFault::ShortPayload: {
            // Keep the first half of the payload, then the carriage return.
            const std::size_t payload = replyLen_ - 2, keep = payload / 2;
            reply_[1 + keep] = '\r';
            len = 2 + keep;
            break;
        }
        case ReplyFault::MissingCr:
            --len;
            break;
        case ReplyFault::Corrupt: {
            const std::size_t at = faultRng_.Below(static_cast<std::uint32_t>(len));
            reply_[at] = static_cast<char>(reply_[at] ^ (1 + faultRng_.Below(255)));
            break;
        }
    }
    if (fault != ReplyFault::None) ++stats_.faulted;
    Queue(reply_, len);
    if (trace_) trace_(line, std::string_view(reply_, len));
}

bool DeviceModel::Append(const char* text, std::size_t n) {
    if (n > sizeof reply_ - 1 - replyLen_) return false;
    std::copy(text, text + n, reply_ + replyLen_);
    replyLen_ += n;
    return true;
}

bool DeviceModel::Appendf(const char* format, ...) {
    const std::size_t room = sizeof reply_ - 1 - replyLen_;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(reply_ + replyLen_, room + 1, format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) > room) return false;
    replyLen_ += static_cast<std::size_t>(n);
    return true;
}

void DeviceModel::DriveRf() {
    physics_.SetDrive(panel_.amplitudeTenths * 0.1, panel_.rfOn, interlockClosed_, nowNs_);
}

bool DeviceModel::Respond(char command, const char* arg, std::size_t argLen) {
    reply_[replyLen_++] = command;
    std::uint32_t value = 0;
    switch (command) {
        case 'A':  // amplitude in 0.1 V
            if (argLen == 4) {
                if (!ParseHex(arg, argLen, 4, value)) return false;
                // Hosts send negative amplitudes in 16-bit two's complement.
                const int requested =
                    value >= 0x8000 ? static_cast<int>(value) - 0x10000 : static_cast<int>(value);
                panel_.amplitudeTenths =
                    std::clamp(requested, config_.minAmplitudeTenths, config_.maxAmplitudeTenths);
                DriveRf();
            } else if (argLen != 0) {
                return false;
            }
            return Appendf("%04X", static_cast<unsigned>(panel_.amplitudeTenths) & 0xFFFFu);
        case 'B':  // RF enable
            if (argLen == 1 && (arg[0] == 'Y' || arg[0] == 'N')) {
                panel_.rfOn = arg[0] == 'Y';
                DriveRf();
            } else if (argLen != 0) {
                return false;
            }
            return Append(panel_.rfOn ? "Y" : "N", 1);
        case 'K':  // keypad
            if (!ParseHex(arg, argLen, 2, value)) return false;
            frontPanel_.Key(static_cast<std::uint8_t>(value), panel_);
            DriveRf();
            return Appendf("%02X", static_cast<unsigned>(value));
        case 'E':  // encoder: button alone, or one step
            if (argLen == 0) {
                frontPanel_.EncoderButton(panel_);
                DriveRf();
                return true;
            }
            if (!ParseHex(arg, argLen, 1, value)) return false;
            frontPanel_.EncoderStep(static_cast<std::uint8_t>(value), panel_);
            DriveRf();
            return Appendf("%X", static_cast<unsigned>(value));
        case 'l': {  // one display row: its digit, then 128 bytes as hex pairs
            if (!ParseHex(arg, argLen, 1, value) || value >= kDisplayRows) return false;
            std::uint8_t memory[kDisplayBytes];
            ReadDisplay(memory);
            if (!Appendf("%X", static_cast<unsigned>(value))) return false;
            for (int i = 0; i < kDisplayRowBytes; ++i)
                if (!Appendf("%02X", memory[value * kDisplayRowBytes + i])) return false;
            return true;
        }
        default:
            break;
    }

    if (argLen != 0) return false;  // every other command takes no argument
    switch (command) {
        case 'I':
            return Append(interlockClosed_ ? "Y" : "N", 1);
        case 'H': {
            const Housekeeping h = physics_.ReadHousekeeping(nowNs_);
            return Appendf("%04X%04X%04X%04X", h.rail12Mv, h.rail5Mv, h.rail3Mv, h.cpuCentiK);
        }
        case 'G': {
            const RfGenerator g = physics_.ReadRfGenerator(nowNs_);
            return Appendf("%06X%06X%05X%08X%04X%04X", static_cast<unsigned>(g.amplitude1Mv),
                           static_cast<unsigned>(g.amplitude2Mv), static_cast<unsigned>(g.drainMv),
                           static_cast<unsigned>(g.frequencyHz), g.heatsinkCentiK, g.coilCentiK);
        }
        case 'S': {
            const PowerSupply s = physics_.ReadPowerSupply(nowNs_);
            return Appendf("%05X%04X%04X", static_cast<unsigned>(s.voltageMv) & 0xFFFFFu,
                           static_cast<unsigned>(s.currentMa) & 0xFFFFu, s.heatsinkCentiK);
        }
        case 'W':
            return Appendf("%04X%04X%05X",
                           static_cast<unsigned>(config_.minAmplitudeTenths) & 0xFFFFu,
                           static_cast<unsigned>(config_.maxAmplitudeTenths) & 0xFFFFu,
                           static_cast<unsigned>(config_.maxSupplyMv) & 0xFFFFFu);
        case 'V':
            return Appendf("%04X", config_.firmwareVersion);
        case 'D':
            return Append(config_.firmwareDate.data(), config_.firmwareDate.size());
        case 'P':
            return Append(config_.productId.data(), config_.productId.size());
        case 'N':
            return Appendf("%08X", static_cast<unsigned>(config_.productNumber));
        case 'U': {
            const std::uint64_t us = nowNs_ / 1000;
            const std::uint64_t seconds = us / 1000000;
            const unsigned fraction = static_cast<unsigned>(us % 1000000 * 256 / 1000000);
            return Appendf("%08X%02X", static_cast<unsigned>(seconds & 0xFFFFFFFFu), fraction);
        }
        case 'L': {
            std::uint8_t memory[kDisplayBytes];
            ReadDisplay(memory);
            for (std::uint8_t byte : memory)
                if (!Appendf("%02X", byte)) return false;
            return true;
        }
        case 'z':  // device purge: forget everything not yet sent, then confirm
            DiscardOutput(nowNs_ / 1000);
            return Append("Y", 1);
        case 'Z':  // buffer state
            return Append(outCount_ == 0 ? "Y" : "N", 1);
        default:
            return false;
    }
}

void DeviceModel::Queue(const char* data, std::size_t n) {
    if (n == 0) return;
    if (n > kOutputCapacity - outCount_) {
        ++stats_.overflowed;  // a host that never reads loses whole replies, not bytes
        return;
    }
    std::uint64_t due = nowNs_;
    if (pacing_) due = std::max(due, wireFreeNs_);
    for (std::size_t i = 0; i < n; ++i) {
        if (pacing_) due += byteNs_;
        const std::size_t at = (outHead_ + outCount_) % kOutputCapacity;
        out_[at] = data[i];
        outDueNs_[at] = due;
        ++outCount_;
    }
    wireFreeNs_ = due;
}

std::size_t DeviceModel::ReadOutput(char* out, std::size_t max, std::uint64_t nowUs) {
    Tick(nowUs);
    if (!out) return 0;
    std::size_t n = 0;
    while (n < max && outCount_ > 0 && outDueNs_[outHead_] <= nowNs_) {
        out[n++] = out_[outHead_];
        outHead_ = (outHead_ + 1) % kOutputCapacity;
        --outCount_;
    }
    return n;
}

std::string DeviceModel::ReadOutput(std::uint64_t nowUs) {
    std::string text(outCount_, '\0');
    text.resize(ReadOutput(&text[0], text.size(), nowUs));
    return text;
}

std::uint64_t DeviceModel::NextOutputUs() const {
    if (outCount_ == 0) return std::numeric_limits<std::uint64_t>::max();
    return (outDueNs_[outHead_] + 999) / 1000;
}

void DeviceModel::DiscardOutput(std::uint64_t nowUs) {
    Tick(nowUs);
    outHead_ = outCount_ = 0;
    wireFreeNs_ = std::min(wireFreeNs_, nowNs_);  // the transmitter stops mid-byte
}

}  // namespace quenta_sim

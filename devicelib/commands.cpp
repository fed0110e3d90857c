// The device commands: one table says, per command, what is sent and how the reply
// converts; one inner transaction and a few conversions carry all of them out.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "library.h"
#include "telvar.h"

namespace telvar {
namespace {

enum class Argument {
    None,       // plain form
    Amplitude,  // "%04hX" of the rounded amplitude in 0.1 V, read from the first out-value
    YesNo,      // "Y" or "N", read from the first out-value
    Hex,        // long argument form with the table's digit count
    Row,        // long argument form, refused from 8 on before the form is tried
};

enum class Reply {
    Ignored,     // anything up to the carriage return
    Tenths,      // integer check; double = value x 0.1
    Flag,        // Y/N check; int 1 or 0
    Word,        // integer check; low 16 bits
    Number,      // integer check; signed 32-bit
    EchoedCode,  // integer check; must equal the code sent
    Fields,      // hexadecimal fields, parsed from the last to the first
    Uptime,      // seconds and 1/256 s
    Text,        // copied with its terminator
    Display,     // hex pairs, 1024 bytes
    DisplayRow,  // row digit, then hex pairs, 128 bytes
};

enum class Scan { Short, Long };  // "%hX" or "%X"

enum class Unit {
    Milli,          // x 0.001
    Tenth,          // x 0.1
    Kelvin,         // (raw - 27315) x 0.01, degrees Celsius
    SignedMilli16,  // 16-bit two's complement, x 0.001
    SignedMilli20,  // 20-bit two's complement, x 0.001
    Count,          // stored as a 32-bit int, unconverted
};

struct Field {
    int position;
    Scan scan;
    Unit unit;
};

struct FieldList {
    const Field* fields;
    int count;
};

template <std::size_t N>
constexpr FieldList Fields(const Field (&fields)[N]) {
    return {fields, static_cast<int>(N)};
}

struct Command {
    const char* name;  // the exported function; labels its trace lines
    char character;
    Argument argument;
    int digits;   // of a Hex or Row argument
    int payload;  // characters before the carriage return; 0 = up to it
    Reply reply;
    const char* code;  // what an echoed code is called in trace lines
    FieldList fields;  // of a Fields reply, in payload order: one out-value each
    bool repaired;     // wrapped in repair and retry
};

// clang-format off
constexpr Field kHousekeepingFields[] = {
    {0, Scan::Short, Unit::Milli}, {4, Scan::Short, Unit::Milli}, {8, Scan::Short, Unit::Milli},
    {12, Scan::Short, Unit::Kelvin}};
constexpr Field kRfGeneratorFields[] = {
    {0, Scan::Long, Unit::Milli}, {6, Scan::Long, Unit::Milli}, {12, Scan::Long, Unit::Milli},
    {17, Scan::Long, Unit::Count}, {25, Scan::Short, Unit::Kelvin}, {29, Scan::Short, Unit::Kelvin}};
constexpr Field kPowerSupplyFields[] = {
    {0, Scan::Long, Unit::SignedMilli20}, {5, Scan::Short, Unit::SignedMilli16},
    {9, Scan::Short, Unit::Kelvin}};
constexpr Field kCapabilityFields[] = {
    {0, Scan::Short, Unit::Tenth}, {4, Scan::Short, Unit::Tenth}, {8, Scan::Long, Unit::Milli}};

constexpr FieldList kNoFields = {nullptr, 0};
using A = Argument;
using R = Reply;

//                           name                            char argument     digits payload reply          code       fields                          repaired
constexpr Command kGetAmplitude{"TELVAR_Get_Amplitude",         'A', A::None,      0,    4,   R::Tenths,     nullptr,   kNoFields,                      true};
constexpr Command kSetAmplitude{"TELVAR_Set_Amplitude",         'A', A::Amplitude, 0,    4,   R::Tenths,     nullptr,   kNoFields,                      true};
constexpr Command kGetEnable{"TELVAR_Get_Enable",               'B', A::None,      0,    1,   R::Flag,       nullptr,   kNoFields,                      true};
constexpr Command kSetEnable{"TELVAR_Set_Enable",               'B', A::YesNo,     0,    1,   R::Flag,       nullptr,   kNoFields,                      true};
constexpr Command kHousekeeping{"TELVAR_Get_HousekeepingData",  'H', A::None,      0,   16,   R::Fields,     nullptr,   Fields(kHousekeepingFields),    true};
constexpr Command kRfGenerator{"TELVAR_Get_RFGData",            'G', A::None,      0,   33,   R::Fields,     nullptr,   Fields(kRfGeneratorFields),     true};
constexpr Command kPowerSupply{"TELVAR_Get_PowerData",          'S', A::None,      0,   13,   R::Fields,     nullptr,   Fields(kPowerSupplyFields),     true};
constexpr Command kInterlock{"TELVAR_Get_InterlockState",       'I', A::None,      0,    1,   R::Flag,       nullptr,   kNoFields,                      true};
constexpr Command kKeypad{"TELVAR_SimulateKeypad",              'K', A::Hex,       2,    2,   R::EchoedCode, "KeyCode", kNoFields,                      true};
constexpr Command kEncoderButton{"TELVAR_SimulateEncoderButton",'E', A::None,      0,    0,   R::Ignored,    nullptr,   kNoFields,                      true};
constexpr Command kEncoder{"TELVAR_SimulateEncoder",            'E', A::Hex,       1,    1,   R::EchoedCode, "EncCode", kNoFields,                      true};
constexpr Command kDisplay{"TELVAR_ReadDisplay",                'L', A::None,      0, 2048,   R::Display,    nullptr,   kNoFields,                      true};
constexpr Command kDisplayRow{"TELVAR_ReadDisplayRow",          'l', A::Row,       1,  257,   R::DisplayRow, "Row",     kNoFields,                      true};
constexpr Command kCapability{"TELVAR_GetHardwareCapability",   'W', A::None,      0,   13,   R::Fields,     nullptr,   Fields(kCapabilityFields),      true};
constexpr Command kUptime{"TELVAR_GetUptime",                   'U', A::None,      0,   10,   R::Uptime,     nullptr,   kNoFields,                      true};
constexpr Command kFirmwareVersion{"TELVAR_FW_Ver",             'V', A::None,      0,    4,   R::Word,       nullptr,   kNoFields,                      true};
constexpr Command kFirmwareDate{"TELVAR_FW_Date",               'D', A::None,      0,   11,   R::Text,       nullptr,   kNoFields,                      true};
constexpr Command kProductId{"TELVAR_Prod_ID",                  'P', A::None,      0,    0,   R::Text,       nullptr,   kNoFields,                      true};
constexpr Command kProductNumber{"TELVAR_Prod_No",              'N', A::None,      0,    8,   R::Number,     nullptr,   kNoFields,                      true};
// The link's own commands; the repair uses the first, so neither is repaired.
constexpr Command kDevicePurge{"TELVAR_Device_Purge",           'z', A::None,      0,    1,   R::Flag,       nullptr,   kNoFields,                      false};
constexpr Command kBufferState{"TELVAR_Buffer_State",           'Z', A::None,      0,    1,   R::Flag,       nullptr,   kNoFields,                      false};
// clang-format on

constexpr int kDisplayBytes = 1024;
constexpr int kRowBytes = 128;
constexpr unsigned kRows = 8;

// One call of a command: the table row, the argument value and the caller's pointers.
struct Request {
    const Command* command;
    std::uint32_t value;
    void* const* outs;
};

template <typename T>
T& Out(const Request& request, int index) {
    return *static_cast<T*>(request.outs[index]);
}

std::int32_t Signed32(std::uint32_t value) {
    return value <= 0x7FFFFFFFu ? static_cast<std::int32_t>(value)
                                : -static_cast<std::int32_t>(~value) - 1;
}

std::int32_t Signed16(std::uint32_t value) {
    value &= 0xFFFFu;
    return value < 0x8000u ? static_cast<std::int32_t>(value)
                           : static_cast<std::int32_t>(value) - 0x10000;
}

std::int32_t Signed20(std::uint32_t value) {
    if (value & 0x80000u) value |= 0xFFF00000u;
    return Signed32(value);
}

// The low 16 bits of the amplitude in 0.1 V, rounded as the device expects. false for a
// value that has no such integer (not finite).
bool AmplitudeWord(double volts, std::uint32_t& word) {
    const double tenths = std::trunc(volts * 10.0 + 0.5);
    if (!std::isfinite(tenths)) return false;
    // fmod is exact, so this is the two's complement of any integer, however large.
    double low = std::fmod(tenths, 65536.0);
    if (low < 0) low += 65536.0;
    word = static_cast<std::uint32_t>(low);
    return true;
}

int RefuseArgument(unsigned short portNumber, const Command& command, const char* why) {
    Trace(portNumber, "%s: Wrong argument passed to the function: %s\n", command.name, why);
    return Store(portNumber, kWrongArgument);
}

int FormatArgument(unsigned short portNumber, const Command& command, std::uint32_t value) {
    switch (command.argument) {
        case Argument::None:
            return kOk;
        case Argument::Amplitude:
            std::snprintf(g_argument, kArgumentSize, "%04hX", static_cast<unsigned short>(value));
            return kOk;
        case Argument::YesNo:
            std::snprintf(g_argument, kArgumentSize, "%s", value != 0 ? "Y" : "N");
            return kOk;
        case Argument::Row:
            if (value >= kRows) {
                Trace(portNumber,
                      "%s: Wrong argument passed to the function: %s=%hu out of range\n",
                      command.name, command.code, static_cast<unsigned short>(value));
                return Store(portNumber, kWrongArgument);
            }
            return FormatLongArgument(portNumber, value, command.digits);
        case Argument::Hex:
            return FormatLongArgument(portNumber, value, command.digits);
    }
    return kOk;
}

int EchoMismatch(unsigned short portNumber, const Command& command, std::uint32_t expected,
                 std::uint32_t read) {
    Trace(portNumber, "%s: Wrong argument received: %s=%02hXh expected, %02hXh read\n",
          command.name, command.code, static_cast<unsigned short>(expected),
          static_cast<unsigned short>(read));
    return Store(portNumber, kWrongReply);
}

double Physical(Unit unit, std::uint32_t raw) {
    switch (unit) {
        case Unit::Milli:
            return raw * 0.001;
        case Unit::Tenth:
            return raw * 0.1;
        case Unit::Kelvin:
            return (static_cast<std::int32_t>(raw) - 27315) * 0.01;
        case Unit::SignedMilli16:
            return Signed16(raw) * 0.001;
        case Unit::SignedMilli20:
            return Signed20(raw) * 0.001;
        case Unit::Count:
            break;
    }
    return raw;
}

void WriteField(const Field& field, std::uint32_t raw, void* out) {
    if (field.unit == Unit::Count) {
        *static_cast<int*>(out) = Signed32(raw);
    } else {
        *static_cast<double*>(out) = Physical(field.unit, raw);
    }
}

// Right to left: each field is cut off by the terminator put on the field after it.
// Out-values are written as their fields convert; a failure is silent.
int ParseFields(unsigned short portNumber, const Request& request) {
    const FieldList& list = request.command->fields;
    for (int i = list.count - 1; i >= 0; --i) {
        const Field& field = list.fields[i];
        char* text = g_reply + field.position;
        std::uint32_t raw = 0;
        if (field.scan == Scan::Short) {
            unsigned short scanned = 0;
            if (std::sscanf(text, "%hX", &scanned) != 1) return Store(portNumber, kWrongReply);
            raw = scanned;
        } else {
            unsigned scanned = 0;
            if (std::sscanf(text, "%X", &scanned) != 1) return Store(portNumber, kWrongReply);
            raw = scanned;
        }
        WriteField(field, raw, request.outs[i]);
        *text = '\0';
    }
    return kOk;
}

// Both values or neither.
int ParseUptime(unsigned short portNumber, const Request& request) {
    unsigned fraction = 0;
    unsigned seconds = 0;
    bool converted = std::sscanf(g_reply + 8, "%X", &fraction) == 1;
    if (converted) {
        g_reply[8] = '\0';
        converted = std::sscanf(g_reply, "%X", &seconds) == 1;
    }
    if (!converted) {
        Trace(portNumber, "%s: Wrong argument received:", request.command->name);
        DumpReply(portNumber);
        TraceMore(portNumber, "Cannot obtain parameters\n");
        return Store(portNumber, kWrongReply);
    }
    Out<unsigned>(request, 0) = seconds;
    // The device counts 1/256 s; 255 gives 996 ms.
    Out<unsigned short>(request, 1) =
        static_cast<unsigned short>(static_cast<std::uint64_t>(fraction) * 1000 / 256);
    return kOk;
}

// Digits of display data: upper case only.
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int Unconvertible(unsigned short portNumber, const Command& command, char c) {
    // The whole-display read ends its message with a space, the row read with the colon.
    Trace(portNumber, "%s: Wrong argument received:%s", command.name,
          command.reply == Reply::Display ? " " : "");
    DumpReply(portNumber);
    TraceMore(portNumber, "Cannot convert character '%c'\n", c);
    return Store(portNumber, kWrongReply);
}

// Bytes decoded before a bad character stay written, a half pair as its high digit.
int DecodeDisplay(unsigned short portNumber, const Command& command, const char* text,
                  unsigned char* data, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        const int high = HexDigit(text[2 * i]);
        if (high < 0) return Unconvertible(portNumber, command, text[2 * i]);
        data[i] = static_cast<unsigned char>(high * 16);
        const int low = HexDigit(text[2 * i + 1]);
        if (low < 0) return Unconvertible(portNumber, command, text[2 * i + 1]);
        data[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return kOk;
}

int ConvertReply(unsigned short portNumber, const Request& request) {
    const Command& command = *request.command;
    const char character = command.character;
    std::uint32_t value = 0;
    int status = kOk;
    switch (command.reply) {
        case Reply::Ignored:
            return kOk;
        case Reply::Tenths:
            status = CheckInteger(portNumber, character, value);
            if (status == kOk) Out<double>(request, 0) = value * 0.1;
            return status;
        case Reply::Flag: {
            int flag = 0;
            status = CheckYesNo(portNumber, character, flag);
            if (status == kOk) Out<int>(request, 0) = flag;
            return status;
        }
        case Reply::Word:
            status = CheckInteger(portNumber, character, value);
            if (status == kOk) Out<unsigned short>(request, 0) = static_cast<unsigned short>(value);
            return status;
        case Reply::Number:
            status = CheckInteger(portNumber, character, value);
            if (status == kOk) Out<int>(request, 0) = Signed32(value);
            return status;
        case Reply::EchoedCode:
            status = CheckInteger(portNumber, character, value);
            if (status == kOk && value != request.value) {
                return EchoMismatch(portNumber, command, request.value, value);
            }
            return status;
        case Reply::Fields:
            return ParseFields(portNumber, request);
        case Reply::Uptime:
            return ParseUptime(portNumber, request);
        case Reply::Text:
            std::memcpy(request.outs[0], g_reply, g_replyLength);
            return kOk;
        case Reply::Display:
            return DecodeDisplay(portNumber, command, g_reply, &Out<unsigned char>(request, 0),
                                 kDisplayBytes);
        case Reply::DisplayRow: {
            const int row = HexDigit(g_reply[0]);
            if (row < 0) return Unconvertible(portNumber, command, g_reply[0]);
            if (static_cast<std::uint32_t>(row) != request.value) {
                return EchoMismatch(portNumber, command, request.value,
                                    static_cast<std::uint32_t>(row));
            }
            return DecodeDisplay(portNumber, command, g_reply + 1, &Out<unsigned char>(request, 0),
                                 kRowBytes);
        }
    }
    return kOk;
}

int InnerTransaction(unsigned short portNumber, const Request& request) {
    if (!InRange(portNumber)) return kPortOutOfRange;
    const Command& command = *request.command;
    int status = FormatArgument(portNumber, command, request.value);
    if (status != kOk) return status;
    status = CheckIfc(portNumber);
    if (status != kOk) return status;
    status = command.argument == Argument::None
                 ? WriteCommand(portNumber, command.character)
                 : WriteCommandArgument(portNumber, command.character);
    if (status != kOk) return status;
    status = ReadCommand(portNumber, command.character, command.payload);
    if (status != kOk) return status;
    status = ConvertReply(portNumber, request);
    if (status != kOk) return status;
    return Store(portNumber, kOk);
}

// Every exported command: range check, the caller's pointers and in-values checked once
// (a bad one is refused without traffic or repair), then the transaction.
int Execute(const Command& command, unsigned short portNumber, std::uint32_t value,
            std::initializer_list<void*> outs) {
    if (!InRange(portNumber)) return kPortOutOfRange;
    for (void* out : outs) {
        if (out == nullptr) return RefuseArgument(portNumber, command, "null pointer");
    }
    Request request{&command, value, outs.begin()};
    if (command.argument == Argument::Amplitude &&
        !AmplitudeWord(Out<double>(request, 0), request.value)) {
        return RefuseArgument(portNumber, command, "amplitude out of range");
    }
    if (command.argument == Argument::YesNo) request.value = Out<int>(request, 0) != 0;
    auto inner = [&request](unsigned short port) { return InnerTransaction(port, request); };
    return command.repaired ? RepairAndRetry(portNumber, inner) : inner(portNumber);
}

std::uint32_t LowByte(int code) {
    return static_cast<std::uint32_t>(code) & 0xFFu;
}

}  // namespace

int DevicePurge(unsigned short portNumber, int& purged) {
    void* const outs[] = {&purged};
    return InnerTransaction(portNumber, Request{&kDevicePurge, 0, outs});
}

}  // namespace telvar

using namespace telvar;

extern "C" {

int TELVAR_Device_Purge(unsigned short PortNumber, int* Purged) {
    return Execute(kDevicePurge, PortNumber, 0, {Purged});
}

int TELVAR_Buffer_State(unsigned short PortNumber, int* Empty) {
    return Execute(kBufferState, PortNumber, 0, {Empty});
}

int TELVAR_Get_Amplitude(unsigned short PortNumber, double* Amplitude) {
    return Execute(kGetAmplitude, PortNumber, 0, {Amplitude});
}

int TELVAR_Set_Amplitude(unsigned short PortNumber, double* Amplitude) {
    return Execute(kSetAmplitude, PortNumber, 0, {Amplitude});
}

int TELVAR_Get_Enable(unsigned short PortNumber, int* Enable) {
    return Execute(kGetEnable, PortNumber, 0, {Enable});
}

int TELVAR_Set_Enable(unsigned short PortNumber, int* Enable) {
    return Execute(kSetEnable, PortNumber, 0, {Enable});
}

int TELVAR_Get_HousekeepingData(unsigned short PortNumber, double* Voltage12V, double* Voltage5V,
                                double* Voltage3V, double* CPUTemperature) {
    return Execute(kHousekeeping, PortNumber, 0,
                   {Voltage12V, Voltage5V, Voltage3V, CPUTemperature});
}

int TELVAR_Get_RFGData(unsigned short PortNumber, double* Amplitude1, double* Amplitude2,
                       double* DrainVoltage, int* Frequency, double* HeatsinkTemperature,
                       double* CoilTemperature) {
    return Execute(
        kRfGenerator, PortNumber, 0,
        {Amplitude1, Amplitude2, DrainVoltage, Frequency, HeatsinkTemperature, CoilTemperature});
}

int TELVAR_Get_PowerData(unsigned short PortNumber, double* Voltage, double* Current,
                         double* HeatsinkTemperature) {
    return Execute(kPowerSupply, PortNumber, 0, {Voltage, Current, HeatsinkTemperature});
}

int TELVAR_Get_InterlockState(unsigned short PortNumber, int* Closed) {
    return Execute(kInterlock, PortNumber, 0, {Closed});
}

int TELVAR_SimulateKeypad(unsigned short PortNumber, int KeyCode) {
    return Execute(kKeypad, PortNumber, LowByte(KeyCode), {});
}

int TELVAR_SimulateEncoderButton(unsigned short PortNumber) {
    return Execute(kEncoderButton, PortNumber, 0, {});
}

int TELVAR_SimulateEncoder(unsigned short PortNumber, int EncCode) {
    return Execute(kEncoder, PortNumber, LowByte(EncCode), {});
}

int TELVAR_ReadDisplay(unsigned short PortNumber, unsigned char* Data) {
    return Execute(kDisplay, PortNumber, 0, {Data});
}

int TELVAR_ReadDisplayRow(unsigned short PortNumber, unsigned short Row, unsigned char* Data) {
    return Execute(kDisplayRow, PortNumber, Row, {Data});
}

int TELVAR_GetHardwareCapability(unsigned short PortNumber, double* MinAmplitude,
                                 double* MaxAmplitude, double* MaxSupplyVoltage) {
    return Execute(kCapability, PortNumber, 0, {MinAmplitude, MaxAmplitude, MaxSupplyVoltage});
}

int TELVAR_GetUptime(unsigned short PortNumber, unsigned int* Seconds,
                     unsigned short* Milliseconds) {
    return Execute(kUptime, PortNumber, 0, {Seconds, Milliseconds});
}

int TELVAR_FW_Ver(unsigned short PortNumber, unsigned short* Version) {
    return Execute(kFirmwareVersion, PortNumber, 0, {Version});
}

int TELVAR_FW_Date(unsigned short PortNumber, char* Date) {
    return Execute(kFirmwareDate, PortNumber, 0, {Date});
}

int TELVAR_Prod_ID(unsigned short PortNumber, char* Identification) {
    return Execute(kProductId, PortNumber, 0, {Identification});
}

int TELVAR_Prod_No(unsigned short PortNumber, int* Number) {
    return Execute(kProductNumber, PortNumber, 0, {Number});
}

}  // extern "C"

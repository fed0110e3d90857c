// The device commands: bytes on the wire, payload conversions, and their failures.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "telvar_fixture.h"

namespace {

class Commands : public TelvarTest {
  protected:
    void SetUp() override {
        TelvarTest::SetUp();
        OpenSlot();
    }
};

// ---------------------------------------------------------------------------------------
// Wire bytes

double g_amplitude;
int g_int;
double g_d[6];
unsigned g_seconds;
unsigned short g_word;
char g_text[8192];
unsigned char g_data[1024];

struct WireCase {
    const char* name;
    std::function<int()> call;
    std::string reply;
    std::string sent;
};

class Wire : public Commands, public ::testing::WithParamInterface<WireCase> {};

TEST_P(Wire, SendsTheCommandAndArgument) {
    const WireCase& c = GetParam();
    if (!c.reply.empty()) device.Script(c.reply);
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(Sent(), c.sent);
}

WireCase SetAmplitude(const char* name, double volts, const char* sent) {
    return {name,
            [volts] {
                g_amplitude = volts;
                return TELVAR_Set_Amplitude(2, &g_amplitude);
            },
            std::string(sent) + "\r", std::string(sent) + "\r"};
}

WireCase SetEnable(const char* name, int value, const char* sent) {
    return {name,
            [value] {
                g_int = value;
                return TELVAR_Set_Enable(2, &g_int);
            },
            std::string(sent) + "\r", std::string(sent) + "\r"};
}

WireCase Keypad(const char* name, int code, const char* sent) {
    return {name, [code] { return TELVAR_SimulateKeypad(2, code); }, std::string(sent) + "\r",
            std::string(sent) + "\r"};
}

WireCase Encoder(const char* name, int code, const char* sent) {
    return {name, [code] { return TELVAR_SimulateEncoder(2, code); }, std::string(sent) + "\r",
            std::string(sent) + "\r"};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Wire,
    ::testing::Values(
        WireCase{"GetAmplitude", [] { return TELVAR_Get_Amplitude(2, &g_amplitude); }, "A0064\r",
                 "A\r"},
        SetAmplitude("Amplitude12_34", 12.34, "A007B"),
        SetAmplitude("Amplitude0_04", 0.04, "A0000"),
        SetAmplitude("AmplitudeMinus1", -1.0, "AFFF7"),
        SetAmplitude("AmplitudeWrapsAt65536", 6554.0, "A0004"),
        SetAmplitude("AmplitudeMax", 6553.5, "AFFFF"),
        WireCase{"GetEnable", [] { return TELVAR_Get_Enable(2, &g_int); }, "BY\r", "B\r"},
        SetEnable("Enable5", 5, "BY"), SetEnable("EnableMinus1", -1, "BY"),
        SetEnable("Enable0", 0, "BN"),
        WireCase{"Housekeeping",
                 [] { return TELVAR_Get_HousekeepingData(2, g_d, g_d + 1, g_d + 2, g_d + 3); },
                 "H2EE0138809C4739F\r", "H\r"},
        WireCase{
            "RfGenerator",
            [] { return TELVAR_Get_RFGData(2, g_d, g_d + 1, g_d + 2, &g_int, g_d + 4, g_d + 5); },
            "G0186A000C3500FA0000CB7355739F7530\r", "G\r"},
        WireCase{"PowerSupply", [] { return TELVAR_Get_PowerData(2, g_d, g_d + 1, g_d + 2); },
                 "SFFC1880008000\r", "S\r"},
        WireCase{"Interlock", [] { return TELVAR_Get_InterlockState(2, &g_int); }, "IN\r", "I\r"},
        Keypad("Key10", 0x10, "K10"), Keypad("Key1FF", 0x1FF, "KFF"),
        Keypad("KeyMinus1", -1, "KFF"), Keypad("Key0", 0, "K00"),
        WireCase{"EncoderButton", [] { return TELVAR_SimulateEncoderButton(2); }, "E\r", "E\r"},
        Encoder("Enc10", 10, "EA"), Encoder("Enc0", 0, "E0"), Encoder("Enc10F", 0x10F, "EF"),
        WireCase{"Display", [] { return TELVAR_ReadDisplay(2, g_data); },
                 "L" + std::string(2048, '0') + "\r", "L\r"},
        WireCase{"DisplayRow3", [] { return TELVAR_ReadDisplayRow(2, 3, g_data); },
                 "l3" + std::string(256, '0') + "\r", "l3\r"},
        WireCase{"DisplayRow7", [] { return TELVAR_ReadDisplayRow(2, 7, g_data); },
                 "l7" + std::string(256, '0') + "\r", "l7\r"},
        WireCase{"Capability",
                 [] { return TELVAR_GetHardwareCapability(2, g_d, g_d + 1, g_d + 2); },
                 "W00640FA0186A0\r", "W\r"},
        WireCase{"Uptime", [] { return TELVAR_GetUptime(2, &g_seconds, &g_word); }, "U00000E1080\r",
                 "U\r"},
        WireCase{"FirmwareVersion", [] { return TELVAR_FW_Ver(2, &g_word); }, "V0114\r", "V\r"},
        WireCase{"FirmwareDate", [] { return TELVAR_FW_Date(2, g_text); }, "DMar 05 2024\r", "D\r"},
        WireCase{"ProductId", [] { return TELVAR_Prod_ID(2, g_text); }, "PQUENTA\r", "P\r"},
        WireCase{"ProductNumber", [] { return TELVAR_Prod_No(2, &g_int); }, "N000004D2\r", "N\r"},
        WireCase{"DevicePurge", [] { return TELVAR_Device_Purge(2, &g_int); }, "", "z\r"},
        WireCase{"BufferState", [] { return TELVAR_Buffer_State(2, &g_int); }, "ZY\r", "Z\r"}),
    [](const ::testing::TestParamInfo<WireCase>& info) { return info.param.name; });

// An argument that does not fit its digit: nothing of the command is sent, yet the
// repair runs (and purges) and the retry is refused again.
TEST_F(Commands, EncoderCode16IsRefusedWithRepair) {
    StartTrace();
    const int purges = fake_serial::View(kCom).purges;
    EXPECT_EQ(TELVAR_SimulateEncoder(kSlot, 16), -15);
    EXPECT_EQ(TELVAR_State(kSlot), -15);
    EXPECT_EQ(device.Commands(), std::vector<std::string>{"z"});
    EXPECT_GT(fake_serial::View(kCom).purges, purges);
    const std::string refused = Line(
        "WriteCommand-long: Wrong argument passed to the function: long=16, digits=1 => "
        "'10'\n");
    EXPECT_EQ(FinishTrace(), TraceFile(refused + Repair() + refused));
}

TEST_F(Commands, Row8IsRefusedWithRepair) {
    StartTrace();
    std::memset(g_data, 0x5A, sizeof g_data);
    EXPECT_EQ(TELVAR_ReadDisplayRow(kSlot, 8, g_data), -15);
    EXPECT_EQ(device.Commands(), std::vector<std::string>{"z"});
    EXPECT_EQ(g_data[0], 0x5A);
    const std::string refused =
        Line("TELVAR_ReadDisplayRow: Wrong argument passed to the function: Row=8 out of range\n");
    EXPECT_EQ(FinishTrace(), TraceFile(refused + Repair() + refused));
}

// ---------------------------------------------------------------------------------------
// Conversions

TEST_F(Commands, AmplitudeIsTenthsOfAVolt) {
    device.Script("A007B\r");
    double amplitude = 12.34;
    EXPECT_EQ(TELVAR_Set_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 12.3, 1e-9);
    device.Script("AFFFF\r");
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 6553.5, 1e-9);
    // The scan stops at the first non-digit.
    device.Script("A12G4\r");
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 1.8, 1e-9);
}

TEST_F(Commands, EnableTakesTheEchoedState) {
    device.Script("BN\r");
    int enable = 5;
    EXPECT_EQ(TELVAR_Set_Enable(kSlot, &enable), 0);
    EXPECT_EQ(enable, 0);
    device.Script("IY\r");
    EXPECT_EQ(TELVAR_Get_InterlockState(kSlot, &enable), 0);
    EXPECT_EQ(enable, 1);
}

TEST_F(Commands, HousekeepingData) {
    device.Script("H2EE0138809C4739F\r");
    double v12 = 0, v5 = 0, v3 = 0, cpu = 0;
    EXPECT_EQ(TELVAR_Get_HousekeepingData(kSlot, &v12, &v5, &v3, &cpu), 0);
    EXPECT_NEAR(v12, 12.0, 1e-9);
    EXPECT_NEAR(v5, 5.0, 1e-9);
    EXPECT_NEAR(v3, 2.5, 1e-9);
    EXPECT_NEAR(cpu, 22.84, 1e-9);
    device.Script("H0000FFFF00000000\r");
    EXPECT_EQ(TELVAR_Get_HousekeepingData(kSlot, &v12, &v5, &v3, &cpu), 0);
    EXPECT_NEAR(v5, 65.535, 1e-9);
    EXPECT_NEAR(cpu, -273.15, 1e-9);
}

TEST_F(Commands, PowerDataSignExtension) {
    const struct {
        std::string payload;
        double volts, amperes, celsius;
    } table[] = {
        {"FFC1880008000", -1.0, -32.768, 54.53},
        {"0FA00"
         "03E8"
         "7530",
         64.0, 1.0, 26.85},
        {"7FFFF"
         "7FFF"
         "6AB3",
         524.287, 32.767, 0.0},
        {"80000"
         "FFFF"
         "0000",
         -524.288, -0.001, -273.15},
    };
    for (const auto& c : table) {
        device.Script("S" + c.payload + "\r");
        double v = 0, a = 0, t = 0;
        EXPECT_EQ(TELVAR_Get_PowerData(kSlot, &v, &a, &t), 0) << c.payload;
        EXPECT_NEAR(v, c.volts, 1e-9) << c.payload;
        EXPECT_NEAR(a, c.amperes, 1e-9) << c.payload;
        EXPECT_NEAR(t, c.celsius, 1e-9) << c.payload;
    }
}

TEST_F(Commands, RfGeneratorData) {
    device.Script("G0186A000C3500FA0000CB7355739F7530\r");
    double a1 = 0, a2 = 0, drain = 0, heatsink = 0, coil = 0;
    int frequency = 0;
    EXPECT_EQ(TELVAR_Get_RFGData(kSlot, &a1, &a2, &drain, &frequency, &heatsink, &coil), 0);
    EXPECT_NEAR(a1, 100.0, 1e-9);
    EXPECT_NEAR(a2, 50.0, 1e-9);
    EXPECT_NEAR(drain, 64.0, 1e-9);
    EXPECT_EQ(frequency, 13333333);
    EXPECT_NEAR(heatsink, 22.84, 1e-9);
    EXPECT_NEAR(coil, 26.85, 1e-9);
    device.Script("G" + std::string(33, 'F') + "\r");
    EXPECT_EQ(TELVAR_Get_RFGData(kSlot, &a1, &a2, &drain, &frequency, &heatsink, &coil), 0);
    EXPECT_NEAR(a1, 16777.215, 1e-9);
    EXPECT_NEAR(drain, 1048.575, 1e-9);
    EXPECT_EQ(frequency, -1);
}

TEST_F(Commands, HardwareCapability) {
    device.Script("W00640FA0186A0\r");
    double minimum = 0, maximum = 0, supply = 0;
    EXPECT_EQ(TELVAR_GetHardwareCapability(kSlot, &minimum, &maximum, &supply), 0);
    EXPECT_NEAR(minimum, 10.0, 1e-9);
    EXPECT_NEAR(maximum, 400.0, 1e-9);
    EXPECT_NEAR(supply, 100.0, 1e-9);
}

TEST_F(Commands, UptimeFractionInMilliseconds) {
    const struct {
        const char* payload;
        unsigned seconds;
        unsigned short milliseconds;
    } cases[] = {
        {"00000E1080", 3600, 500},
        {"00000E10FF", 3600, 996},
        {"FFFFFFFF00", 0xFFFFFFFFu, 0},
        {"0000000101", 1, 3},
    };
    for (const auto& c : cases) {
        device.Script(std::string("U") + c.payload + "\r");
        unsigned seconds = 7;
        unsigned short milliseconds = 7;
        EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &milliseconds), 0) << c.payload;
        EXPECT_EQ(seconds, c.seconds) << c.payload;
        EXPECT_EQ(milliseconds, c.milliseconds) << c.payload;
    }
}

TEST_F(Commands, VersionAndProductNumber) {
    unsigned short version = 0;
    device.Script("V0114\r");
    EXPECT_EQ(TELVAR_FW_Ver(kSlot, &version), 0);
    EXPECT_EQ(version, 0x0114);
    int number = 0;
    device.Script("N000004D2\r");
    EXPECT_EQ(TELVAR_Prod_No(kSlot, &number), 0);
    EXPECT_EQ(number, 1234);
    device.Script("NFFFFFFFF\r");
    EXPECT_EQ(TELVAR_Prod_No(kSlot, &number), 0);
    EXPECT_EQ(number, -1);
}

TEST_F(Commands, TextsAreCopiedWithTheirTerminator) {
    char date[16];
    std::memset(date, '#', sizeof date);
    device.Script("DMar 05 2024\r");
    EXPECT_EQ(TELVAR_FW_Date(kSlot, date), 0);
    EXPECT_STREQ(date, "Mar 05 2024");
    EXPECT_EQ(date[12], '#');

    std::memset(g_text, '#', sizeof g_text);
    device.Script("P\r");
    EXPECT_EQ(TELVAR_Prod_ID(kSlot, g_text), 0);
    EXPECT_STREQ(g_text, "");
    EXPECT_EQ(g_text[1], '#');

    // The longest identification fills the documented 8192 bytes exactly.
    const std::string longest(8191, 'Q');
    device.Script("P" + longest + "\r");
    EXPECT_EQ(TELVAR_Prod_ID(kSlot, g_text), 0);
    EXPECT_EQ(std::string(g_text), longest);
}

TEST_F(Commands, DisplayBytesFromHexPairs) {
    std::string payload;
    for (int i = 0; i < 1024; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", (i * 7) & 0xFF);
        payload += pair;
    }
    device.Script("L" + payload + "\r");
    std::memset(g_data, 0, sizeof g_data);
    EXPECT_EQ(TELVAR_ReadDisplay(kSlot, g_data), 0);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(g_data[i], (i * 7) & 0xFF) << i;

    unsigned char row[129];
    std::memset(row, 0x5A, sizeof row);
    device.Script("l5" + payload.substr(0, 256) + "\r");
    EXPECT_EQ(TELVAR_ReadDisplayRow(kSlot, 5, row), 0);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(row[i], (i * 7) & 0xFF) << i;
    EXPECT_EQ(row[128], 0x5A);
}

TEST_F(Commands, EncoderButtonIgnoresThePayloadAndClearsTheStatus) {
    device.Script("ZX\r");
    int empty = 0;
    ASSERT_EQ(TELVAR_Buffer_State(kSlot, &empty), -14);
    device.Script("E\r");
    EXPECT_EQ(TELVAR_SimulateEncoderButton(kSlot), 0);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
    device.Script("Eanything at all\r");
    EXPECT_EQ(TELVAR_SimulateEncoderButton(kSlot), 0);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
}

// ---------------------------------------------------------------------------------------
// Failures

TEST_F(Commands, HousekeepingFieldFailureIsSilent) {
    StartTrace();
    device.Rule('H', "H2EE01388ZZZZ739F\r");
    double v12 = -1, v5 = -1, v3 = -1, cpu = -1;
    EXPECT_EQ(TELVAR_Get_HousekeepingData(kSlot, &v12, &v5, &v3, &cpu), -14);
    EXPECT_EQ(TELVAR_State(kSlot), -14);
    EXPECT_NEAR(cpu, 22.84, 1e-9);
    EXPECT_EQ(v3, -1);
    EXPECT_EQ(v5, -1);
    EXPECT_EQ(v12, -1);
    EXPECT_EQ(FinishTrace(), TraceFile(Repair()));
}

TEST_F(Commands, PowerAndRfGeneratorFieldFailuresAreSilent) {
    StartTrace();
    device.Rule('S', "SFFC18XXXX8000\r");
    double v = -1, a = -1, t = -1;
    EXPECT_EQ(TELVAR_Get_PowerData(kSlot, &v, &a, &t), -14);
    EXPECT_NEAR(t, 54.53, 1e-9);
    EXPECT_EQ(a, -1);
    EXPECT_EQ(v, -1);

    device.Rule('G', "G0186A000C3500FA00 0CB7355739F7530\r");
    double a1 = -1, a2 = -1, drain = -1, heatsink = -1, coil = -1;
    int frequency = -1;
    // A leading blank is skipped by the scan, so this field still converts.
    EXPECT_EQ(TELVAR_Get_RFGData(kSlot, &a1, &a2, &drain, &frequency, &heatsink, &coil), 0);
    EXPECT_EQ(frequency, 0xCB7355);
    device.Rule('G', "G0186A000C3500FA00X0CB7355739F7530\r");
    frequency = -1;
    a1 = a2 = drain = heatsink = coil = -1;
    EXPECT_EQ(TELVAR_Get_RFGData(kSlot, &a1, &a2, &drain, &frequency, &heatsink, &coil), -14);
    EXPECT_NEAR(coil, 26.85, 1e-9);
    EXPECT_NEAR(heatsink, 22.84, 1e-9);
    EXPECT_EQ(frequency, -1);
    EXPECT_EQ(drain, -1);
    EXPECT_EQ(a2, -1);
    EXPECT_EQ(a1, -1);

    device.Rule('W', "W0064Z000186A0\r");
    double minimum = -1, maximum = -1, supply = -1;
    EXPECT_EQ(TELVAR_GetHardwareCapability(kSlot, &minimum, &maximum, &supply), -14);
    EXPECT_NEAR(supply, 100.0, 1e-9);
    EXPECT_EQ(maximum, -1);
    EXPECT_EQ(minimum, -1);
    EXPECT_EQ(FinishTrace(), TraceFile(Repair() + Repair() + Repair()));
}

TEST_F(Commands, UptimeFailureTracesAndWritesNothing) {
    StartTrace();
    device.Rule('U', "UG0000E1080\r");
    unsigned seconds = 7;
    unsigned short milliseconds = 7;
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &milliseconds), -14);
    EXPECT_EQ(seconds, 7u);
    EXPECT_EQ(milliseconds, 7);
    // The seconds field was cut off at the fraction before it failed.
    const std::string failed = Line("TELVAR_GetUptime: Wrong argument received:") +
                               "Data read: 'G0000E10\\x000\\x00'\nCannot obtain parameters\n";
    device.Rule('U', "U00000E10ZZ\r");
    EXPECT_EQ(TELVAR_GetUptime(kSlot, &seconds, &milliseconds), -14);
    EXPECT_EQ(seconds, 7u);
    const std::string fractionFailed = Line("TELVAR_GetUptime: Wrong argument received:") +
                                       "Data read: '00000E10ZZ\\x00'\nCannot obtain parameters\n";
    EXPECT_EQ(FinishTrace(),
              TraceFile(failed + Repair() + failed + fractionFailed + Repair() + fractionFailed));
}

// Single-value replies fail through the reply checks, each with its line and dump, and
// leave the out-value alone.
struct CheckCase {
    const char* name;
    char command;
    std::string reply;
    std::function<int()> call;
    std::function<bool()> untouched;
    std::string failed;  // the failure's lines, twice in the trace around one repair
};

class ReplyChecks : public Commands, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(ReplyChecks, FailWithMinus14) {
    const CheckCase& c = GetParam();
    StartTrace();
    device.Rule(c.command, c.reply);
    g_amplitude = -1;
    g_int = -1;
    g_word = 0xBEEF;
    EXPECT_EQ(c.call(), -14);
    EXPECT_EQ(TELVAR_State(kSlot), -14);
    EXPECT_TRUE(c.untouched());
    EXPECT_EQ(FinishTrace(), TraceFile(c.failed + Repair() + c.failed));
}

std::string IntLine(char command, const std::string& dump) {
    return TelvarTest::Line(std::string("ReadCommand-int: Wrong argument received: command='") +
                            command + "', ") +
           "Data read: '" + dump + "'\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyChecks,
    ::testing::Values(
        CheckCase{"Amplitude", 'A', "AXYZW\r", [] { return TELVAR_Get_Amplitude(2, &g_amplitude); },
                  [] { return g_amplitude == -1; }, IntLine('A', "XYZW\\x00")},
        CheckCase{"SetAmplitudeSignWithoutDigits", 'A', "A-XYZ\r",
                  [] {
                      g_amplitude = 1.0;
                      return TELVAR_Set_Amplitude(2, &g_amplitude);
                  },
                  [] { return g_amplitude == 1.0; }, IntLine('A', "-XYZ\\x00")},
        CheckCase{"EnableLowerCase", 'B', "By\r", [] { return TELVAR_Get_Enable(2, &g_int); },
                  [] { return g_int == -1; },
                  TelvarTest::Line("ReadCommand-bool: Wrong argument received: command='B', ") +
                      "Data read: 'y\\x00'\n"},
        CheckCase{"Interlock", 'I', "I1\r", [] { return TELVAR_Get_InterlockState(2, &g_int); },
                  [] { return g_int == -1; },
                  TelvarTest::Line("ReadCommand-bool: Wrong argument received: command='I', ") +
                      "Data read: '1\\x00'\n"},
        CheckCase{"FirmwareVersion", 'V', "V.114\r", [] { return TELVAR_FW_Ver(2, &g_word); },
                  [] { return g_word == 0xBEEF; }, IntLine('V', ".114\\x00")},
        CheckCase{"ProductNumber", 'N', "N\x01\x02\x03\x04\x05\x06\x07\xFF\r",
                  [] { return TELVAR_Prod_No(2, &g_int); }, [] { return g_int == -1; },
                  IntLine('N', "\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\xFF\\x00")},
        CheckCase{"KeypadNotANumber", 'K', "KG0\r", [] { return TELVAR_SimulateKeypad(2, 0x10); },
                  [] { return true; }, IntLine('K', "G0\\x00")},
        CheckCase{"KeypadEcho", 'K', "K11\r", [] { return TELVAR_SimulateKeypad(2, 0x10); },
                  [] { return true; },
                  TelvarTest::Line("TELVAR_SimulateKeypad: Wrong argument received: "
                                   "KeyCode=10h expected, 11h read\n")},
        CheckCase{"EncoderEcho", 'E', "EB\r", [] { return TELVAR_SimulateEncoder(2, 10); },
                  [] { return true; },
                  TelvarTest::Line("TELVAR_SimulateEncoder: Wrong argument received: "
                                   "EncCode=0Ah expected, 0Bh read\n")},
        CheckCase{"RowEcho", 'l', "l4" + std::string(256, '1') + "\r",
                  [] {
                      std::memset(g_data, 0x5A, sizeof g_data);
                      return TELVAR_ReadDisplayRow(2, 3, g_data);
                  },
                  [] { return g_data[0] == 0x5A && g_data[127] == 0x5A; },
                  TelvarTest::Line("TELVAR_ReadDisplayRow: Wrong argument received: Row=03h "
                                   "expected, 04h read\n")},
        CheckCase{"RowDigit", 'l', "lx" + std::string(256, '1') + "\r",
                  [] {
                      std::memset(g_data, 0x5A, sizeof g_data);
                      return TELVAR_ReadDisplayRow(2, 3, g_data);
                  },
                  [] { return g_data[0] == 0x5A; },
                  TelvarTest::Line("TELVAR_ReadDisplayRow: Wrong argument received:") +
                      "Data read: 'x" + std::string(256, '1') + "\\x00'\n" +
                      "Cannot convert character 'x'\n"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// Lower-case digits are not display data; what was decoded before stays, a half pair
// as its high digit.
TEST_F(Commands, DisplayStopsAtTheFirstBadCharacter) {
    StartTrace();
    const std::string payload =
        "01"
        "2a" +
        std::string(2044, '0');
    device.Rule('L', "L" + payload + "\r");
    std::memset(g_data, 0x5A, sizeof g_data);
    EXPECT_EQ(TELVAR_ReadDisplay(kSlot, g_data), -14);
    EXPECT_EQ(g_data[0], 0x01);
    EXPECT_EQ(g_data[1], 0x20);
    EXPECT_EQ(g_data[2], 0x5A);
    const std::string failed = Line("TELVAR_ReadDisplay: Wrong argument received: ") +
                               "Data read: '" + payload + "\\x00'\n" +
                               "Cannot convert character 'a'\n";
    EXPECT_EQ(FinishTrace(), TraceFile(failed + Repair() + failed));
}

// Unusable pointers and values are refused at once: stored, traced, no traffic, no repair.
struct RefusalCase {
    const char* name;
    std::function<int()> call;
    std::string line;
};

class Refusals : public Commands, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, GiveMinus15WithoutTraffic) {
    const RefusalCase& c = GetParam();
    StartTrace();
    EXPECT_EQ(c.call(), -15);
    EXPECT_EQ(TELVAR_State(kSlot), -15);
    EXPECT_TRUE(fake_serial::Calls().empty());
    EXPECT_TRUE(device.Commands().empty());
    EXPECT_EQ(FinishTrace(), TraceFile(Line(c.line)));
}

RefusalCase Null(const char* name, const char* function, std::function<int()> call) {
    return {name, std::move(call),
            std::string(function) + ": Wrong argument passed to the function: null pointer\n"};
}

double g_nan = std::numeric_limits<double>::quiet_NaN();
double g_huge = 1e308;

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusals,
    ::testing::Values(
        Null("DevicePurge", "TELVAR_Device_Purge", [] { return TELVAR_Device_Purge(2, nullptr); }),
        Null("BufferState", "TELVAR_Buffer_State", [] { return TELVAR_Buffer_State(2, nullptr); }),
        Null("GetAmplitude", "TELVAR_Get_Amplitude",
             [] { return TELVAR_Get_Amplitude(2, nullptr); }),
        Null("SetAmplitude", "TELVAR_Set_Amplitude",
             [] { return TELVAR_Set_Amplitude(2, nullptr); }),
        Null("GetEnable", "TELVAR_Get_Enable", [] { return TELVAR_Get_Enable(2, nullptr); }),
        Null("SetEnable", "TELVAR_Set_Enable", [] { return TELVAR_Set_Enable(2, nullptr); }),
        Null("Housekeeping", "TELVAR_Get_HousekeepingData",
             [] { return TELVAR_Get_HousekeepingData(2, g_d, g_d, g_d, nullptr); }),
        Null("RfGenerator", "TELVAR_Get_RFGData",
             [] { return TELVAR_Get_RFGData(2, g_d, g_d, g_d, nullptr, g_d, g_d); }),
        Null("PowerSupply", "TELVAR_Get_PowerData",
             [] { return TELVAR_Get_PowerData(2, nullptr, g_d, g_d); }),
        Null("Interlock", "TELVAR_Get_InterlockState",
             [] { return TELVAR_Get_InterlockState(2, nullptr); }),
        Null("Display", "TELVAR_ReadDisplay", [] { return TELVAR_ReadDisplay(2, nullptr); }),
        Null("DisplayRow", "TELVAR_ReadDisplayRow",
             [] { return TELVAR_ReadDisplayRow(2, 1, nullptr); }),
        Null("Capability", "TELVAR_GetHardwareCapability",
             [] { return TELVAR_GetHardwareCapability(2, g_d, nullptr, g_d); }),
        Null("UptimeSeconds", "TELVAR_GetUptime",
             [] { return TELVAR_GetUptime(2, nullptr, &g_word); }),
        Null("UptimeMilliseconds", "TELVAR_GetUptime",
             [] { return TELVAR_GetUptime(2, &g_seconds, nullptr); }),
        Null("FirmwareVersion", "TELVAR_FW_Ver", [] { return TELVAR_FW_Ver(2, nullptr); }),
        Null("FirmwareDate", "TELVAR_FW_Date", [] { return TELVAR_FW_Date(2, nullptr); }),
        Null("ProductId", "TELVAR_Prod_ID", [] { return TELVAR_Prod_ID(2, nullptr); }),
        Null("ProductNumber", "TELVAR_Prod_No", [] { return TELVAR_Prod_No(2, nullptr); }),
        RefusalCase{"AmplitudeNotANumber", [] { return TELVAR_Set_Amplitude(2, &g_nan); },
                    "TELVAR_Set_Amplitude: Wrong argument passed to the function: amplitude "
                    "out of range\n"},
        RefusalCase{"AmplitudeOverflows", [] { return TELVAR_Set_Amplitude(2, &g_huge); },
                    "TELVAR_Set_Amplitude: Wrong argument passed to the function: amplitude "
                    "out of range\n"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

}  // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cycling.h"
#include "ombrel_device_fixture.h"
#include "protocol.h"
#include "scripted_device.h"

namespace {

// A small deterministic device: fixed identity and housekeeping, an amplitude that it
// clamps to 0..400 V, RF state, interlock. RF-generator data follow the amplitude
// while RF is on; with ramps on, amplitude 1 (in mV) and the coil temperature (in
// thousandths of a kelvin above 20 degrees Celsius) count the milliseconds since the
// last amplitude command, so a row's statistics show which samples it counted.
struct MiniDevice {
    int amplitudeTenths = 50;
    bool rf = false;
    bool interlockClosed = true;
    bool ramps = false;
    std::uint64_t lastSetMs = 0;

    bool Answer(const std::string& command, std::string& reply) {
        char text[64];
        const std::string arg = command.substr(1);
        switch (command[0]) {
            case 'N':
                reply = "N000004D2";
                break;
            case 'P':
                reply = "PQUENTA test device";
                break;
            case 'V':
                reply = "V0114";
                break;
            case 'D':
                reply = "DApr 20 2015";
                break;
            case 'W':
                reply = "W00000FA0186A0";
                break;
            case 'H':
                reply = "H2EE0138809C4739F";
                break;
            case 'I':
                reply = interlockClosed ? "IY" : "IN";
                break;
            case 'U': {
                const std::uint64_t ms = 3600000 + fake_serial::NowMs();
                std::snprintf(text, sizeof text, "U%08X%02X", unsigned(ms / 1000),
                              unsigned(ms % 1000 * 256 / 1000));
                reply = text;
                break;
            }
            case 'A':
                if (!arg.empty()) {
                    const long tenths = std::strtol(arg.c_str(), nullptr, 16);
                    amplitudeTenths = tenths >= 0x8000 ? 0 : std::min(tenths, 4000L);
                    lastSetMs = fake_serial::NowMs();
                }
                std::snprintf(text, sizeof text, "A%04X", amplitudeTenths);
                reply = text;
                break;
            case 'B':
                if (!arg.empty()) rf = arg == "Y";
                reply = rf ? "BY" : "BN";
                break;
            case 'G': {
                const unsigned elapsed = unsigned(fake_serial::NowMs() - lastSetMs);
                const unsigned amplitudeMv = rf ? unsigned(amplitudeTenths) * 100 : 0;
                const unsigned coil = 29315 + (ramps ? elapsed / 10 : 1500);
                std::snprintf(text, sizeof text, "G%06X%06X%05X%08X%04X%04X",
                              ramps ? elapsed : amplitudeMv, amplitudeMv / 2, rf ? 24000u : 0u,
                              13560000u, 30315u, coil);
                reply = text;
                break;
            }
            case 'S':
                std::snprintf(text, sizeof text, "S%05X%04X%04X", 48000u,
                              rf ? unsigned(amplitudeTenths) * 10 : 0u, 29815u);
                reply = text;
                break;
            default:
                return false;
        }
        reply += "\r";
        return true;
    }
};

// Text mode: the protocol file has Windows line ends on Windows.
std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Expected lines: exact text, or a regular expression after "re:".
void ExpectLines(const std::string& text, const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = Lines(text);
    for (std::size_t i = 0; i < std::max(lines.size(), expected.size()); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        ASSERT_LT(i, lines.size()) << "missing: " << expected[i];
        ASSERT_LT(i, expected.size()) << "extra: " << lines[i];
        if (expected[i].rfind("re:", 0) == 0) {
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(expected[i].substr(3)))) << lines[i];
        } else {
            EXPECT_EQ(lines[i], expected[i]);
        }
    }
}

const std::vector<std::string> kHead = {
    R"(re:Test protocol created at (Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d/\d\d/\d{4}, \d\d:\d\d:\d\d)",
    "",
    "Product number: 1234",
    "Product identification: QUENTA test device",
    "Firmware version: 1.20",
    "Firmware date: Apr 20 2015",
    "",
    "Hardware capabilities:",
    "\tMinimum amplitude: 0V",
    "\tMaximum amplitude: 400V",
    "\tMaximum supply voltage: 100.0V",
    "",
    R"(re:Device uptime: \d+:\d\d:\d\d\.\d\d sec\.)",
    "",
    "Housekeeping data:",
    "\t12V: 12.000V \261 0.00mV (+0.00mV, -0.00mV)",
    "\t5V:  5.000V \261 0.00mV (+0.00mV, -0.00mV)",
    "\t3V:  2.500V \261 0.00mV (+0.00mV, -0.00mV)",
    "\tCPU: 22.840\260C \261 0.0mK (+0.0mK, -0.0mK)",
    "",
    "Interlock is closed",
    "",
    "Set RF amplitude: 5.0V",
    "",
    "Testing RF amplitude:",
    "Amplitude\tAmplitude 1\tAmplitude 2\tDrain Voltage\tFrequency\tHeatsink "
    "Temperature\tCoil Temperature\tVoltage\tCurrent\tHeatsink Temperature",
};

const std::vector<std::string> kTail = {
    "Testing finished",       "", R"(re:Device uptime: \d+:\d\d:\d\d\.\d\d sec\.)", "",
    "Test protocol finished",
};

// A step row of duration 0: one sample before settling, so the electrical fields
// have no readings and the temperatures one each.
std::string ZeroDurationRow(const char* amplitude) {
    return std::string(amplitude) +
           "\t0000.0000V \261 0.00mV (+0.0mV, -0.0mV)"
           "\t0000.0000V \261 0.00mV (+0.0mV, -0.0mV)"
           "\t000.0000V \261 0.00mV (+0.0mV, -0.0mV)"
           "\t0.00000MHz \261 0.000kHz (+0.00kHz, -0.00kHz)"
           "\t30.000\260C \261 0.0mK (+0.0mK, -0.0mK)"
           "\t35.000\260C \261 0.0mK (+0.0mK, -0.0mK)"
           "\t00.0000V \261 0.00mV (+0.0mV, -0.0mV)"
           "\t0.0000A \261 0.00mA (+0.0mA, -0.0mA)"
           "\t25.000\260C \261 0.0mK (+0.0mK, -0.0mK)";
}

std::vector<std::string> Protocol(const std::vector<std::string>& rows) {
    std::vector<std::string> all = kHead;
    all.insert(all.end(), rows.begin(), rows.end());
    all.insert(all.end(), kTail.begin(), kTail.end());
    return all;
}

class ProtocolTest : public OmbrelDeviceTest {
  protected:
    fake_serial::Peer& Device() override { return device; }

    void SetUp() override {
        device.SetHandler([this](const std::string& command, std::string& reply) {
            // A sweep that never ends meets a silent device instead of hanging the test.
            if (device.Commands().size() > kMostCommands) return false;
            return mini.Answer(command, reply);
        });
        path = ::testing::TempDir() + "ombrel_protocol_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        OmbrelDeviceTest::SetUp();
        device.ClearCommands();
    }

    void TearDown() override {
        std::remove(path.c_str());
        OmbrelDeviceTest::TearDown();
    }

    std::string Create(double start, double end, double step, double duration, bool pause = false) {
        return Console(
            [&] { ombrel::CreateTestProtocol(path.c_str(), start, end, step, duration, pause); });
    }

    // The commands that change the device, in order: RF state and amplitude settings.
    std::vector<std::string> Settings() const {
        std::vector<std::string> settings;
        for (const std::string& c : device.Commands()) {
            if ((c[0] == 'A' || c[0] == 'B') && c.size() > 1) settings.push_back(c);
        }
        return settings;
    }

    // Field `column` (2..10) of a step row.
    static std::string Field(const std::string& row, int column) {
        std::vector<std::string> fields;
        std::istringstream in(row);
        for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
        return column <= static_cast<int>(fields.size()) ? fields[column - 1] : "";
    }

    static constexpr std::size_t kMostCommands = 2000;
    ScriptedDevice device;
    MiniDevice mini;
    std::string path;
};

TEST_F(ProtocolTest, WholeRunFileLayoutAndDeviceSequence) {
    const std::string out = Create(1, 3, 1, 0);
    ExpectLines(ReadFile(path), Protocol({ZeroDurationRow("0001.0V"), ZeroDurationRow("0002.0V"),
                                          ZeroDurationRow("0003.0V")}));
    // RF on before the sweep, off after it, the amplitude read before restored.
    const std::vector<std::string> settings = {"BY", "A000A", "A0014", "A001E", "BN", "A0032"};
    EXPECT_EQ(Settings(), settings);
    EXPECT_FALSE(mini.rf);
    EXPECT_EQ(mini.amplitudeTenths, 50);

    // In order; the live lines stand in front of some of them, as the fake console
    // does not move printed text.
    const std::vector<std::string> lines = {
        "Product number: 1234",
        "Housekeeping data:\t12V: 12.000V\t5V: 5.000V\t3V: 2.500V\tCPU: 22.84degC",
        "Interlock is closed",
        "Getting the set value of the RF amplitude:",
        "RF amplitude: 5.0V",
        "RF state set to on ",
        "Testing RF amplitude:",
        "Setting RF amplitude: +001.0V",
        "RFG data: Ampl: 000.000V, 000.000V, Drain: 00.000V, Freq: 0.0000MHz, Heatsink: "
        "+30.00degC, Coil: +35.00degC",
        "PSU data: Voltage: 00.000V, Current: 0.000A, Heatsink: +25.00degC",
        "Setting RF amplitude: +003.0V",
        "Testing finished",
        "Resetting the RF state:",
        "RF state set to off",
        "Restoring the amplitude:",
        "RF amplitude set to 5.0V",
        "Test protocol finished",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        at = out.find(line + "\n", at);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line << "\n" << out;
    }
    EXPECT_TRUE(
        Contains(out, "Housekeeping data: 12V: 12.000V, 5V: 5.000V, 3V: 2.500V, CPU: 22.84degC"));
    EXPECT_FALSE(Contains(out, "Getting the product number"));  // debug only
}

TEST_F(ProtocolTest, LiveLinesAreRewrittenAtTheNotedRows) {
    fake_console::SetCursor(1, 20);
    Create(2, 2, 1, 1);
    const std::vector<std::string>& log = fake_console::Log();
    // Per sample: the RF-generator line on row 19, the power-supply line on row 20.
    const auto isRfg = [](const std::string& e) {
        return e.rfind("write RFG data: Ampl: 002.000V, 001.000V, Drain: 24.000V", 0) == 0;
    };
    const auto isPsu = [](const std::string& e) { return e.rfind("write PSU data: ", 0) == 0; };
    EXPECT_EQ(std::count_if(log.begin(), log.end(), isRfg), 3);  // t0, t0 + 500, t0 + 1000
    EXPECT_EQ(std::count_if(log.begin(), log.end(), isPsu), 3);
    const auto psu = std::find_if(log.begin(), log.end(), isPsu);
    ASSERT_NE(psu, log.end());
    EXPECT_EQ(*(psu - 5), "move 1,19");
    EXPECT_EQ(*(psu - 2), "move 1,20");
    EXPECT_EQ(*(psu - 1), "clear");
    // Housekeeping: ten live readings on the noted row.
    const auto isHousekeeping = [](const std::string& e) {
        return e.rfind("write Housekeeping data: 12V: ", 0) == 0;
    };
    EXPECT_EQ(std::count_if(log.begin(), log.end(), isHousekeeping), 10);
}

TEST_F(ProtocolTest, WithoutATerminalTheRunPrintsPlainLines) {
    fake_console::SetTerminal(false);
    const std::string out = Create(1, 2, 1, 1);
    for (const std::string& entry : fake_console::Log()) {
        EXPECT_EQ(entry.rfind("move", 0), std::string::npos) << entry;
    }
    EXPECT_FALSE(Contains(out, "Housekeeping data: 12V:"));  // no live line
    EXPECT_TRUE(Contains(out, "\nHousekeeping data:\t12V: 12.000V"));
    EXPECT_TRUE(Contains(out, "Test protocol finished\n"));
    EXPECT_EQ(Lines(ReadFile(path)).size(), kHead.size() + 2 + kTail.size());
}

TEST_F(ProtocolTest, InterlockOpenSkipsTheSweep) {
    mini.interlockClosed = false;
    const std::string out = Create(1, 3, 1, 0);
    const std::string file = ReadFile(path);
    const std::string end =
        "\nInterlock is open\n\nInterlock is open, amplitude test skipped!\n\nTest protocol "
        "finished\n";
    ASSERT_GE(file.size(), end.size());
    EXPECT_EQ(file.substr(file.size() - end.size()), end);
    EXPECT_TRUE(Contains(out,
                         "Interlock is open\nInterlock is open, voltage test skipped!\nTest "
                         "protocol finished\n"))
        << out;
    EXPECT_TRUE(Settings().empty());
}

TEST_F(ProtocolTest, SweepBoundsAndStepDirections) {
    struct Case {
        const char* name;
        double start, end, step;
        std::vector<std::string> rows;
    };
    const Case cases[] = {
        {"start beyond the end", 10, 5, 1, {}},
        {"negative step, end included",
         5,
         1,
         -1,
         {"0005.0V", "0004.0V", "0003.0V", "0002.0V", "0001.0V"}},
        // The sweep goes on from the confirmed value: 1.25 is confirmed as 1.3.
        {"step finer than it shows", 1, 2, 0.25, {"0001.0V", "0001.3V", "0001.6V", "0001.9V"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.ClearCommands();
        Create(c.start, c.end, c.step, 0);
        std::vector<std::string> rows;
        for (const std::string& r : c.rows) rows.push_back(ZeroDurationRow(r.c_str()));
        ExpectLines(ReadFile(path), Protocol(rows));
        const std::vector<std::string> settings = Settings();
        ASSERT_GE(settings.size(), 3u);
        EXPECT_EQ(settings.front(), "BY");  // RF on even when no step runs
        EXPECT_EQ(settings[settings.size() - 2], "BN");
        EXPECT_EQ(settings.back(), "A0032");
    }
}

TEST_F(ProtocolTest, SweepEndsWhenTheDeviceNoLongerMoves) {
    struct Case {
        const char* name;
        double start, end, step;
        std::vector<std::string> rows;
        const char* line;
    };
    const Case cases[] = {
        {"clamped at the maximum",
         399.9,
         1000,
         0.5,
         {"0399.9V", "0400.0V", "0400.0V"},
         "RF amplitude no longer changes (400.0V), sweep ended\n"},
        {"clamped at the minimum",
         1,
         -5,
         -1,
         {"0001.0V", "0000.0V", "0000.0V"},
         "RF amplitude no longer changes (0.0V), sweep ended\n"},
        {"step below the resolution",
         1,
         2,
         0.04,
         {"0001.0V", "0001.0V"},
         "RF amplitude no longer changes (1.0V), sweep ended\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string out = Create(c.start, c.end, c.step, 0);
        std::vector<std::string> rows;
        for (const std::string& r : c.rows) rows.push_back(ZeroDurationRow(r.c_str()));
        ExpectLines(ReadFile(path), Protocol(rows));
        EXPECT_TRUE(Contains(out, c.line)) << out;
        EXPECT_FALSE(mini.rf);
        EXPECT_EQ(mini.amplitudeTenths, 50);
    }
}

TEST_F(ProtocolTest, ZeroStepRepeatsUntilSpace) {
    fake_console::PressKey('a', 7000);  // not Space: dropped, the sweep goes on
    fake_console::PressKey(' ', 8200);
    const std::string out = Create(2, 2, 0, 1);
    EXPECT_TRUE(Contains(out, "Zero step specified, press SPACE to stop the infinite loop...\n"));
    const std::vector<std::string> lines = Lines(ReadFile(path));
    const auto rows = std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("0002.0V\t", 0) == 0;
    });
    // Housekeeping ends near 5 s; steps of 1.5 s each, the one Space cut ends the sweep.
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(lines[lines.size() - 5], "Testing finished");
    EXPECT_FALSE(mini.rf);
    EXPECT_EQ(fake_console::KeysRead(), 2);
}

TEST_F(ProtocolTest, ZeroStepEndsWhenInputEnds) {
    fake_console::EndInput(0);
    const std::string out = Create(2, 2, 0, 0);
    EXPECT_TRUE(Contains(out, "Test protocol finished\n")) << out;
    EXPECT_EQ(Lines(ReadFile(path)).size(), kHead.size() + 1 + kTail.size());
}

TEST_F(ProtocolTest, PauseAfterStepLetsSpaceCutAStepShort) {
    // Housekeeping takes 5 s; Space at 6.2 s cuts the first 10 s step after 3 samples.
    fake_console::PressKey(' ', 6200);
    const std::string out = Create(1, 2, 1, 10, true);
    EXPECT_TRUE(Contains(out, "Press SPACE to proceed to the next value...\n"));
    const std::vector<std::string> lines = Lines(ReadFile(path));
    const std::size_t first = kHead.size();
    ASSERT_EQ(lines.size(), kHead.size() + 2 + kTail.size());
    EXPECT_EQ(lines[first].substr(0, 8), "0001.0V\t");
    EXPECT_EQ(lines[first + 1].substr(0, 8), "0002.0V\t");
    // The second step ran its full 10 s: 21 samples.
    const std::vector<std::string> commands = device.Commands();
    const auto secondStep = std::find(commands.begin(), commands.end(), "A0014");
    EXPECT_EQ(std::count(secondStep, commands.end(), "G"), 21);
    const auto firstStep = std::find(commands.begin(), commands.end(), "A000A");
    EXPECT_EQ(std::count(firstStep, secondStep, "G"), 3);
}

TEST_F(ProtocolTest, SettlingDecidesWhichSamplesCount) {
    mini.ramps = true;
    // 6 s steps: samples at 0, 0.5, ..., 6 s after the amplitude is set.
    Create(1, 2, 1, 6);
    const std::vector<std::string> lines = Lines(ReadFile(path));
    ASSERT_EQ(lines.size(), kHead.size() + 2 + kTail.size());
    const std::string first = lines[kHead.size()];
    const std::string second = lines[kHead.size() + 1];
    // Amplitude 1 counts the samples from settling on: 5, 5.5 and 6 s in the first
    // step (5 s settling), 3 to 6 s in the later one (3 s).
    std::smatch m;
    const std::regex field("(\\d+\\.\\d+)V \261 (\\d+\\.\\d+)mV .*");
    const std::string firstAmplitude = Field(first, 2);
    ASSERT_TRUE(std::regex_match(firstAmplitude, m, field)) << firstAmplitude;
    EXPECT_NEAR(std::stod(m[1]), 5.5, 0.02);
    EXPECT_EQ(m[2], "408.25");
    const std::string secondAmplitude = Field(second, 2);
    ASSERT_TRUE(std::regex_match(secondAmplitude, m, field)) << secondAmplitude;
    EXPECT_NEAR(std::stod(m[1]), 4.5, 0.02);
    EXPECT_EQ(m[2], "1000.00");
    // The coil temperature counts every sample: 13 of them, 0.5 K apart.
    const std::regex temperature("(\\d+\\.\\d+)\260C \261 (\\d+\\.\\d+)mK .*");
    const std::string coil = Field(first, 7);
    ASSERT_TRUE(std::regex_match(coil, m, temperature)) << coil;
    EXPECT_NEAR(std::stod(m[1]), 23.0, 0.03);
    EXPECT_EQ(m[2], "1870.8");
}

TEST_F(ProtocolTest, ACallThatFailsOnceLeavesNoTrace) {
    // Two wrong answers: the library's own repair and retry fails, the run's second
    // call succeeds.
    device.Script("X\r");
    device.Script("X\r");
    const std::string out = Create(1, 1, 1, 0);
    EXPECT_FALSE(Contains(out, "Error at")) << out;
    ExpectLines(ReadFile(path), Protocol({ZeroDurationRow("0001.0V")}));
    EXPECT_EQ(std::count(device.Commands().begin(), device.Commands().end(), "N"), 3);
}

TEST_F(ProtocolTest, FailureAfterRfOnSwitchesRfOffAndKeepsTheRowsMeasured) {
    // The power-supply readings stop after the first step.
    device.SetHandler([this](const std::string& command, std::string& reply) {
        if (command == "S" && mini.amplitudeTenths == 20) return false;
        return mini.Answer(command, reply);
    });
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    bool ok = true;
    const std::string out = Console([&] { ok = ombrel::RunTestProtocol(file, 1, 3, 1, 0, false); });
    EXPECT_FALSE(ok);
    // Rows already measured are in the file before it is closed.
    const std::vector<std::string> lines = Lines(ReadFile(path));
    std::fclose(file);
    ASSERT_EQ(lines.size(), kHead.size() + 1);
    EXPECT_EQ(lines.back(), ZeroDurationRow("0001.0V"));

    EXPECT_TRUE(Contains(out, "\nError at TELVAR_Get_PowerData: ")) << out;
    EXPECT_TRUE(Contains(out, "RF switched off after the error\n")) << out;
    EXPECT_FALSE(mini.rf);
    EXPECT_FALSE(Contains(out, "Testing finished"));
}

TEST_F(ProtocolTest, FailureBeforeRfOnTouchesNothing) {
    device.SetHandler([this](const std::string& command, std::string& reply) {
        if (command == "I") return false;
        return mini.Answer(command, reply);
    });
    const std::string out = Create(1, 3, 1, 0);
    EXPECT_TRUE(Contains(out, "Error at TELVAR_Get_InterlockState: ")) << out;
    EXPECT_FALSE(Contains(out, "RF switched off"));
    EXPECT_FALSE(Contains(out, "Test protocol finished"));
    EXPECT_TRUE(Settings().empty());
    // The file ends with the housekeeping block.
    ExpectLines(ReadFile(path), std::vector<std::string>(kHead.begin(), kHead.begin() + 19));
}

TEST_F(ProtocolTest, RfThatCannotBeSwitchedOffIsReported) {
    device.SetHandler([this](const std::string& command, std::string& reply) {
        if (command == "G" || command == "BN") return false;
        return mini.Answer(command, reply);
    });
    const std::string out = Create(1, 3, 1, 0);
    EXPECT_TRUE(Contains(out, "Error at TELVAR_Get_RFGData: ")) << out;
    EXPECT_TRUE(
        Contains(out, "RF could not be switched off after the error, it may still be on!\n"))
        << out;
    EXPECT_TRUE(mini.rf);
}

TEST_F(ProtocolTest, FileThatCannotBeCreatedTouchesNoDevice) {
    ombrel::modes.debug = true;
    const std::string out = Console(
        [] { ombrel::CreateTestProtocol("/nonexistent-dir/protocol.txt", 1, 3, 1, 0, false); });
    EXPECT_EQ(out,
              "Creating test protocol:\nCannot open the data file /nonexistent-dir/protocol.txt\n");
    EXPECT_TRUE(device.Commands().empty());
}

TEST_F(ProtocolTest, NullStreamRunsWithoutWriting) {
    bool ok = false;
    const std::string out =
        Console([&] { ok = ombrel::RunTestProtocol(nullptr, 1, 1, 1, 0, false); });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Contains(out, "Testing finished\n"));
}

TEST_F(ProtocolTest, DebugModeAddsTheProgressLines) {
    ombrel::modes.debug = true;
    ombrel::modes.quiet = true;  // does not affect the run
    const std::string out = Create(1, 1, 1, 0);
    const char* const progress[] = {
        "Creating test protocol:\n",         "Getting the product number:\n",
        "Getting product identification:\n", "Getting firmware version:\n",
        "Getting firmware date:\n",          "Getting hardware capabilities:\n",
        "Getting device uptime:\n",          "Getting the housekeeping & the HV supply data:\n",
        "Getting the interlock state:\n",    "Setting the RF state:\n",
        "Getting the RFG & PSU data:\n\n",
    };
    std::size_t at = 0;
    for (const char* line : progress) {
        const std::size_t found = out.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << "\n" << out;
        at = found;
    }
}

TEST_F(ProtocolTest, ScheduleSurvivesTheClockWrap) {
    // The program clock wraps during the housekeeping readings.
    fake_console::AddTickOffset(
        static_cast<std::uint32_t>(INT32_MAX - ombrel::ProgramClock() - 2000));
    const std::uint64_t begin = fake_serial::NowMs();
    const std::string out = Create(1, 1, 1, 2);
    EXPECT_TRUE(Contains(out, "Test protocol finished\n"));
    // 10 housekeeping readings (5 s) and one 2 s step (5 samples, 2.5 s).
    EXPECT_NEAR(double(fake_serial::NowMs() - begin), 7500.0, 50.0);
    EXPECT_EQ(std::count(device.Commands().begin(), device.Commands().end(), "G"), 5);
}

}  // namespace

// The device model on its own: replies, lines, physics, front panel, faults, pacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"
#include "rng.h"
#include "sim_test_util.h"

using quenta_sim::CtsFault;
using quenta_sim::DeviceConfig;
using quenta_sim::DeviceModel;
using quenta_sim::ReplyFault;
using sim_test::Hex;
using sim_test::IsUpperHex;
using sim_test::Payload;
using sim_test::Transact;

namespace {

constexpr std::uint64_t kSecond = 1000000;
constexpr std::uint32_t kReady = quenta_sim::kCts | quenta_sim::kDsr | quenta_sim::kDcd;

// --- Replies: echo, payload of the documented shape and length, carriage return.

struct Shape {
    const char* line;
    int length;         // payload length; -1: variable
    const char* exact;  // the payload itself where it is fixed, else null
    bool hex;           // payload is upper-case hexadecimal
};

const Shape kShapes[] = {
    {"A", 4, "0000", true},
    {"A0010", 4, "0010", true},
    {"B", 1, "N", false},
    {"BY", 1, "Y", false},
    {"I", 1, "Y", false},
    {"H", 16, nullptr, true},
    {"G", 33, nullptr, true},
    {"S", 13, nullptr, true},
    {"W", 13, "00000FA0186A0", true},
    {"V", 4, "0114", true},
    {"D", 11, "Apr 20 2015", false},
    {"P", -1, "QUENTA HV RF generator, simulated", false},
    {"N", 8, "00051A2C", true},
    {"U", 10, nullptr, true},
    {"K10", 2, "10", true},
    {"K1f", 2, "1F", true},
    {"E", 0, "", false},
    {"EA", 1, "A", true},
    {"L", 2048, nullptr, true},
    {"l3", 257, nullptr, true},
    {"z", 1, "Y", false},
    {"Z", 1, "Y", false},
};

TEST(SimModelReplies, EveryCommandHasItsShape) {
    // The published command set is exactly the one answered here.
    std::string shaped;
    for (const Shape& s : kShapes)
        if (shaped.find(s.line[0]) == std::string::npos) shaped += s.line[0];
    std::sort(shaped.begin(), shaped.end());
    EXPECT_EQ(shaped, quenta_sim::kCommandCharacters);

    DeviceModel model;
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(s.line);
        const std::string payload = Payload(Transact(model, s.line, kSecond), s.line[0]);
        if (s.length >= 0) {
            EXPECT_EQ(payload.size(), static_cast<std::size_t>(s.length));
        }
        if (s.exact) {
            EXPECT_EQ(payload, s.exact);
        }
        if (s.hex) {
            EXPECT_TRUE(IsUpperHex(payload)) << payload;
        }
    }
}

TEST(SimModelReplies, RowReadEchoesItsDigitAndMatchesTheWholeDisplay) {
    DeviceModel model;
    const std::string whole = Payload(Transact(model, "L"), 'L');
    for (int row = 0; row < quenta_sim::kDisplayRows; ++row) {
        const std::string payload = Payload(Transact(model, "l" + std::to_string(row)), 'l');
        ASSERT_EQ(payload.size(), 257u);
        EXPECT_EQ(payload[0], '0' + row);
        EXPECT_EQ(payload.substr(1), whole.substr(row * 256, 256));
    }
}

TEST(SimModelReplies, AmplitudeIsClampedToTheCapability) {
    struct Case {
        const char* sent;
        const char* echoed;
    };
    const Case cases[] = {
        {"A007B", "007B"},                     // 12.3 V
        {"A0FA0", "0FA0"},                     // the maximum, 400.0 V
        {"A0FA1", "0FA0"},                     // above it
        {"A7FFF", "0FA0"}, {"AFFF7", "0000"},  // -0.9 V in two's complement: the minimum
        {"A8000", "0000"}, {"a0010", ""},      // not a command: stays as it was
    };
    DeviceModel model;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        const std::string reply = Transact(model, c.sent);
        EXPECT_EQ(reply, *c.echoed ? std::string("A") + c.echoed + "\r" : "");
    }
    EXPECT_EQ(model.AmplitudeTenths(), 0);

    DeviceConfig config;
    config.minAmplitudeTenths = 100;
    DeviceModel raised(config);
    EXPECT_EQ(Payload(Transact(raised, "AFFFF"), 'A'), "0064");
    EXPECT_EQ(Payload(Transact(raised, "A0001"), 'A'), "0064");
    EXPECT_EQ(Payload(Transact(raised, "W"), 'W'), "00640FA0186A0");
}

TEST(SimModelReplies, UptimeCountsSecondsAndSixtyFourthsOfTheCallersClock) {
    struct Case {
        std::uint64_t us;
        const char* payload;
    };
    const Case cases[] = {
        {0, "0000000000"},
        {3600 * kSecond + 500000, "00000E1080"},
        {3601 * kSecond - 1, "00000E10FF"},
        {3601 * kSecond, "00000E1100"},
    };
    DeviceModel model;
    for (const Case& c : cases) EXPECT_EQ(Payload(Transact(model, "U", c.us), 'U'), c.payload);
    // Time never runs backwards, whatever the caller says.
    EXPECT_EQ(Payload(Transact(model, "U", 5), 'U'), "00000E1100");
}

// --- Physics.

struct Rfg {
    double amp1V, amp2V, drainV, frequencyHz, heatsinkC, coilC;
};
struct Supply {
    double voltageV, currentA, heatsinkC;
};

Rfg ReadRfg(DeviceModel& model, std::uint64_t us) {
    const std::string p = Payload(Transact(model, "G", us), 'G');
    EXPECT_EQ(p.size(), 33u);
    return {Hex(p, 0, 6) * 0.001,           Hex(p, 6, 6) * 0.001,
            Hex(p, 12, 5) * 0.001,          static_cast<double>(Hex(p, 17, 8)),
            (Hex(p, 25, 4) - 27315) * 0.01, (Hex(p, 29, 4) - 27315) * 0.01};
}

Supply ReadSupply(DeviceModel& model, std::uint64_t us) {
    const std::string p = Payload(Transact(model, "S", us), 'S');
    EXPECT_EQ(p.size(), 13u);
    long mv = Hex(p, 0, 5);
    if (mv & 0x80000) mv -= 0x100000;
    long ma = Hex(p, 5, 4);
    if (ma & 0x8000) ma -= 0x10000;
    return {mv * 0.001, ma * 0.001, (Hex(p, 9, 4) - 27315) * 0.01};
}

TEST(SimModelPhysics, HousekeepingIsPlausible) {
    DeviceModel model;
    const std::string p = Payload(Transact(model, "H", kSecond), 'H');
    EXPECT_NEAR(Hex(p, 0, 4) * 0.001, 12.0, 0.1);
    EXPECT_NEAR(Hex(p, 4, 4) * 0.001, 5.0, 0.05);
    EXPECT_NEAR(Hex(p, 8, 4) * 0.001, 3.3, 0.05);
    EXPECT_NEAR((Hex(p, 12, 4) - 27315) * 0.01, 40.0, 3.0);
}

TEST(SimModelPhysics, OutputFollowsTheAmplitudeOnlyWithRfOnAndInterlockClosed) {
    DeviceModel model;
    Transact(model, "A0FA0", 0);  // 400.0 V, RF still off
    Rfg off = ReadRfg(model, kSecond);
    EXPECT_LT(off.amp1V, 0.05);
    EXPECT_LT(off.amp2V, 0.05);
    const Supply idle = ReadSupply(model, kSecond);

    Transact(model, "BY", kSecond);
    const Rfg on = ReadRfg(model, 2 * kSecond);
    EXPECT_NEAR(on.amp1V, 400.0, 2.0);
    EXPECT_NEAR(on.amp2V, 394.0, 3.0);
    EXPECT_NEAR(on.frequencyHz, 13.56e6, 2000.0);
    const Supply loaded = ReadSupply(model, 2 * kSecond);
    EXPECT_GT(loaded.voltageV, idle.voltageV + 30.0);
    EXPECT_GT(loaded.currentA, idle.currentA + 3.0);
    EXPECT_LE(loaded.voltageV, 100.0);  // within the capability's supply maximum
    EXPECT_NEAR(on.drainV, loaded.voltageV, 1.0);

    Transact(model, "A07D0", 2 * kSecond);  // 200.0 V
    EXPECT_NEAR(ReadRfg(model, 3 * kSecond).amp1V, 200.0, 1.0);

    model.SetInterlockClosed(false);
    EXPECT_EQ(Payload(Transact(model, "I", 3 * kSecond), 'I'), "N");
    EXPECT_LT(ReadRfg(model, 4 * kSecond).amp1V, 0.05);
    model.SetInterlockClosed(true);
    EXPECT_NEAR(ReadRfg(model, 5 * kSecond).amp1V, 200.0, 1.0);

    Transact(model, "BN", 5 * kSecond);
    EXPECT_LT(ReadRfg(model, 6 * kSecond).amp1V, 0.05);
}

TEST(SimModelPhysics, TemperaturesDriftSlowlyWithLoad) {
    DeviceModel model;
    const Rfg cold = ReadRfg(model, kSecond);
    const Supply coldSupply = ReadSupply(model, kSecond);
    Transact(model, "A0FA0", kSecond);
    Transact(model, "BY", kSecond);
    const Rfg soon = ReadRfg(model, 2 * kSecond);
    EXPECT_NEAR(soon.heatsinkC, cold.heatsinkC, 1.0);
    EXPECT_NEAR(soon.coilC, cold.coilC, 1.5);
    const Rfg warm = ReadRfg(model, 600 * kSecond);
    EXPECT_GT(warm.heatsinkC, cold.heatsinkC + 20.0);
    EXPECT_GT(warm.coilC, cold.coilC + 40.0);
    EXPECT_GT(ReadSupply(model, 600 * kSecond).heatsinkC, coldSupply.heatsinkC + 5.0);
}

// --- Lines.

TEST(SimModelLines, CtsFollowsRtsAndDsrDcdStayOn) {
    DeviceModel model;
    EXPECT_EQ(model.ModemStatus(), kReady);
    model.SetHostLines(true, false, 0);
    EXPECT_EQ(model.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    model.SetHostLines(false, false, 0);
    EXPECT_EQ(model.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    model.SetHostLines(true, true, 0);
    EXPECT_EQ(model.ModemStatus(), kReady);
}

TEST(SimModelLines, DroppingRtsForgetsAHalfLineAndUnsentReplies) {
    DeviceModel model;
    model.SetPacing(true);
    model.HostWrite("V\r", 0);
    model.HostWrite("A00", 0);
    EXPECT_GT(model.OutputPending(), 0u);
    model.SetHostLines(true, false, 10);
    EXPECT_EQ(model.OutputPending(), 0u);
    model.SetHostLines(true, true, 20);
    model.HostWrite("z\r", 20);
    EXPECT_EQ(model.ReadOutput(1000), "zY\r");
}

TEST(SimModelLines, BufferStateAndDevicePurge) {
    DeviceModel model;
    model.SetPacing(true);
    model.HostWrite("L\r", 0);  // 2050 bytes, about 98 ms on the line
    model.HostWrite("Z\r", 0);  // the display is still queued
    std::string out = model.ReadOutput(kSecond);
    ASSERT_EQ(out.size(), 2050u + 3u);
    EXPECT_EQ(out.substr(2050), "ZN\r");
    model.HostWrite("Z\r", 2 * kSecond);
    EXPECT_EQ(model.ReadOutput(3 * kSecond), "ZY\r");

    // A device purge drops what has not gone out yet.
    model.HostWrite("L\r", 3 * kSecond);
    out = model.ReadOutput(3 * kSecond + 1000);
    EXPECT_EQ(out.size(), 20u);  // 1 ms of the line
    model.HostWrite("z\r", 3 * kSecond + 1000);
    EXPECT_EQ(model.ReadOutput(4 * kSecond), "zY\r");
}

TEST(SimModelLines, AHostThatNeverReadsLosesWholeReplies) {
    DeviceModel model;
    for (int i = 0; i < 5; ++i) model.HostWrite("L\r", 0);  // 2050 bytes each
    EXPECT_EQ(model.OutputPending(), 3 * 2050u);
    EXPECT_EQ(model.GetStats().overflowed, 2u);
    model.ReadOutput(0);
    EXPECT_EQ(Transact(model, "V"), "V0114\r");
}

// --- Pacing.

TEST(SimModelPacing, EachByteTakesElevenBitTimesAt230400Baud) {
    EXPECT_EQ(quenta_sim::ByteTimeNs(), 47743u);
    DeviceModel model;
    model.SetPacing(true);
    model.HostWrite("V\r", 1000);  // "V0114\r": 6 bytes, the last due 286.5 us later
    EXPECT_EQ(model.NextOutputUs(), 1048u);
    EXPECT_EQ(model.ReadOutput(1047), "");
    EXPECT_EQ(model.ReadOutput(1048), "V");
    EXPECT_EQ(model.ReadOutput(1286), "0114");
    EXPECT_EQ(model.ReadOutput(1287), "\r");
    EXPECT_EQ(model.NextOutputUs(), UINT64_MAX);

    // A reply made while the line is busy queues behind the one before.
    model.HostWrite("V\r", 2000);
    model.HostWrite("V\r", 2000);
    EXPECT_EQ(model.ReadOutput(2000 + 286), "V0114");
    EXPECT_EQ(model.ReadOutput(2000 + 573), "\rV0114\r");
}

// --- Faults.

TEST(SimModelFaults, EachReplyFaultChangesTheReplyAsDocumented) {
    struct Case {
        ReplyFault fault;
        const char* reply;  // null: checked below
    };
    const Case cases[] = {
        {ReplyFault::NoAnswer, ""},          {ReplyFault::WrongEcho, "v0114\r"},
        {ReplyFault::ShortPayload, "V01\r"}, {ReplyFault::MissingCr, "V0114"},
        {ReplyFault::Corrupt, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(quenta_sim::ReplyFaultName(c.fault));
        DeviceModel model;
        model.SetReplyFault('V', c.fault, 1);
        const std::string reply = Transact(model, "V");
        if (c.reply) {
            EXPECT_EQ(reply, c.reply);
        } else {
            ASSERT_EQ(reply.size(), 6u);
            int differing = 0;
            for (std::size_t i = 0; i < reply.size(); ++i) differing += reply[i] != "V0114\r"[i];
            EXPECT_EQ(differing, 1);
        }
        EXPECT_EQ(Transact(model, "V"), "V0114\r");  // only once
        EXPECT_EQ(model.GetStats().faulted, 1u);
    }
}

TEST(SimModelFaults, FaultsAreScopedByCommandAndCount) {
    DeviceModel model;
    model.SetReplyFault('A', ReplyFault::NoAnswer, 2);
    EXPECT_EQ(Transact(model, "V"), "V0114\r");
    EXPECT_EQ(Transact(model, "A0010"), "");  // carried out, reply lost
    EXPECT_EQ(Transact(model, "A"), "");
    EXPECT_EQ(Transact(model, "A"), "A0010\r");

    model.SetReplyFault(0, ReplyFault::WrongEcho);  // every command, until cleared
    EXPECT_EQ(Transact(model, "I"), "iY\r");
    EXPECT_EQ(Transact(model, "z"), "ZY\r");
    model.SetReplyFault(0, ReplyFault::None);
    EXPECT_EQ(Transact(model, "I"), "IY\r");

    model.SetReplyFault('E', ReplyFault::ShortPayload);  // an empty payload stays empty
    EXPECT_EQ(Transact(model, "E"), "E\r");
    model.ClearFaults();
    EXPECT_EQ(Transact(model, "E8"), "E8\r");
}

TEST(SimModelFaults, CtsStuckAndUnplugged) {
    DeviceModel model;
    model.SetCtsFault(CtsFault::StuckInactive);
    EXPECT_EQ(model.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    model.SetCtsFault(CtsFault::StuckActive);
    model.SetHostLines(true, false, 0);
    EXPECT_EQ(model.ModemStatus(), kReady);
    model.SetCtsFault(CtsFault::None);
    EXPECT_EQ(model.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    model.SetHostLines(true, true, 0);

    model.SetConnected(false, 0);
    EXPECT_EQ(model.ModemStatus(), 0u);
    EXPECT_EQ(Transact(model, "V"), "");
    model.HostWrite("A0", 0);  // heard by nobody, so it cannot spoil the next line
    model.SetConnected(true, 0);
    EXPECT_EQ(model.ModemStatus(), kReady);
    EXPECT_EQ(Transact(model, "V"), "V0114\r");
}

TEST(SimModelFaults, FaultRateHitsAboutThatShareOfReplies) {
    DeviceModel model;
    model.SetFaultRate(0.25);
    int intact = 0;
    for (int i = 0; i < 1000; ++i) intact += Transact(model, "V", i) == "V0114\r";
    const std::uint64_t faulted = model.GetStats().faulted;
    EXPECT_GT(faulted, 180u);
    EXPECT_LT(faulted, 320u);
    // A corrupted byte may turn into the same text only if it flips back, which XOR
    // with a non-zero mask never does.
    EXPECT_EQ(static_cast<std::uint64_t>(1000 - intact), faulted);

    model.SetFaultRate(1.0);
    for (int i = 0; i < 20; ++i) EXPECT_NE(Transact(model, "V", 2000), "V0114\r");
    model.SetFaultRate(0.0);
    EXPECT_EQ(Transact(model, "V", 2000), "V0114\r");
}

// --- Determinism.

std::string Session(std::uint64_t seed) {
    DeviceConfig config;
    config.seed = seed;
    DeviceModel model(config);
    model.SetFaultRate(0.1);
    std::string all;
    const char* lines[] = {"H", "G", "S", "A0FA0", "BY", "G", "S", "H", "U", "K02", "E9", "L"};
    std::uint64_t us = 0;
    for (int round = 0; round < 5; ++round)
        for (const char* line : lines) all += Transact(model, line, us += 12345);
    return all;
}

TEST(SimModelDeterminism, SameSeedSameBytesOtherSeedOtherNoise) {
    EXPECT_EQ(Session(7), Session(7));
    EXPECT_NE(Session(7), Session(8));
}

// --- Garbage.

TEST(SimModelGarbage, MalformedLinesGetNoReply) {
    const char* lines[] = {
        "X",   "A12",  "A12345", "AXYZW",
        "BX",  "By",   "BYN",    "H1",
        "I?",  "K1",   "K123",   "KZZ",
        "E12", "EG",   "l",      "l8",
        "lF",  "l00",  "Lx",     "zz",
        "Z1",  "\x7F", "\xFF",   "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
    DeviceModel model;
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(Transact(model, line), "");
    }
    EXPECT_EQ(model.GetStats().rejected, sizeof lines / sizeof lines[0]);
    // Line feeds and NULs around a command do not disturb it; a bare CR is nothing.
    EXPECT_EQ(Transact(model, "\nV"), "V0114\r");
    model.HostWrite("V\r\n\0\r", 5, 0);
    EXPECT_EQ(model.ReadOutput(0), "V0114\r");
    EXPECT_EQ(model.GetStats().lines, sizeof lines / sizeof lines[0] + 2);
}

TEST(SimModelGarbage, RandomBytesNeverBreakTheDevice) {
    DeviceModel model;
    model.SetPacing(true);
    quenta_sim::Rng rng(42);
    std::uint64_t us = 0;
    char chunk[300];
    for (int round = 0; round < 2000; ++round) {
        const std::size_t n = rng.Below(sizeof chunk);
        for (std::size_t i = 0; i < n; ++i) {
            // Mostly command characters and digits, so that some lines are valid.
            const char* alphabet = "ABEGHIKLNPSUVWZlz0123456789ABCDEFYN\r";
            chunk[i] = rng.Below(3) ? alphabet[rng.Below(36)] : static_cast<char>(rng.Below(256));
        }
        model.HostWrite(chunk, n, us);
        if (rng.Below(10) == 0) model.SetHostLines(rng.Below(2), rng.Below(2), us);
        us += rng.Below(2000);
        if (rng.Below(2)) model.ReadOutput(us);
        ASSERT_LE(model.OutputPending(), DeviceModel::kOutputCapacity);
        ASSERT_EQ(model.ModemStatus() & ~kReady, 0u);
    }
    model.SetHostLines(true, false, us);
    model.SetHostLines(true, true, us);
    model.HostWrite("\rV\r", us);
    EXPECT_EQ(model.ReadOutput(us + kSecond), "V0114\r");
}

// --- Front panel.

std::string Row(DeviceModel& model, int row) {
    const std::string hex = Payload(Transact(model, "l" + std::to_string(row)), 'l').substr(1);
    std::string text;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        text += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return text;
}

TEST(SimModelPanel, DisplayIsTextPaddedWithBlanks) {
    DeviceModel model;
    const std::string title = Row(model, 0);
    ASSERT_EQ(title.size(), 128u);
    EXPECT_EQ(title, std::string("QUENTA RF generator") + std::string(128 - 19, ' '));
    EXPECT_EQ(Row(model, 2).substr(0, 24), "> Amplitude   0.0 V     ");
    EXPECT_EQ(Row(model, 3).substr(0, 16), "  RF output   OF");
    EXPECT_EQ(Row(model, 5).substr(0, 18), "  Firmware    1.20");
    EXPECT_EQ(Row(model, 7).substr(0, 5), "Ready");
}

TEST(SimModelPanel, KeysAndEncoderWorkTheMenu) {
    struct Step {
        const char* line;
        const char* echo;
        int amplitudeTenths;
        bool rfOn;
        int row;              // a row to look at afterwards
        const char* rowText;  // its start
    };
    const Step steps[] = {
        {"K08", "08", 10, false, 2, "> Amplitude   1.0 V"},     // right: +1 V
        {"K04", "04", 10, false, 2, "> Amplitude  [1.0 V]"},    // enter: edit
        {"EA", "A", 110, false, 2, "> Amplitude  [11.0 V]"},    // Ctrl+PgUp: +10 V
        {"E9", "9", 120, false, 7, "Last input: encoder 9"},    // Alt+PgUp: +1 V
        {"E8", "8", 121, false, 2, "> Amplitude  [12.1 V]"},    // PgUp: +0.1 V
        {"E2", "2", 21, false, 2, "> Amplitude  [2.1 V]"},      // Ctrl+PgDn: -10 V
        {"E", "", 21, false, 7, "Last input: encoder button"},  // button: edit done
        {"E0", "0", 21, false, 3, "> RF output   OFF"},         // PgDn walks down
        {"K04", "04", 21, true, 3, "> RF output   ON"},         // enter toggles RF
        {"K01", "01", 21, false, 3, "> RF output   OFF"},       // left: off
        {"K02", "02", 21, false, 4, "> Interlock   CLOSED"},    // down
        {"K02", "02", 21, false, 5, "> Firmware    1.20"},
        {"K02", "02", 21, false, 5, "> Firmware"},   // stays at the end
        {"K10", "10", 21, false, 4, "> Interlock"},  // up
        {"K10", "10", 21, false, 3, "> RF output"},
        {"K10", "10", 21, false, 2, "> Amplitude   2.1 V"},
        {"K01", "01", 11, false, 2, "> Amplitude   1.1 V"},
        {"K01", "01", 1, false, 2, "> Amplitude   0.1 V"},
        {"K01", "01", 0, false, 2, "> Amplitude   0.0 V"},  // clamped at the minimum
        {"K55", "55", 0, false, 7, "Last input: key 55"},   // unknown code: only shown
    };
    DeviceModel model;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.line);
        EXPECT_EQ(Payload(Transact(model, s.line), s.line[0]), s.echo);
        EXPECT_EQ(model.AmplitudeTenths(), s.amplitudeTenths);
        EXPECT_EQ(model.RfOn(), s.rfOn);
        const std::string row = Row(model, s.row);
        EXPECT_EQ(row.substr(0, std::string(s.rowText).size()), s.rowText);
    }
    // What the panel set is what the host reads back.
    EXPECT_EQ(Payload(Transact(model, "A"), 'A'), "0000");
    EXPECT_EQ(Payload(Transact(model, "B"), 'B'), "N");
}

}  // namespace

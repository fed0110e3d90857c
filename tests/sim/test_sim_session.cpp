// The server side of RFC 2217 without sockets: negotiation, COM-PORT-OPTION commands,
// modem-state notifications, escaping, and what a client that goes away leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"
#include "rfc2217_session.h"
#include "rng.h"

using quenta_sim::DeviceConfig;
using quenta_sim::DeviceModel;
using quenta_sim::Rfc2217Session;
namespace tn = quenta_sim::telnet;
namespace cp = quenta_sim::comport;

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string text;
    for (int b : bytes) text += static_cast<char>(b);
    return text;
}

std::string Option(int verb, int option) {
    return Bytes({tn::kIac, verb, option});
}

std::string Sb(int command, const std::string& data) {
    std::string text = Bytes({tn::kIac, tn::kSb, tn::kComPort, command});
    for (char c : data) {
        text += c;
        if (static_cast<unsigned char>(c) == tn::kIac) text += c;
    }
    return text + Bytes({tn::kIac, tn::kSe});
}

std::string Sb(int command, int value) {
    return Sb(command, Bytes({value}));
}
std::string ServerSb(int command, int value) {
    return Sb(command + cp::kServerOffset, value);
}
std::string Notify(int state) {
    return Sb(cp::kNotifyModemState + cp::kServerOffset, state);
}

class SimSession : public ::testing::Test {
  protected:
    explicit SimSession(const DeviceConfig& config = DeviceConfig())
        : model_(config),
          session_(
              model_, [this](const std::string& m) { log_.push_back(m); }, true) {
        session_.Open(0);
    }

    // Client bytes in; what the server sends back, device output included.
    std::string Send(const std::string& bytes, std::uint64_t us = 0) {
        session_.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), us);
        session_.Pump(us);
        std::string out;
        out.swap(session_.Outbox());
        return out;
    }

    void Negotiate() {
        session_.Outbox().clear();
        Send(Option(tn::kWill, tn::kComPort));
    }

    DeviceModel model_;
    std::vector<std::string> log_;
    Rfc2217Session session_;
};

TEST_F(SimSession, OpensWithItsOffersAndAnswersOnlyChanges) {
    EXPECT_EQ(session_.Outbox(), Option(tn::kWill, tn::kBinary) + Option(tn::kDo, tn::kBinary) +
                                     Option(tn::kWill, tn::kSga) + Option(tn::kDo, tn::kSga) +
                                     Option(tn::kDo, tn::kComPort));
    session_.Outbox().clear();
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        // Agreeing with our offers needs no answer...
        {Option(tn::kDo, tn::kBinary) + Option(tn::kWill, tn::kBinary) + Option(tn::kDo, tn::kSga),
         ""},
        // ...and saying it again changes nothing, so nothing loops.
        {Option(tn::kWill, tn::kBinary), ""},
        {Option(tn::kDo, tn::kEcho), Option(tn::kWont, tn::kEcho)},
        {Option(tn::kWill, 99), Option(tn::kDont, 99)},
        {Option(tn::kDo, 99), Option(tn::kWont, 99)},
        // The COM port option makes the client's first view of the lines.
        {Option(tn::kDo, tn::kComPort), Option(tn::kWill, tn::kComPort) + Notify(0xB0)},
        {Option(tn::kWill, tn::kComPort), ""},
        {Option(tn::kDont, tn::kSga), Option(tn::kWont, tn::kSga)},
        {Option(tn::kDont, tn::kSga), ""},
        // Refusing our offer ends it without an answer.
        {Option(tn::kWont, tn::kSga), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Send(c.in), c.out);
    EXPECT_TRUE(session_.ComPortActive());
}

TEST_F(SimSession, NoLineNotificationsBeforeTheComPortOption) {
    session_.Outbox().clear();
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kRtsOff)), ServerSb(cp::kSetControl, cp::kRtsOff));
    EXPECT_EQ(Send(Option(tn::kWill, tn::kComPort)), Notify(0xA0));
}

TEST_F(SimSession, RtsDropsCtsAndTheClientHearsAtOnce) {
    Negotiate();
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kRtsOff)),
              ServerSb(cp::kSetControl, cp::kRtsOff) + Notify(0xA0 | cp::kDeltaCts));
    EXPECT_EQ(model_.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kRtsOn)),
              ServerSb(cp::kSetControl, cp::kRtsOn) + Notify(0xB0 | cp::kDeltaCts));
    // Both in one segment: the client still sees CTS go and come back.
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kRtsOff) + Sb(cp::kSetControl, cp::kRtsOn)),
              ServerSb(cp::kSetControl, cp::kRtsOff) + Notify(0xA1) +
                  ServerSb(cp::kSetControl, cp::kRtsOn) + Notify(0xB1));
    // DTR changes no device line.
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kDtrOff)), ServerSb(cp::kSetControl, cp::kDtrOff));
    EXPECT_FALSE(model_.HostDtr());
}

TEST_F(SimSession, SetControlAnswersTheValueInForce) {
    Negotiate();
    struct Case {
        int asked, answered;
    };
    const Case cases[] = {
        {cp::kFlowRequest, cp::kFlowNone},
        {cp::kFlowHardware, cp::kFlowNone},
        {cp::kFlowNone, cp::kFlowNone},
        {cp::kBreakRequest, cp::kBreakOff},
        {cp::kBreakOn, cp::kBreakOn},
        {cp::kBreakRequest, cp::kBreakOn},
        {cp::kDtrRequest, cp::kDtrOn},
        {cp::kRtsRequest, cp::kRtsOn},
        {cp::kInboundRequest, cp::kInboundNone},
        {16, cp::kInboundNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(Send(Sb(cp::kSetControl, c.asked)), ServerSb(cp::kSetControl, c.answered));
    }
    EXPECT_EQ(Send(Sb(cp::kSetControl, 200)), "");  // not a SET-CONTROL value
}

TEST_F(SimSession, LineSettingsAreAcknowledgedWithTheValueInForce) {
    Negotiate();
    const std::string b230400 = Bytes({0x00, 0x03, 0x84, 0x00});
    const std::string b9600 = Bytes({0x00, 0x00, 0x25, 0x80});
    const std::string bFF = Bytes({0x00, 0x00, 0xFF, 0xFF});  // 65535: IAC in the value
    struct Case {
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {Sb(cp::kSetBaudRate, Bytes({0, 0, 0, 0})), Sb(101, b230400)},  // query
        {Sb(cp::kSetBaudRate, b9600), Sb(101, b9600)},
        {Sb(cp::kSetBaudRate, bFF), Sb(101, bFF)},
        {Sb(cp::kSetDataSize, 0), ServerSb(cp::kSetDataSize, 8)},
        {Sb(cp::kSetDataSize, 7), ServerSb(cp::kSetDataSize, 7)},
        {Sb(cp::kSetDataSize, 9), ServerSb(cp::kSetDataSize, 7)},  // no such size
        {Sb(cp::kSetParity, 0), ServerSb(cp::kSetParity, cp::kParityEven)},
        {Sb(cp::kSetParity, cp::kParityNone), ServerSb(cp::kSetParity, cp::kParityNone)},
        {Sb(cp::kSetStopSize, 2), ServerSb(cp::kSetStopSize, 2)},
        {Sb(cp::kSetLineStateMask, 0x10), ServerSb(cp::kSetLineStateMask, 0x10)},
        {Sb(cp::kSetBaudRate, Bytes({1, 2})), ""},  // too short to mean anything
        {Sb(99, 1), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Send(c.in), c.out);
    EXPECT_EQ(session_.BaudRate(), 65535u);
}

TEST_F(SimSession, ModemStateMaskAndPolls) {
    Negotiate();
    EXPECT_EQ(Send(Sb(cp::kSetModemStateMask, 0x30)),
              ServerSb(cp::kSetModemStateMask, 0x30) + Notify(0x30));
    EXPECT_EQ(Send(Sb(cp::kSetControl, cp::kRtsOff)), ServerSb(cp::kSetControl, cp::kRtsOff));
    EXPECT_EQ(Send(Sb(cp::kNotifyModemState, "")), Notify(0xA0));  // a poll is not masked
    EXPECT_EQ(Send(Sb(cp::kSetModemStateMask, 0xFF)),
              ServerSb(cp::kSetModemStateMask, 0xFF) + Notify(0xA0));
    model_.SetConnected(false, 0);
    EXPECT_EQ(Send(""), Notify(cp::kDeltaDsr | cp::kDeltaDcd));
}

TEST_F(SimSession, DataIsEscapedBothWays) {
    DeviceConfig config;
    config.productId =
        "ab\xFF"
        "cd";
    DeviceModel model(config);
    Rfc2217Session session(model, nullptr, false);
    session.Open(0);
    std::string line;
    model.SetTrace([&](std::string_view l, std::string_view) { line = l; });
    const std::string in =
        "X\xFF\xFF\r"
        "P\r";
    session.Receive(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(), 0);
    EXPECT_EQ(line, "P");
    session.Pump(0);
    EXPECT_NE(session.Outbox().find("Pab\xFF\xFF"
                                    "cd\r"),
              std::string::npos);

    model.SetTrace([&](std::string_view l, std::string_view) { line = l; });
    const std::string x = "X\xFF\xFF\r";
    session.Receive(reinterpret_cast<const std::uint8_t*>(x.data()), x.size(), 0);
    EXPECT_EQ(line, "X\xFF");
}

TEST_F(SimSession, PurgeAndFlowSuspend) {
    Negotiate();
    model_.SetPacing(true);
    EXPECT_EQ(Send("V\r"), "");  // not on the line yet
    EXPECT_EQ(Send(Sb(cp::kPurgeData, cp::kPurgeReceive), 10), ServerSb(cp::kPurgeData, 1));
    EXPECT_EQ(Send("", 1000), "");  // gone

    EXPECT_EQ(Send(Sb(cp::kFlowSuspend, "") + "V\r", 2000), "");
    EXPECT_EQ(session_.NextWakeUs(), UINT64_MAX);  // held: no timer either
    EXPECT_EQ(Send("", 3000), "");
    EXPECT_EQ(Send(Sb(cp::kFlowResume, ""), 3000), "V0114\r");
}

TEST_F(SimSession, OverlongAndBrokenSubnegotiationsAreDropped) {
    Negotiate();
    EXPECT_EQ(Send(Sb(cp::kSetControl, std::string(500, '\x0B')) + "V\r"), "V0114\r");
    // An IAC followed by neither SE nor IAC ends a subnegotiation without a reply.
    EXPECT_EQ(Send(Bytes({tn::kIac, tn::kSb, tn::kComPort, cp::kSetControl, cp::kRtsOff, tn::kIac,
                          tn::kNop}) +
                   "V\r"),
              "V0114\r");
    EXPECT_TRUE(model_.HostRts());
}

TEST_F(SimSession, RandomBytesKeepEverythingBounded) {
    quenta_sim::Rng rng(3);
    std::string chunk;
    for (int round = 0; round < 3000; ++round) {
        chunk.clear();
        for (std::uint32_t i = rng.Below(200); i > 0; --i) {
            const int pick = static_cast<int>(rng.Below(6));
            chunk += pick == 0   ? static_cast<char>(tn::kIac)
                     : pick == 1 ? static_cast<char>(rng.Below(16) + 240)
                     : pick == 2 ? "VLz\r"[rng.Below(4)]
                                 : static_cast<char>(rng.Below(256));
        }
        session_.Receive(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(), round);
        session_.Pump(round);
        if (rng.Below(4) == 0) session_.Outbox().clear();  // a slow reader
        ASSERT_LE(session_.Outbox().size(), Rfc2217Session::kOutboxLimit + 64);
    }
    // A new client starts clean whatever the last one left.
    session_.Close(5000);
    session_.Open(5000);
    session_.Outbox().clear();
    EXPECT_EQ(Send(Option(tn::kWill, tn::kComPort) + "\rV\r", 5000), Notify(0xB0) + "V0114\r");
}

TEST_F(SimSession, ClosingDropsTheLinesAndTheDeviceWaitsForTheNextClient) {
    Negotiate();
    model_.SetPacing(true);
    Send("L\r");
    Send("A00");
    session_.Close(10);
    EXPECT_EQ(model_.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd);
    EXPECT_EQ(model_.OutputPending(), 0u);

    session_.Open(20);
    EXPECT_EQ(model_.ModemStatus(), quenta_sim::kDsr | quenta_sim::kDcd | quenta_sim::kCts);
    session_.Outbox().clear();
    std::string reply = Send("V\r", 20);
    reply += Send("", 1000);
    EXPECT_EQ(reply, "V0114\r");
}

TEST_F(SimSession, VerboseLogsCommandsAndLines) {
    Negotiate();
    Send(Sb(cp::kSetControl, cp::kRtsOff) + Sb(cp::kSetControl, cp::kRtsOn) + "V\r");
    const auto has = [&](const std::string& text) {
        for (const std::string& line : log_)
            if (line == text) return true;
        return false;
    };
    EXPECT_TRUE(has("RTS off"));
    EXPECT_TRUE(has("sent NOTIFY-MODEMSTATE 0xA1"));
    EXPECT_TRUE(has("command \"V\" -> \"V0114\\r\""));
    Send("Q\r");
    EXPECT_TRUE(has("command \"Q\" -> no reply"));
}

}  // namespace

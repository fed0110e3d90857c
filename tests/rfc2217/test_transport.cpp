// The network serial transport against a scripted server on a loopback port: what
// each serial operation puts on the wire, how server habits and awkward input are
// handled, the two time-out sets, and failures that must not hang.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fake_rfc2217_server.h"
#include "rfc2217_transport.h"

namespace {

using serial_os::Handle;
using serial_os::kInvalidHandle;
using Habit = FakeRfc2217Server::Habit;
using Bytes = FakeRfc2217Server::Bytes;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCts = serial_os::kModemCts, kDsr = serial_os::kModemDsr,
                        kDcd = serial_os::kModemDcd;
constexpr serial_os::Timeouts kNormal{10, 0, 10, 0, 0};
constexpr serial_os::Timeouts kImmediate{0xFFFFFFFFu, 0, 0, 0, 0};

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The library polls the lines with 1 ms sleeps, at most 1000 times per wait.
bool PollLines(Handle port, std::uint32_t mask, std::uint32_t want) {
    for (int poll = 0; poll < 1000; ++poll) {
        std::uint32_t status = 0;
        if (!rfc2217::GetModemStatus(port, status)) return false;
        if ((status & mask) == want) return true;
        SleepMs(1);
    }
    return false;
}

rfc2217::PeerReport Report(Handle port) {
    rfc2217::PeerReport report;
    EXPECT_TRUE(rfc2217::GetPeerReport(port, report));
    return report;
}

// Lets the client read what has arrived (a status poll reads the socket) until the
// condition holds.
bool PumpUntil(Handle port, const std::function<bool()>& condition) {
    return FakeRfc2217Server::WaitFor(
        [&] {
            std::uint32_t status;
            rfc2217::GetModemStatus(port, status);
            return condition();
        },
        2000);
}

// Everything the server sent before this point has reached the client's buffer.
// A modem-state answer to one of the client's own polls can overtake data the test sent,
// so the marker is a signature request, which only the client's answer acknowledges.
void Sync(FakeRfc2217Server& server, Handle port) {
    server.SendSub(107, {0xA0});
    const std::size_t answers = server.CommandsWithCode(0).size();
    server.SendSub(100, {});
    ASSERT_TRUE(PumpUntil(port, [&] { return server.CommandsWithCode(0).size() > answers; }));
}

// The line-settings commands the server got, without the status polls between them.
std::vector<FakeRfc2217Server::Command> SettingCommands(const FakeRfc2217Server& server) {
    std::vector<FakeRfc2217Server::Command> found;
    for (const auto& c : server.Commands()) {
        if (c.code >= 1 && c.code <= 4) found.push_back(c);
    }
    return found;
}

std::string ReadString(Handle port, std::uint32_t length) {
    std::string text(length, '\0');
    std::uint32_t read = 0;
    EXPECT_TRUE(rfc2217::Read(port, text.data(), length, read));
    text.resize(read);
    return text;
}

class Connected : public ::testing::Test {
  protected:
    explicit Connected(Habit habit = Habit::ReportsWhenAsked) : server_(habit) {}
    void SetUp() override {
        port_ = rfc2217::Open(server_.Url().c_str());
        ASSERT_NE(port_, kInvalidHandle);
    }
    void TearDown() override {
        if (port_ != kInvalidHandle) rfc2217::Close(port_);
    }
    // The codes of the COM port commands the server got, until a marker command.
    std::vector<std::uint8_t> SetControlValuesUntilMarker() {
        EXPECT_TRUE(rfc2217::EscapeFunction(port_, 9));  // clear break: the marker
        EXPECT_TRUE(FakeRfc2217Server::WaitFor(
            [&] {
                auto controls = server_.CommandsWithCode(5);
                return !controls.empty() && controls.back().value == Bytes{6};
            },
            2000));
        std::vector<std::uint8_t> values;
        for (const auto& c : server_.CommandsWithCode(5)) values.push_back(c.value.at(0));
        values.pop_back();
        return values;
    }

    FakeRfc2217Server server_;
    Handle port_ = kInvalidHandle;
};

// ---- opening and the modem lines, under each server habit ----

class Habits : public ::testing::TestWithParam<Habit> {};

TEST_P(Habits, OpeningNegotiatesAndKnowsTheLinesAtOnce) {
    FakeRfc2217Server server(GetParam());
    const Handle port = rfc2217::Open(server.Url().c_str());
    ASSERT_NE(port, kInvalidHandle);
    EXPECT_TRUE(rfc2217::IsHandle(port));

    std::uint32_t status = 0;
    ASSERT_TRUE(rfc2217::GetModemStatus(port, status));
    EXPECT_EQ(status, kDsr | kDcd);  // RTS is still off, so CTS is too
    EXPECT_TRUE(Report(port).comPortAgreed);

    // Our offers and refusals, and the line errors we want to hear about.
    const std::vector<Bytes> expected = {{251, 0},  {253, 0}, {251, 3}, {253, 3},
                                         {251, 44}, {254, 1}, {252, 24}};
    EXPECT_TRUE(FakeRfc2217Server::WaitFor(
        [&] {
            const Bytes offers = server.Negotiations();
            for (const Bytes& e : expected) {
                if (std::search(offers.begin(), offers.end(), e.begin(), e.end()) == offers.end()) {
                    return false;
                }
            }
            return !server.CommandsWithCode(10).empty();
        },
        2000));
    const auto masks = server.CommandsWithCode(10);
    ASSERT_FALSE(masks.empty());
    EXPECT_EQ(masks[0].value, Bytes{0x1E});  // overrun, parity, framing, break
    EXPECT_TRUE(rfc2217::Close(port));
}

// The host purge drops RTS and gives CTS 1000 polls of 1 ms to follow. Servers that
// report only when asked, or only when the mask is set, must still get there.
TEST_P(Habits, CtsFollowsRtsWithinTheHostPurgeBound) {
    FakeRfc2217Server server(GetParam());
    const Handle port = rfc2217::Open(server.Url().c_str());
    ASSERT_NE(port, kInvalidHandle);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kSetRts));
        EXPECT_TRUE(PollLines(port, kCts, kCts)) << "round " << round;
        ASSERT_TRUE(rfc2217::EscapeFunction(port, serial_os::kClearRts));
        EXPECT_TRUE(PollLines(port, kCts, 0)) << "round " << round;
    }
    server.SetLines(0);  // the device goes away: DSR and DCD drop
    EXPECT_TRUE(PollLines(port, kDsr | kDcd, 0));
    rfc2217::Close(port);
}

INSTANTIATE_TEST_SUITE_P(Servers, Habits,
                         ::testing::Values(Habit::ReportsWhenAsked, Habit::ReportsOnMask),
                         [](const auto& info) {
                             return info.param == Habit::ReportsWhenAsked ? "ReportsWhenAsked"
                                                                          : "ReportsOnMask";
                         });

TEST(Open, RefusedConnectionFailsAtOnce) {
    // A port that was just free: nobody listens there.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    const auto start = Clock::now();
    EXPECT_EQ(rfc2217::Open(url.c_str()), kInvalidHandle);
    EXPECT_LT(MsSince(start), 1000);
}

TEST(Open, ServerRefusingComPortControlFails) {
    FakeRfc2217Server server(Habit::RefusesComPort);
    EXPECT_EQ(rfc2217::Open(server.Url().c_str()), kInvalidHandle);
}

TEST(Open, SilentServerFailsWithinTheNegotiationBound) {
    FakeRfc2217Server server(Habit::Mute);
    const auto start = Clock::now();
    EXPECT_EQ(rfc2217::Open(server.Url().c_str()), kInvalidHandle);
    EXPECT_LT(MsSince(start), 10000);
}

TEST(Open, ServerThatNeverReportsLinesGivesLinesOff) {
    FakeRfc2217Server server(Habit::NeverReports);
    const Handle port = rfc2217::Open(server.Url().c_str());
    ASSERT_NE(port, kInvalidHandle);
    std::uint32_t status = 0xFFFF;
    EXPECT_TRUE(rfc2217::GetModemStatus(port, status));
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(Report(port).modemStateKnown);
    rfc2217::Close(port);
}

TEST(Open, RejectsMalformedNamesWithoutConnecting) {
    for (const char* name :
         {"rfc2217://", "rfc2217://127.0.0.1", "rfc2217://:2217", "rfc2217://127.0.0.1:0",
          "rfc2217://127.0.0.1:65536", "rfc2217://127.0.0.1:1234567", "rfc2217://[::1:2217",
          "rfc2217://127.0.0.1:22x", "tcp://127.0.0.1:2217", "/dev/ttyS0", ""}) {
        EXPECT_EQ(rfc2217::Open(name), kInvalidHandle) << name;
    }
    EXPECT_EQ(rfc2217::Open(nullptr), kInvalidHandle);
    EXPECT_FALSE(rfc2217::IsUrl(nullptr));
    EXPECT_TRUE(rfc2217::IsUrl("RFC2217://h:1"));
}

TEST(Open, AcceptsIpv6AndHostNamesAndIgnoresOptions) {
    FakeRfc2217Server server(Habit::ReportsWhenAsked);
    const std::string url = server.Url();
    const std::string port = url.substr(url.rfind(':') + 1);
    const Handle byName = rfc2217::Open(("rfc2217://localhost:" + port + "?logging=debug").c_str());
    ASSERT_NE(byName, kInvalidHandle);
    rfc2217::Close(byName);
    // Nobody listens on the IPv6 loopback here: the name parses, the connection fails.
    EXPECT_EQ(rfc2217::Open(("rfc2217://[::1]:" + port).c_str()), kInvalidHandle);
}

TEST_F(Connected, PortHasOneUserAndHandlesDieWithClose) {
    EXPECT_EQ(rfc2217::Open(server_.Url().c_str()), kInvalidHandle);
    EXPECT_FALSE(rfc2217::IsHandle(-1));
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    EXPECT_FALSE(rfc2217::IsHandle(pipeFds[0]));  // a descriptor that is no network port
    close(pipeFds[0]);
    close(pipeFds[1]);

    ASSERT_TRUE(rfc2217::Close(port_));
    EXPECT_FALSE(rfc2217::IsHandle(port_));
    std::uint32_t value = 0;
    serial_os::LineSettings settings;
    EXPECT_FALSE(rfc2217::Close(port_));
    EXPECT_FALSE(rfc2217::GetModemStatus(port_, value));
    EXPECT_FALSE(rfc2217::GetLineSettings(port_, settings));
    EXPECT_FALSE(rfc2217::Write(port_, "x", 1, value));
    EXPECT_FALSE(rfc2217::Read(port_, &value, 1, value));
    port_ = kInvalidHandle;
}

// ---- line settings ----

TEST_F(Connected, LineSettingsStartAtDefaults) {
    serial_os::LineSettings s;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, s));
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
}

struct SettingsCase {
    std::uint32_t baud;
    std::uint8_t byteSize, parity, stopBits;
    Bytes baudOnWire;
    std::uint8_t parityCode, stopCode;
};

TEST_F(Connected, LineSettingsTravelAsComPortCommands) {
    const SettingsCase cases[] = {
        {230400, 8, serial_os::kEvenParity, serial_os::kOneStopBit, {0, 3, 0x84, 0}, 3, 1},
        {9600, 7, 1, 2, {0, 0, 0x25, 0x80}, 2, 2},
        {255, 5, 4, 1, {0, 0, 0, 255}, 5, 3},  // 0xFF travels doubled
    };
    for (const SettingsCase& c : cases) {
        serial_os::LineSettings s;
        ASSERT_TRUE(rfc2217::GetLineSettings(port_, s));
        s.baudRate = c.baud;
        s.byteSize = c.byteSize;
        s.parity = c.parity;
        s.stopBits = c.stopBits;
        s.dtrControl = serial_os::kDtrControlDisable;
        s.rtsControl = serial_os::kRtsControlDisable;
        server_.ClearRecords();
        ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
        EXPECT_EQ(SetControlValuesUntilMarker(), (std::vector<std::uint8_t>{1, 9, 12}));

        const auto commands = SettingCommands(server_);
        ASSERT_EQ(commands.size(), 4u);
        EXPECT_EQ(commands[0].code, 1);
        EXPECT_EQ(commands[0].value, c.baudOnWire);
        EXPECT_EQ(commands[1].code, 2);
        EXPECT_EQ(commands[1].value, Bytes{c.byteSize});
        EXPECT_EQ(commands[2].code, 3);
        EXPECT_EQ(commands[2].value, Bytes{c.parityCode});
        EXPECT_EQ(commands[3].code, 4);
        EXPECT_EQ(commands[3].value, Bytes{c.stopCode});

        serial_os::LineSettings back;
        ASSERT_TRUE(rfc2217::GetLineSettings(port_, back));
        EXPECT_EQ(back.baudRate, c.baud);
        EXPECT_EQ(back.parity, c.parity);
        ASSERT_TRUE(PumpUntil(port_, [&] {
            const auto r = Report(port_);
            return r.ackedBaudRate == c.baud && r.ackedDataSize == c.byteSize &&
                   r.ackedParity == c.parityCode && r.ackedStopSize == c.stopCode;
        }));
    }
    const auto report = Report(port_);
    EXPECT_EQ(report.settingMismatches, 0u);
    EXPECT_EQ(report.ackedDataSize, 5);
    EXPECT_EQ(report.ackedParity, 5);
    EXPECT_EQ(report.ackedStopSize, 3);
}

TEST_F(Connected, EnabledLinesAndFlowControlInTheSettings) {
    serial_os::LineSettings s;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, s));
    s.dtrControl = 1;
    s.rtsControl = 1;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    s.outxCtsFlow = true;  // hardware flow control; RTS then belongs to the driver
    s.rtsControl = 2;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    s.outxCtsFlow = false;
    s.rtsControl = 0;
    s.outX = s.inX = true;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    EXPECT_EQ(SetControlValuesUntilMarker(), (std::vector<std::uint8_t>{1, 8, 11, 3, 8, 2, 8, 12}));
}

TEST_F(Connected, SettingsTheProtocolCannotCarryAreRefusedAndNothingIsSent) {
    serial_os::LineSettings good;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, good));
    std::vector<serial_os::LineSettings> bad(9, good);
    bad[0].baudRate = 0;
    bad[1].byteSize = 4;
    bad[2].byteSize = 9;
    bad[3].parity = 5;
    bad[4].stopBits = 3;
    bad[5].dtrControl = 2;
    bad[6].rtsControl = 3;
    bad[7].outxDsrFlow = true;
    bad[8].outX = true;
    bad[8].outxCtsFlow = true;
    server_.ClearRecords();
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(rfc2217::SetLineSettings(port_, bad[i])) << i;
    }
    EXPECT_TRUE(SetControlValuesUntilMarker().empty());
    EXPECT_TRUE(server_.CommandsWithCode(1).empty());
    serial_os::LineSettings after;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, after));
    EXPECT_EQ(after.baudRate, good.baudRate);
}

TEST_F(Connected, AcknowledgementWithAnotherValueIsReported) {
    serial_os::LineSettings s;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, s));
    // Two settings in a row: the first one's acknowledgement is no mismatch.
    s.baudRate = 9600;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    s.baudRate = 230400;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    ASSERT_TRUE(PumpUntil(port_, [&] { return Report(port_).ackedBaudRate == 230400; }));
    EXPECT_EQ(Report(port_).settingMismatches, 0u);

    server_.ForceBaudAck(115200);
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    ASSERT_TRUE(PumpUntil(port_, [&] { return Report(port_).ackedBaudRate == 115200; }));
    EXPECT_EQ(Report(port_).settingMismatches, 1u);
}

TEST_F(Connected, ServerThatNeverAcknowledgesDoesNotHoldUpCalls) {
    server_.SetAcknowledges(false);
    serial_os::LineSettings s;
    ASSERT_TRUE(rfc2217::GetLineSettings(port_, s));
    s.baudRate = 230400;
    ASSERT_TRUE(rfc2217::SetLineSettings(port_, s));
    ASSERT_TRUE(rfc2217::Purge(port_, 0x0F));
    ASSERT_TRUE(rfc2217::EscapeFunction(port_, serial_os::kSetRts));
    EXPECT_TRUE(PollLines(port_, kCts, kCts));
    EXPECT_EQ(Report(port_).ackedBaudRate, 0u);
}

// ---- control lines and purge ----

TEST_F(Connected, EscapeFunctionsBecomeSetControl) {
    struct Case {
        std::uint32_t function;
        std::uint8_t control;
    };
    const Case cases[] = {{3, 11}, {4, 12}, {5, 8}, {6, 9}, {8, 5}};
    server_.ClearRecords();
    for (const Case& c : cases) EXPECT_TRUE(rfc2217::EscapeFunction(port_, c.function));
    for (std::uint32_t unknown : {0u, 1u, 2u, 7u, 10u}) {
        EXPECT_FALSE(rfc2217::EscapeFunction(port_, unknown)) << unknown;
    }
    EXPECT_EQ(SetControlValuesUntilMarker(), (std::vector<std::uint8_t>{11, 12, 8, 9, 5}));
}

TEST_F(Connected, PurgeFlagsBecomePurgeData) {
    struct Case {
        std::uint32_t flags;
        int onWire;  // -1: nothing to send
    };
    const Case cases[] = {{0x0F, 3}, {0x0A, 1}, {0x08, 1}, {0x05, 2}, {0x03, -1}, {0x00, -1}};
    for (const Case& c : cases) {
        server_.ClearRecords();
        EXPECT_TRUE(rfc2217::Purge(port_, c.flags));
        SetControlValuesUntilMarker();
        const auto purges = server_.CommandsWithCode(12);
        if (c.onWire < 0) {
            EXPECT_TRUE(purges.empty()) << c.flags;
        } else {
            ASSERT_EQ(purges.size(), 1u) << c.flags;
            EXPECT_EQ(purges[0].value, Bytes{static_cast<std::uint8_t>(c.onWire)});
        }
    }
    EXPECT_FALSE(rfc2217::Purge(port_, 0x10));
}

TEST_F(Connected, PurgeDropsBytesAlreadyReceived) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    server_.SendData("stale reply");
    Sync(server_, port_);
    ASSERT_TRUE(rfc2217::Purge(port_, 0x0F));
    EXPECT_EQ(ReadString(port_, 32), "");
    server_.SendData("fresh");
    Sync(server_, port_);
    EXPECT_EQ(ReadString(port_, 32), "fresh");
}

TEST_F(Connected, TransmitPurgeKeepsReceivedBytes) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    server_.SendData("keep");
    Sync(server_, port_);
    ASSERT_TRUE(rfc2217::Purge(port_, 0x05));
    EXPECT_EQ(ReadString(port_, 32), "keep");
}

// ---- data, escaping and awkward input ----

TEST_F(Connected, IacIsEscapedOnTheWayOut) {
    const Bytes data = {'A', 0xFF, 'B', 0xFF, 0xFF, 0x00, 0x0D};
    server_.ClearRecords();
    std::uint32_t written = 0;
    ASSERT_TRUE(
        rfc2217::Write(port_, data.data(), static_cast<std::uint32_t>(data.size()), written));
    EXPECT_EQ(written, data.size());
    ASSERT_TRUE(FakeRfc2217Server::WaitFor([&] { return server_.Data().size() >= 7; }, 2000));
    EXPECT_EQ(server_.Data(), data);
    const Bytes raw = server_.Raw();
    const Bytes doubled = {'A', 0xFF, 0xFF, 'B', 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x0D};
    EXPECT_NE(std::search(raw.begin(), raw.end(), doubled.begin(), doubled.end()), raw.end());
}

TEST_F(Connected, LargeWriteArrivesWhole) {
    std::vector<std::uint8_t> data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    std::uint32_t written = 0;
    ASSERT_TRUE(
        rfc2217::Write(port_, data.data(), static_cast<std::uint32_t>(data.size()), written));
    EXPECT_EQ(written, data.size());
    ASSERT_TRUE(
        FakeRfc2217Server::WaitFor([&] { return server_.Data().size() >= data.size(); }, 5000));
    EXPECT_EQ(server_.Data(), data);
}

// Data with doubled IACs, a modem notification with an IAC in its value, a NOP and
// unknown negotiations, all cut into single bytes on the way.
TEST_F(Connected, DataSurvivesCommandsMixedInAndSplitAnywhere) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    server_.SendRaw({'U', 0xFF, 0xFF, 'x',  0xFF, 250, 44,   107, 0xFF, 0xFF, 0xFF, 240,
                     'y', 0xFF, 241,  0xFF, 251,  99,  0xFF, 253, 98,   0xFF, 0xFF, '\r'},
                    true);
    Sync(server_, port_);
    EXPECT_EQ(ReadString(port_, 32), std::string("U\xFFxy\xFF\r"));
    ASSERT_TRUE(FakeRfc2217Server::WaitFor(
        [&] {
            const Bytes n = server_.Negotiations();
            const Bytes dont99 = {254, 99}, wont98 = {252, 98};
            return std::search(n.begin(), n.end(), dont99.begin(), dont99.end()) != n.end() &&
                   std::search(n.begin(), n.end(), wont98.begin(), wont98.end()) != n.end();
        },
        2000));
}

TEST_F(Connected, MalformedAndOversizeSubnegotiationsAreDropped) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    Bytes oversize = {0xFF, 250, 44, 107};
    oversize.insert(oversize.end(), 300, 0x10);
    oversize.insert(oversize.end(), {0xFF, 240});
    server_.SendRaw(oversize);
    server_.SendSub(101, {0x00, 0x01});              // a baud rate needs four bytes
    server_.SendSub(107, {0x10, 0x10});              // a modem state is one byte
    server_.SendRaw({0xFF, 250, 24, 1, 0xFF, 240});  // someone else's option: ignored
    server_.SendData("ok");
    Sync(server_, port_);
    EXPECT_EQ(ReadString(port_, 8), "ok");
    const auto report = Report(port_);
    EXPECT_EQ(report.droppedSubnegotiations, 3u);
    EXPECT_EQ(report.ackedBaudRate, 0u);
    EXPECT_EQ(report.modemState, 0xA0);
}

TEST_F(Connected, SignatureRequestIsAnswered) {
    server_.SendSub(100, {});
    ASSERT_TRUE(PumpUntil(port_, [&] { return !server_.CommandsWithCode(0).empty(); }));
    const Bytes signature = server_.CommandsWithCode(0)[0].value;
    EXPECT_EQ(std::string(signature.begin(), signature.end()), "Telvar");
}

TEST_F(Connected, OverflowLosesNewBytesAndSaysSo) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    server_.SendData(std::string(20000, 'a') + "b");
    ASSERT_TRUE(PumpUntil(port_, [&] { return Report(port_).droppedDataBytes == 3617; }));
    std::uint32_t errors = 0;
    ASSERT_TRUE(rfc2217::ClearErrors(port_, errors));
    EXPECT_EQ(errors, serial_os::kErrRxOver);
    EXPECT_EQ(ReadString(port_, 20000), std::string(16384, 'a'));
}

TEST_F(Connected, LineStateNotificationsBecomeLineErrors) {
    server_.SendSub(106, {0x1E});
    Sync(server_, port_);
    std::uint32_t errors = 0;
    ASSERT_TRUE(rfc2217::ClearErrors(port_, errors));
    EXPECT_EQ(errors, serial_os::kErrOverrun | serial_os::kErrRxParity | serial_os::kErrFrame |
                          serial_os::kErrBreak);
    ASSERT_TRUE(rfc2217::ClearErrors(port_, errors));
    EXPECT_EQ(errors, 0u);
    server_.SendSub(106, {0x61});  // data ready, shift registers empty: no errors
    server_.SendSub(106, {0x08});
    Sync(server_, port_);
    ASSERT_TRUE(rfc2217::ClearErrors(port_, errors));
    EXPECT_EQ(errors, serial_os::kErrFrame);
}

TEST_F(Connected, WaitEventReportsTransmitEmpty) {
    std::uint32_t written = 0, mask = 0;
    ASSERT_TRUE(rfc2217::Write(port_, "U\r", 2, written));
    ASSERT_TRUE(rfc2217::WaitEvent(port_, mask));
    EXPECT_EQ(mask, serial_os::kEventTxEmpty);
}

TEST_F(Connected, WritesWaitWhileTheServerSuspendsThem) {
    server_.SendSub(108, {});
    Sync(server_, port_);
    std::thread resume([&] {
        SleepMs(100);
        EXPECT_TRUE(server_.Data().empty());
        server_.SendSub(109, {});
    });
    std::uint32_t written = 0;
    EXPECT_TRUE(rfc2217::Write(port_, "held", 4, written));
    resume.join();
    EXPECT_TRUE(FakeRfc2217Server::WaitFor([&] { return server_.Data().size() == 4; }, 2000));
}

// ---- the two time-out sets ----

TEST_F(Connected, ImmediateReadReturnsWhatIsThere) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kImmediate));
    EXPECT_EQ(ReadString(port_, 10), "");
    server_.SendData("abc");
    Sync(server_, port_);
    EXPECT_EQ(ReadString(port_, 10), "abc");
}

TEST_F(Connected, NormalReadWaitsItsTotalThenReturnsWhatCame) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kNormal));
    server_.SendData("U0123");
    Sync(server_, port_);
    const auto start = Clock::now();
    EXPECT_EQ(ReadString(port_, 12), "U0123");
    EXPECT_GE(MsSince(start), 9);

    server_.SendData("456789ABCD\r");
    Sync(server_, port_);
    EXPECT_EQ(ReadString(port_, 11), "456789ABCD\r");  // all there: no waiting needed
    EXPECT_EQ(ReadString(port_, 1), "");               // nothing comes: a time-out, no error
}

TEST_F(Connected, IntervalEndsAReadAtAGapBetweenBytes) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, serial_os::Timeouts{20, 0, 0, 0, 0}));
    server_.SendData("AB");
    std::thread later([&] {
        SleepMs(200);
        server_.SendData("CD");
    });
    EXPECT_EQ(ReadString(port_, 4), "AB");
    later.join();
    EXPECT_EQ(ReadString(port_, 2), "CD");
}

// ---- losing the server ----

TEST_F(Connected, LostServerFailsEveryCallWithoutHanging) {
    ASSERT_TRUE(rfc2217::SetTimeouts(port_, kNormal));
    server_.SendData("xy");
    Sync(server_, port_);
    server_.Disconnect();
    const auto start = Clock::now();
    // Bytes that arrived before the loss are still delivered, then reads fail.
    EXPECT_EQ(ReadString(port_, 2), "xy");
    std::uint32_t value = 0;
    char byte;
    ASSERT_TRUE(
        FakeRfc2217Server::WaitFor([&] { return !rfc2217::Read(port_, &byte, 1, value); }, 2000));
    EXPECT_FALSE(rfc2217::Write(port_, "U\r", 2, value));
    EXPECT_EQ(value, 0u);
    EXPECT_FALSE(rfc2217::GetModemStatus(port_, value));
    EXPECT_FALSE(rfc2217::ClearErrors(port_, value));
    EXPECT_FALSE(rfc2217::WaitEvent(port_, value));
    EXPECT_FALSE(rfc2217::Purge(port_, 0x0F));
    EXPECT_FALSE(rfc2217::EscapeFunction(port_, serial_os::kSetRts));
    EXPECT_FALSE(rfc2217::EscapeFunction(port_, serial_os::kSetDtr));
    // The server dropped the lines when we went; closing the port drops them too.
    EXPECT_TRUE(rfc2217::EscapeFunction(port_, serial_os::kClearRts));
    EXPECT_TRUE(rfc2217::EscapeFunction(port_, serial_os::kClearDtr));
    serial_os::LineSettings s;
    EXPECT_FALSE(rfc2217::GetLineSettings(port_, s));
    EXPECT_LT(MsSince(start), 3000);
    EXPECT_TRUE(rfc2217::IsHandle(port_));  // still ours until closed
    EXPECT_TRUE(rfc2217::Close(port_));
    port_ = kInvalidHandle;
}

}  // namespace

// Port slots, status texts, the transaction layer (handshake, purges, reply reader,
// repair and retry) and the trace file.
#include <algorithm>
#include <functional>

#include "library.h"
#include "telvar_fixture.h"

namespace {

using fake_serial::Op;

using Slots = TelvarTest;

TEST_F(Slots, StartClosedWithNoErrorAndVersion120) {
    EXPECT_EQ(TELVAR_Version(), 0x0114);
    for (unsigned short slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(TELVAR_State(slot), 0);
        EXPECT_STREQ(TELVAR_ErrorMessage(slot), "No error");
        EXPECT_EQ(TELVAR_IO_State(slot), 1);
        EXPECT_STREQ(TELVAR_IO_ErrorMessage(slot), "Port has not been opened yet");
    }
}

TEST_F(Slots, StatusTexts) {
    const struct {
        int code;
        const char* text;
    } cases[] = {
        {0, "No error"},
        {-2, "Error opening the port"},
        {-3, "Error closing the port"},
        {-4, "Error purging the port"},
        {-5, "Error setting the port control lines"},
        {-6, "Error reading the port status lines"},
        {-7, "Error sending command"},
        {-8, "Error sending data"},
        {-9, "Error sending the termination character"},
        {-10, "Error receiving command"},
        {-11, "Error receiving data"},
        {-12, "Error receiving the termination character"},
        {-13, "Wrong command received"},
        {-14, "Wrong argument received"},
        {-15, "Wrong argument passed to the function"},
        {-100, "Device not connected"},
        {-101, "Device not ready"},
        {-102, "Device state could not be set to not ready"},
        {-400, "Error opening the file for debugging output"},
        {-401, "Error closing the file for debugging output"},
        {-1, "Unknown error"},
        {1, "Unknown error"},
        {-16, "Unknown error"},
    };
    for (const auto& c : cases) {
        telvar::g_slots[5].status = c.code;
        EXPECT_STREQ(TELVAR_ErrorMessage(5), c.text) << c.code;
        EXPECT_EQ(TELVAR_State(5), c.code);
    }
}

// Every exported function refuses PortNumber 8 and above without touching anything.
TEST_F(Slots, OutOfRangePortHasNoSideEffect) {
    for (unsigned short slot = 0; slot < 8; ++slot) ASSERT_EQ(TELVAR_Close(slot), -3);
    StartTrace();
    fake_serial::ClearCalls();
    double d[6] = {};
    int i = 0;
    unsigned u = 0;
    unsigned short w = 0;
    char text[8192];
    unsigned char data[1024];
    const std::string other = Path("other.txt");
    const std::vector<std::function<int(unsigned short)>> calls = {
        [&](unsigned short p) { return TELVAR_Open(p, kCom); },
        [&](unsigned short p) { return TELVAR_Close(p); },
        [&](unsigned short p) { return TELVAR_State(p); },
        [&](unsigned short p) { return TELVAR_IO_State(p); },
        [&](unsigned short p) { return TELVAR_Purge(p); },
        [&](unsigned short p) { return TELVAR_Device_Purge(p, &i); },
        [&](unsigned short p) { return TELVAR_Buffer_State(p, &i); },
        [&](unsigned short p) { return TELVAR_OpenDebugFile(p, other.c_str()); },
        [&](unsigned short p) { return TELVAR_CloseDebugFile(p); },
        [&](unsigned short p) { return TELVAR_Get_Amplitude(p, d); },
        [&](unsigned short p) { return TELVAR_Set_Amplitude(p, d); },
        [&](unsigned short p) { return TELVAR_Get_Enable(p, &i); },
        [&](unsigned short p) { return TELVAR_Set_Enable(p, &i); },
        [&](unsigned short p) { return TELVAR_Get_HousekeepingData(p, d, d + 1, d + 2, d + 3); },
        [&](unsigned short p) { return TELVAR_Get_RFGData(p, d, d + 1, d + 2, &i, d + 4, d + 5); },
        [&](unsigned short p) { return TELVAR_Get_PowerData(p, d, d + 1, d + 2); },
        [&](unsigned short p) { return TELVAR_Get_InterlockState(p, &i); },
        [&](unsigned short p) { return TELVAR_SimulateKeypad(p, 0x10); },
        [&](unsigned short p) { return TELVAR_SimulateEncoderButton(p); },
        [&](unsigned short p) { return TELVAR_SimulateEncoder(p, 16); },
        [&](unsigned short p) { return TELVAR_ReadDisplay(p, data); },
        [&](unsigned short p) { return TELVAR_ReadDisplayRow(p, 9, data); },
        [&](unsigned short p) { return TELVAR_GetHardwareCapability(p, d, d + 1, d + 2); },
        [&](unsigned short p) { return TELVAR_GetUptime(p, &u, &w); },
        [&](unsigned short p) { return TELVAR_FW_Ver(p, &w); },
        [&](unsigned short p) { return TELVAR_FW_Date(p, text); },
        [&](unsigned short p) { return TELVAR_Prod_ID(p, text); },
        [&](unsigned short p) { return TELVAR_Prod_No(p, &i); },
        // Null pointers do not come before the range check.
        [&](unsigned short p) { return TELVAR_Get_Amplitude(p, nullptr); },
        [&](unsigned short p) { return TELVAR_OpenDebugFile(p, nullptr); },
    };
    for (unsigned short slot : {8, 9, 0xFFFF}) {
        for (std::size_t n = 0; n < calls.size(); ++n) {
            EXPECT_EQ(calls[n](slot), -200) << "call " << n << ", slot " << slot;
        }
        EXPECT_STREQ(TELVAR_ErrorMessage(slot), "PortNumber out of range");
        EXPECT_STREQ(TELVAR_IO_ErrorMessage(slot), "PortNumber out of range");
    }
    EXPECT_TRUE(fake_serial::Calls().empty());
    EXPECT_TRUE(device.Commands().empty());
    for (unsigned short slot = 0; slot < 8; ++slot) EXPECT_EQ(TELVAR_State(slot), -3);
    EXPECT_EQ(FinishTrace(), TraceFile(""));
    EXPECT_EQ(ReadFile(other), "");
}

TEST_F(Slots, OpenRepairsOnceAndRaisesTheLines) {
    StartTrace();
    EXPECT_EQ(TELVAR_Open(kSlot, kCom), 0);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
    EXPECT_EQ(TELVAR_IO_State(kSlot), 0);
    const fake_serial::PortView view = fake_serial::View(kCom);
    EXPECT_TRUE(view.open);
    EXPECT_TRUE(view.dtr);
    EXPECT_TRUE(view.rts);
    EXPECT_EQ(view.settings.baudRate, 230400u);
    EXPECT_EQ(device.Commands(), std::vector<std::string>{"z"});
    EXPECT_EQ(FinishTrace(), TraceFile(Repair()));
}

TEST_F(Slots, SecondOpenFailsAndLeavesThePortWorking) {
    OpenSlot();
    StartTrace();
    EXPECT_EQ(TELVAR_Open(kSlot, kCom), -2);
    EXPECT_EQ(TELVAR_State(kSlot), -2);
    EXPECT_STREQ(TELVAR_ErrorMessage(kSlot), "Error opening the port");
    EXPECT_EQ(TELVAR_IO_State(kSlot), 2);
    device.Rule('A', "A0064\r");
    double amplitude = 0;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 10.0, 1e-9);
    EXPECT_EQ(FinishTrace(), TraceFile(Entry("COMPort::Open: The port is already open\n") +
                                       Line("TELVAR_Open: Error opening the port as COM3\n")));
}

TEST_F(Slots, TwoSlotsCannotShareAPort) {
    OpenSlot();
    EXPECT_EQ(TELVAR_Open(kSlot + 1, kCom), -2);
    EXPECT_EQ(TELVAR_State(kSlot + 1), -2);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
}

TEST_F(Slots, OpenOfAMissingPortFails) {
    StartTrace();
    EXPECT_EQ(TELVAR_Open(kSlot, 9), -2);
    EXPECT_EQ(TELVAR_State(kSlot), -2);
    EXPECT_EQ(FinishTrace(), TraceFile(Entry("COMPort::Open: Cannot open the port \\\\.\\COM9\n") +
                                       Line("TELVAR_Open: Error opening the port as COM9\n")));
}

TEST_F(Slots, CloseTwice) {
    OpenSlot();
    EXPECT_EQ(TELVAR_Close(kSlot), 0);
    EXPECT_EQ(TELVAR_IO_State(kSlot), 0);
    EXPECT_FALSE(fake_serial::View(kCom).open);
    EXPECT_FALSE(fake_serial::View(kCom).rts);
    EXPECT_FALSE(fake_serial::View(kCom).dtr);
    StartTrace();
    EXPECT_EQ(TELVAR_Close(kSlot), -3);
    EXPECT_EQ(TELVAR_State(kSlot), -3);
    EXPECT_STREQ(TELVAR_ErrorMessage(kSlot), "Error closing the port");
    EXPECT_STREQ(TELVAR_IO_ErrorMessage(kSlot), "Port has not been opened yet");
    EXPECT_EQ(FinishTrace(), TraceFile(Entry("COMPort::Close: Port handle is invalid\n")));
}

// With no device on the line, opening records ten repairs and keeps the port.
TEST_F(Slots, OpenWithNoDeviceTracesTenRepairs) {
    device.SetConnected(false);
    StartTrace();
    EXPECT_EQ(TELVAR_Open(kSlot, kCom), -100);
    EXPECT_EQ(TELVAR_State(kSlot), -100);
    EXPECT_TRUE(fake_serial::View(kCom).open);
    std::string repairs;
    for (int n = 0; n < 10; ++n) {
        repairs += Entry("Repairing communication\n") +
                   Line("TELVAR_Open: Device not connected - DSR=N, DCD=N\n") +
                   Line("CheckIfc: device not connected - DSR=N, DCD=N\n") +
                   Entry("Port not purged\n");
    }
    EXPECT_EQ(FinishTrace(), TraceFile(repairs));
    // Two 1000-poll waits per repair, on virtual time.
    EXPECT_EQ(fake_serial::NowMs(), 20000u);
    EXPECT_TRUE(device.Commands().empty());
}

// A command on a slot that was never opened fails its handshake, and its repairs
// cannot set the lines.
TEST_F(Slots, CommandOnAClosedSlotGivesMinus5AfterTenRepairs) {
    StartTrace();
    double amplitude = 7;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -5);
    EXPECT_EQ(amplitude, 7);
    const std::string trace = FinishTrace();
    EXPECT_EQ(Count(trace, "PortNumber: 2, CheckIfc: Error getting status\n"), 11);
    EXPECT_EQ(Count(trace, "Repairing communication\n"), 10);
    EXPECT_EQ(Count(trace, "PortNumber: 2, TELVAR_Open: Error setting the port status lines\n"),
              10);
}

using Transactions = TelvarTest;

TEST_F(Transactions, HostPurgeDropsRtsUntilCtsFallsAndPurges) {
    OpenSlot();
    EXPECT_EQ(TELVAR_Purge(kSlot), 0);
    const std::vector<std::string>& calls = fake_serial::Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0], "EscapeFunction 4");  // RTS off
    EXPECT_EQ(calls[1], "EscapeFunction 5");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "PurgePort 0xF"), calls.end());
    EXPECT_TRUE(fake_serial::View(kCom).rts);
    EXPECT_TRUE(device.Commands().empty());
}

// A successful host purge keeps the stored status of the failure before it.
TEST_F(Transactions, SuccessfulPurgeKeepsTheStoredStatus) {
    OpenSlot();
    device.Rule('A', "X0064\r");
    double amplitude = 0;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -13);
    EXPECT_EQ(TELVAR_Purge(kSlot), 0);
    EXPECT_EQ(TELVAR_State(kSlot), -13);
    EXPECT_STREQ(TELVAR_ErrorMessage(kSlot), "Wrong command received");
}

struct PurgeFailure {
    const char* name;
    std::function<void(ScriptedDevice&)> fault;
    int status;
    std::string trace;  // after the COMPort lines, if any
    bool rtsAfter;
};

class HostPurgeFailures : public TelvarTest, public ::testing::WithParamInterface<PurgeFailure> {};

TEST_P(HostPurgeFailures, StoreTheirCodeAndTraceIt) {
    const PurgeFailure& c = GetParam();
    OpenSlot();
    StartTrace();
    c.fault(device);
    EXPECT_EQ(TELVAR_Purge(kSlot), c.status);
    EXPECT_EQ(TELVAR_State(kSlot), c.status);
    EXPECT_EQ(fake_serial::View(kCom).rts, c.rtsAfter);
    const std::string trace = FinishTrace();
    const std::string expected = c.trace + Entry("File closed by TELVAR_CloseDebugFile\n");
    ASSERT_GE(trace.size(), expected.size());
    EXPECT_EQ(trace.substr(trace.size() - expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostPurgeFailures,
    ::testing::Values(
        PurgeFailure{"CtsNeverDrops", [](ScriptedDevice& d) { d.SetCtsFollowsRts(false); }, -102,
                     TelvarTest::Line("TELVAR_Purge: Device state could not be set to not ready\n"),
                     true},
        PurgeFailure{"QueuesCannotBePurged",
                     [](ScriptedDevice&) { fake_serial::FailNext(Op::PurgePort); }, -4,
                     TelvarTest::Entry("COMPort::Purge: Cannot purge the port\n") +
                         TelvarTest::Line("TELVAR_Purge: Error purging the port\n"),
                     true},
        PurgeFailure{"RtsCannotBeDropped",
                     [](ScriptedDevice&) { fake_serial::FailNext(Op::EscapeFunction); }, -5,
                     TelvarTest::Entry("COMPort::Control: Error setting the control lines of "
                                       "the port\n") +
                         TelvarTest::Line("TELVAR_Open: Error setting the port status lines\n"),
                     true},
        PurgeFailure{"RtsCannotBeRaised",
                     [](ScriptedDevice&) { fake_serial::FailLater(Op::EscapeFunction, 2); }, -5,
                     TelvarTest::Entry("COMPort::Control: Error setting the control lines of "
                                       "the port\n") +
                         TelvarTest::Line("TELVAR_Purge: Error setting the port control "
                                          "lines\n"),
                     false},
        PurgeFailure{"StatusUnreadable",
                     [](ScriptedDevice&) { fake_serial::FailAlways(Op::GetModemStatus); }, -6,
                     TelvarTest::Entry("COMPort::Status: Error reading the status lines of "
                                       "the port\n") +
                         TelvarTest::Line("TELVAR_Open: Error reading the port status lines\n"),
                     false},
        PurgeFailure{"Disconnected", [](ScriptedDevice& d) { d.SetDsr(false); }, -100,
                     TelvarTest::Line("TELVAR_Open: Device not connected - DSR=N, DCD=Y\n"), false},
        PurgeFailure{"NeverReadyAgain",
                     [](ScriptedDevice& d) {
                         d.SetCtsFollowsRts(false);
                         d.SetCts(false);
                     },
                     -101, TelvarTest::Line("CheckIfc: device not ready - CTS=false\n"), true}),
    [](const ::testing::TestParamInfo<PurgeFailure>& info) { return info.param.name; });

TEST_F(Transactions, HandshakeWaitsAThousandPollsForCts) {
    OpenSlot();
    StartTrace();
    device.SetCtsFollowsRts(false);
    device.SetCts(false);
    int empty = 0;
    const std::uint64_t before = fake_serial::NowMs();
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &empty), -101);
    EXPECT_EQ(fake_serial::NowMs() - before, 1000u);
    EXPECT_TRUE(device.Commands().empty());
    EXPECT_EQ(FinishTrace(), TraceFile(Line("CheckIfc: device not ready - CTS=false\n")));
}

TEST_F(Transactions, DevicePurgeAndBufferState) {
    OpenSlot();
    int flag = 7;
    EXPECT_EQ(TELVAR_Device_Purge(kSlot, &flag), 0);
    EXPECT_EQ(flag, 1);
    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::NotPurged);
    flag = 7;
    EXPECT_EQ(TELVAR_Device_Purge(kSlot, &flag), 0);
    EXPECT_EQ(flag, 0);
    device.Script("ZN\r");
    device.Script("ZY\r");
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(Sent(), "z\rz\rZ\rZ\r");
}

// "N" from the device purge still counts as a working link.
TEST_F(Transactions, RepairWithNotPurgedAnswerSucceeds) {
    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::NotPurged);
    StartTrace();
    EXPECT_EQ(TELVAR_Open(kSlot, kCom), 0);
    EXPECT_EQ(FinishTrace(), TraceFile(Repair(false)));
}

// The reader's failures, one transaction each (the link commands are not repaired).
struct ReplyCase {
    const char* name;
    const char* reply;
    int status;
    std::string trace;
};

class ReplyShapes : public TelvarTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyShapes, GiveTheirCodeWithTheDump) {
    const ReplyCase& c = GetParam();
    OpenSlot();
    StartTrace();
    device.Script(c.reply);
    int empty = 7;
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &empty), c.status);
    EXPECT_EQ(empty, 7);
    EXPECT_EQ(TELVAR_State(kSlot), c.status);
    EXPECT_EQ(FinishTrace(), TraceFile(c.trace));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplyShapes,
    ::testing::Values(
        ReplyCase{"WrongEcho", "XY\r", -13,
                  TelvarTest::Line("ReadCommand: Wrong command received: 'X' instead of 'Z'\n") +
                      "Data read: 'Y\\x0D'\n"},
        ReplyCase{"EarlyCarriageReturn", "Z\r", -11,
                  TelvarTest::Line("ReadCommand: Error receiving data: '2' byte(s) expected, "
                                   "'1' byte(s) read\n") +
                      "Data read: '\\x0D'\n"},
        ReplyCase{"NoCarriageReturn", "ZYY\r", -12,
                  TelvarTest::Line("ReadCommand: Error receiving the termination character "
                                   "of the command 'Z'\n") +
                      "Data read: 'YY'\n"},
        ReplyCase{"NotYesOrNo", "ZX\r", -14,
                  TelvarTest::Line("ReadCommand-bool: Wrong argument received: command='Z', ") +
                      "Data read: 'X\\x00'\n"},
        ReplyCase{"LowerCaseYes", "Zy\r", -14,
                  TelvarTest::Line("ReadCommand-bool: Wrong argument received: command='Z', ") +
                      "Data read: 'y\\x00'\n"},
        ReplyCase{"DumpEscapesControlAndHighBytes", "Z\x7F\x80", -12,
                  TelvarTest::Line("ReadCommand: Error receiving the termination character "
                                   "of the command 'Z'\n") +
                      "Data read: '\x7F\\x80'\n"},
        ReplyCase{"Silent", "", -10,
                  TelvarTest::ReadRepeats(0, 1) +
                      TelvarTest::Entry("COMPort::Read-char: Could not read the character from "
                                        "the port\n") +
                      TelvarTest::Line("ReadCommand: Error receiving command 'Z'\n")}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

// A reply read in full but failing later leaves the rest in the port queue for the
// repair to purge; here the reader must not read past its count.
TEST_F(Transactions, OverlongReplyLeavesTheRestQueued) {
    OpenSlot();
    device.Script("ZYYYY\r");
    int empty = 7;
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &empty), -12);
    EXPECT_EQ(fake_serial::View(kCom).pendingToHost, 3u);
}

// One bad reply, one repair, then the retry succeeds.
TEST_F(Transactions, SingleBadReplyIsRepairedAndRetried) {
    OpenSlot();
    StartTrace();
    device.Script("A00640\r");
    device.Script("A0064\r");
    double amplitude = 0;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 10.0, 1e-9);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
    EXPECT_EQ(device.Commands(), (std::vector<std::string>{"A", "z", "A"}));
    EXPECT_EQ(FinishTrace(),
              TraceFile(Line("ReadCommand: Error receiving the termination character of the "
                             "command 'A'\n") +
                        "Data read: '00640'\n" + Repair()));
}

// The second attempt's failure is final: no second repair.
TEST_F(Transactions, SecondFailureIsReturnedWithoutAnotherRepair) {
    OpenSlot();
    StartTrace();
    device.Script("X0064\r");
    device.Script("A12\r");
    double amplitude = 3;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -11);
    EXPECT_EQ(amplitude, 3);
    EXPECT_EQ(FinishTrace(),
              TraceFile(Line("ReadCommand: Wrong command received: 'X' instead of 'A'\n") +
                        "Data read: '0064\\x0D'\n" + Repair() +
                        Line("ReadCommand: Error receiving data: '5' byte(s) expected, '3' "
                             "byte(s) read\n") +
                        "Data read: '12\\x0D'\n"));
}

// A device that stops answering, even the purge: the reader's code after ten repairs,
// on virtual time.
TEST_F(Transactions, PeerThatNeverAnswers) {
    OpenSlot();
    StartTrace();
    device.SetPurgeAnswer(ScriptedDevice::PurgeAnswer::Off);
    double amplitude = 3;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -10);
    EXPECT_EQ(TELVAR_State(kSlot), -10);
    EXPECT_EQ(amplitude, 3);
    EXPECT_EQ(device.Commands().size(), 11u);
    const std::string trace = FinishTrace();
    EXPECT_EQ(Count(trace, "Repairing communication\n"), 10);
    EXPECT_EQ(Count(trace, "Port not purged\n"), 10);
    EXPECT_EQ(Count(trace, "ReadCommand: Error receiving command 'z'\n"), 10);
    EXPECT_EQ(Count(trace, "ReadCommand: Error receiving command 'A'\n"), 1);
    EXPECT_LT(fake_serial::NowMs(), 60000u);
}

TEST_F(Transactions, DeviceGoneGivesMinus100AfterTenRepairs) {
    OpenSlot();
    StartTrace();
    device.SetConnected(false);
    double amplitude = 3;
    EXPECT_EQ(TELVAR_Get_Amplitude(kSlot, &amplitude), -100);
    EXPECT_STREQ(TELVAR_ErrorMessage(kSlot), "Device not connected");
    std::string expected = Line("CheckIfc: device not connected - DSR=N, DCD=N\n");
    for (int n = 0; n < 10; ++n) {
        expected += Entry("Repairing communication\n") +
                    Line("TELVAR_Open: Device not connected - DSR=N, DCD=N\n") +
                    Line("CheckIfc: device not connected - DSR=N, DCD=N\n") +
                    Entry("Port not purged\n");
    }
    EXPECT_EQ(FinishTrace(), TraceFile(expected));
}

struct SendCase {
    const char* name;
    int skip;  // writes let through before the failing one
    int status;
    std::string trace;
    std::string repairs;
};

// The device saw the start of a command and takes the purge's "z" for its end: it
// answers the amplitude, and the second repair finds the line clean.
const std::string kGarbledRepair =
    TelvarTest::Entry("Repairing communication\n") +
    TelvarTest::Line("ReadCommand: Wrong command received: 'A' instead of 'z'\n") +
    "Data read: '00'\n" + TelvarTest::Entry("Port not purged\n") + TelvarTest::Repair();

class SendFailures : public TelvarTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendFailures, AreRepairedAndRetried) {
    const SendCase& c = GetParam();
    OpenSlot();
    StartTrace();
    device.Rule('A', "A007B\r");
    fake_serial::FailLater(Op::WritePort, c.skip);
    double amplitude = 12.34;
    EXPECT_EQ(TELVAR_Set_Amplitude(kSlot, &amplitude), 0);
    EXPECT_NEAR(amplitude, 12.3, 1e-9);
    EXPECT_EQ(FinishTrace(), TraceFile(c.trace + c.repairs));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendFailures,
    ::testing::Values(
        SendCase{"Command", 0, -7,
                 TelvarTest::Entry("COMPort::Write-char: Cannot write the port\n") +
                     TelvarTest::Line("WriteCommand: Error sending command 'A007B'\n"),
                 TelvarTest::Repair()},
        SendCase{"Argument", 1, -8,
                 TelvarTest::Entry("COMPort::Write-array: Cannot write the port\n") +
                     TelvarTest::Line("WriteCommand: Error sending data 'A007B'\n"),
                 kGarbledRepair},
        SendCase{"CarriageReturn", 2, -9,
                 TelvarTest::Entry("COMPort::Write-char: Cannot write the port\n") +
                     TelvarTest::Line("WriteCommand: Error sending the termination character "
                                      "'A007B'\n"),
                 kGarbledRepair}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return info.param.name; });

TEST_F(Transactions, PlainFormSendFailures) {
    OpenSlot();
    StartTrace();
    int flag = 0;
    fake_serial::FailNext(Op::WritePort);
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &flag), -7);
    fake_serial::FailLater(Op::WritePort, 1);
    EXPECT_EQ(TELVAR_Buffer_State(kSlot, &flag), -9);
    EXPECT_EQ(TELVAR_State(kSlot), -9);
    EXPECT_EQ(FinishTrace(),
              TraceFile(Entry("COMPort::Write-char: Cannot write the port\n") +
                        Line("WriteCommand: Error sending command 'Z'\n") +
                        Entry("COMPort::Write-char: Cannot write the port\n") +
                        Line("WriteCommand: Error sending the termination character 'Z'\n")));
}

using TraceFiles = TelvarTest;

TEST_F(TraceFiles, ReopeningClosesTheFirstFile) {
    StartTrace("first.txt");
    EXPECT_EQ(TELVAR_OpenDebugFile(kSlot, Path("second.txt").c_str()), 0);
    EXPECT_EQ(ReadFile(Path("first.txt")), TraceFile(""));
    tracePath = Path("second.txt");
    EXPECT_EQ(FinishTrace(), TraceFile(""));
}

TEST_F(TraceFiles, OpeningEmptiesAnExistingFile) {
    { std::ofstream(Path("trace.txt")) << "old contents\nmore\n"; }
    StartTrace();
    EXPECT_EQ(FinishTrace(), TraceFile(""));
}

TEST_F(TraceFiles, UncreatableFileKeepsTheStatus) {
    ASSERT_EQ(TELVAR_Close(kSlot), -3);
    EXPECT_EQ(TELVAR_OpenDebugFile(kSlot, Path("missing/trace.txt").c_str()), -400);
    EXPECT_EQ(TELVAR_State(kSlot), -3);
    // No file attached: the next failure traces nowhere.
    EXPECT_EQ(TELVAR_Close(kSlot), -3);
    EXPECT_EQ(TELVAR_CloseDebugFile(kSlot), 0);
}

TEST_F(TraceFiles, NullNameIsRefusedAndTheOpenFileKept) {
    StartTrace();
    EXPECT_EQ(TELVAR_OpenDebugFile(kSlot, nullptr), -400);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
    EXPECT_EQ(TELVAR_Close(kSlot), -3);
    EXPECT_EQ(FinishTrace(), TraceFile(Entry("COMPort::Close: Port handle is invalid\n")));
}

TEST_F(TraceFiles, CloseWithoutFileDoesNothing) {
    EXPECT_EQ(TELVAR_CloseDebugFile(kSlot), 0);
    EXPECT_EQ(TELVAR_State(kSlot), 0);
}

TEST_F(TraceFiles, EachSlotWritesItsOwnFile) {
    StartTrace("two.txt");
    ASSERT_EQ(TELVAR_OpenDebugFile(5, Path("five.txt").c_str()), 0);
    EXPECT_EQ(TELVAR_Close(5), -3);
    EXPECT_EQ(TELVAR_CloseDebugFile(5), 0);
    EXPECT_EQ(ReadFile(Path("five.txt")),
              TraceFile(Entry("COMPort::Close: Port handle is invalid\n"), 5));
    EXPECT_EQ(FinishTrace(), TraceFile(""));
}

}  // namespace

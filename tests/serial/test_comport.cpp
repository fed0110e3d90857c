// COMPort on the fake backend: every step, I/O state and trace line.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "comport.h"
#include "fake_serial.h"
#include "scripted_device.h"

namespace {

using fake_serial::Op;

const std::string kStamp = "\nSat Jan 02 03:04:05 2021\n";

// Trace entries as the file holds them: blank line, time stamp, message.
std::string Entries(std::initializer_list<std::string> messages) {
    std::string text;
    for (const std::string& m : messages) text += kStamp + m;
    return text;
}

std::string RepeatLine(unsigned k, unsigned long got, unsigned long wanted) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "COMPort::ReadFile: Could not read the data, repeating the operation #%u, data "
                  "read so far: %lu, expected: %lu\n",
                  k, got, wanted);
    return line;
}

std::string RepeatLines(unsigned from, unsigned to, unsigned long got, unsigned long wanted) {
    std::string text;
    for (unsigned k = from; k <= to; ++k) text += kStamp + RepeatLine(k, got, wanted);
    return text;
}

int CountCalls(const std::string& call) {
    int n = 0;
    for (const std::string& c : fake_serial::Calls()) n += c == call;
    return n;
}

// One port on \\.\COM3 with a scripted device behind it and a trace file.
struct Rig {
    ScriptedDevice device;
    std::FILE* trace = nullptr;
    COMPort port;

    Rig() {
        fake_serial::Reset();
        fake_serial::Attach(3, &device);
        trace = std::tmpfile();
        port.DebugFile = trace;
    }
    ~Rig() {
        port.DebugFile = nullptr;
        if (trace) std::fclose(trace);
        fake_serial::Reset();
    }

    // Open, then forget how: the test looks at what follows.
    void Open() {
        ASSERT_TRUE(port.Open(3));
        fake_serial::ClearCalls();
        ClearTrace();
    }
    std::string Text() {
        std::fflush(trace);
        std::string text;
        std::rewind(trace);
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, trace)) > 0) text.append(chunk, n);
        return text;
    }
    void ClearTrace() {
        std::fclose(trace);
        trace = std::tmpfile();
        port.DebugFile = trace;
    }
    void Buffer(const std::string& bytes) {
        std::memcpy(port.Buffer, bytes.data(), bytes.size());
        port.BufferCount = static_cast<std::uint32_t>(bytes.size());
    }
    std::string Buffered() const { return std::string(port.Buffer, port.BufferCount); }
};

// A device that only shows a fixed modem status word.
struct FixedLines : fake_serial::Peer {
    std::uint32_t word = 0;
    void OnHostBytes(unsigned, const char*, std::size_t) override {}
    std::uint32_t ModemStatus(unsigned) override { return word; }
};

// --- Construction, Open, Close ---

TEST(ComPort, StartsClosed) {
    COMPort port;
    EXPECT_EQ(port.DebugFile, nullptr);
    EXPECT_EQ(port.PortHandle, serial_os::kInvalidHandle);
    EXPECT_EQ(port.IOState, 1);
    EXPECT_EQ(port.BufferCount, 0u);
    EXPECT_STREQ(port.ErrorMessage(), "Port has not been opened yet");
}

TEST(ComPort, OpenAppliesTheLineAndRaisesBothLines) {
    Rig r;
    ASSERT_TRUE(r.port.Open(3));
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_EQ(r.Text(), "");
    const std::vector<std::string> calls = {
        "OpenPort \\\\.\\COM3", "GetLineSettings",  "SetLineSettings", "SetTimeouts normal",
        "PurgePort 0xF",        "EscapeFunction 3", "EscapeFunction 5"};
    EXPECT_EQ(fake_serial::Calls(), calls);

    const fake_serial::PortView v = fake_serial::View(3);
    EXPECT_TRUE(v.open && v.dtr && v.rts);
    EXPECT_EQ(v.purges, 1);
    const serial_os::LineSettings& s = v.settings;
    EXPECT_EQ(s.baudRate, 230400u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 2);
    EXPECT_TRUE(s.parityCheck);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_FALSE(s.outxCtsFlow || s.outxDsrFlow || s.dsrSensitivity || s.outX || s.inX ||
                 s.errorChar || s.discardNull || s.abortOnError);
    EXPECT_EQ(s.dtrControl, 0);
    EXPECT_EQ(s.rtsControl, 0);
    EXPECT_TRUE(s.txContinueOnXoff);
    EXPECT_EQ(s.eventChar, '\r');
    // Whatever else the driver reported is handed back untouched.
    for (unsigned char b : s.native) ASSERT_EQ(b, 0xA5);
    EXPECT_EQ(v.timeouts.readInterval, 10u);
    EXPECT_EQ(v.timeouts.readTotalConstant, 10u);
    EXPECT_EQ(v.timeouts.readTotalMultiplier + v.timeouts.writeTotalMultiplier +
                  v.timeouts.writeTotalConstant,
              0u);
}

TEST(ComPort, OpenFailsAtEachStepWithItsStateAndLines) {
    struct Case {
        Op op;
        std::int32_t ioState;
        std::vector<std::string> lines;
        bool staysOpen;
    };
    const Case cases[] = {
        {Op::OpenPort, 2, {"COMPort::Open: Cannot open the port \\\\.\\COM3\n"}, false},
        {Op::GetLineSettings, 3, {"COMPort::Open: Cannot get the port state\n"}, true},
        {Op::SetLineSettings, 4, {"COMPort::Open: Cannot set the port state\n"}, true},
        {Op::SetTimeouts,
         5,
         {"COMPort::SetCommTimeout: Cannot set the port timing\n",
          "COMPort::Open: Cannot set the port timing\n"},
         true},
        {Op::PurgePort,
         6,
         {"COMPort::Purge: Cannot purge the port\n", "COMPort::Open: Cannot purge the port\n"},
         true},
        {Op::EscapeFunction,
         10,
         {"COMPort::Control: Error setting the control lines of the port\n",
          "COMPort::Open: Error setting the control lines of the port\n"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.op));
        Rig r;
        fake_serial::FailNext(c.op);
        EXPECT_FALSE(r.port.Open(3));
        EXPECT_EQ(r.port.IOState, c.ioState);
        std::string expected;
        for (const std::string& line : c.lines) expected += kStamp + line;
        EXPECT_EQ(r.Text(), expected);
        EXPECT_EQ(fake_serial::View(3).open, c.staysOpen);
        EXPECT_EQ(r.port.PortHandle != serial_os::kInvalidHandle, c.staysOpen);
        if (!c.staysOpen) continue;
        // The port is held until Close.
        r.ClearTrace();
        EXPECT_FALSE(r.port.Open(3));
        EXPECT_EQ(r.port.IOState, 2);
        EXPECT_EQ(r.Text(), Entries({"COMPort::Open: The port is already open\n"}));
        EXPECT_TRUE(r.port.Close());
        EXPECT_FALSE(fake_serial::View(3).open);
    }
}

TEST(ComPort, OpenOfAnOpenPortLeavesItUsable) {
    Rig r;
    r.Open();
    EXPECT_FALSE(r.port.Open(3));
    EXPECT_EQ(r.port.IOState, 2);
    EXPECT_STREQ(r.port.ErrorMessage(), "Cannot open the port");
    EXPECT_EQ(r.Text(), Entries({"COMPort::Open: The port is already open\n"}));
    EXPECT_EQ(fake_serial::Calls(), std::vector<std::string>{});
    EXPECT_TRUE(r.port.Write('x'));
    EXPECT_EQ(fake_serial::View(3).hostWritten, "x");
}

TEST(ComPort, OpenNamesThePortInDecimal) {
    for (unsigned com : {0u, 255u}) {
        Rig r;
        EXPECT_FALSE(r.port.Open(static_cast<unsigned char>(com)));
        EXPECT_EQ(r.port.IOState, 2);
        const std::string path = "\\\\.\\COM" + std::to_string(com);
        EXPECT_EQ(r.Text(), Entries({"COMPort::Open: Cannot open the port " + path + "\n"}));
        EXPECT_EQ(fake_serial::Calls(), std::vector<std::string>{"OpenPort " + path + " failed"});
    }
}

TEST(ComPort, CloseDropsRtsThenDtrAndReleasesThePort) {
    Rig r;
    r.Open();
    EXPECT_TRUE(r.port.Close());
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_EQ(r.port.PortHandle, serial_os::kInvalidHandle);
    const std::vector<std::string> calls = {"EscapeFunction 4", "EscapeFunction 6", "ClosePort"};
    EXPECT_EQ(fake_serial::Calls(), calls);
    const fake_serial::PortView v = fake_serial::View(3);
    EXPECT_FALSE(v.open || v.dtr || v.rts);
    EXPECT_EQ(r.Text(), "");
    EXPECT_TRUE(r.port.Open(3));  // and it can be had again
}

TEST(ComPort, CloseFailures) {
    {
        Rig r;  // never opened
        EXPECT_FALSE(r.port.Close());
        EXPECT_EQ(r.port.IOState, 1);
        EXPECT_EQ(r.Text(), Entries({"COMPort::Close: Port handle is invalid\n"}));
    }
    {
        Rig r;  // the lines cannot be dropped: the port stays open
        r.Open();
        fake_serial::FailNext(Op::EscapeFunction);
        EXPECT_FALSE(r.port.Close());
        EXPECT_EQ(r.port.IOState, 10);
        EXPECT_NE(r.port.PortHandle, serial_os::kInvalidHandle);
        EXPECT_TRUE(fake_serial::View(3).open);
        EXPECT_EQ(r.Text(),
                  Entries({"COMPort::Control: Error setting the control lines of the port\n"}));
    }
    {
        Rig r;  // the close itself fails: the handle is given up anyway
        r.Open();
        fake_serial::FailNext(Op::ClosePort);
        EXPECT_FALSE(r.port.Close());
        EXPECT_EQ(r.port.IOState, 0);
        EXPECT_EQ(r.port.PortHandle, serial_os::kInvalidHandle);
        EXPECT_EQ(r.Text(), Entries({"COMPort::Close: Cannot close the port\n"}));
    }
}

TEST(ComPort, DestructorClosesAndTracesANeverOpenedPort) {
    Rig r;
    {
        COMPort open;
        ASSERT_TRUE(open.Open(3));
    }
    EXPECT_FALSE(fake_serial::View(3).open);
    EXPECT_FALSE(r.device.HostDtr() || r.device.HostRts());
    {
        COMPort idle;
        idle.DebugFile = r.trace;
    }
    EXPECT_EQ(r.Text(), Entries({"COMPort::Close: Port handle is invalid\n"}));
}

// --- Purge, time-outs, lines ---

TEST(ComPort, PurgeEmptiesTheBufferWhateverTheOutcome) {
    Rig r;
    r.Open();
    r.Buffer("left");
    fake_serial::DeviceSend(3, "queued");
    EXPECT_TRUE(r.port.Purge());
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 0u);
    EXPECT_EQ(fake_serial::Calls(), std::vector<std::string>{"PurgePort 0xF"});

    r.Buffer("left");
    r.port.IOState = 12;
    fake_serial::FailNext(Op::PurgePort);
    EXPECT_FALSE(r.port.Purge());
    EXPECT_EQ(r.port.IOState, 6);
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(r.Text(), Entries({"COMPort::Purge: Cannot purge the port\n"}));
}

TEST(ComPort, TimeoutSetsAndTheirFailuresLeaveIOStateAlone) {
    Rig r;
    r.Open();
    r.port.IOState = 9;
    EXPECT_TRUE(r.port.ResetCommTimeout());
    EXPECT_EQ(fake_serial::View(3).timeouts.readInterval, 0xFFFFFFFFu);
    EXPECT_TRUE(r.port.SetCommTimeout());
    fake_serial::FailAlways(Op::SetTimeouts);
    EXPECT_FALSE(r.port.ResetCommTimeout());
    EXPECT_FALSE(r.port.SetCommTimeout());
    EXPECT_EQ(r.port.IOState, 9);
    EXPECT_EQ(r.Text(), Entries({"COMPort::ResetCommTimeout: Cannot set the port timing\n",
                                 "COMPort::SetCommTimeout: Cannot set the port timing\n"}));
    const std::vector<std::string> calls = {"SetTimeouts immediate", "SetTimeouts normal",
                                            "SetTimeouts immediate failed",
                                            "SetTimeouts normal failed"};
    EXPECT_EQ(fake_serial::Calls(), calls);
}

TEST(ComPort, StatusSplitsTheModemWord) {
    struct Case {
        std::uint32_t word;
        bool cts, dsr, ring, dcd;
    };
    const Case cases[] = {
        {0x00, false, false, false, false}, {0x10, true, false, false, false},
        {0x20, false, true, false, false},  {0x40, false, false, true, false},
        {0x80, false, false, false, true},  {0xFF, true, true, true, true},
        {0x0F, false, false, false, false},
    };
    Rig r;
    FixedLines lines;
    fake_serial::Attach(3, &lines);
    r.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        lines.word = c.word;
        bool cts = !c.cts, dsr = !c.dsr, ring = !c.ring, dcd = !c.dcd;
        r.port.IOState = 7;
        EXPECT_TRUE(r.port.Status(cts, dsr, ring, dcd));
        EXPECT_EQ(r.port.IOState, 0);
        EXPECT_EQ(cts, c.cts);
        EXPECT_EQ(dsr, c.dsr);
        EXPECT_EQ(ring, c.ring);
        EXPECT_EQ(dcd, c.dcd);
    }
}

TEST(ComPort, StatusFailureLeavesTheOutValues) {
    Rig r;
    r.Open();
    fake_serial::FailNext(Op::GetModemStatus);
    bool cts = true, dsr = false, ring = true, dcd = false;
    EXPECT_FALSE(r.port.Status(cts, dsr, ring, dcd));
    EXPECT_EQ(r.port.IOState, 11);
    EXPECT_TRUE(cts && !dsr && ring && !dcd);
    EXPECT_EQ(r.Text(), Entries({"COMPort::Status: Error reading the status lines of the port\n"}));
}

TEST(ComPort, ControlSetsRtsFirstThenDtr) {
    struct Case {
        bool dtr, rts;
        const char* rtsCall;
        const char* dtrCall;
    };
    const Case cases[] = {
        {true, false, "EscapeFunction 4", "EscapeFunction 5"},
        {false, true, "EscapeFunction 3", "EscapeFunction 6"},
        {true, true, "EscapeFunction 3", "EscapeFunction 5"},
        {false, false, "EscapeFunction 4", "EscapeFunction 6"},
    };
    Rig r;
    r.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rtsCall) + c.dtrCall);
        fake_serial::ClearCalls();
        r.port.IOState = 5;
        EXPECT_TRUE(r.port.Control(c.dtr, c.rts));
        EXPECT_EQ(r.port.IOState, 0);
        EXPECT_EQ(fake_serial::Calls(), (std::vector<std::string>{c.rtsCall, c.dtrCall}));
        EXPECT_EQ(fake_serial::View(3).dtr, c.dtr);
        EXPECT_EQ(fake_serial::View(3).rts, c.rts);
    }
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, ControlFailureOnRtsLeavesDtrUntouched) {
    const std::string line = "COMPort::Control: Error setting the control lines of the port\n";
    for (int skip : {0, 1}) {
        SCOPED_TRACE(skip);
        Rig r;
        r.Open();  // both lines on
        fake_serial::FailLater(Op::EscapeFunction, skip);
        EXPECT_FALSE(r.port.Control(false, false));
        EXPECT_EQ(r.port.IOState, 10);
        EXPECT_EQ(r.Text(), Entries({line}));
        EXPECT_EQ(fake_serial::View(3).rts, skip == 0);
        EXPECT_TRUE(fake_serial::View(3).dtr);
        EXPECT_EQ(fake_serial::Calls().size(), static_cast<std::size_t>(skip + 1));
    }
}

TEST(ComPort, DeviceReadyFollowsCts) {
    Rig r;
    r.Open();
    EXPECT_TRUE(r.port.DeviceReady());
    EXPECT_EQ(r.port.IOState, 0);

    r.device.SetCts(false);
    EXPECT_FALSE(r.port.DeviceReady());
    EXPECT_EQ(r.port.IOState, 12);
    EXPECT_STREQ(r.port.ErrorMessage(), "Device is busy");
    EXPECT_EQ(r.Text(), Entries({"COMPort::DeviceReady: Device not ready (CTS inactive)\n"}));

    r.ClearTrace();
    fake_serial::FailNext(Op::GetModemStatus);
    EXPECT_FALSE(r.port.DeviceReady());
    EXPECT_EQ(r.port.IOState, 11);
    EXPECT_EQ(r.Text(),
              Entries({"COMPort::Status: Error reading the status lines of the port\n",
                       "COMPort::DeviceReady: Error reading the status lines of the port\n"}));
}

// --- Write ---

TEST(ComPort, WritesGoOutInOneCall) {
    Rig r;
    r.Open();
    EXPECT_TRUE(r.port.Write('A'));
    EXPECT_TRUE(r.port.Write("01F4\r", 5));
    EXPECT_TRUE(r.port.Write("", 0));
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_EQ(fake_serial::View(3).hostWritten, "A01F4\r");
    EXPECT_EQ(r.device.Commands(), std::vector<std::string>{"A01F4"});
    EXPECT_EQ(CountCalls("WritePort 1 -> 1") + CountCalls("WritePort 5 -> 5") +
                  CountCalls("WritePort 0 -> 0"),
              3);
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, WriteFailuresAreNeverRepeated) {
    struct Case {
        bool block;
        bool failCall;  // else a short write
        std::int32_t ioState;
        const char* line;
    };
    const Case cases[] = {
        {false, true, 8, "COMPort::Write-char: Cannot write the port\n"},
        {true, true, 8, "COMPort::Write-array: Cannot write the port\n"},
        {false, false, 9, "COMPort::Write-char: 0 bytes instead of 1 written to the port\n"},
        {true, false, 9, "COMPort::Write-array: 2 bytes instead of 5 written to the port\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Rig r;
        r.Open();
        if (c.failCall) {
            fake_serial::FailNext(Op::WritePort);
        } else {
            fake_serial::ShortWrite(c.block ? 2 : 0);
        }
        EXPECT_FALSE(c.block ? r.port.Write("abcd\r", 5) : r.port.Write('a'));
        EXPECT_EQ(r.port.IOState, c.ioState);
        EXPECT_EQ(r.Text(), Entries({c.line}));
        int writes = 0;
        for (const std::string& call : fake_serial::Calls()) writes += call.rfind("Write", 0) == 0;
        EXPECT_EQ(writes, 1);
        EXPECT_EQ(fake_serial::Calls().back().rfind("ClearErrors", 0), 0u);
    }
}

TEST(ComPort, WriteOfANullBlockFailsCleanly) {
    Rig r;
    r.Open();
    EXPECT_FALSE(r.port.Write(nullptr, 3));
    EXPECT_EQ(r.port.IOState, 8);
    EXPECT_EQ(fake_serial::View(3).hostWritten, "");
    EXPECT_EQ(r.Text(), Entries({"COMPort::Write-array: Cannot write the port\n"}));
}

TEST(ComPort, LineErrorsAfterAWriteAreTracedButDoNotFailIt) {
    Rig r;
    r.Open();
    fake_serial::RaiseLineErrors(serial_os::kErrTxFull);
    EXPECT_TRUE(r.port.Write('a'));
    EXPECT_EQ(r.port.COMErrors, 0x100u);
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_EQ(r.Text(), kStamp + "CommError = 00000100: full\n");
    EXPECT_TRUE(r.port.Write('b'));
    EXPECT_EQ(r.port.COMErrors, 0u);
}

// --- ReadFile, the repeat loop ---

TEST(ComPort, ReadFileWithNothingArrivingRepeatsAHundredTimes) {
    Rig r;
    r.Open();
    char data[4] = {};
    std::uint32_t count = 99;
    EXPECT_TRUE(r.port.ReadFile(data, 1, count, true));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(r.Text(), RepeatLines(1, 100, 0, 1));
    EXPECT_EQ(CountCalls("SleepMs 5"), 100);
    EXPECT_EQ(CountCalls("ReadPort 1 -> 0"), 101);
    EXPECT_EQ(CountCalls("ClearErrors -> 0x0"), 101);
    // 10 ms per read and 5 ms per pause: the loop's bound of about 1.5 s.
    EXPECT_EQ(fake_serial::NowMs(), 10u + 100u * 15u);
}

TEST(ComPort, ReadFileCollectsALateAnswer) {
    Rig r;
    r.Open();
    r.device.SetReplyDelayMs(12);
    r.device.Script("x1\r");
    ASSERT_TRUE(r.port.Write("x\r", 2));
    char data[8] = {};
    std::uint32_t count = 0;
    EXPECT_TRUE(r.port.ReadFile(data, 3, count, false));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(std::string(data, count), "x1\r");
    EXPECT_EQ(r.Text(), RepeatLines(1, 1, 0, 3));
}

TEST(ComPort, ReadFileStopsAtACarriageReturnOnlyWhenAsked) {
    {
        Rig r;
        r.Open();
        fake_serial::DeviceSend(3, "ab\r");
        char data[8] = {};
        std::uint32_t count = 0;
        EXPECT_TRUE(r.port.ReadFile(data, 8, count, true));
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(r.Text(), "");
    }
    {
        Rig r;
        r.Open();
        fake_serial::DeviceSend(3, "ab\r");
        char data[8] = {};
        std::uint32_t count = 0;
        EXPECT_TRUE(r.port.ReadFile(data, 8, count, false));
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(r.Text(), RepeatLines(1, 100, 3, 8));
    }
}

TEST(ComPort, ReadFileCarriesOnPastAFailedRepeatOnceBytesArrived) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "ab");
    r.device.SetReplyDelayMs(25);
    r.device.Script("cd");
    ASSERT_TRUE(r.port.Write("q\r", 2));
    fake_serial::FailLater(Op::ReadPort, 1);  // the first repeat fails
    char data[8] = {};
    std::uint32_t count = 0;
    EXPECT_TRUE(r.port.ReadFile(data, 4, count, false));
    EXPECT_EQ(std::string(data, count), "abcd");
    EXPECT_EQ(r.Text(),
              Entries({RepeatLine(1, 2, 4), "COMPort::ReadFile: Could not read the port\n",
                       RepeatLine(2, 2, 4)}));
}

TEST(ComPort, ReadFileFailsWhenAReadFailsBeforeAnyByte) {
    for (int skip : {0, 1}) {
        SCOPED_TRACE(skip);
        Rig r;
        r.Open();
        fake_serial::FailLater(Op::ReadPort, skip);
        char data[4] = {};
        std::uint32_t count = 0;
        r.port.IOState = 0;
        EXPECT_FALSE(r.port.ReadFile(data, 2, count, true));
        EXPECT_EQ(r.port.IOState, 7);
        EXPECT_EQ(count, 0u);
        const std::string failed = kStamp + "COMPort::ReadFile: Could not read the port\n";
        EXPECT_EQ(r.Text(), skip ? RepeatLines(1, 1, 0, 2) + failed : failed);
    }
}

TEST(ComPort, ReadFileTracesLineErrorsAfterEveryRead) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "z");
    fake_serial::RaiseLineErrors(serial_os::kErrRxParity | serial_os::kErrOverrun);
    char data[2] = {};
    std::uint32_t count = 0;
    EXPECT_TRUE(r.port.ReadFile(data, 1, count, true));
    EXPECT_EQ(r.port.COMErrors, 0x6u);
    EXPECT_EQ(r.Text(), kStamp + "CommError = 00000006: overrun parity\n");
}

// --- Read, one character ---

TEST(ComPort, ReadCharServesTheBufferWithoutTouchingThePort) {
    Rig r;
    r.Open();
    r.device.SetCts(false);
    fake_serial::FailAlways(Op::GetModemStatus);
    fake_serial::FailAlways(Op::ReadPort);
    r.Buffer("xyz");
    char c = 0;
    r.port.IOState = 12;
    EXPECT_TRUE(r.port.Read(c, false));
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(r.Buffered(), "yz");
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_TRUE(fake_serial::Calls().empty());
}

TEST(ComPort, ReadCharFromThePort) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "pq");
    char c = 0;
    EXPECT_TRUE(r.port.Read(c, false));
    EXPECT_EQ(c, 'p');
    // Only one byte is asked for; the next stays with the driver.
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 1u);
    r.device.SetCts(false);
    EXPECT_TRUE(r.port.Read(c, true));  // no ready check asked for
    EXPECT_EQ(c, 'q');
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, ReadCharFailures) {
    const std::string notReady = "COMPort::DeviceReady: Device not ready (CTS inactive)\n";
    const std::string statusLine = "COMPort::Status: Error reading the status lines of the port\n";
    const std::string readyStatus =
        "COMPort::DeviceReady: Error reading the status lines of the port\n";
    const std::string charNotReady = "COMPort::Read-char: Device not ready\n";
    {
        Rig r;
        r.Open();
        r.device.SetCts(false);
        char c = '?';
        EXPECT_FALSE(r.port.Read(c, false));
        EXPECT_EQ(r.port.IOState, 12);
        EXPECT_EQ(c, '?');
        EXPECT_EQ(r.Text(), Entries({notReady, charNotReady}));
    }
    {
        Rig r;
        r.Open();
        fake_serial::FailNext(Op::GetModemStatus);
        char c;
        EXPECT_FALSE(r.port.Read(c, false));
        EXPECT_EQ(r.port.IOState, 11);
        EXPECT_EQ(r.Text(), Entries({statusLine, readyStatus, charNotReady}));
    }
    {
        Rig r;
        r.Open();
        fake_serial::FailNext(Op::ReadPort);
        char c;
        EXPECT_FALSE(r.port.Read(c, false));
        EXPECT_EQ(r.port.IOState, 7);
        EXPECT_EQ(r.Text(), Entries({"COMPort::ReadFile: Could not read the port\n",
                                     "COMPort::Read-char: Could not read the port\n"}));
    }
    {
        Rig r;  // nothing comes: the loop gives up, then the read fails
        r.Open();
        char c;
        EXPECT_FALSE(r.port.Read(c, false));
        EXPECT_EQ(r.port.IOState, 7);
        EXPECT_STREQ(r.port.ErrorMessage(), "Error reading data from the port");
        EXPECT_EQ(
            r.Text(),
            RepeatLines(1, 100, 0, 1) +
                Entries({"COMPort::Read-char: Could not read the character from the port\n"}));
    }
}

// --- Read, a block ---

TEST(ComPort, ReadBlockOfNothingTouchesNothing) {
    Rig r;
    r.Open();
    r.device.SetCts(false);
    fake_serial::FailAlways(Op::GetModemStatus);
    fake_serial::FailAlways(Op::ReadPort);
    char data[4] = "abc";
    std::uint32_t length = 0;
    EXPECT_TRUE(r.port.Read(data, length, false, true));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(data[0], '\0');
    EXPECT_EQ(r.port.IOState, 0);
    EXPECT_TRUE(fake_serial::Calls().empty());
}

TEST(ComPort, ReadBlockFromTheBufferAlone) {
    Rig r;
    r.Open();
    r.device.SetCts(false);
    r.Buffer("hello");
    char data[8];
    std::uint32_t length = 3;
    EXPECT_TRUE(r.port.Read(data, length, false, false));
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(data, "hel");
    EXPECT_EQ(r.Buffered(), "lo");
    EXPECT_TRUE(fake_serial::Calls().empty());
}

TEST(ComPort, ReadBlockFromThePort) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "0123\rmore");
    char data[16];
    std::uint32_t length = 5;
    EXPECT_TRUE(r.port.Read(data, length, false, true));
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(data, "0123\r");
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 4u);  // never asked for
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, ReadBlockStopsAtACarriageReturn) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "12\r");
    char data[16];
    std::uint32_t length = 8;
    EXPECT_TRUE(r.port.Read(data, length, false, true));
    EXPECT_EQ(length, 3u);
    EXPECT_STREQ(data, "12\r");
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, ReadBlockDeliversBufferedBytesOnceThenThePort) {
    Rig r;
    r.Open();
    r.Buffer("ab");
    fake_serial::DeviceSend(3, "cde");
    char data[8];
    std::uint32_t length = 5;
    EXPECT_TRUE(r.port.Read(data, length, false, false));
    EXPECT_EQ(length, 5u);
    EXPECT_STREQ(data, "abcde");
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(CountCalls("ReadPort 3 -> 3"), 1);
}

TEST(ComPort, ReadBlockWithPartBufferedStillSucceedsWhenThePortFails) {
    struct Case {
        bool ctsOff;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {true, {"COMPort::DeviceReady: Device not ready (CTS inactive)\n"}},
        {false,
         {"COMPort::ReadFile: Could not read the port\n",
          "COMPort::Read-array: Cannot read the port\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ctsOff);
        Rig r;
        r.Open();
        r.Buffer("ab");
        fake_serial::DeviceSend(3, "cd");
        if (c.ctsOff) {
            r.device.SetCts(false);
        } else {
            fake_serial::FailNext(Op::ReadPort);
        }
        char data[8];
        std::uint32_t length = 4;
        EXPECT_TRUE(r.port.Read(data, length, false, false));
        EXPECT_EQ(length, 2u);
        EXPECT_STREQ(data, "ab");
        EXPECT_EQ(r.port.IOState, 0);
        EXPECT_EQ(r.port.BufferCount, 0u);
        std::string expected;
        for (const std::string& line : c.lines) expected += kStamp + line;
        EXPECT_EQ(r.Text(), expected);
    }
}

TEST(ComPort, ReadBlockFailures) {
    {
        Rig r;
        r.Open();
        r.device.SetCts(false);
        char data[8];
        std::uint32_t length = 4;
        EXPECT_FALSE(r.port.Read(data, length, false, true));
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(r.port.IOState, 12);
        EXPECT_EQ(r.Text(), Entries({"COMPort::DeviceReady: Device not ready (CTS inactive)\n",
                                     "COMPort::Read-array: Device not ready\n"}));
    }
    {
        Rig r;
        r.Open();
        fake_serial::FailNext(Op::ReadPort);
        char data[8];
        std::uint32_t length = 4;
        EXPECT_FALSE(r.port.Read(data, length, true, true));
        EXPECT_EQ(r.port.IOState, 7);
        EXPECT_EQ(r.port.BufferCount, 0u);
        EXPECT_EQ(r.Text(), Entries({"COMPort::ReadFile: Could not read the port\n",
                                     "COMPort::Read-array: Could not read the port\n"}));
    }
    {
        Rig r;
        r.Open();
        std::uint32_t length = 4;
        EXPECT_FALSE(r.port.Read(nullptr, length, true, true));
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(r.port.IOState, 7);
        EXPECT_TRUE(fake_serial::Calls().empty());
    }
}

TEST(ComPort, ReadBlockLargerThanTheBufferIsServedInPieces) {
    Rig r;
    r.Open();
    const std::string flood(COMPort::kBufferSize + 100, 'F');
    fake_serial::DeviceSend(3, flood);
    std::vector<char> data(COMPort::kBufferSize + 200, 'x');
    std::uint32_t length = COMPort::kBufferSize + 150;
    EXPECT_TRUE(r.port.Read(data.data(), length, true, false));
    EXPECT_EQ(length, COMPort::kBufferSize);
    EXPECT_EQ(data[COMPort::kBufferSize], '\0');
    EXPECT_EQ(data[COMPort::kBufferSize + 1], 'x');
    EXPECT_EQ(fake_serial::View(3).pendingToHost, 100u);
}

// --- DataAvailable, WaitWriteBufferEmpty ---

TEST(ComPort, DataAvailableLooksWithoutWaiting) {
    Rig r;
    r.Open();
    fake_serial::DeviceSend(3, "abc");
    EXPECT_TRUE(r.port.DataAvailable());
    EXPECT_EQ(r.Buffered(), "abc");
    const std::vector<std::string> calls = {"SetTimeouts immediate", "ReadPort 8192 -> 3",
                                            "ClearErrors -> 0x0", "SetTimeouts normal",
                                            "GetModemStatus -> 0xB0"};
    EXPECT_EQ(fake_serial::Calls(), calls);
    EXPECT_EQ(fake_serial::NowMs(), 0u);

    fake_serial::ClearCalls();
    EXPECT_TRUE(r.port.DataAvailable());  // the buffer answers
    EXPECT_TRUE(fake_serial::Calls().empty());
    char data[8];
    std::uint32_t length = 3;
    EXPECT_TRUE(r.port.Read(data, length, false, false));
    EXPECT_STREQ(data, "abc");

    fake_serial::ClearCalls();
    EXPECT_FALSE(r.port.DataAvailable());
    EXPECT_EQ(CountCalls("GetModemStatus -> 0xB0"), 0);
    EXPECT_EQ(fake_serial::View(3).timeouts.readTotalConstant, 10u);
    EXPECT_EQ(r.Text(), "");
}

TEST(ComPort, DataAvailableKeepsBytesWhileCtsIsInactive) {
    Rig r;
    r.Open();
    r.device.SetCts(false);
    fake_serial::DeviceSend(3, "ab");
    EXPECT_FALSE(r.port.DataAvailable());
    EXPECT_EQ(r.port.IOState, 12);
    EXPECT_EQ(r.Buffered(), "ab");
    EXPECT_EQ(r.Text(), Entries({"COMPort::DeviceReady: Device not ready (CTS inactive)\n"}));
    EXPECT_TRUE(r.port.DataAvailable());
}

TEST(ComPort, DataAvailableReadFailure) {
    Rig r;
    r.Open();
    fake_serial::FailNext(Op::ReadPort);
    EXPECT_FALSE(r.port.DataAvailable());
    EXPECT_EQ(r.port.BufferCount, 0u);
    EXPECT_EQ(r.Text(), Entries({"COMPort::DataAvailable: Cannot read the port\n"}));
    EXPECT_EQ(fake_serial::View(3).timeouts.readTotalConstant, 10u);
}

TEST(ComPort, WaitWriteBufferEmptyWantsExactlyTheTransmitEvent) {
    Rig r;
    r.Open();
    r.port.IOState = 4;
    EXPECT_TRUE(r.port.WaitWriteBufferEmpty());
    fake_serial::SetEventMask(serial_os::kEventTxEmpty | 0x1);
    EXPECT_FALSE(r.port.WaitWriteBufferEmpty());
    EXPECT_EQ(r.Text(), "");
    fake_serial::FailNext(Op::WaitEvent);
    EXPECT_FALSE(r.port.WaitWriteBufferEmpty());
    EXPECT_EQ(r.Text(),
              Entries({"COMPort::WaitWriteBufferEmpty: Error waiting for port events\n"}));
    EXPECT_EQ(r.port.IOState, 4);
}

// --- Texts ---

TEST(ComPort, ErrorMessageForEveryCode) {
    const char* const texts[] = {
        "No error",
        "Port has not been opened yet",
        "Cannot open the port",
        "Cannot get the state of the port",
        "Cannot set the state of the port",
        "Cannot set the timeouts for the port",
        "Cannot clear the port",
        "Error reading data from the port",
        "Error writing data to the port",
        "Wrong data amount written to the port",
        "Error setting the control lines of the port",
        "Error reading the status lines of the port",
        "Device is busy",
    };
    COMPort port;
    for (std::int32_t code = 0; code <= 12; ++code) {
        port.IOState = code;
        EXPECT_STREQ(port.ErrorMessage(), texts[code]) << code;
    }
    for (std::int32_t code : {-1, 13, INT_MIN, INT_MAX}) {
        port.IOState = code;
        EXPECT_STREQ(port.ErrorMessage(), "Unknown error") << code;
    }
}

TEST(ComPort, WriteComErrorNamesTheFlagsInTableOrder) {
    struct Case {
        std::uint32_t flags;
        std::string text;  // empty: nothing at all
    };
    const Case cases[] = {
        {0x0000, ""},
        {0x0018, "CommError = 00000018: break framing\n"},
        {0x851F, "CommError = 0000851F: break framing I/O invalid overrun overflow parity full\n"},
        {0x0020, "CommError = 00000020:\n"},
        {0x10000002, "CommError = 10000002: overrun\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Rig r;
        r.port.COMErrors = c.flags;
        r.port.WriteCOMError();
        EXPECT_EQ(r.Text(), c.text.empty() ? "" : kStamp + c.text);
    }
    COMPort silent;  // no trace file: nothing to do
    silent.COMErrors = 0x18;
    silent.WriteCOMError();
    silent.WriteDebugTime();
}

TEST(ComPort, TimeStampIsEnglishWithFixedWidths) {
    struct Case {
        serial_os::LocalTime time;
        const char* text;
    };
    const Case cases[] = {
        {{1999, 12, 31, 23, 59, 9, 5}, "\nFri Dec 31 23:59:09 1999\n"},
        {{2024, 2, 5, 0, 0, 0, 1}, "\nMon Feb 05 00:00:00 2024\n"},
        {{2030, 7, 14, 7, 8, 30, 0}, "\nSun Jul 14 07:08:30 2030\n"},
    };
    for (const Case& c : cases) {
        Rig r;
        fake_serial::SetLocalTime(c.time);
        r.port.WriteDebugTime();
        EXPECT_EQ(r.Text(), c.text);
    }
}

}  // namespace

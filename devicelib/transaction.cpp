// The command transaction layer: handshake, send forms, reply reader and checks,
// received-data dump, host purge and the communication repair.
#include <cstdio>
#include <cstring>

#include "library.h"
#include "telvar.h"

namespace telvar {

char g_argument[kArgumentSize];
char g_reply[kReplySize + 1];
std::uint32_t g_replyLength;

namespace {

constexpr int kPolls = 1000;
constexpr int kRepairs = 10;
constexpr int kTimedOut = 1;  // a CTS wait ran out of polls; its caller traces why

enum class Await { Connection, Ready, NotReady };

// The handshake check and the host purge word their line failures differently.
struct LineTexts {
    const char* statusFailed;
    const char* notConnected;  // takes DSR and DCD as "Y" or "N"
};
constexpr LineTexts kCheckIfcTexts = {"CheckIfc: Error getting status\n",
                                      "CheckIfc: device not connected - DSR=%s, DCD=%s\n"};
constexpr LineTexts kHostPurgeTexts = {"TELVAR_Open: Error reading the port status lines\n",
                                       "TELVAR_Open: Device not connected - DSR=%s, DCD=%s\n"};

const char* YesNo(bool line) {
    return line ? "Y" : "N";
}

// Polls the status lines up to 1000 times, 1 ms apart. The connection wait fails with
// -100 only when it runs out; the CTS waits fail at once when the device goes away.
int AwaitLines(unsigned short portNumber, Await what, const LineTexts& texts) {
    COMPort& port = g_slots[portNumber].port;
    bool cts = false, dsr = false, ring = false, dcd = false;
    for (int poll = 1;; ++poll) {
        if (!port.Status(cts, dsr, ring, dcd)) {
            Trace(portNumber, "%s", texts.statusFailed);
            return Store(portNumber, kStatusFailed);
        }
        const bool connected = dsr && dcd;
        if (what == Await::Connection) {
            if (connected) return kOk;
        } else {
            if (!connected) break;
            if (cts == (what == Await::Ready)) return kOk;
        }
        serial_os::SleepMs(1);
        if (poll == kPolls) {
            if (what != Await::Connection) return kTimedOut;
            break;
        }
    }
    Trace(portNumber, texts.notConnected, YesNo(dsr), YesNo(dcd));
    return Store(portNumber, kNotConnected);
}

int CommunicationRepair(unsigned short portNumber) {
    TraceStamped(portNumber, "Repairing communication\n");
    const int host = HostPurge(portNumber);
    int purged = 0;
    DevicePurge(portNumber, purged);
    TraceStamped(portNumber, "Port %spurged\n", purged == 1 ? "" : "not ");
    if (host != kOk) Store(portNumber, host);
    return g_slots[portNumber].status;
}

}  // namespace

int CheckIfc(unsigned short portNumber) {
    int status = AwaitLines(portNumber, Await::Connection, kCheckIfcTexts);
    if (status != kOk) return status;
    status = AwaitLines(portNumber, Await::Ready, kCheckIfcTexts);
    if (status != kTimedOut) return status;
    Trace(portNumber, "CheckIfc: device not ready - CTS=false\n");
    return Store(portNumber, kNotReady);
}

int WriteCommand(unsigned short portNumber, char command) {
    COMPort& port = g_slots[portNumber].port;
    if (!port.Write(command)) {
        Trace(portNumber, "WriteCommand: Error sending command '%c'\n", command);
        return Store(portNumber, kSendCommandFailed);
    }
    if (!port.Write('\r')) {
        Trace(portNumber, "WriteCommand: Error sending the termination character '%c'\n", command);
        return Store(portNumber, kSendTerminatorFailed);
    }
    return kOk;
}

int WriteCommandArgument(unsigned short portNumber, char command) {
    COMPort& port = g_slots[portNumber].port;
    if (!port.Write(command)) {
        Trace(portNumber, "WriteCommand: Error sending command '%c%s'\n", command, g_argument);
        return Store(portNumber, kSendCommandFailed);
    }
    if (!port.Write(g_argument, static_cast<unsigned>(std::strlen(g_argument)))) {
        Trace(portNumber, "WriteCommand: Error sending data '%c%s'\n", command, g_argument);
        return Store(portNumber, kSendDataFailed);
    }
    if (!port.Write('\r')) {
        Trace(portNumber, "WriteCommand: Error sending the termination character '%c%s'\n", command,
              g_argument);
        return Store(portNumber, kSendTerminatorFailed);
    }
    return kOk;
}

int FormatLongArgument(unsigned short portNumber, std::uint32_t value, int digits) {
    const int length =
        std::snprintf(g_argument, kArgumentSize, "%0*X", digits, static_cast<unsigned>(value));
    if (length != digits) {
        Trace(portNumber,
              "WriteCommand-long: Wrong argument passed to the function: long=%lu, digits=%d => "
              "'%s'\n",
              static_cast<unsigned long>(value), digits, g_argument);
        return Store(portNumber, kWrongArgument);
    }
    return kOk;
}

int ReadCommand(unsigned short portNumber, char command, int payload) {
    COMPort& port = g_slots[portNumber].port;
    g_replyLength = payload >= 1 ? static_cast<std::uint32_t>(payload) + 1 : kReplySize;
    char echo = 0;
    if (!port.Read(echo, false)) {
        Trace(portNumber, "ReadCommand: Error receiving command '%c'\n", command);
        return Store(portNumber, kReceiveCommandFailed);
    }
    if (!port.Read(g_reply, g_replyLength, false, true)) {
        Trace(portNumber, "ReadCommand: Error receiving data of the command '%c'\n", echo);
        DumpReply(portNumber);
        return Store(portNumber, kReceiveDataFailed);
    }
    // The echo is judged only now, so that a wrong reply is consumed whole.
    if (echo != command) {
        Trace(portNumber, "ReadCommand: Wrong command received: '%c' instead of '%c'\n", echo,
              command);
        DumpReply(portNumber);
        return Store(portNumber, kWrongCommand);
    }
    if (payload >= 1 && g_replyLength != static_cast<std::uint32_t>(payload) + 1) {
        Trace(portNumber,
              "ReadCommand: Error receiving data: '%d' byte(s) expected, '%lu' byte(s) read\n",
              payload + 1, static_cast<unsigned long>(g_replyLength));
        DumpReply(portNumber);
        return Store(portNumber, kReceiveDataFailed);
    }
    if (g_replyLength == 0 || g_reply[g_replyLength - 1] != '\r') {
        Trace(portNumber,
              "ReadCommand: Error receiving the termination character of the command '%c'\n",
              command);
        DumpReply(portNumber);
        return Store(portNumber, kReceiveTerminatorFailed);
    }
    g_reply[g_replyLength - 1] = '\0';
    return kOk;
}

int CheckYesNo(unsigned short portNumber, char command, int& flag) {
    switch (g_reply[0]) {
        case 'Y':
            flag = 1;
            return kOk;
        case 'N':
            flag = 0;
            return kOk;
        default:
            Trace(portNumber, "ReadCommand-bool: Wrong argument received: command='%c', ", command);
            DumpReply(portNumber);
            return Store(portNumber, kWrongReply);
    }
}

int CheckInteger(unsigned short portNumber, char command, std::uint32_t& value) {
    unsigned scanned = 0;
    if (std::sscanf(g_reply, "%X", &scanned) != 1) {
        Trace(portNumber, "ReadCommand-int: Wrong argument received: command='%c', ", command);
        DumpReply(portNumber);
        return Store(portNumber, kWrongReply);
    }
    value = scanned;
    return kOk;
}

void DumpReply(unsigned short portNumber) {
    std::FILE* file = g_slots[portNumber].port.DebugFile;
    if (file == nullptr) return;
    std::fputs("Data read: '", file);
    const std::uint32_t length = g_replyLength < kReplySize ? g_replyLength : kReplySize;
    for (std::uint32_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(g_reply[i]);
        if (byte >= 0x20 && byte <= 0x7F) {
            std::fputc(byte, file);
        } else {
            std::fprintf(file, "\\x%02X", byte);
        }
    }
    std::fputs("'\n", file);
}

int HostPurge(unsigned short portNumber) {
    if (!InRange(portNumber)) return kPortOutOfRange;
    COMPort& port = g_slots[portNumber].port;
    // Dropping RTS asks the device to become not ready while the queues are emptied.
    if (!port.Control(true, false)) {
        Trace(portNumber, "TELVAR_Open: Error setting the port status lines\n");
        return Store(portNumber, kControlFailed);
    }
    int status = AwaitLines(portNumber, Await::Connection, kHostPurgeTexts);
    if (status != kOk) return status;
    status = AwaitLines(portNumber, Await::NotReady, kHostPurgeTexts);
    if (status == kTimedOut) {
        port.Control(true, true);
        Trace(portNumber, "TELVAR_Purge: Device state could not be set to not ready\n");
        return Store(portNumber, kStillReady);
    }
    if (status != kOk) return status;
    if (!port.Purge()) {
        port.Control(true, true);
        Trace(portNumber, "TELVAR_Purge: Error purging the port\n");
        return Store(portNumber, kPurgeFailed);
    }
    if (!port.Control(true, true)) {
        Trace(portNumber, "TELVAR_Purge: Error setting the port control lines\n");
        return Store(portNumber, kControlFailed);
    }
    return CheckIfc(portNumber);
}

int RepairLoop(unsigned short portNumber) {
    for (int repair = 0; repair < kRepairs; ++repair) {
        if (CommunicationRepair(portNumber) == kOk) return kOk;
    }
    return g_slots[portNumber].status;
}

}  // namespace telvar

extern "C" int TELVAR_Purge(unsigned short PortNumber) {
    return telvar::HostPurge(PortNumber);
}

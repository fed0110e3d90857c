// Ombrel's frame: number conversions, the command line as a table of arguments, and
// whole runs of the program (in a child process, on a scripted library, with keys from
// a pipe) with their exact output, library calls and exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fake_telvar.h"
#include "frame.h"
#include "program.h"

namespace {

// ---- Conversions -------------------------------------------------------------------------

TEST(ConvertInteger, ReadsTheNumberAtTheStart) {
    struct Case {
        const char* text;
        bool converts;
        int value;
    };
    const Case cases[] = {
        {"3", true, 3},     {"3x", true, 3},  {"  -12", true, -12},
        {"+7", true, 7},    {"007", true, 7}, {"2147483647", true, 2147483647},
        {"COM3", false, 0}, {"", false, 0},   {"   ", false, 0},
        {"x3", false, 0},   {"-", false, 0},  {"99999999999", false, 0},
        {"0x10", true, 0},  {"1.9", true, 1},
    };
    for (const Case& c : cases) {
        int value = -99;
        EXPECT_EQ(ombrel::ConvertInteger(c.text, value), c.converts) << '"' << c.text << '"';
        EXPECT_EQ(value, c.converts ? c.value : -99) << '"' << c.text << '"';
    }
}

TEST(ConvertFloat, ReadsTheNumberAtTheStart) {
    struct Case {
        const char* text;
        bool converts;
        double value;
    };
    const Case cases[] = {
        {"12.5", true, 12.5}, {"12.5V", true, 12.5}, {" -3", true, -3.0}, {"1e2", true, 100.0},
        {".5", true, 0.5},    {"7,5", true, 7.0},    {"volts", false, 0}, {"", false, 0},
        {"V12", false, 0},    {"-", false, 0},
    };
    for (const Case& c : cases) {
        double value = -99;
        EXPECT_EQ(ombrel::ConvertFloat(c.text, value), c.converts) << '"' << c.text << '"';
        EXPECT_EQ(value, c.converts ? c.value : -99) << '"' << c.text << '"';
    }
}

// ---- Command line ------------------------------------------------------------------------

struct LineCase {
    std::vector<const char*> arguments;  // after the program name
    bool bad;
    bool interactive;
    std::string letters;  // of the switches that run, in order
};

std::string Letters(const ombrel::CommandLine& line) {
    std::string letters;
    for (const ombrel::Switch& s : line.switches) letters += s.letter;
    return letters;
}

ombrel::CommandLine Read(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "ombrel");
    return ombrel::ReadCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

TEST(ReadCommandLine, SwitchesRunInOrderUpToABadArgument) {
    const LineCase cases[] = {
        {{}, true, true, ""},
        {{"COM3"}, true, true, ""},
        {{"3"}, false, true, ""},
        {{"3x"}, false, true, ""},
        {{"3", "-?"}, true, true, ""},
        {{"3", "-"}, true, true, ""},
        {{"3", "B"}, true, true, ""},
        {{"3", "-J"}, true, true, ""},
        {{"3", "-1"}, true, true, ""},
        // A switch without parameters runs before its third character is found bad.
        {{"3", "-Bx"}, true, true, "B"},
        {{"3", "-b", "/Z", "-Bx", "-d"}, true, true, "bZB"},
        {{"3", "-A"}, true, true, ""},
        {{"3", "-A", "volts"}, true, true, ""},
        {{"3", "-Ax", "5"}, true, true, ""},
        {{"3", "-E", "yes"}, true, true, ""},
        {{"3", "-Ex", "Y"}, true, true, ""},
        {{"3", "-E"}, true, true, ""},
        {{"3", "-W", "1", "2"}, true, true, ""},
        {{"3", "-x", "p.txt", "1", "2", "0.5"}, true, true, ""},
        {{"3", "-T"}, false, false, ""},
        {{"3", "-Q", "-T"}, false, false, "Q"},
        {{"3", "-B", "-T", "-J"}, false, false, "B"},
        {{"3", "/t", "-Bx"}, false, false, ""},
        {{"3", "-Tx"}, true, false, ""},
        {{"3", "-Q", "-G", "-B"}, false, true, "QGB"},
        {{"3", "-e", "-a", "-u", "-U", "-l", "-L", "-g", "-k", "-K"}, false, true, "eauUlLgkK"},
        {{"3", "-c", "-H", "-f", "-S", "-i", "-N", "-p", "-V", "-D", "-q"},
         false,
         true,
         "cHfSiNpVDq"},
    };
    for (const LineCase& c : cases) {
        const ombrel::CommandLine line = Read(c.arguments);
        const std::string what = testing::PrintToString(c.arguments);
        EXPECT_EQ(line.bad, c.bad) << what;
        EXPECT_EQ(line.interactive, c.interactive) << what;
        EXPECT_EQ(Letters(line), c.letters) << what;
    }
}

TEST(ReadCommandLine, ComNumberIsTakenUnchecked) {
    EXPECT_EQ(Read({"3x"}).comNumber, 3);
    EXPECT_EQ(Read({"0"}).comNumber, 0);
    EXPECT_EQ(Read({"300"}).comNumber, 300);
    EXPECT_EQ(Read({"-5"}).comNumber, -5);
}

TEST(ReadCommandLine, ParametersAreConvertedAndConsumed) {
    const ombrel::CommandLine amplitude = Read({"3", "-A", "12.5V", "-a"});
    ASSERT_EQ(Letters(amplitude), "Aa");
    EXPECT_EQ(amplitude.switches[0].values[0], 12.5);

    for (const char* on : {"Y", "y"}) {
        const ombrel::CommandLine line = Read({"3", "-E", on});
        ASSERT_EQ(Letters(line), "E");
        EXPECT_EQ(line.switches[0].state, 1);
    }
    for (const char* off : {"N", "n"}) {
        const ombrel::CommandLine line = Read({"3", "/E", off});
        ASSERT_EQ(Letters(line), "E");
        EXPECT_EQ(line.switches[0].state, 0);
    }

    const ombrel::CommandLine cycle = Read({"3", "-w", "10", "20.5", "0.5"});
    ASSERT_EQ(Letters(cycle), "w");
    EXPECT_EQ(cycle.switches[0].values[0], 10);
    EXPECT_EQ(cycle.switches[0].values[1], 20.5);
    EXPECT_EQ(cycle.switches[0].values[2], 0.5);

    // The file name is any text, a switch-like one included.
    const ombrel::CommandLine protocol =
        Read({"3", "-X", "-odd name.txt", "100", "200", "-10", "1.5", "-T"});
    ASSERT_EQ(Letters(protocol), "X");
    EXPECT_FALSE(protocol.interactive);
    EXPECT_STREQ(protocol.switches[0].fileName, "-odd name.txt");
    EXPECT_EQ(protocol.switches[0].values[0], 100);
    EXPECT_EQ(protocol.switches[0].values[1], 200);
    EXPECT_EQ(protocol.switches[0].values[2], -10);
    EXPECT_EQ(protocol.switches[0].values[3], 1.5);
}

TEST(BaseName, CutsPathAndExtension) {
    EXPECT_EQ(ombrel::BaseName("C:\\tools\\ombrel.exe"), "ombrel");
    EXPECT_EQ(ombrel::BaseName("/usr/local/bin/ombrel"), "ombrel");
    EXPECT_EQ(ombrel::BaseName("./build.dir/ombrel"), "ombrel");
    EXPECT_EQ(ombrel::BaseName("C:\\x.y\\ombrel.v2.exe"), "ombrel");
    EXPECT_EQ(ombrel::BaseName("ombrel"), "ombrel");
    EXPECT_EQ(ombrel::BaseName("dir/"), "");
}

// ---- Whole runs ----------------------------------------------------------------------------

struct Outcome {
    int exitCode = -1000;  // as the shell sees it
    std::string output;
    std::vector<std::string> calls;
};

std::FILE* callsFile = nullptr;

void WriteCalls() {
    for (const std::string& call : fake_telvar::Calls())
        std::fprintf(callsFile, "%s\n", call.c_str());
    std::fflush(callsFile);
}

std::string ReadAll(std::FILE* file) {
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    return text;
}

// The compilation date varies; the rest of the usage screen does not.
std::string MaskDate(std::string output) {
    const std::string marker = "compilation date: ";
    const std::size_t at = output.find(marker);
    if (at != std::string::npos) output.replace(at + marker.size(), 11, "<date>");
    return output;
}

// Runs the program in a child with keys from a pipe holding `input` and a scripted
// library prepared by setUp.
Outcome RunProgram(
    std::vector<const char*> arguments, const std::string& input,
    const std::function<void()>& setUp = [] {}) {
    arguments.insert(arguments.begin(), "C:\\tools\\ombrel.exe");
    std::FILE* output = std::tmpfile();
    std::FILE* calls = std::tmpfile();
    int keys[2];
    if (output == nullptr || calls == nullptr || pipe(keys) != 0) return {};
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);  // a run that waits for keys it never gets fails instead of hanging
        close(keys[1]);
        dup2(keys[0], STDIN_FILENO);
        dup2(fileno(output), STDOUT_FILENO);
        fake_telvar::Reset();
        setUp();
        ombrel::modes = ombrel::Modes();
        callsFile = calls;
        std::atexit(WriteCalls);
        ombrel::Run(static_cast<int>(arguments.size()), arguments.data());
    }
    close(keys[0]);
    if (!input.empty() && write(keys[1], input.data(), input.size()) < 0) ADD_FAILURE();
    close(keys[1]);
    int status = 0;
    waitpid(child, &status, 0);
    Outcome outcome;
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    outcome.output = MaskDate(ReadAll(output));
    const std::string callText = ReadAll(calls);
    for (std::size_t start = 0; start < callText.size();) {
        const std::size_t end = callText.find('\n', start);
        outcome.calls.push_back(callText.substr(start, end - start));
        start = end + 1;
    }
    std::fclose(output);
    std::fclose(calls);
    return outcome;
}

const std::string kUsage =
    "ombrel ver. 1.20, compilation date: <date>\n"
    "\n"
    "Test utility for QUENTA devices\n"
    "\n"
    "Usage: ombrel COMNumber [switches]\n"
    "  switch: { -option, /option }\n"
    "    options:\n"
    "      Q/q:  quiet mode,\n"
    "      G/g:  debug mode, G: additional I/O debug into Debug.txt,\n"
    "      B/b:  get device buffer status,      Z/z: purge communication,\n"
    "      U/u:  get uptime, U: continuous,     K/k: simulate the keypad,\n"
    "      L/l:  get display data, L: whole display at once,\n"
    "      D/d:  get firmware date,             V/v: get firmware version,\n"
    "      P/p:  get product identification,    N/n: get product number,\n"
    "      C/c:  get hardware capabilities,     H/h:  get housekeeping data\n"
    "      F/f:  get RF-generator data,         S/s: get power supply data,\n"
    "      I/i:  get interlock state,\n"
    "      A f:  set RF amplitude,              a:   get RF amplitude,\n"
    "      En b: set RF state,                  e:   get RF state,\n"
    "      W/w f f n: cycle the RF amplitude,\n"
    "      X/x s f f f f: create test protocol, X: pause after each voltage step,\n"
    "      T/t:  terminate the program,         ?: get this help\n"
    "    parameters: n=integer, f=float, b=Boolean (Y/N), s=string\n";

const std::string kHelp =
    "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,\n"
    "      'u','U' to get uptime, U: continuous,  'k','K' to simulate the keypad,\n"
    "      'l','L' to get display data, L: whole display at once,\n"
    "      'd','D' to get firmware date,          'v','V' to get firmware version,\n"
    "      'p','P' to get product identification, 'n','N' to get product number,\n"
    "      'c','C' to get hardware capabilities,  'h','H' to get housekeeping data,\n"
    "      'f','F' to get RF-generator data,      's','S' to get power supply data,\n"
    "      'i','I' to get interlock state,\n"
    "      'a','A' to get/set RF amplitude,       'e','E' to get/set RF state,\n"
    "      'w','W' to cycle the RF amplitude,\n"
    "      'x','X' to create test protocol, X: pause after each voltage step,\n"
    "      'q','Q' to set quiet mode off/on,\n"
    "      'Esc' to stop,                             '?' to get this help...\n";

const std::string kOpened = "Communication port opened\n";
const std::string kHint = "Press '?' for help\n";
const std::string kClosed = "Communication port closed\nProgram finished\n";

// The operations' own lines are checked elsewhere.
const std::string kAnyOutput = "<any>";

struct RunCase {
    const char* name;
    std::vector<const char*> arguments;
    std::string input;
    std::function<void()> setUp;
    int exitCode;
    std::string output;
    std::vector<std::string> calls;
};

void Plain() {}

const std::vector<std::string> kOpenedThenClosed = {"TELVAR_Open 7 3", "TELVAR_Close 7",
                                                    "TELVAR_CloseDebugFile 7"};

const RunCase kRuns[] = {
    // Bad command lines: the usage screen, exit code -1, no port opened by Ombrel.
    {"NoArgument", {}, "", Plain, 255, kUsage, {"TELVAR_CloseDebugFile 7"}},
    {"ComNumberNotANumber", {"COM3"}, "", Plain, 255, kUsage, {"TELVAR_CloseDebugFile 7"}},
    {"Question", {"3", "-?"}, "", Plain, 255, kUsage, {"TELVAR_CloseDebugFile 7"}},
    {"AmplitudeMissing", {"3", "-A"}, "", Plain, 255, kUsage, {"TELVAR_CloseDebugFile 7"}},
    {"AmplitudeNotANumber",
     {"3", "-A", "volts"},
     "",
     Plain,
     255,
     kUsage,
     {"TELVAR_CloseDebugFile 7"}},
    {"StateNotOneCharacter",
     {"3", "-E", "yes"},
     "",
     Plain,
     255,
     kUsage,
     {"TELVAR_CloseDebugFile 7"}},
    {"StateSwitchTooLong", {"3", "-Ex", "Y"}, "", Plain, 255, kUsage, {"TELVAR_CloseDebugFile 7"}},
    {"SwitchRunsBeforeItsExtraCharacter",
     {"3", "-Bx"},
     "",
     Plain,
     255,
     kOpened + "Buffer is empty\n" + kUsage,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_CloseDebugFile 7"}},

    // Switch T: no loop.
    {"Terminate", {"3", "-T"}, "", Plain, 0, kOpened + kClosed, kOpenedThenClosed},
    {"QuietTerminate", {"3", "-Q", "-T"}, "", Plain, 0, "", kOpenedThenClosed},
    {"TerminateStopsReading",
     {"3", "-B", "-T", "-J"},
     "",
     Plain,
     0,
     kOpened + "Buffer is empty\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"SetAmplitudeFromTheCommandLine",
     {"3", "-A", "12.5V", "-T"},
     "",
     Plain,
     0,
     kOpened + "RF amplitude set to 12.5V\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Set_Amplitude 7 12.500000", "TELVAR_Close 7",
      "TELVAR_CloseDebugFile 7"}},
    {"SetRFStateOn",
     {"3", "-E", "y", "-t"},
     "",
     Plain,
     0,
     kOpened + "RF state set to on \n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Set_Enable 7 1", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"ReadRFState",
     {"3", "-e", "-T"},
     "",
     Plain,
     0,
     kOpened + "RF state: off\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Get_Enable 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"CloseFailsButTheRunEndsWell",
     {"3", "-T"},
     "",
     [] {
         fake_telvar::script().status["TELVAR_Close"] = -3;
         fake_telvar::script().errorText = "Error closing the port";
     },
     0,
     kOpened + "Error closing the port\n" + kClosed,
     kOpenedThenClosed},

    // Modes: debug mode switches quiet mode off at the connection.
    {"QuietThenDebug",
     {"3", "-Q", "-G", "-B"},
     "",
     Plain,
     0,
     "Checking the DLL Version...\nDLL Version: 1.20\nOpening the communication port...\n" +
         kOpened + "Getting the buffer status of the device...\nBuffer of the device is empty\n" +
         kHint + "Closing the communication port...\n" + kClosed,
     {"TELVAR_OpenDebugFile 7 Debug.txt", "TELVAR_Open 7 3", "TELVAR_Buffer_State 7",
      "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"DebugThenQuiet",
     {"3", "-G", "-B", "-Q"},
     "",
     Plain,
     0,
     "Checking the DLL Version...\nDLL Version: 1.20\nOpening the communication port...\n" +
         kOpened +
         "Getting the buffer status of the device...\nBuffer of the device is empty\n"
         "Closing the communication port...\n",
     {"TELVAR_OpenDebugFile 7 Debug.txt", "TELVAR_Open 7 3", "TELVAR_Buffer_State 7",
      "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},

    // Connection.
    {"ComNumberZero",
     {"0"},
     "",
     [] {
         fake_telvar::script().status["TELVAR_Open"] = -2;
         fake_telvar::script().errorText = "Error opening the port";
     },
     254,
     "Wrong COMNumber specified: 0, allowed range: 1..255\nError opening the port\n",
     {"TELVAR_Open 7 0"}},
    {"ComNumberWrapsToEightBits",
     {"300", "-T"},
     "",
     Plain,
     0,
     "Wrong COMNumber specified: 300, allowed range: 1..255\n" + kOpened + kClosed,
     {"TELVAR_Open 7 44", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"LibraryTooOld",
     {"3"},
     "",
     [] { fake_telvar::script().version = 0x113; },
     255,
     "Wrong DLL Version, expected 1.20, found 1.19\n",
     {}},
    {"NewerLibraryAccepted",
     {"3", "-g", "-T"},
     "",
     [] { fake_telvar::script().version = 0x200; },
     0,
     "Checking the DLL Version...\nDLL Version: 2.00\nOpening the communication port...\n" +
         kOpened + "Closing the communication port...\n" + kClosed,
     kOpenedThenClosed},

    // The interactive loop: the end of the input closes it as Esc does.
    {"EndOfInputCloses", {"3"}, "", Plain, 0, kOpened + kHint + kClosed, kOpenedThenClosed},
    {"EscCloses",
     {"3"},
     "\x1b\x1b"
     "b",
     Plain,
     0,
     kOpened + kHint + kClosed,
     kOpenedThenClosed},
    {"HelpAndKeys",
     {"3"},
     "?bh",
     Plain,
     0,
     kOpened + kHint + kHelp + "Buffer is empty\n" +
         "Housekeeping data:\t12V: 12.002V\t5V: 5.001V\t3V: 3.299V\tCPU: 41.50degC\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_Get_HousekeepingData 7", "TELVAR_Close 7",
      "TELVAR_CloseDebugFile 7"}},
    {"ExtendedKeysDigitsAndTAreIgnored",
     {"3"},
     "\x1b[A\x1b[5;5~\x1bOP\x1b"
     "b"
     "t7T\r",
     Plain,
     0,
     kOpened + kHint + kClosed,
     kOpenedThenClosed},
    // Both cases where the key table lists both; the reads of the live screens too.
    {"EveryKeyCallsItsOperation",
     {"3", "-Q"},
     "bBzZdDvVpPnNcChHfFsSiIaeulL",
     Plain,
     0,
     kAnyOutput,
     [] {
         std::vector<std::string> calls = {"TELVAR_Open 7 3"};
         for (const char* call : {"TELVAR_Buffer_State",
                                  "TELVAR_Buffer_State",
                                  "TELVAR_Purge",
                                  "TELVAR_Device_Purge",
                                  "TELVAR_Purge",
                                  "TELVAR_Device_Purge",
                                  "TELVAR_FW_Date",
                                  "TELVAR_FW_Date",
                                  "TELVAR_FW_Ver",
                                  "TELVAR_FW_Ver",
                                  "TELVAR_Prod_ID",
                                  "TELVAR_Prod_ID",
                                  "TELVAR_Prod_No",
                                  "TELVAR_Prod_No",
                                  "TELVAR_GetHardwareCapability",
                                  "TELVAR_GetHardwareCapability",
                                  "TELVAR_Get_HousekeepingData",
                                  "TELVAR_Get_HousekeepingData",
                                  "TELVAR_Get_RFGData",
                                  "TELVAR_Get_RFGData",
                                  "TELVAR_Get_PowerData",
                                  "TELVAR_Get_PowerData",
                                  "TELVAR_Get_InterlockState",
                                  "TELVAR_Get_InterlockState",
                                  "TELVAR_Get_Amplitude",
                                  "TELVAR_Get_Enable",
                                  "TELVAR_GetUptime"}) {
             calls.push_back(std::string(call) + " 7");
         }
         for (int row = 0; row < 8; ++row) {
             calls.push_back("TELVAR_ReadDisplayRow 7 " + std::to_string(row));
         }
         calls.push_back("TELVAR_ReadDisplay 7");
         calls.push_back("TELVAR_Close 7");
         calls.push_back("TELVAR_CloseDebugFile 7");
         return calls;
     }()},
    {"QuietKeys",
     {"3"},
     "Qbq",
     Plain,
     0,
     kOpened + kHint + "Quiet mode is on\nQuiet mode is off\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"QuietAtTheStartHasNoHint",
     {"3", "-q"},
     "q",
     Plain,
     0,
     "Quiet mode is off\n" + kClosed,
     kOpenedThenClosed},
    {"SetAmplitudeKey",
     {"3"},
     "A 99.5 V\n",
     Plain,
     0,
     kOpened + kHint + "Enter the new RF amplitude in V: RF amplitude set to 99.5V\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Set_Amplitude 7 99.500000", "TELVAR_Close 7",
      "TELVAR_CloseDebugFile 7"}},
    {"RFStateKeyOn",
     {"3"},
     "E1\n",
     Plain,
     0,
     kOpened + kHint + "Enter the new RF state (0 for off, 1 for on): RF state set to on \n" +
         kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Set_Enable 7 1", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"RFStateKeyOtherNumberDoesNothing",
     {"3"},
     "E2\ne",
     Plain,
     0,
     kOpened + kHint + "Enter the new RF state (0 for off, 1 for on): RF state: off\n" + kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Get_Enable 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"ReplyNotANumber",
     {"3"},
     "Eon\nb",
     Plain,
     0,
     kOpened + kHint +
         "Enter the new RF state (0 for off, 1 for on): Invalid input: not a number\n"
         "Buffer is empty\n" +
         kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"EmptyReplyIsNotANumber",
     {"3"},
     "W\n",
     Plain,
     0,
     kOpened + kHint + "Enter the minimum RF amplitude in V: Invalid input: not a number\n" +
         kClosed,
     kOpenedThenClosed},
    {"EndOfInputAtAPrompt",
     {"3"},
     "w10\n",
     Plain,
     0,
     kOpened + kHint +
         "Enter the minimum RF amplitude in V: Enter the maximum RF amplitude in V: \n"
         "Invalid input: end of input\n" +
         kClosed,
     kOpenedThenClosed},
    {"FileNameTooLong",
     {"3"},
     "x" + std::string(260, 'f') + "\nb",
     Plain,
     0,
     kOpened + kHint +
         "Enter the filename for the test protocol: "
         "Invalid input: file name longer than 259 characters\nBuffer is empty\n" +
         kClosed,
     {"TELVAR_Open 7 3", "TELVAR_Buffer_State 7", "TELVAR_Close 7", "TELVAR_CloseDebugFile 7"}},
    {"FileNameOfTheLongestLengthIsTaken",
     {"3"},
     "X  " + std::string(259, 'f') + " rest\n100\nnone\n",
     Plain,
     0,
     kOpened + kHint +
         "Enter the filename for the test protocol: Enter the minimum RF amplitude in V: "
         "Enter the maximum RF amplitude in V: Invalid input: not a number\n" +
         kClosed,
     kOpenedThenClosed},
    {"NoFileName",
     {"3"},
     "x \n",
     Plain,
     0,
     kOpened + kHint + "Enter the filename for the test protocol: Invalid input: no file name\n" +
         kClosed,
     kOpenedThenClosed},
};

void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeRun : public testing::TestWithParam<RunCase> {};

TEST_P(WholeRun, OutputCallsAndExitCode) {
    const RunCase& c = GetParam();
    const Outcome outcome = RunProgram(c.arguments, c.input, c.setUp);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    if (c.output != kAnyOutput) {
        EXPECT_EQ(outcome.output, c.output);
    }
    EXPECT_EQ(outcome.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Ombrel, WholeRun, testing::ValuesIn(kRuns),
                         [](const testing::TestParamInfo<RunCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

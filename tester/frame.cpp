// Ombrel's frame: command line, connection, interactive key loop and closing.
#include "frame.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "cycling.h"
#include "operations.h"
#include "program.h"
#include "protocol.h"
#include "screens.h"
#include "telvar.h"

namespace ombrel {
namespace {

bool connected = false;
bool helpHintPending = true;

[[noreturn]] void EndProgram(int exitCode) {
    std::fflush(stdout);
    console::Restore();
    std::exit(exitCode);
}

// ---- Switches --------------------------------------------------------------------------

enum class Parameters { None, Amplitude, OnOff, Cycle, Protocol };

}  // namespace

struct SwitchRow {
    const char* letters;  // the characters after '-' or '/' that select the row
    Parameters parameters;
    bool connects;      // needs the device: Connect runs first
    bool endsSwitches;  // no further argument is read and the loop is skipped
    void (*run)(const Switch& s);
};

namespace {

const SwitchRow kSwitchTable[] = {
    {"Qq", Parameters::None, false, false, [](const Switch&) { modes.quiet = true; }},
    {"g", Parameters::None, false, false, [](const Switch&) { modes.debug = true; }},
    {"G", Parameters::None, false, false,
     [](const Switch&) {
         modes.debug = true;
         TELVAR_OpenDebugFile(kSlot, "Debug.txt");
     }},
    {"Tt", Parameters::None, false, true, [](const Switch&) {}},
    {"Bb", Parameters::None, true, false, [](const Switch&) { ShowBufferState(); }},
    {"Zz", Parameters::None, true, false, [](const Switch&) { PurgeCommunication(); }},
    {"u", Parameters::None, true, false, [](const Switch&) { ShowUptime(false); }},
    {"U", Parameters::None, true, false, [](const Switch&) { ShowUptime(true); }},
    {"Kk", Parameters::None, true, false, [](const Switch&) { KeypadSimulation(); }},
    {"l", Parameters::None, true, false, [](const Switch&) { ShowDisplay(false); }},
    {"L", Parameters::None, true, false, [](const Switch&) { ShowDisplay(true); }},
    {"Dd", Parameters::None, true, false, [](const Switch&) { ShowFirmwareDate(); }},
    {"Vv", Parameters::None, true, false, [](const Switch&) { ShowFirmwareVersion(); }},
    {"Pp", Parameters::None, true, false, [](const Switch&) { ShowProductIdentification(); }},
    {"Nn", Parameters::None, true, false, [](const Switch&) { ShowProductNumber(); }},
    {"Cc", Parameters::None, true, false, [](const Switch&) { ShowHardwareCapabilities(); }},
    {"Hh", Parameters::None, true, false, [](const Switch&) { ShowHousekeepingData(); }},
    {"Ff", Parameters::None, true, false, [](const Switch&) { ShowRFGData(); }},
    {"Ss", Parameters::None, true, false, [](const Switch&) { ShowPowerSupplyData(); }},
    {"Ii", Parameters::None, true, false, [](const Switch&) { ShowInterlockState(); }},
    {"a", Parameters::None, true, false, [](const Switch&) { ShowAmplitude(); }},
    {"A", Parameters::Amplitude, true, false, [](const Switch& s) { SetAmplitude(s.values[0]); }},
    {"e", Parameters::None, true, false, [](const Switch&) { ShowRFState(); }},
    {"E", Parameters::OnOff, true, false, [](const Switch& s) { SetRFState(s.state); }},
    {"Ww", Parameters::Cycle, true, false,
     [](const Switch& s) { CycleAmplitude(s.values[0], s.values[1], s.values[2]); }},
    {"x", Parameters::Protocol, true, false,
     [](const Switch& s) {
         CreateTestProtocol(s.fileName, s.values[0], s.values[1], s.values[2], s.values[3], false);
     }},
    {"X", Parameters::Protocol, true, false,
     [](const Switch& s) {
         CreateTestProtocol(s.fileName, s.values[0], s.values[1], s.values[2], s.values[3], true);
     }},
};

const SwitchRow* FindSwitch(char letter) {
    if (letter == '\0') return nullptr;
    for (const SwitchRow& row : kSwitchTable) {
        if (std::strchr(row.letters, letter) != nullptr) return &row;
    }
    return nullptr;
}

// Takes the switch's parameters from the next arguments. False when one is missing or
// does not convert.
bool ReadParameters(int argc, const char* const* argv, int& index, Switch& s) {
    int floats = 0;
    switch (s.row->parameters) {
        case Parameters::None:
            return true;
        case Parameters::Amplitude:
            floats = 1;
            break;
        case Parameters::OnOff: {
            if (index >= argc) return false;
            const char* answer = argv[index++];
            if (std::strlen(answer) != 1) return false;
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(answer[0])));
            if (c != 'Y' && c != 'N') return false;
            s.state = c == 'Y' ? 1 : 0;
            return true;
        }
        case Parameters::Cycle:
            floats = 3;
            break;
        case Parameters::Protocol:
            if (index >= argc) return false;
            s.fileName = argv[index++];
            floats = 4;
            break;
    }
    for (int i = 0; i < floats; ++i) {
        if (index >= argc || !ConvertFloat(argv[index++], s.values[i])) return false;
    }
    return true;
}

// ---- Usage and help ----------------------------------------------------------------------

const char* const kUsageText[] = {
    " COMNumber [switches]",
    "  switch: { -option, /option }",
    "    options:",
    "      Q/q:  quiet mode,",
    "      G/g:  debug mode, G: additional I/O debug into Debug.txt,",
    "      B/b:  get device buffer status,      Z/z: purge communication,",
    "      U/u:  get uptime, U: continuous,     K/k: simulate the keypad,",
    "      L/l:  get display data, L: whole display at once,",
    "      D/d:  get firmware date,             V/v: get firmware version,",
    "      P/p:  get product identification,    N/n: get product number,",
    "      C/c:  get hardware capabilities,     H/h:  get housekeeping data",
    "      F/f:  get RF-generator data,         S/s: get power supply data,",
    "      I/i:  get interlock state,",
    "      A f:  set RF amplitude,              a:   get RF amplitude,",
    "      En b: set RF state,                  e:   get RF state,",
    "      W/w f f n: cycle the RF amplitude,",
    "      X/x s f f f f: create test protocol, X: pause after each voltage step,",
    "      T/t:  terminate the program,         ?: get this help",
    "    parameters: n=integer, f=float, b=Boolean (Y/N), s=string",
};

const char* const kHelpText[] = {
    "Press 'b','B' to get device buffer status,   'z','Z' to purge communication,",
    "      'u','U' to get uptime, U: continuous,  'k','K' to simulate the keypad,",
    "      'l','L' to get display data, L: whole display at once,",
    "      'd','D' to get firmware date,          'v','V' to get firmware version,",
    "      'p','P' to get product identification, 'n','N' to get product number,",
    "      'c','C' to get hardware capabilities,  'h','H' to get housekeeping data,",
    "      'f','F' to get RF-generator data,      's','S' to get power supply data,",
    "      'i','I' to get interlock state,",
    "      'a','A' to get/set RF amplitude,       'e','E' to get/set RF state,",
    "      'w','W' to cycle the RF amplitude,",
    "      'x','X' to create test protocol, X: pause after each voltage step,",
    "      'q','Q' to set quiet mode off/on,",
    "      'Esc' to stop,                             '?' to get this help...",
};

void PrintHelp() {
    for (const char* line : kHelpText) std::printf("%s\n", line);
}

// ---- Prompts ---------------------------------------------------------------------------

// The file name holds 259 characters, as a Windows path does.
constexpr std::size_t kFileNameLength = 259;

// Reads the reply to a prompt. False, with the reason printed, at end of input.
bool PromptLine(const char* prompt, char* line, std::size_t size, bool& truncated) {
    std::printf("%s", prompt);
    if (console::ReadLine(line, size, truncated)) return true;
    std::printf("\nInvalid input: end of input\n");
    return false;
}

// A reply longer than the line was cut, and its start would read as another number.
bool RefuseCutReply(bool truncated) {
    if (truncated) std::printf("Invalid input: too long\n");
    return truncated;
}

bool PromptFloat(const char* prompt, double& value) {
    char line[256];
    bool truncated = false;
    if (!PromptLine(prompt, line, sizeof line, truncated) || RefuseCutReply(truncated)) {
        return false;
    }
    if (ConvertFloat(line, value)) return true;
    std::printf("Invalid input: not a number\n");
    return false;
}

bool PromptInteger(const char* prompt, int& value) {
    char line[256];
    bool truncated = false;
    if (!PromptLine(prompt, line, sizeof line, truncated) || RefuseCutReply(truncated)) {
        return false;
    }
    if (ConvertInteger(line, value)) return true;
    std::printf("Invalid input: not a number\n");
    return false;
}

// One word, as "%s" reads it; the rest of the line is dropped.
bool PromptFileName(const char* prompt, char (&fileName)[kFileNameLength + 1]) {
    char line[1024];
    bool truncated = false;
    if (!PromptLine(prompt, line, sizeof line, truncated)) return false;
    const char* word = line;
    while (std::isspace(static_cast<unsigned char>(*word))) ++word;
    std::size_t length = 0;
    while (word[length] != '\0' && !std::isspace(static_cast<unsigned char>(word[length]))) {
        ++length;
    }
    if (length == 0) {
        std::printf("Invalid input: no file name\n");
        return false;
    }
    const bool cutOff = truncated && word[length] == '\0';
    if (length > kFileNameLength || cutOff) {
        std::printf("Invalid input: file name longer than %u characters\n",
                    static_cast<unsigned>(kFileNameLength));
        return false;
    }
    std::memcpy(fileName, word, length);
    fileName[length] = '\0';
    return true;
}

void PromptAmplitude() {
    double amplitude = 0;
    if (PromptFloat("Enter the new RF amplitude in V: ", amplitude)) SetAmplitude(amplitude);
}

void PromptRFState() {
    int state = 0;
    if (!PromptInteger("Enter the new RF state (0 for off, 1 for on): ", state)) return;
    // Any other number does nothing, without a word.
    if (state == 0 || state == 1) SetRFState(state);
}

void PromptCycle() {
    double minimum = 0;
    double maximum = 0;
    double period = 0;
    if (PromptFloat("Enter the minimum RF amplitude in V: ", minimum) &&
        PromptFloat("Enter the maximum RF amplitude in V: ", maximum) &&
        PromptFloat("Enter the period in s: ", period)) {
        CycleAmplitude(minimum, maximum, period);
    }
}

void PromptProtocol(bool pauseAfterStep) {
    char fileName[kFileNameLength + 1];
    double minimum = 0;
    double maximum = 0;
    double step = 0;
    double duration = 0;
    if (PromptFileName("Enter the filename for the test protocol: ", fileName) &&
        PromptFloat("Enter the minimum RF amplitude in V: ", minimum) &&
        PromptFloat("Enter the maximum RF amplitude in V: ", maximum) &&
        PromptFloat("Enter the RF amplitude step in V: ", step) &&
        PromptFloat("Enter the step duration in s: ", duration)) {
        CreateTestProtocol(fileName, minimum, maximum, step, duration, pauseAfterStep);
    }
}

void SetQuietMode(bool on) {
    modes.quiet = on;
    std::printf("Quiet mode is %s\n", on ? "on" : "off");
}

// ---- Keys ------------------------------------------------------------------------------

constexpr int kEsc = 27;
constexpr int kExtendedKey = 0x100;

struct KeyRow {
    const char* keys;  // the characters that select the row
    void (*run)();
};

const KeyRow kKeyTable[] = {
    {"?", PrintHelp},
    {"Bb", ShowBufferState},
    {"Zz", PurgeCommunication},
    {"u", [] { ShowUptime(false); }},
    {"U", [] { ShowUptime(true); }},
    {"Dd", ShowFirmwareDate},
    {"Vv", ShowFirmwareVersion},
    {"Pp", ShowProductIdentification},
    {"Nn", ShowProductNumber},
    {"Kk", KeypadSimulation},
    {"l", [] { ShowDisplay(false); }},
    {"L", [] { ShowDisplay(true); }},
    {"Hh", ShowHousekeepingData},
    {"Ff", ShowRFGData},
    {"Ss", ShowPowerSupplyData},
    {"Ii", ShowInterlockState},
    {"Cc", ShowHardwareCapabilities},
    {"A", PromptAmplitude},
    {"a", ShowAmplitude},
    {"e", ShowRFState},
    {"E", PromptRFState},
    {"Ww", PromptCycle},
    {"x", [] { PromptProtocol(false); }},
    {"X", [] { PromptProtocol(true); }},
    {"q", [] { SetQuietMode(false); }},
    {"Q", [] { SetQuietMode(true); }},
};

// Extended keys (arrows, function keys) match no row.
const KeyRow* FindKey(int key) {
    if (key <= 0 || key >= kExtendedKey) return nullptr;
    for (const KeyRow& row : kKeyTable) {
        if (std::strchr(row.keys, key) != nullptr) return &row;
    }
    return nullptr;
}

// Runs keys until Esc, or until standard input ends (a script's input, a closed
// terminal), which closes the program the same way.
void InteractiveLoop() {
    for (;;) {
        if (helpHintPending && !modes.quiet) std::printf("Press '?' for help\n");
        helpHintPending = false;
        if (!console::KeyAvailable()) {
            if (console::InputEnded()) return;
            console::SleepMs(1);
            continue;
        }
        const int key = ReadKeyCode();
        if (key < 0 || key == kEsc) return;
        if (const KeyRow* row = FindKey(key)) row->run();
    }
}

void ShortErrorReportIfFailed(int status) {
    if (status != 0) ShortErrorReport();
}

[[noreturn]] void Close() {
    if (modes.debug) std::printf("Closing the communication port...\n");
    ShortErrorReportIfFailed(TELVAR_Close(kSlot));
    if (!modes.quiet) std::printf("Communication port closed\n");
    TELVAR_CloseDebugFile(kSlot);
    if (!modes.quiet) std::printf("Program finished\n");
    EndProgram(0);
}

}  // namespace

bool ConvertInteger(const char* text, int& value) {
    if (text == nullptr) return false;
    char* end = nullptr;
    errno = 0;
    const long long number = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || number < INT_MIN || number > INT_MAX) return false;
    value = static_cast<int>(number);
    return true;
}

bool ConvertFloat(const char* text, double& value) {
    if (text == nullptr) return false;
    char* end = nullptr;
    const double number = std::strtod(text, &end);
    if (end == text) return false;
    value = number;
    return true;
}

CommandLine ReadCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    if (argc < 2 || !ConvertInteger(argv[1], line.comNumber)) {
        line.bad = true;
        return line;
    }
    int index = 2;
    while (!line.bad && line.interactive && index < argc) {
        const char* argument = argv[index++];
        const SwitchRow* row =
            argument[0] == '-' || argument[0] == '/' ? FindSwitch(argument[1]) : nullptr;
        if (row == nullptr) {
            line.bad = true;
            break;
        }
        Switch s;
        s.row = row;
        s.letter = argument[1];
        if (row->parameters == Parameters::None) {
            // Runs, and only then is a third character found bad.
            if (row->endsSwitches) {
                line.interactive = false;
            } else {
                line.switches.push_back(s);
            }
            if (argument[2] != '\0') line.bad = true;
            continue;
        }
        if (argument[2] != '\0' || !ReadParameters(argc, argv, index, s)) {
            line.bad = true;
            break;
        }
        line.switches.push_back(s);
    }
    return line;
}

std::string BaseName(const char* path) {
    if (path == nullptr) return std::string();
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') name = p + 1;
    }
    return std::string(name, std::strcspn(name, "."));
}

void PrintUsage(const char* programPath) {
    const std::string name = BaseName(programPath);
    // The compiler's own date, e.g. "Apr 20 2015" (a day below 10 is padded with a blank).
    std::printf("%s ver. 1.20, compilation date: %s\n", name.c_str(), __DATE__);
    std::printf("\nTest utility for QUENTA devices\n\nUsage: %s", name.c_str());
    for (const char* line : kUsageText) std::printf("%s\n", line);
}

void Connect(int comNumber) {
    if (connected) return;
    connected = true;
    if (comNumber < 1 || comNumber > 255) {
        std::printf("Wrong COMNumber specified: %d, allowed range: 1..255\n", comNumber);
    }
    if (modes.debug) modes.quiet = false;
    if (modes.debug) std::printf("Checking the DLL Version...\n");
    const unsigned short version = TELVAR_Version();
    const int major = version >> 8;
    const int minor = version & 0xFF;
    if (version < 0x114) {
        std::printf("Wrong DLL Version, expected 1.20, found %d.%02d\n", major, minor);
        EndProgram(-1);
    }
    if (modes.debug) {
        std::printf("DLL Version: %d.%02d\n", major, minor);
        std::printf("Opening the communication port...\n");
    }
    // The library takes COM numbers as 8 bits: 300 is tried as COM44.
    if (TELVAR_Open(kSlot, static_cast<unsigned char>(comNumber)) != 0) {
        ShortErrorReport();
        EndProgram(-2);
    }
    if (!modes.quiet) std::printf("Communication port opened\n");
}

void Run(int argc, const char* const* argv) {
    console::Init();
    ProgramClock();  // the program clock counts from the start
    const CommandLine line = ReadCommandLine(argc, argv);
    for (const Switch& s : line.switches) {
        if (s.row->connects) Connect(line.comNumber);
        s.row->run(s);
    }
    if (line.bad) {
        PrintUsage(argc > 0 ? argv[0] : "ombrel");
        TELVAR_CloseDebugFile(kSlot);
        EndProgram(-1);
    }
    Connect(line.comNumber);
    if (line.interactive) InteractiveLoop();
    Close();
}

}  // namespace ombrel

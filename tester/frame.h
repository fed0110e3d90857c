// Ombrel's frame: command line, connection, interactive key loop and closing.
#pragma once

#include <string>
#include <vector>

namespace ombrel {

// The number conversions of the command line and the prompts: leading blanks are
// skipped and the number is read from the start; text after it is ignored, so "3x"
// gives 3 and "12.5V" gives 12.5. False when no number is there (or, for an integer,
// when it does not fit in an int).
bool ConvertInteger(const char* text, int& value);
bool ConvertFloat(const char* text, double& value);

struct SwitchRow;

// One switch as read from the command line, its parameters converted.
struct Switch {
    const SwitchRow* row = nullptr;
    char letter = 0;
    // A: amplitude. W/w: minimum, maximum, period. X/x: minimum, maximum, step, duration.
    double values[4] = {0, 0, 0, 0};
    int state = 0;                   // E: 1 on, 0 off
    const char* fileName = nullptr;  // X/x: the argument itself
};

struct CommandLine {
    bool bad = false;
    int comNumber = 0;
    bool interactive = true;
    // The switches to run, in order: those before a bad argument run all the same.
    std::vector<Switch> switches;
};

CommandLine ReadCommandLine(int argc, const char* const* argv);

// The program's name from its path: after the last backslash (or slash), up to the
// first dot.
std::string BaseName(const char* path);
void PrintUsage(const char* programPath);

// Opens slot 7 once per run; ends the process on a library too old (-1) or a port that
// does not open (-2).
void Connect(int comNumber);

// The whole program; ends the process with its exit code.
[[noreturn]] void Run(int argc, const char* const* argv);

}  // namespace ombrel

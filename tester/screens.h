// Live screens: running uptime, front-panel simulation, display readout.
#pragma once

#include <cstdint>

namespace ombrel {

void ShowUptime(bool continuous);
void KeypadSimulation();
void ShowDisplay(bool whole);

// "%d:%02d:%02d.%02d sec." and its shorter forms, chosen by magnitude.
void FormatUptime(char* text, unsigned size, std::uint32_t seconds, std::uint16_t milliseconds);

// Live lines, rewritten in place. Without a terminal (output to a file or a pipe)
// the cursor row is unknown: CurrentRow returns false and callers skip the live
// updates instead of waiting for a cursor report that never comes.
bool CurrentRow(int& row);
// Column 1 of row, cleared to the end of the line, then text without a line end.
void ShowOnRow(int row, const char* text);

}  // namespace ombrel

// Live screens: running uptime, front-panel simulation, display readout.
#pragma once

#include <cstdint>

namespace ombrel {

void ShowUptime(bool continuous);
void KeypadSimulation();
void ShowDisplay(bool whole);

// "%d:%02d:%02d.%02d sec." and its shorter forms, chosen by magnitude.
void FormatUptime(char* text, unsigned size, std::uint32_t seconds, std::uint16_t milliseconds);

}  // namespace ombrel

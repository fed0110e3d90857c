// The program clock, the timed wait with Space abort, and amplitude cycling.
#pragma once

#include <cstdint>

namespace ombrel {

// Milliseconds since the program started (signed 32 bits; wraps after 24.8 days).
std::int32_t ProgramClock();
// Waits until the clock reaches deadline. False when Space was pressed while
// spaceAborts is set.
bool WaitUntil(std::int32_t deadline, bool spaceAborts);
void CycleAmplitude(double minimum, double maximum, double period);

}  // namespace ombrel

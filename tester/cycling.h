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

// Clock arithmetic by differences, so that the wrap of the program clock never
// stalls a wait: a deadline is reached when it lies at most 24.8 days behind.
std::int32_t ClockAdd(std::int32_t time, std::int64_t milliseconds);
bool ClockReached(std::int32_t now, std::int32_t deadline);

// WaitUntil with Space abort that also stops on a Space already waiting when the
// deadline has passed: a schedule that runs behind must still be stoppable.
bool WaitUntilOrSpace(std::int32_t deadline);

// One key code: the character code, or 0x100 plus the second code of a key without
// a character. -1 at end of input.
int ReadKeyCode();
// Reads and drops every key that is waiting.
void DiscardPendingKeys();

}  // namespace ombrel

// Fake console for tests: implements console.h on the fake serial backend's virtual
// clock (SleepMs advances it, TickCount reads it), with scripted keys and lines and a
// log of the cursor operations. Text written goes to stdout as well, so a test can
// capture the whole console in order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake_console {

// No keys, input open, a terminal whose cursor reports column 1 of row 10, no clock
// offset, empty log.
void Reset();

// A key that becomes available at virtual time atMs: a character code, or 0x100 plus
// the second code of a key without a character (read as 0, then that code).
void PressKey(int keyCode, std::uint64_t atMs = 0);
// Standard input ends at virtual time atMs, after the keys pressed before it.
void EndInput(std::uint64_t atMs = 0);
// A reply line for a prompt.
void QueueLine(const std::string& line);

// Off: output goes to a file or a pipe; cursor queries fail.
void SetTerminal(bool on);
void SetCursor(int column, int row);
// Moves the tick counter without virtual time passing (to reach the clock's wrap).
void AddTickOffset(std::uint32_t ms);

// "write <text>", "move <column>,<row>", "clear" in call order.
const std::vector<std::string>& Log();
void ClearLog();
int KeysRead();
// Number of SleepMs calls and their total.
int Sleeps();
std::uint64_t SleptMs();

}  // namespace fake_console

// The console seam of Ombrel: the few console operations the program needs, in
// portable types. One backend is linked: POSIX (terminal), Win32 (console API), or
// the tests' fake console.
#pragma once

#include <cstddef>
#include <cstdint>

namespace console {

// Called once at start; the backend restores the terminal on every way out
// (normal exit, the -1/-2 exits, Ctrl+C).
void Init();
void Restore();

// A key is waiting (does not block). At end of input: false.
bool KeyAvailable();
// One key without echo: its character code, or 0 and then (on the next call) the
// second code of a key without a character (arrows, page keys). -1 at end of input.
int ReadKey();
// True once standard input has ended (no key will ever come).
bool InputEnded();

// One line for a prompt, with echo and line editing, without its line end.
// False at end of input. A longer line is cut at size - 1 characters and the rest of
// the line is discarded; `truncated` tells.
bool ReadLine(char* text, std::size_t size, bool& truncated);

// Text at the cursor without a line end, shown at once.
void Write(const char* text);
// Cursor column and row, counted from 1. False when unknown (no terminal).
bool CursorPosition(int& column, int& row);
// Both do nothing when standard output is not a terminal.
void MoveCursor(int column, int row);
void ClearToEndOfLine();

void SleepMs(unsigned milliseconds);
// Free-running millisecond tick counter (wraps).
std::uint32_t TickCount();

}  // namespace console

// Terminal input decoded to the PC key codes Ombrel's key tables use: a character
// code, or kExtended plus the second code of a key without a character.
#pragma once

#include <cstddef>

namespace console {

constexpr int kExtended = 0x100;
// A sequence that stands for no key Ombrel knows (a mouse report, Ctrl+Alt+arrow...):
// its bytes are dropped.
constexpr int kNoKey = -1;

struct DecodedKey {
    // Bytes taken from the input; 0 when they only begin a sequence and more must come.
    std::size_t length;
    int code;
};

// The first key of bytes (count > 0). `final` says no further byte is coming soon, so
// an unfinished sequence is decided now: a lone Esc is the Esc key.
DecodedKey DecodeKey(const unsigned char* bytes, std::size_t count, bool final);

// Finds the terminal's cursor report (ESC [ row ; column R) in bytes. Returns its
// length (0: none yet) and where it starts.
std::size_t FindCursorReport(const unsigned char* bytes, std::size_t count, std::size_t& start,
                             int& column, int& row);

}  // namespace console

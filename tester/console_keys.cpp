// Decoding of terminal key sequences (xterm, VT220, rxvt, Linux console) into the
// codes a PC keyboard read gives.
#include "console_keys.h"

namespace console {
namespace {

constexpr unsigned char kEsc = 0x1B;

enum Key {
    F1,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12,
    Home,
    Up,
    PgUp,
    Left,
    Right,
    End,
    Down,
    PgDn,
    Insert,
    Delete,
    kKeyCount
};

enum Modifier { kPlain, kShift, kCtrl, kAlt, kModifierCount };

// Second codes of the PC keyboard. Shift changes only the function keys.
constexpr unsigned char kSecondCodes[kKeyCount][kModifierCount] = {
    // plain shift  ctrl  alt
    {0x3B, 0x54, 0x5E, 0x68},  // F1
    {0x3C, 0x55, 0x5F, 0x69},  // F2
    {0x3D, 0x56, 0x60, 0x6A},  // F3
    {0x3E, 0x57, 0x61, 0x6B},  // F4
    {0x3F, 0x58, 0x62, 0x6C},  // F5
    {0x40, 0x59, 0x63, 0x6D},  // F6
    {0x41, 0x5A, 0x64, 0x6E},  // F7
    {0x42, 0x5B, 0x65, 0x6F},  // F8
    {0x43, 0x5C, 0x66, 0x70},  // F9
    {0x44, 0x5D, 0x67, 0x71},  // F10
    {0x85, 0x87, 0x89, 0x8B},  // F11
    {0x86, 0x88, 0x8A, 0x8C},  // F12
    {0x47, 0x47, 0x77, 0x97},  // Home
    {0x48, 0x48, 0x8D, 0x98},  // Up
    {0x49, 0x49, 0x84, 0x99},  // PgUp
    {0x4B, 0x4B, 0x73, 0x9B},  // Left
    {0x4D, 0x4D, 0x74, 0x9D},  // Right
    {0x4F, 0x4F, 0x75, 0x9F},  // End
    {0x50, 0x50, 0x91, 0xA0},  // Down
    {0x51, 0x51, 0x76, 0xA1},  // PgDn
    {0x52, 0x52, 0x92, 0xA2},  // Insert
    {0x53, 0x53, 0x93, 0xA3},  // Delete
};

// "ESC [ n ~" and its rxvt forms: the number names the key.
struct TildeKey {
    int number;
    Key key;
};
constexpr TildeKey kTildeKeys[] = {
    {1, Home}, {2, Insert}, {3, Delete}, {4, End},  {5, PgUp}, {6, PgDn}, {7, Home},
    {8, End},  {11, F1},    {12, F2},    {13, F3},  {14, F4},  {15, F5},  {17, F6},
    {18, F7},  {19, F8},    {20, F9},    {21, F10}, {23, F11}, {24, F12},
};

// Final letters of "ESC [ ... X" and "ESC O X".
struct LetterKey {
    char letter;
    Key key;
};
constexpr LetterKey kLetterKeys[] = {
    {'A', Up},  {'B', Down}, {'C', Right}, {'D', Left}, {'H', Home},
    {'F', End}, {'P', F1},   {'Q', F2},    {'R', F3},   {'S', F4},
};

// Alt with a letter or digit: the PC gives 0 and the key's scan code.
constexpr const char* kScanRows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
constexpr int kScanRowStart[] = {0x10, 0x1E, 0x2C};

int Extended(Key key, Modifier modifier) {
    return kExtended + kSecondCodes[key][modifier];
}

int AltCharacter(unsigned char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    for (int row = 0; row < 3; ++row) {
        for (int i = 0; kScanRows[row][i] != '\0'; ++i) {
            if (kScanRows[row][i] == c) return kExtended + kScanRowStart[row] + i;
        }
    }
    if (c >= '1' && c <= '9') return kExtended + 0x78 + (c - '1');
    if (c == '0') return kExtended + 0x81;
    if (c == '\r' || c == '\n') return kExtended + 0x1C;
    return kNoKey;
}

// xterm's modifier parameter is 1 + a bit mask: 1 Shift, 2 Alt, 4 Ctrl, 8 Meta.
// Ctrl together with Alt has no PC code.
bool ModifierFromParameter(int parameter, Modifier& modifier) {
    const int bits = parameter > 1 ? parameter - 1 : 0;
    const bool alt = (bits & (2 | 8)) != 0;
    const bool ctrl = (bits & 4) != 0;
    if (alt && ctrl) return false;
    modifier = ctrl ? kCtrl : alt ? kAlt : (bits & 1) ? kShift : kPlain;
    return true;
}

// Adds Alt from an ESC prefix to a decoded key.
int WithAlt(Key key, Modifier modifier) {
    if (modifier == kCtrl) return kNoKey;
    return Extended(key, kAlt);
}

int KeyCode(Key key, Modifier modifier, bool altPrefix) {
    return altPrefix ? WithAlt(key, modifier) : Extended(key, modifier);
}

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// Up to two numeric parameters; absent ones stay as given.
void ReadParameters(const unsigned char* p, std::size_t n, int& first, int& second) {
    int* target = &first;
    bool any = false;
    int value = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (IsDigit(p[i])) {
            if (value < 10000) value = value * 10 + (p[i] - '0');
            any = true;
        } else if (p[i] == ';') {
            if (any) *target = value;
            if (target == &second) return;
            target = &second;
            value = 0;
            any = false;
        }
    }
    if (any) *target = value;
}

// "ESC [" sequence whose parameters are p[0..n) and final byte `final`.
int ControlSequence(const unsigned char* p, std::size_t n, unsigned char finalByte,
                    bool altPrefix) {
    for (std::size_t i = 0; i < n; ++i) {
        if (!IsDigit(p[i]) && p[i] != ';') return kNoKey;  // private forms: '?', '<', ...
    }
    int first = 1;
    int second = 1;
    ReadParameters(p, n, first, second);
    Modifier modifier = kPlain;

    if (finalByte == '~' || finalByte == '^' || finalByte == '$' || finalByte == '@') {
        if (finalByte == '~') {
            if (!ModifierFromParameter(second, modifier)) return kNoKey;
        } else {
            // rxvt: '^' Ctrl, '$' Shift, '@' Ctrl+Shift.
            modifier = finalByte == '$' ? kShift : kCtrl;
        }
        for (const TildeKey& t : kTildeKeys) {
            if (t.number == first) return KeyCode(t.key, modifier, altPrefix);
        }
        return kNoKey;
    }
    if (finalByte == 'Z') return altPrefix ? kNoKey : kExtended + 0x0F;  // Shift+Tab
    if (finalByte >= 'a' && finalByte <= 'd') {
        // rxvt: Shift+arrow, and Shift leaves arrows alone.
        finalByte = static_cast<unsigned char>(finalByte - 'a' + 'A');
        return KeyCode(finalByte == 'A'   ? Up
                       : finalByte == 'B' ? Down
                       : finalByte == 'C' ? Right
                                          : Left,
                       kPlain, altPrefix);
    }
    for (const LetterKey& l : kLetterKeys) {
        if (l.letter != finalByte) continue;
        if (n > 0 && first != 1) return kNoKey;  // a stray cursor report, not a key
        if (!ModifierFromParameter(second, modifier)) return kNoKey;
        return KeyCode(l.key, modifier, altPrefix);
    }
    return kNoKey;
}

// "ESC O" sequences: application-mode cursor and function keys.
int SingleShift(const unsigned char* p, std::size_t n, unsigned char finalByte, bool altPrefix) {
    int parameter = 1;
    int unused = 1;
    ReadParameters(p, n, parameter, unused);
    Modifier modifier = kPlain;
    if (!ModifierFromParameter(parameter, modifier)) return kNoKey;
    if (finalByte == 'M') return altPrefix ? kNoKey : 13;  // keypad Enter
    if (finalByte >= 'a' && finalByte <= 'd') {
        // rxvt: Ctrl+arrow.
        const Key keys[] = {Up, Down, Right, Left};
        return KeyCode(keys[finalByte - 'a'], kCtrl, altPrefix);
    }
    for (const LetterKey& l : kLetterKeys) {
        if (l.letter == finalByte) return KeyCode(l.key, modifier, altPrefix);
    }
    return kNoKey;
}

// A sequence longer than this is no key: give up on it rather than wait forever.
constexpr std::size_t kLongestSequence = 32;

// Decodes "[..." or "O..." at bytes (after the ESC, or after ESC ESC for Alt).
DecodedKey Sequence(const unsigned char* bytes, std::size_t count, bool final, bool altPrefix) {
    const unsigned char introducer = bytes[0];
    std::size_t i = 1;
    if (introducer == '[' && count > 1 && bytes[1] == '[') {
        // Linux console: ESC [ [ A..E are F1..F5.
        if (count < 3) return {final ? count : 0, kNoKey};
        const unsigned char c = bytes[2];
        if (c >= 'A' && c <= 'E')
            return {3, KeyCode(static_cast<Key>(F1 + (c - 'A')), kPlain, altPrefix)};
        return {3, kNoKey};
    }
    // Parameter bytes, then intermediate bytes, then the final byte.
    while (i < count && bytes[i] >= 0x30 && bytes[i] <= 0x3F) ++i;
    const std::size_t parametersEnd = i;
    while (i < count && bytes[i] >= 0x20 && bytes[i] <= 0x2F) ++i;
    if (i == count) {
        if (final || count >= kLongestSequence) return {count, kNoKey};
        return {0, kNoKey};
    }
    const unsigned char finalByte = bytes[i];
    if (finalByte < 0x40 || finalByte > 0x7E) return {i, kNoKey};  // broken off: drop it
    const bool hasIntermediates = parametersEnd != i;
    if (hasIntermediates) return {i + 1, kNoKey};
    const int code = introducer == '['
                         ? ControlSequence(bytes + 1, parametersEnd - 1, finalByte, altPrefix)
                         : SingleShift(bytes + 1, parametersEnd - 1, finalByte, altPrefix);
    return {i + 1, code};
}

}  // namespace

DecodedKey DecodeKey(const unsigned char* bytes, std::size_t count, bool final) {
    if (count == 0) return {0, kNoKey};
    const unsigned char first = bytes[0];
    if (first != kEsc) {
        // Enter arrives as CR from a raw terminal and as LF from a file or pipe.
        if (first == '\r' || first == '\n') return {1, 13};
        if (first == 0x7F) return {1, 8};              // Backspace
        if (first == 0) return {1, kExtended + 0x03};  // Ctrl+Space gives NUL
        return {1, first};
    }
    if (count == 1) return {final ? 1u : 0u, 27};
    const unsigned char second = bytes[1];
    if (second == '[' || second == 'O') {
        const DecodedKey key = Sequence(bytes + 1, count - 1, final, false);
        if (key.length == 0) return key;
        return {key.length + 1, key.code};
    }
    if (second == kEsc) {
        // ESC ESC [ ...: some terminals send Alt as an ESC before the key's sequence.
        if (count == 2) return {final ? 1u : 0u, 27};
        if (bytes[2] == '[' || bytes[2] == 'O') {
            const DecodedKey key = Sequence(bytes + 2, count - 2, final, true);
            if (key.length == 0) return key;
            return {key.length + 2, key.code};
        }
        return {1, 27};
    }
    // ESC and a character: Alt with that character.
    return {2, AltCharacter(second)};
}

std::size_t FindCursorReport(const unsigned char* bytes, std::size_t count, std::size_t& start,
                             int& column, int& row) {
    for (std::size_t s = 0; s + 1 < count; ++s) {
        if (bytes[s] != kEsc || bytes[s + 1] != '[') continue;
        std::size_t i = s + 2;
        int numbers[2] = {0, 0};
        int which = 0;
        bool digits = false;
        for (; i < count; ++i) {
            const unsigned char c = bytes[i];
            if (IsDigit(c)) {
                if (numbers[which] < 10000) numbers[which] = numbers[which] * 10 + (c - '0');
                digits = true;
            } else if (c == ';' && which == 0 && digits) {
                which = 1;
                digits = false;
            } else {
                break;
            }
        }
        if (i < count && bytes[i] == 'R' && which == 1 && digits) {
            start = s;
            row = numbers[0];
            column = numbers[1];
            return i + 1 - s;
        }
    }
    return 0;
}

}  // namespace console

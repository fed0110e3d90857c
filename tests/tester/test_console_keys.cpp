// Terminal key sequences decoded to the PC key codes of Ombrel's key tables.
#include <gtest/gtest.h>

#include <string>

#include "console_keys.h"

namespace {

using console::DecodeKey;
using console::kNoKey;

const unsigned char* Bytes(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

struct KeyCase {
    const char* name;
    std::string bytes;
    int code;
};

class WholeSequence : public testing::TestWithParam<KeyCase> {};

// Each sequence is one key and is taken whole, whether or not more input follows.
TEST_P(WholeSequence, DecodesToItsKeyCode) {
    const KeyCase& c = GetParam();
    for (bool final : {false, true}) {
        const console::DecodedKey key = DecodeKey(Bytes(c.bytes), c.bytes.size(), final);
        EXPECT_EQ(key.length, c.bytes.size()) << "final " << final;
        EXPECT_EQ(key.code, c.code) << std::hex << "0x" << key.code << " final " << final;
    }
}

const KeyCase kKeys[] = {
    // Characters, and the keys the tables name.
    {"Letter", "b", 'b'},
    {"Question", "?", '?'},
    {"Space", " ", 0x20},
    {"EnterRaw", "\r", 13},
    {"EnterFromPipe", "\n", 13},
    {"Backspace", "\x7f", 8},
    {"Up", "\x1b[A", 0x148},
    {"Down", "\x1b[B", 0x150},
    {"Right", "\x1b[C", 0x14D},
    {"Left", "\x1b[D", 0x14B},
    {"UpApplicationMode", "\x1bOA", 0x148},
    {"DownApplicationMode", "\x1bOB", 0x150},
    {"RightApplicationMode", "\x1bOC", 0x14D},
    {"LeftApplicationMode", "\x1bOD", 0x14B},
    {"PgUp", "\x1b[5~", 0x149},
    {"PgDn", "\x1b[6~", 0x151},
    {"CtrlPgUp", "\x1b[5;5~", 0x184},
    {"CtrlPgDn", "\x1b[6;5~", 0x176},
    {"AltPgUp", "\x1b[5;3~", 0x199},
    {"AltPgDn", "\x1b[6;3~", 0x1A1},
    {"AltPgUpEscPrefix", "\x1b\x1b[5~", 0x199},
    {"AltPgDnEscPrefix", "\x1b\x1b[6~", 0x1A1},
    {"CtrlPgUpRxvt", "\x1b[5^", 0x184},
    {"CtrlPgDnRxvt", "\x1b[6^", 0x176},
    {"ShiftPgUpIsPgUp", "\x1b[5;2~", 0x149},
    {"ShiftUpIsUp", "\x1b[1;2A", 0x148},
    {"ShiftUpRxvt", "\x1b[a", 0x148},
    {"CtrlLeft", "\x1b[1;5D", 0x173},
    {"CtrlRight", "\x1b[1;5C", 0x174},
    {"CtrlUp", "\x1b[1;5A", 0x18D},
    {"CtrlDown", "\x1b[1;5B", 0x191},
    {"CtrlLeftRxvt", "\x1bOd", 0x173},
    {"AltLeft", "\x1b[1;3D", 0x19B},
    {"AltUpEscPrefix", "\x1b\x1b[A", 0x198},
    {"Home", "\x1b[H", 0x147},
    {"HomeVt", "\x1b[1~", 0x147},
    {"End", "\x1b[F", 0x14F},
    {"EndVt", "\x1b[4~", 0x14F},
    {"Insert", "\x1b[2~", 0x152},
    {"Delete", "\x1b[3~", 0x153},
    // Function keys reach the loop, which ignores them.
    {"F1", "\x1bOP", 0x13B},
    {"F4", "\x1bOS", 0x13E},
    {"F1LinuxConsole", "\x1b[[A", 0x13B},
    {"F5", "\x1b[15~", 0x13F},
    {"F10", "\x1b[21~", 0x144},
    {"F12", "\x1b[24~", 0x186},
    {"CtrlF1", "\x1b[1;5P", 0x15E},
    {"ShiftTab", "\x1b[Z", 0x10F},
    {"KeypadEnter", "\x1bOM", 13},
    {"AltB",
     "\x1b"
     "b",
     0x130},
    {"AltQ", "\x1bQ", 0x110},
    {"Alt1",
     "\x1b"
     "1",
     0x178},
    // No PC code: dropped whole.
    {"CtrlAltUp", "\x1b[1;7A", kNoKey},
    {"PrivateMode", "\x1b[?1049h", kNoKey},
    {"UnknownTilde", "\x1b[99~", kNoKey},
};

INSTANTIATE_TEST_SUITE_P(Keys, WholeSequence, testing::ValuesIn(kKeys),
                         [](const testing::TestParamInfo<KeyCase>& info) {
                             return std::string(info.param.name);
                         });

// The first key of a longer input, and how much of it is taken.
TEST(DecodeKey, TakesOnlyTheFirstKey) {
    const std::string input = "\x1b[Ab\x1b[6;5~";
    const console::DecodedKey first = DecodeKey(Bytes(input), input.size(), false);
    EXPECT_EQ(first.length, 3u);
    EXPECT_EQ(first.code, 0x148);
    const console::DecodedKey second = DecodeKey(Bytes(input) + 3, input.size() - 3, false);
    EXPECT_EQ(second.length, 1u);
    EXPECT_EQ(second.code, 'b');
}

// The beginning of a sequence waits for more; once no more comes it is decided.
TEST(DecodeKey, UnfinishedSequenceWaitsThenDecides) {
    struct Case {
        std::string bytes;
        std::size_t finalLength;
        int finalCode;
    };
    const Case cases[] = {
        {"\x1b", 1, 27},        // Esc alone
        {"\x1b\x1b", 1, 27},    // Esc pressed twice: the first one now
        {"\x1b[", 2, kNoKey},   // Alt+[ has no PC code
        {"\x1b[5", 3, kNoKey},  // broken off: dropped, not read as '5'
        {"\x1b[5;", 4, kNoKey},   {"\x1bO", 2, kNoKey},
        {"\x1b\x1b[", 3, kNoKey}, {"\x1b[[", 3, kNoKey},
    };
    for (const Case& c : cases) {
        const console::DecodedKey waiting = DecodeKey(Bytes(c.bytes), c.bytes.size(), false);
        EXPECT_EQ(waiting.length, 0u) << testing::PrintToString(c.bytes);
        const console::DecodedKey decided = DecodeKey(Bytes(c.bytes), c.bytes.size(), true);
        EXPECT_EQ(decided.length, c.finalLength) << testing::PrintToString(c.bytes);
        EXPECT_EQ(decided.code, c.finalCode) << testing::PrintToString(c.bytes);
    }
}

TEST(DecodeKey, EscFollowedByEscAndACharacterIsEscThenAlt) {
    const std::string input = "\x1b\x1bx";
    const console::DecodedKey first = DecodeKey(Bytes(input), input.size(), false);
    EXPECT_EQ(first.length, 1u);
    EXPECT_EQ(first.code, 27);
    const console::DecodedKey second = DecodeKey(Bytes(input) + 1, input.size() - 1, false);
    EXPECT_EQ(second.length, 2u);
    EXPECT_EQ(second.code, 0x12D);  // Alt+X
}

// A sequence that never ends must not hold the keyboard forever.
TEST(DecodeKey, OverlongSequenceIsDropped) {
    const std::string input = "\x1b[" + std::string(40, '1');
    const console::DecodedKey key = DecodeKey(Bytes(input), input.size(), false);
    EXPECT_EQ(key.length, input.size());
    EXPECT_EQ(key.code, kNoKey);
}

TEST(FindCursorReport, FindsTheReportAmongKeys) {
    const std::string input = "ab\x1b[A\x1b[12;34Rc";
    std::size_t start = 0;
    int column = 0;
    int row = 0;
    EXPECT_EQ(console::FindCursorReport(Bytes(input), input.size(), start, column, row), 8u);
    EXPECT_EQ(start, 5u);
    EXPECT_EQ(row, 12);
    EXPECT_EQ(column, 34);
}

TEST(FindCursorReport, IncompleteOrOtherSequencesAreNoReport) {
    for (const std::string input : {"\x1b[12;3", "\x1b[A", "\x1b[5;5~", "\x1b[;5R", "\x1b[12R"}) {
        std::size_t start = 0;
        int column = 0;
        int row = 0;
        EXPECT_EQ(console::FindCursorReport(Bytes(input), input.size(), start, column, row), 0u)
            << testing::PrintToString(input);
    }
}

}  // namespace

#include "fake_console.h"

#include <cstdio>
#include <cstring>
#include <deque>

#include "console.h"
#include "fake_serial.h"

namespace {

struct ScriptedKey {
    std::uint64_t atMs;
    int code;
};

struct State {
    std::deque<ScriptedKey> keys;
    std::deque<std::string> lines;
    int heldSecond = -1;
    bool inputEnds = false;
    std::uint64_t inputEndsAtMs = 0;
    bool terminal = true;
    int column = 1;
    int row = 10;
    std::uint32_t tickOffset = 0;
    std::vector<std::string> log;
    int keysRead = 0;
    int sleeps = 0;
    std::uint64_t sleptMs = 0;
};

State& S() {
    static State state;
    return state;
}

bool KeyDue() {
    return !S().keys.empty() && S().keys.front().atMs <= fake_serial::NowMs();
}

}  // namespace

namespace fake_console {

void Reset() {
    S() = State();
}

void PressKey(int keyCode, std::uint64_t atMs) {
    S().keys.push_back({atMs, keyCode});
}

void EndInput(std::uint64_t atMs) {
    S().inputEnds = true;
    S().inputEndsAtMs = atMs;
}

void QueueLine(const std::string& line) {
    S().lines.push_back(line);
}

void SetTerminal(bool on) {
    S().terminal = on;
}

void SetCursor(int column, int row) {
    S().column = column;
    S().row = row;
}

void AddTickOffset(std::uint32_t ms) {
    S().tickOffset += ms;
}

const std::vector<std::string>& Log() {
    return S().log;
}
void ClearLog() {
    S().log.clear();
}
int KeysRead() {
    return S().keysRead;
}
int Sleeps() {
    return S().sleeps;
}
std::uint64_t SleptMs() {
    return S().sleptMs;
}

}  // namespace fake_console

namespace console {

void Init() {}
void Restore() {}

bool KeyAvailable() {
    return S().heldSecond >= 0 || KeyDue();
}

int ReadKey() {
    State& s = S();
    if (s.heldSecond >= 0) {
        const int second = s.heldSecond;
        s.heldSecond = -1;
        return second;
    }
    // A real read blocks until the key comes; here virtual time jumps to it. With no
    // key left the input counts as ended, so a test never hangs.
    if (s.keys.empty()) return -1;
    const ScriptedKey key = s.keys.front();
    s.keys.pop_front();
    if (key.atMs > fake_serial::NowMs()) fake_serial::AdvanceMs(key.atMs - fake_serial::NowMs());
    ++s.keysRead;
    if (key.code >= 0x100) {
        s.heldSecond = key.code - 0x100;
        return 0;
    }
    return key.code;
}

bool InputEnded() {
    const State& s = S();
    return s.inputEnds && s.keys.empty() && s.heldSecond < 0 &&
           fake_serial::NowMs() >= s.inputEndsAtMs;
}

bool ReadLine(char* text, std::size_t size, bool& truncated) {
    truncated = false;
    if (size == 0 || S().lines.empty()) return false;
    const std::string line = S().lines.front();
    S().lines.pop_front();
    truncated = line.size() >= size;
    const std::size_t n = truncated ? size - 1 : line.size();
    std::memcpy(text, line.data(), n);
    text[n] = '\0';
    return true;
}

void Write(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
    S().log.push_back(std::string("write ") + text);
    for (const char* c = text; *c != '\0'; ++c) S().column = *c == '\n' ? 1 : S().column + 1;
}

bool CursorPosition(int& column, int& row) {
    if (!S().terminal) return false;
    column = S().column;
    row = S().row;
    return true;
}

void MoveCursor(int column, int row) {
    // The row reported stays as set: printf output, which moves the real cursor,
    // does not pass through here.
    S().log.push_back("move " + std::to_string(column) + "," + std::to_string(row));
    S().column = column;
}

void ClearToEndOfLine() {
    S().log.push_back("clear");
}

void SleepMs(unsigned milliseconds) {
    ++S().sleeps;
    S().sleptMs += milliseconds;
    fake_serial::AdvanceMs(milliseconds);
}

std::uint32_t TickCount() {
    return static_cast<std::uint32_t>(S().tickOffset + fake_serial::NowMs());
}

}  // namespace console

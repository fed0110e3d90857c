// Windows backend of the console seam: the CRT's key functions and the console API.
// With standard input redirected, keys come from the input bytes and the end of the
// input is no key, so a script never hangs.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"

namespace console {
namespace {

// _getch delivers a key without a character as a prefix and then its code.
constexpr int kPrefixNull = 0x00;
constexpr int kPrefixE0 = 0xE0;

enum class Mode { Saved, Keys, Prompt };

struct State {
    bool ready = false;
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;
    bool inputIsConsole = false;
    bool inputIsPipe = false;
    DWORD savedMode = 0;
    Mode mode = Mode::Saved;
    bool ended = false;
};

State state;

void Setup() {
    if (state.ready) return;
    state.ready = true;
    state.input = GetStdHandle(STD_INPUT_HANDLE);
    state.output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    state.inputIsConsole = state.input != INVALID_HANDLE_VALUE && state.input != nullptr &&
                           GetConsoleMode(state.input, &mode) != FALSE;
    if (state.inputIsConsole) {
        state.savedMode = mode;
    } else {
        state.inputIsPipe = GetFileType(state.input) == FILE_TYPE_PIPE;
        // Unbuffered, so that what the pipe still holds is all that is waiting.
        std::setvbuf(stdin, nullptr, _IONBF, 0);
    }
}

// Keys without line editing or echo, Ctrl+C still a signal; prompts with both,
// whatever mode the console came with. Wine's console hands keys to _kbhit only in
// the key mode, and only when the input was peeked before the switch; on Windows
// _getch switches by itself, so there this only makes the two agree.
void SetMode(Mode wanted) {
    if (!state.inputIsConsole || state.mode == wanted) return;
    const DWORD lineAndEcho = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
    DWORD native = state.savedMode;
    if (wanted == Mode::Keys) {
        INPUT_RECORD record;
        DWORD events = 0;
        PeekConsoleInputA(state.input, &record, 1, &events);
        native = (native & ~lineAndEcho) | ENABLE_PROCESSED_INPUT;
    } else if (wanted == Mode::Prompt) {
        native |= lineAndEcho | ENABLE_PROCESSED_INPUT;
    }
    if (SetConsoleMode(state.input, native)) state.mode = wanted;
}

BOOL WINAPI OnConsoleSignal(DWORD) {
    SetMode(Mode::Saved);
    return FALSE;  // the default handler ends the process
}

void RestoreAtExit() {
    SetMode(Mode::Saved);
}

bool RedirectedKeyAvailable() {
    if (state.ended) return false;
    if (state.inputIsPipe) {
        DWORD waiting = 0;
        if (PeekNamedPipe(state.input, nullptr, 0, nullptr, &waiting, nullptr)) {
            return waiting > 0;
        }
        if (GetLastError() == ERROR_BROKEN_PIPE) {
            // The writer is gone and nothing is left.
            state.ended = true;
            return false;
        }
        // A pipe that cannot be peeked (Wine's view of a Unix pipe): read ahead.
    }
    // A file or a device: reading does not wait for a person.
    const int c = std::getc(stdin);
    if (c == EOF) {
        state.ended = true;
        return false;
    }
    std::ungetc(c, stdin);
    return true;
}

int RedirectedReadKey() {
    if (state.ended) return -1;
    const int c = std::getc(stdin);
    if (c == EOF) {
        state.ended = true;
        return -1;
    }
    // A line end in the input is the Enter key.
    return c == '\n' ? '\r' : c;
}

}  // namespace

void Init() {
    Setup();
    std::atexit(RestoreAtExit);
    SetConsoleCtrlHandler(OnConsoleSignal, TRUE);
}

void Restore() {
    std::fflush(stdout);
    SetMode(Mode::Saved);
}

bool KeyAvailable() {
    Setup();
    if (!state.inputIsConsole) return RedirectedKeyAvailable();
    SetMode(Mode::Keys);
    return _kbhit() != 0;
}

int ReadKey() {
    Setup();
    if (!state.inputIsConsole) return RedirectedReadKey();
    SetMode(Mode::Keys);
    const int c = _getch();
    // The CRT holds the second code of a prefixed key already, so a lone 0xE0 with
    // nothing behind it is a character of the code page, not a prefix.
    if (c == kPrefixE0 && _kbhit()) return kPrefixNull;
    return c;
}

bool InputEnded() {
    Setup();
    return state.ended;
}

bool ReadLine(char* text, std::size_t size, bool& truncated) {
    Setup();
    truncated = false;
    if (text == nullptr || size == 0) return false;
    text[0] = '\0';
    if (state.ended) return false;
    SetMode(Mode::Prompt);
    std::fflush(stdout);
    const int room = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    if (std::fgets(text, room, stdin) == nullptr) {
        text[0] = '\0';
        if (!state.inputIsConsole) state.ended = true;
        return false;
    }
    std::size_t length = std::strlen(text);
    if (length > 0 && text[length - 1] == '\n') {
        text[--length] = '\0';
        if (length > 0 && text[length - 1] == '\r') text[--length] = '\0';
        return true;
    }
    // No line end: either the input ended or the line was longer than the buffer.
    int c = std::getc(stdin);
    if (c == EOF) {
        if (!state.inputIsConsole) state.ended = true;
        return true;
    }
    if (c != '\n') truncated = true;
    while (c != '\n' && c != EOF) c = std::getc(stdin);
    if (c == EOF && !state.inputIsConsole) state.ended = true;
    return true;
}

void Write(const char* text) {
    if (text != nullptr) std::fputs(text, stdout);
    std::fflush(stdout);
}

bool CursorPosition(int& column, int& row) {
    Setup();
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(state.output, &info)) return false;
    column = info.dwCursorPosition.X + 1;
    row = info.dwCursorPosition.Y + 1;
    return true;
}

void MoveCursor(int column, int row) {
    Setup();
    std::fflush(stdout);
    COORD position;
    position.X = static_cast<SHORT>(column > 1 ? (column > 0x7FFF ? 0x7FFF : column) - 1 : 0);
    position.Y = static_cast<SHORT>(row > 1 ? (row > 0x7FFF ? 0x7FFF : row) - 1 : 0);
    SetConsoleCursorPosition(state.output, position);
}

void ClearToEndOfLine() {
    Setup();
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(state.output, &info)) return;
    const SHORT width = info.dwSize.X;
    if (info.dwCursorPosition.X >= width) return;
    const DWORD count = static_cast<DWORD>(width - info.dwCursorPosition.X);
    DWORD written = 0;
    FillConsoleOutputCharacterA(state.output, ' ', count, info.dwCursorPosition, &written);
    FillConsoleOutputAttribute(state.output, info.wAttributes, count, info.dwCursorPosition,
                               &written);
}

void SleepMs(unsigned milliseconds) {
    ::Sleep(milliseconds);
}

std::uint32_t TickCount() {
    return GetTickCount();
}

}  // namespace console

// Console seam on a POSIX terminal: raw mode while keys are polled, canonical mode
// with echo for prompts, ANSI cursor sequences. Standard input or output may also be a
// file or a pipe; then there is no raw mode and no cursor query, and end of input is a
// state the program can see.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "console_keys.h"

namespace console {
namespace {

// How long the rest of an escape sequence may take after its ESC before the ESC counts
// as the Esc key. Terminals send a sequence in one write; 30 ms covers slow links.
constexpr int kSequenceWaitMs = 30;
// How long a terminal may take to answer the cursor query.
constexpr int kCursorReportWaitMs = 300;

bool initialised = false;
bool inputIsTerminal = false;
bool outputIsTerminal = false;
// The terminal as the program found it, as the prompts want it, and as the key reads
// want it.
enum Mode { kOriginal, kCooked, kRaw };
termios modes[3]{};
// Read by the signal handlers.
volatile sig_atomic_t mode = kOriginal;

// Bytes read from standard input and not yet used.
unsigned char pending[512];
std::size_t pendingCount = 0;
bool inputEnded = false;
// A decoded key not yet handed out, and the second code of an extended key.
int readyKey = kNoKey;
int heldSecond = -1;
// Swallows the LF of a CR LF pair that ended a prompt line.
bool dropLineFeed = false;

void SetMode(Mode wanted) {
    if (!inputIsTerminal || mode == wanted) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &modes[wanted]);
    mode = wanted;
}

void OnTerminatingSignal(int signal) {
    // The handler was reset to the default on entry (SA_RESETHAND); the signal is
    // raised again once the terminal is back as it was.
    if (mode != kOriginal) tcsetattr(STDIN_FILENO, TCSANOW, &modes[kOriginal]);
    raise(signal);
}

void OnStop(int) {
    if (mode != kOriginal) tcsetattr(STDIN_FILENO, TCSANOW, &modes[kOriginal]);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(SIGTSTP, &defaultAction, nullptr);
    raise(SIGTSTP);  // delivered when this handler returns: the process stops there
}

void InstallStopHandler();

void OnContinue(int) {
    InstallStopHandler();
    if (mode != kOriginal) tcsetattr(STDIN_FILENO, TCSANOW, &modes[mode]);
}

void InstallStopHandler() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    const int terminating[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int signal : terminating) sigaction(signal, &action, nullptr);
    InstallStopHandler();
    struct sigaction resume {};
    resume.sa_handler = OnContinue;
    sigemptyset(&resume.sa_mask);
    sigaction(SIGCONT, &resume, nullptr);
}

// Waits up to timeoutMs (-1: without limit) for input and reads what is there into
// pending. False when nothing came in time.
bool Fill(int timeoutMs) {
    if (inputEnded || pendingCount == sizeof pending) return false;
    pollfd descriptor{STDIN_FILENO, POLLIN, 0};
    int ready;
    do {
        ready = poll(&descriptor, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) return false;
    if (ready < 0) {
        inputEnded = true;  // standard input cannot be polled: nothing will come from it
        return false;
    }
    ssize_t n;
    do {
        n = read(STDIN_FILENO, pending + pendingCount, sizeof pending - pendingCount);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        // End of file, or a terminal that went away (EIO): no key will ever come.
        inputEnded = true;
        return false;
    }
    pendingCount += static_cast<std::size_t>(n);
    return true;
}

void Take(std::size_t start, std::size_t length) {
    std::memmove(pending + start, pending + start + length, pendingCount - start - length);
    pendingCount -= length;
}

// Decodes the next key from pending input into readyKey, waiting only for the rest of a
// sequence that has begun. False when no key is there.
bool DecodePending() {
    while (readyKey == kNoKey && pendingCount > 0) {
        if (dropLineFeed) {
            dropLineFeed = false;
            if (pending[0] == '\n') {
                Take(0, 1);
                continue;
            }
        }
        DecodedKey key = DecodeKey(pending, pendingCount, inputEnded);
        if (key.length == 0) {
            if (Fill(kSequenceWaitMs)) continue;
            key = DecodeKey(pending, pendingCount, true);
        }
        Take(0, key.length);
        readyKey = key.code;
    }
    return readyKey != kNoKey;
}

void Flush() {
    std::fflush(stdout);
}

}  // namespace

void Init() {
    if (initialised) return;
    initialised = true;
    inputIsTerminal = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &modes[kOriginal]) == 0;
    outputIsTerminal = isatty(STDOUT_FILENO);
    if (inputIsTerminal) {
        termios& raw = modes[kRaw];
        raw = modes[kOriginal];
        // Keys one by one without echo. ISIG stays, so Ctrl+C still ends the program
        // (through the handler that restores the terminal).
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
        raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        // The prompts want line editing and echo whatever the terminal was set to.
        termios& cooked = modes[kCooked];
        cooked = modes[kOriginal];
        cooked.c_lflag |= ICANON | ECHO;
        cooked.c_iflag |= ICRNL;
        cooked.c_iflag &= ~static_cast<tcflag_t>(IGNCR | INLCR);
        InstallSignalHandlers();
    }
    std::atexit(Restore);
    // Keys from the start, so that one typed early is not echoed. Not from the
    // background, where changing the terminal would stop the program.
    if (inputIsTerminal && tcgetpgrp(STDIN_FILENO) == getpgrp()) SetMode(kRaw);
}

void Restore() {
    Flush();
    SetMode(kOriginal);
}

bool KeyAvailable() {
    Flush();
    if (heldSecond >= 0 || readyKey != kNoKey) return true;
    SetMode(kRaw);
    do {
        if (DecodePending()) return true;
    } while (Fill(0));
    return DecodePending();
}

int ReadKey() {
    if (heldSecond >= 0) {
        const int second = heldSecond;
        heldSecond = -1;
        return second;
    }
    Flush();
    SetMode(kRaw);
    while (!DecodePending()) {
        if (inputEnded) return -1;
        Fill(-1);
    }
    const int key = readyKey;
    readyKey = kNoKey;
    if (key >= kExtended) {
        heldSecond = key - kExtended;
        return 0;
    }
    return key;
}

bool InputEnded() {
    return inputEnded && pendingCount == 0 && readyKey == kNoKey && heldSecond < 0;
}

namespace {

bool ReadLineCooked(char* text, std::size_t size, bool& truncated) {
    std::size_t length = 0;
    bool any = false;
    // A key decoded ahead of the prompt was typed as the start of this line.
    if (readyKey == 13) {
        readyKey = kNoKey;
        text[0] = '\0';
        return true;
    }
    if (readyKey > 0 && readyKey < kExtended && size > 1) {
        text[length++] = static_cast<char>(readyKey);
        any = true;
    }
    readyKey = kNoKey;
    heldSecond = -1;
    for (;;) {
        if (pendingCount == 0 && !Fill(-1)) {
            if (inputEnded) break;
            continue;
        }
        std::size_t used = 0;
        bool lineEnd = false;
        while (used < pendingCount && !lineEnd) {
            const unsigned char c = pending[used++];
            if (dropLineFeed) {
                dropLineFeed = false;
                if (c == '\n') continue;
            }
            any = true;
            if (c == '\n' || c == '\r') {
                dropLineFeed = c == '\r';
                lineEnd = true;
            } else if (length + 1 < size) {
                text[length++] = static_cast<char>(c);
            } else {
                truncated = true;
            }
        }
        Take(0, used);
        if (lineEnd) break;
    }
    text[length] = '\0';
    return any;
}

}  // namespace

bool ReadLine(char* text, std::size_t size, bool& truncated) {
    truncated = false;
    if (size == 0) return false;
    // Echo and line editing before the prompt shows, and keys again before the answer
    // to it shows: what is typed in reply to either never meets the other mode.
    const bool wasRaw = mode == kRaw;
    SetMode(kCooked);
    Flush();
    const bool read = ReadLineCooked(text, size, truncated);
    if (wasRaw) SetMode(kRaw);
    return read;
}

void Write(const char* text) {
    std::fputs(text, stdout);
    Flush();
}

bool CursorPosition(int& column, int& row) {
    // A query that no terminal answers would only stall the program.
    if (!inputIsTerminal || !outputIsTerminal) return false;
    SetMode(kRaw);
    Write("\x1b[6n");
    const std::uint32_t begin = TickCount();
    for (;;) {
        std::size_t start = 0;
        const std::size_t length = FindCursorReport(pending, pendingCount, start, column, row);
        if (length != 0) {
            Take(start, length);
            return true;
        }
        const std::uint32_t waited = TickCount() - begin;
        if (waited >= static_cast<std::uint32_t>(kCursorReportWaitMs)) return false;
        if (!Fill(kCursorReportWaitMs - static_cast<int>(waited)) &&
            (inputEnded || pendingCount == sizeof pending)) {
            return false;
        }
    }
}

void MoveCursor(int column, int row) {
    if (!outputIsTerminal) return;
    std::printf("\x1b[%d;%dH", row, column);
    Flush();
}

void ClearToEndOfLine() {
    if (!outputIsTerminal) return;
    Write("\x1b[K");
}

void SleepMs(unsigned milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace console

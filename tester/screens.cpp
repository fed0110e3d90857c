#include "screens.h"

#include <cstdio>

#include "console.h"
#include "cycling.h"
#include "operations.h"
#include "program.h"
#include "telvar.h"

namespace ombrel {

namespace {

constexpr int kEsc = 27;
constexpr int kDisplayRows = 8;
constexpr int kDisplayRowBytes = 128;

// Console writes go straight to the terminal; what printf holds must go first.
void Write(const char* text) {
    std::fflush(stdout);
    console::Write(text);
}

enum class PanelAction { Keypad, EncoderButton, Encoder };

struct PanelKey {
    int keyCode;  // as read: character code, or 0x100 plus the second code
    PanelAction action;
    int code;  // KeyCode or EncCode
};

// PC keys and the front-panel element each one stands for. The EncCode has bit 3
// set for up, and 1 (Alt) or 2 (Ctrl) in its low bits.
const PanelKey kPanelKeys[] = {
    {0x14B, PanelAction::Keypad, 0x01},      // Left arrow
    {0x150, PanelAction::Keypad, 0x02},      // Down arrow
    {0x00D, PanelAction::Keypad, 0x04},      // Enter
    {0x14D, PanelAction::Keypad, 0x08},      // Right arrow
    {0x148, PanelAction::Keypad, 0x10},      // Up arrow
    {0x020, PanelAction::EncoderButton, 0},  // Space
    {0x151, PanelAction::Encoder, 0x0},      // PgDn
    {0x1A1, PanelAction::Encoder, 0x1},      // Alt+PgDn
    {0x176, PanelAction::Encoder, 0x2},      // Ctrl+PgDn
    {0x149, PanelAction::Encoder, 0x8},      // PgUp
    {0x199, PanelAction::Encoder, 0x9},      // Alt+PgUp
    {0x184, PanelAction::Encoder, 0xA},      // Ctrl+PgUp
};

void PressPanelKey(const PanelKey& key) {
    switch (key.action) {
        case PanelAction::Keypad:
            if (TELVAR_SimulateKeypad(kSlot, key.code) != 0) ErrorReport("TELVAR_SimulateKeypad");
            break;
        case PanelAction::EncoderButton:
            if (TELVAR_SimulateEncoderButton(kSlot) != 0) {
                ErrorReport("TELVAR_SimulateEncoderButton");
            }
            break;
        case PanelAction::Encoder:
            if (TELVAR_SimulateEncoder(kSlot, key.code) != 0) ErrorReport("TELVAR_SimulateEncoder");
            break;
    }
}

void EchoKeyCode(int keyCode) {
    char text[32];
    std::snprintf(text, sizeof text, "KeyCode: %03X", static_cast<unsigned>(keyCode));
    int row = 0;
    if (CurrentRow(row)) {
        console::ClearToEndOfLine();
        console::Write(text);
        console::MoveCursor(1, row);
    } else {
        std::printf("%s\n", text);
    }
}

void PrintHex(const unsigned char* data, int n) {
    for (int i = 0; i < n; ++i) std::printf("%02X", data[i]);
    std::printf("\n");
}

}  // namespace

void FormatUptime(char* text, unsigned size, std::uint32_t seconds, std::uint16_t milliseconds) {
    if (text == nullptr || size == 0) return;
    const unsigned hours = seconds / 3600;
    const unsigned minutes = seconds % 3600 / 60;
    const unsigned secs = seconds % 60;
    const unsigned hundredths = milliseconds / 10u;
    if (hours != 0) {
        std::snprintf(text, size, "%u:%02u:%02u.%02u sec.", hours, minutes, secs, hundredths);
    } else if (minutes != 0) {
        std::snprintf(text, size, "%u:%02u.%02u sec.", minutes, secs, hundredths);
    } else {
        std::snprintf(text, size, "%u.%02u sec.", secs, hundredths);
    }
}

bool CurrentRow(int& row) {
    std::fflush(stdout);
    int column = 0;
    return console::CursorPosition(column, row);
}

void ShowOnRow(int row, const char* text) {
    std::fflush(stdout);
    console::MoveCursor(1, row);
    console::ClearToEndOfLine();
    console::Write(text);
}

void ShowUptime(bool continuous) {
    if (modes.debug) std::printf("Getting the device uptime:\n");
    char time[48] = "";
    std::uint32_t seconds = 0;
    std::uint16_t milliseconds = 0;
    if (!continuous) {
        if (TELVAR_GetUptime(kSlot, &seconds, &milliseconds) != 0) {
            ErrorReport("TELVAR_GetUptime");
            return;
        }
        FormatUptime(time, sizeof time, seconds, milliseconds);
        std::printf("Device uptime: %s\n", time);
        return;
    }

    if (!modes.quiet) std::printf("Press 'Esc' to quit\n");
    Write("Device uptime: ");
    int column = 0;
    int row = 0;
    // Without a terminal the value cannot be refreshed in place; the last one read
    // is written when the display stops.
    const bool live = console::CursorPosition(column, row);
    for (;;) {
        seconds = 0;
        milliseconds = 0;
        if (TELVAR_GetUptime(kSlot, &seconds, &milliseconds) != 0) {
            std::printf("\n");
            ErrorReport("TELVAR_GetUptime");
            return;
        }
        FormatUptime(time, sizeof time, seconds, milliseconds);
        if (live) {
            console::MoveCursor(column, row);
            console::Write(time);
            console::ClearToEndOfLine();
        }
        // One read per pass: the second code of an extended key comes on a later pass.
        if (console::KeyAvailable()) {
            const int key = console::ReadKey();
            if (key == kEsc || key < 0) break;
        } else if (console::InputEnded()) {
            break;
        }
    }
    if (!live) Write(time);
    std::printf("\n");
}

void KeypadSimulation() {
    if (modes.debug) std::printf("Simulating the keypad and the encoder:\n");
    if (!modes.quiet) {
        std::printf(
            "Press 'Esc' to quit, arrow keys or 'Enter' to simulate the keypad, 'Space' or "
            "'PgDn'/'PgUp' to simulate the encoder\n");
    }
    for (;;) {
        if (!console::KeyAvailable()) {
            // No key can come any more: end as if Esc had been pressed.
            if (console::InputEnded()) break;
            std::fflush(stdout);
            console::SleepMs(1);
            continue;
        }
        const int keyCode = ReadKeyCode();
        if (keyCode == kEsc || keyCode < 0) break;
        if (modes.debug) EchoKeyCode(keyCode);
        for (const PanelKey& key : kPanelKeys) {
            if (key.keyCode == keyCode) {
                PressPanelKey(key);
                break;
            }
        }
    }
    if (!modes.quiet) std::printf("Keypad simulation stopped\n");
}

void ShowDisplay(bool whole) {
    if (modes.debug) std::printf("Getting the display data:\n");
    if (whole) {
        unsigned char display[kDisplayRows * kDisplayRowBytes];
        if (TELVAR_ReadDisplay(kSlot, display) != 0) {
            ErrorReport("TELVAR_ReadDisplay");
            return;
        }
        PrintHex(display, sizeof display);
        return;
    }
    unsigned char row[kDisplayRowBytes];
    for (unsigned short r = 0; r < kDisplayRows; ++r) {
        if (TELVAR_ReadDisplayRow(kSlot, r, row) != 0) {
            ErrorReport("TELVAR_ReadDisplayRow");
            return;
        }
        std::printf("LDC row %d: ", r);
        PrintHex(row, sizeof row);
    }
}

}  // namespace ombrel

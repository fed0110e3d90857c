// Drives the Windows console backend the way Ombrel does and writes what it saw to a
// report file, so a test on the Linux side can run it in a pseudo-terminal (or with
// redirected input) and check the report line by line.
//
// Report lines: "cursor OK COLUMN ROW" at the start, after a text and after moving
// back; "key CODE" for each key; "line OK TRUNCATED [TEXT]" for the line read after
// each "L" key; "ended" or "timeout" at the end. The program stops at Esc.
#include <cstdio>

#include "console.h"

namespace {

std::FILE* report = nullptr;

void ReportCursor() {
    int column = 0;
    int row = 0;
    const bool known = console::CursorPosition(column, row);
    std::fprintf(report, "cursor %d %d %d\n", known ? 1 : 0, column, row);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (report = std::fopen(argv[1], "w")) == nullptr) return 2;
    console::Init();
    ReportCursor();
    console::Write("abcdefgh");
    ReportCursor();
    int column = 0;
    int row = 0;
    if (console::CursorPosition(column, row)) {
        console::MoveCursor(3, row);
        console::ClearToEndOfLine();
    }
    ReportCursor();
    console::Write("\n");
    // Into key mode before the driver types: it waits for the "ready" line.
    const bool early = console::KeyAvailable();
    std::fprintf(report, "ready %d\n", early ? 1 : 0);
    std::fflush(report);

    const std::uint32_t start = console::TickCount();
    for (;;) {
        if (!console::KeyAvailable()) {
            if (console::InputEnded()) {
                std::fputs("ended\n", report);
                break;
            }
            if (console::TickCount() - start > 20000) {
                std::fputs("timeout\n", report);
                break;
            }
            console::SleepMs(1);
            continue;
        }
        const int key = console::ReadKey();
        std::fprintf(report, "key %d\n", key);
        std::fflush(report);
        if (key == 27) break;
        if (key == 'L') {
            char line[8];
            bool truncated = false;
            const bool read = console::ReadLine(line, sizeof line, truncated);
            std::fprintf(report, "line %d %d [%s]\n", read ? 1 : 0, truncated ? 1 : 0, line);
            std::fflush(report);
        }
    }
    console::Restore();
    std::fclose(report);
    return 0;
}

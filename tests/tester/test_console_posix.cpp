// The POSIX console with standard input from a pipe, as in a script: keys and prompt
// lines come from the bytes, the end of input is no key, nothing waits on a terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "console.h"

namespace {

// Standard input becomes a pipe holding `input`, already closed at the far end.
void FeedStandardInput(const std::string& input) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(ends[1]);
    ASSERT_EQ(dup2(ends[0], STDIN_FILENO), STDIN_FILENO);
    close(ends[0]);
}

// The console keeps its input state for the process: one script for the whole run.
TEST(PosixConsole, ReadsKeysAndLinesFromAPipeUntilTheEnd) {
    FeedStandardInput("bA\x1b[5;5~\n12.5\r\n" + std::string(300, 'x') + "\nlast\n\x1b");
    console::Init();

    ASSERT_TRUE(console::KeyAvailable());
    EXPECT_FALSE(console::InputEnded());
    EXPECT_EQ(console::ReadKey(), 'b');
    EXPECT_EQ(console::ReadKey(), 'A');
    EXPECT_EQ(console::ReadKey(), 0);  // Ctrl+PgUp: 0, then its second code
    EXPECT_EQ(console::ReadKey(), 0x84);
    EXPECT_EQ(console::ReadKey(), 13);

    char line[16];
    bool truncated = true;
    ASSERT_TRUE(console::ReadLine(line, sizeof line, truncated));
    EXPECT_STREQ(line, "12.5");  // CR LF ends one line
    EXPECT_FALSE(truncated);
    ASSERT_TRUE(console::ReadLine(line, sizeof line, truncated));
    EXPECT_EQ(std::string(line), std::string(15, 'x'));
    EXPECT_TRUE(truncated);  // the rest of the long line is gone with it
    ASSERT_TRUE(console::ReadLine(line, sizeof line, truncated));
    EXPECT_STREQ(line, "last");
    EXPECT_FALSE(truncated);

    // An Esc at the very end is still Esc, once no sequence can follow.
    ASSERT_TRUE(console::KeyAvailable());
    EXPECT_EQ(console::ReadKey(), 27);

    EXPECT_FALSE(console::KeyAvailable());
    EXPECT_TRUE(console::InputEnded());
    EXPECT_EQ(console::ReadKey(), -1);
    EXPECT_FALSE(console::ReadLine(line, sizeof line, truncated));

    // No terminal: no cursor query that could wait for an answer.
    int column = 0;
    int row = 0;
    EXPECT_FALSE(console::CursorPosition(column, row));
}

TEST(PosixConsole, TickCountFollowsSleep) {
    const std::uint32_t before = console::TickCount();
    console::SleepMs(20);
    const std::uint32_t elapsed = console::TickCount() - before;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 2000u);
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ombrel_device_fixture.h"
#include "screens.h"
#include "scripted_device.h"

namespace {

TEST(FormatUptime, ChoosesTheFormByMagnitude) {
    struct Case {
        std::uint32_t seconds;
        std::uint16_t milliseconds;
        const char* text;
    };
    const Case cases[] = {
        {3725, 500, "1:02:05.50 sec."},  // hours, minutes, seconds, hundredths
        {125, 30, "2:05.03 sec."},
        {59, 996, "59.99 sec."},  // hundredths are cut, not rounded
        {0, 0, "0.00 sec."},
        {360000, 0, "100:00:00.00 sec."},  // hours are not limited to 24
        {3600, 0, "1:00:00.00 sec."},
        {60, 9, "1:00.00 sec."},
        {4294967295u, 999, "1193046:28:15.99 sec."},
    };
    for (const Case& c : cases) {
        char text[40];
        ombrel::FormatUptime(text, sizeof text, c.seconds, c.milliseconds);
        EXPECT_STREQ(text, c.text);
    }
    char small[6];
    ombrel::FormatUptime(small, sizeof small, 3725, 500);
    EXPECT_STREQ(small, "1:02:");
}

// Uptime: 3600 s at virtual time 0, running with the virtual clock. Keypad and
// encoder commands are echoed, display rows are rows of their own number.
class ScreensTest : public OmbrelDeviceTest {
  protected:
    fake_serial::Peer& Device() override { return device; }

    void SetUp() override {
        device.SetHandler([this](const std::string& command, std::string& reply) {
            return Answer(command, reply);
        });
        OmbrelDeviceTest::SetUp();
        device.ClearCommands();
    }

    bool Answer(const std::string& command, std::string& reply) {
        // A live screen that cannot be stopped ends on a silent device instead of hanging.
        if (device.Commands().size() > 5000) return false;
        char text[40];
        switch (command[0]) {
            case 'U': {
                const std::uint64_t ms = 3600000 + fake_serial::NowMs();
                std::snprintf(text, sizeof text, "U%08X%02X\r", unsigned(ms / 1000),
                              unsigned(ms % 1000 * 256 / 1000));
                reply = text;
                return true;
            }
            case 'K':
            case 'E':
                reply = command + "\r";
                return true;
            case 'L':
                reply = "L" + DisplayRows(0, 8) + "\r";
                return true;
            case 'l':
                reply = command + DisplayRows(command[1] - '0', 1) + "\r";
                return true;
        }
        return false;
    }

    // Every byte of row r is 0xA0 + r.
    static std::string DisplayRows(int first, int count) {
        std::string hex;
        for (int r = first; r < first + count; ++r) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", 0xA0 + r);
            for (int i = 0; i < 128; ++i) hex += pair;
        }
        return hex;
    }

    std::vector<std::string> Sent(char command) const {
        std::vector<std::string> sent;
        for (const std::string& c : device.Commands()) {
            if (!c.empty() && c[0] == command) sent.push_back(c);
        }
        return sent;
    }

    ScriptedDevice device;
};

TEST_F(ScreensTest, UptimeOnceIsOneLine) {
    fake_serial::AdvanceMs(125500 - fake_serial::NowMs());
    EXPECT_EQ(Console([] { ombrel::ShowUptime(false); }), "Device uptime: 1:02:05.50 sec.\n");
}

TEST_F(ScreensTest, UptimeFailureIsReported) {
    device.SetHandler(nullptr);  // silent device
    const std::string out = Console([] { ombrel::ShowUptime(false); });
    EXPECT_EQ(out.rfind("Error at TELVAR_GetUptime: ", 0), 0u) << out;
    EXPECT_TRUE(Contains(out, ", I/O Error Message: ")) << out;
    EXPECT_EQ(out.find("Device uptime"), std::string::npos);
}

TEST_F(ScreensTest, ContinuousUptimeRefreshesInPlaceUntilEsc) {
    device.SetReplyDelayMs(2);  // a transaction takes its time on the line
    fake_console::SetCursor(1, 12);
    fake_console::PressKey('x', 20);
    fake_console::PressKey(0x148, 30);  // an extended key: two reads, neither is Esc
    fake_console::PressKey(27, 40);
    const std::string out = Console([] { ombrel::ShowUptime(true); });

    EXPECT_EQ(out.rfind("Press 'Esc' to quit\nDevice uptime: ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(fake_console::KeysRead(), 3);
    // Back to back: no sleeping between the transactions.
    EXPECT_EQ(fake_console::Sleeps(), 0);
    EXPECT_GT(Sent('U').size(), 3u);
    int refreshes = 0;
    for (const std::string& entry : fake_console::Log()) {
        if (entry == "move 16,12") ++refreshes;
    }
    EXPECT_EQ(refreshes, static_cast<int>(Sent('U').size()));
    EXPECT_TRUE(Contains(out, "Device uptime: 1:00:00.00 sec.1:00:00.00 sec.")) << out;
}

TEST_F(ScreensTest, ContinuousUptimeWithoutTerminalWritesTheLastValueOnce) {
    device.SetReplyDelayMs(2);
    fake_console::SetTerminal(false);
    fake_console::EndInput(250);  // a script's input ends: no Esc will ever come
    const std::string out = Console([] { ombrel::ShowUptime(true); });
    // The value read last, near 250 ms after the start.
    EXPECT_EQ(out.rfind("Press 'Esc' to quit\nDevice uptime: 1:00:00.2", 0), 0u) << out;
    EXPECT_EQ(out.size(),
              std::string("Press 'Esc' to quit\nDevice uptime: 1:00:00.24 sec.\n").size());
    for (const std::string& entry : fake_console::Log()) {
        EXPECT_EQ(entry.rfind("move", 0), std::string::npos) << entry;
    }
}

TEST_F(ScreensTest, ContinuousUptimeEndsOnAFailureOnANewLine) {
    ombrel::modes.quiet = true;
    device.SetHandler(nullptr);
    const std::string out = Console([] { ombrel::ShowUptime(true); });
    EXPECT_EQ(out.rfind("Device uptime: \nError at TELVAR_GetUptime: ", 0), 0u) << out;
}

TEST_F(ScreensTest, KeypadKeysReachTheDeviceAsTheirCodes) {
    ombrel::modes.debug = true;
    const int keys[] = {0x14B, 0x150, 0x0D,  0x14D, 0x148, 0x20, 0x151, 0x1A1,
                        0x176, 0x149, 0x199, 0x184, 0x173, 'a',  27};
    for (int key : keys) fake_console::PressKey(key);
    const std::string out = Console([] { ombrel::KeypadSimulation(); });

    const std::vector<std::string> expected = {"K01", "K02", "K04", "K08", "K10", "E",
                                               "E0",  "E1",  "E2",  "E8",  "E9",  "EA"};
    EXPECT_EQ(device.Commands(), expected);
    EXPECT_EQ(
        out.rfind("Simulating the keypad and the encoder:\nPress 'Esc' to quit, arrow keys or "
                  "'Enter' to simulate the keypad, 'Space' or 'PgDn'/'PgUp' to simulate the "
                  "encoder\n",
                  0),
        0u)
        << out;
    EXPECT_TRUE(Contains(out, "Keypad simulation stopped\n"));
    // The debug echo overwrites itself at column 1; Ctrl+Left shows its code and sends nothing.
    const std::vector<std::string>& log = fake_console::Log();
    const std::vector<std::string> echo = {"clear", "write KeyCode: 148", "move 1,10"};
    EXPECT_NE(std::search(log.begin(), log.end(), echo.begin(), echo.end()), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "write KeyCode: 173"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "write KeyCode: 00D"), log.end());
}

TEST_F(ScreensTest, KeypadGoesOnAfterAFailedKey) {
    ombrel::modes.quiet = true;
    // A wrong echo on the call and on the library's retry.
    device.Script("K11\r");
    device.Script("K11\r");
    fake_console::PressKey(0x148);
    fake_console::PressKey(0x14B);
    fake_console::EndInput();
    const std::string out = Console([] { ombrel::KeypadSimulation(); });
    EXPECT_EQ(out.rfind("Error at TELVAR_SimulateKeypad: ", 0), 0u) << out;
    EXPECT_EQ(Sent('K').back(), "K01");
    EXPECT_EQ(out.find("Keypad simulation stopped"), std::string::npos);
}

TEST_F(ScreensTest, WholeDisplayIsOneLineOf2048HexDigits) {
    const std::string out = Console([] { ombrel::ShowDisplay(true); });
    ASSERT_EQ(out.size(), 2049u);
    EXPECT_EQ(out, DisplayRows(0, 8) + "\n");
}

TEST_F(ScreensTest, DisplayRowByRowStopsAtTheFirstFailingRow) {
    device.SetHandler([this](const std::string& command, std::string& reply) {
        if (command == "l3") {
            reply = "l4" + DisplayRows(4, 1) + "\r";  // the wrong row
            return true;
        }
        return Answer(command, reply);
    });
    const std::string out = Console([] { ombrel::ShowDisplay(false); });
    const std::string rows = "LDC row 0: " + DisplayRows(0, 1) +
                             "\nLDC row 1: " + DisplayRows(1, 1) +
                             "\nLDC row 2: " + DisplayRows(2, 1) + "\n";
    EXPECT_EQ(out.substr(0, rows.size()), rows);
    EXPECT_EQ(out.substr(rows.size()).rfind("Error at TELVAR_ReadDisplayRow: ", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4);
    EXPECT_EQ(Sent('l').back(), "l3");
}

}  // namespace

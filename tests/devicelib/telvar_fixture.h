// A Telvar slot on a fake COM port with a scripted device behind it, a fixed clock for
// the time stamps, and a trace file per test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "library_reset.h"
#include "scripted_device.h"
#include "telvar.h"

class TelvarTest : public ::testing::Test {
  protected:
    static constexpr unsigned short kSlot = 2;
    static constexpr unsigned char kCom = 3;
    // Tue Mar 05 14:07:09 2024
    static serial_os::LocalTime Clock() {
        serial_os::LocalTime t;
        t.year = 2024;
        t.month = 3;
        t.day = 5;
        t.hour = 14;
        t.minute = 7;
        t.second = 9;
        t.weekday = 2;
        return t;
    }

    void SetUp() override {
        telvar::ResetLibraryState();
        fake_serial::Reset();
        fake_serial::SetLocalTime(Clock());
        fake_serial::Attach(kCom, &device);
        dir = MakeTempDirectory();
        ASSERT_FALSE(dir.empty());
    }

    void TearDown() override {
        telvar::ResetLibraryState();
        fake_serial::Reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // The slot opened and its opening forgotten: the device has seen nothing yet.
    void OpenSlot() {
        ASSERT_EQ(TELVAR_Open(kSlot, kCom), 0);
        device.ClearCommands();
        fake_serial::ClearCalls();
        written = fake_serial::View(kCom).hostWritten.size();
    }

    // What the host wrote since OpenSlot (or the last call of this).
    std::string Sent() {
        const std::string all = fake_serial::View(kCom).hostWritten;
        std::string recent = all.substr(written);
        written = all.size();
        return recent;
    }

    std::string Path(const char* name) const { return dir + "/" + name; }

    void StartTrace(const char* name = "trace.txt") {
        tracePath = Path(name);
        ASSERT_EQ(TELVAR_OpenDebugFile(kSlot, tracePath.c_str()), 0);
    }

    // A fresh folder of our own; the same everywhere (no mkdtemp on Windows).
    static std::string MakeTempDirectory() {
        namespace fs = std::filesystem;
        std::error_code error;
        const fs::path base = fs::temp_directory_path(error);
        if (error) return {};
        // create_directory fails on an existing folder, so parallel tests never share one.
        const auto stamp =
            std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                base / ("telvar-test-" + stamp + "-" + std::to_string(attempt));
            if (fs::create_directory(candidate, error)) return candidate.string();
        }
        return {};
    }

    // Text mode: a trace file has Windows line ends on Windows.
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Closes the trace file and returns all of it.
    std::string FinishTrace() {
        EXPECT_EQ(TELVAR_CloseDebugFile(kSlot), 0);
        return ReadFile(tracePath);
    }

  public:
    // Expected trace text, also used in tables of cases.

    // The blank line and time stamp that start every entry.
    static std::string Entry(const std::string& message) {
        return "\nTue Mar 05 14:07:09 2024\n" + message;
    }
    // The whole file around the given entries.
    static std::string TraceFile(const std::string& entries, unsigned short slot = kSlot) {
        return "Debugging output file for PortNumber=" + std::to_string(slot) + "\n" +
               Entry("File opened by TELVAR_OpenDebugFile\n") + entries +
               Entry("File closed by TELVAR_CloseDebugFile\n");
    }
    // A communication repair whose purges both succeed.
    static std::string Repair(bool purged = true) {
        return Entry("Repairing communication\n") +
               Entry(purged ? "Port purged\n" : "Port not purged\n");
    }
    // The lines of a read that waits in vain for the rest of its bytes.
    static std::string ReadRepeats(unsigned long got, unsigned long wanted) {
        std::string lines;
        for (int k = 1; k <= 100; ++k) {
            lines += Entry("COMPort::ReadFile: Could not read the data, repeating the operation #" +
                           std::to_string(k) + ", data read so far: " + std::to_string(got) +
                           ", expected: " + std::to_string(wanted) + "\n");
        }
        return lines;
    }
    static std::string Line(const std::string& message) {
        return Entry("PortNumber: " + std::to_string(kSlot) + ", " + message);
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }

  protected:
    ScriptedDevice device;
    std::string dir;
    std::string tracePath;
    std::size_t written = 0;
};

// Slot 7 of the in-process library open on a fake port with a device behind it, a
// fresh fake console on the same virtual clock, and Ombrel's modes off.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "fake_console.h"
#include "fake_serial.h"
#include "library_reset.h"
#include "program.h"
#include "telvar.h"

class OmbrelDeviceTest : public ::testing::Test {
  protected:
    static constexpr unsigned kCom = 3;

    // The device behind the port.
    virtual fake_serial::Peer& Device() = 0;

    void SetUp() override {
        fake_serial::Reset();
        telvar::ResetLibraryState();
        fake_console::Reset();
        ombrel::modes = ombrel::Modes();
        fake_serial::Attach(kCom, &Device());
        ASSERT_EQ(TELVAR_Open(ombrel::kSlot, kCom), 0);
        fake_console::ClearLog();
    }

    void TearDown() override { telvar::ResetLibraryState(); }

    // What the operation printed on the console.
    static std::string Console(const std::function<void()>& operation) {
        std::fflush(stdout);
        ::testing::internal::CaptureStdout();
        operation();
        std::fflush(stdout);
        return ::testing::internal::GetCapturedStdout();
    }

    static bool Contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
};

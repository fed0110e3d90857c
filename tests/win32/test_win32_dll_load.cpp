// Loading and unloading telvar.dll at run time: every function is found under its
// plain name, a load starts from the documented state, and an unload ends it (the
// next load starts afresh).
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

namespace {

const char* const kFunctions[] = {"TELVAR_Version",
                                  "TELVAR_Open",
                                  "TELVAR_Close",
                                  "TELVAR_State",
                                  "TELVAR_ErrorMessage",
                                  "TELVAR_IO_State",
                                  "TELVAR_IO_ErrorMessage",
                                  "TELVAR_Purge",
                                  "TELVAR_Device_Purge",
                                  "TELVAR_Buffer_State",
                                  "TELVAR_OpenDebugFile",
                                  "TELVAR_CloseDebugFile",
                                  "TELVAR_Get_Amplitude",
                                  "TELVAR_Set_Amplitude",
                                  "TELVAR_Get_Enable",
                                  "TELVAR_Set_Enable",
                                  "TELVAR_Get_HousekeepingData",
                                  "TELVAR_Get_RFGData",
                                  "TELVAR_Get_PowerData",
                                  "TELVAR_Get_InterlockState",
                                  "TELVAR_SimulateKeypad",
                                  "TELVAR_SimulateEncoderButton",
                                  "TELVAR_SimulateEncoder",
                                  "TELVAR_ReadDisplay",
                                  "TELVAR_ReadDisplayRow",
                                  "TELVAR_GetHardwareCapability",
                                  "TELVAR_GetUptime",
                                  "TELVAR_FW_Ver",
                                  "TELVAR_FW_Date",
                                  "TELVAR_Prod_ID",
                                  "TELVAR_Prod_No"};

using VersionFn = unsigned short (*)();
using SlotFn = int (*)(unsigned short);
using TextFn = const char* (*)(unsigned short);
using OpenFn = int (*)(unsigned short, unsigned char);

template <typename Fn>
Fn Find(HMODULE library, const char* name) {
    // GetProcAddress hands out a generic function pointer; the exported type is known.
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

class LoadedTelvar : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = LoadLibraryA("telvar.dll");
        ASSERT_NE(library_, nullptr) << "LoadLibrary failed: " << GetLastError();
    }
    void TearDown() override {
        if (library_ != nullptr) {
            EXPECT_TRUE(FreeLibrary(library_));
        }
    }
    HMODULE library_ = nullptr;
};

TEST_F(LoadedTelvar, ExportsEveryFunctionUnderItsPlainName) {
    for (const char* name : kFunctions) {
        EXPECT_NE(GetProcAddress(library_, name), nullptr) << name;
    }
}

TEST_F(LoadedTelvar, LoadStartsWithClosedPortsAndNoError) {
    EXPECT_EQ(Find<VersionFn>(library_, "TELVAR_Version")(), 0x0114);
    const auto state = Find<SlotFn>(library_, "TELVAR_State");
    const auto ioState = Find<SlotFn>(library_, "TELVAR_IO_State");
    const auto message = Find<TextFn>(library_, "TELVAR_ErrorMessage");
    const auto ioMessage = Find<TextFn>(library_, "TELVAR_IO_ErrorMessage");
    for (unsigned short slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(state(slot), 0) << slot;
        EXPECT_STREQ(message(slot), "No error") << slot;
        EXPECT_EQ(ioState(slot), 1) << slot;
        EXPECT_STREQ(ioMessage(slot), "Port has not been opened yet") << slot;
    }
}

TEST_F(LoadedTelvar, UnloadDropsTheStateOfTheLoad) {
    EXPECT_EQ(Find<OpenFn>(library_, "TELVAR_Open")(3, 0), -2);
    EXPECT_EQ(Find<SlotFn>(library_, "TELVAR_State")(3), -2);
    EXPECT_EQ(Find<SlotFn>(library_, "TELVAR_IO_State")(3), 2);

    ASSERT_TRUE(FreeLibrary(library_));
    library_ = LoadLibraryA("telvar.dll");
    ASSERT_NE(library_, nullptr);
    EXPECT_EQ(Find<SlotFn>(library_, "TELVAR_State")(3), 0);
    EXPECT_EQ(Find<SlotFn>(library_, "TELVAR_IO_State")(3), 1);
}

}  // namespace

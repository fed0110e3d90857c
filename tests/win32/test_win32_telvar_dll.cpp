// telvar.dll as a Windows host uses it: linked at load time through its import
// library (functions and the COMPort class), and loaded and unloaded at run time.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "comport.h"
#include "telvar.h"

namespace {

// Text mode: the trace file has Windows line ends.
std::string ReadWholeFile(const char* path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(TelvarDll, FunctionsAnswerThroughTheImportLibrary) {
    EXPECT_EQ(TELVAR_Version(), 0x0114);
    EXPECT_EQ(TELVAR_State(8), -200);
    EXPECT_STREQ(TELVAR_IO_ErrorMessage(8), "PortNumber out of range");

    const char* trace = "telvar_dll_open_trace.txt";
    ASSERT_EQ(TELVAR_OpenDebugFile(0, trace), 0);
    EXPECT_EQ(TELVAR_Open(0, 0), -2);
    EXPECT_EQ(TELVAR_State(0), -2);
    EXPECT_EQ(TELVAR_IO_State(0), 2);
    EXPECT_STREQ(TELVAR_ErrorMessage(0), "Error opening the port");
    ASSERT_EQ(TELVAR_CloseDebugFile(0), 0);

    const std::string text = ReadWholeFile(trace);
    EXPECT_NE(text.find("COMPort::Open: Cannot open the port \\\\.\\COM0\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("PortNumber: 0, TELVAR_Open: Error opening the port as COM0\n"),
              std::string::npos)
        << text;
    std::remove(trace);
}

TEST(TelvarDll, ExportedClassWorksInTheHost) {
    COMPort port;
    EXPECT_EQ(port.IOState, 1);
    EXPECT_EQ(port.PortHandle, serial_os::kInvalidHandle);
    EXPECT_FALSE(port.Open(0));
    EXPECT_EQ(port.IOState, 2);
    EXPECT_STREQ(port.ErrorMessage(), "Cannot open the port");
    EXPECT_FALSE(port.Close());
    EXPECT_EQ(port.IOState, 1);
}

}  // namespace

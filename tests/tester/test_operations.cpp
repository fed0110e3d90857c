// Single-shot operations: their progress, result and error lines in every mode, on a
// scripted library.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fake_telvar.h"
#include "operations.h"
#include "program.h"

namespace {

using fake_telvar::script;

struct OperationCase {
    const char* name;
    std::function<void()> setUp;
    bool quiet;
    bool debug;
    std::function<void()> operation;
    std::string output;
};

void Nothing() {}

std::string Capture(const OperationCase& c) {
    fake_telvar::Reset();
    c.setUp();
    ombrel::modes.quiet = c.quiet;
    ombrel::modes.debug = c.debug;
    testing::internal::CaptureStdout();
    c.operation();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void PrintTo(const OperationCase& c, std::ostream* os) {
    *os << c.name;
}

class Operation : public testing::TestWithParam<OperationCase> {};

TEST_P(Operation, PrintsExactly) {
    EXPECT_EQ(Capture(GetParam()), GetParam().output);
}

void Fail(const char* function) {
    script().status[function] = -11;
}

const std::string kErrorTail = ": Error receiving data, I/O Error Message: Timeout while reading\n";

const OperationCase kCases[] = {
    // Buffer state: the confirmation depends on the modes.
    {"BufferEmpty", Nothing, false, false, ombrel::ShowBufferState, "Buffer is empty\n"},
    {"BufferNotEmpty", [] { script().bufferEmpty = 0; }, false, false, ombrel::ShowBufferState,
     "Buffer is not empty\n"},
    {"BufferDebug", [] { script().bufferEmpty = 0; }, false, true, ombrel::ShowBufferState,
     "Getting the buffer status of the device...\nBuffer of the device is not empty\n"},
    {"BufferQuiet", Nothing, true, false, ombrel::ShowBufferState, ""},
    {"BufferFails", [] { Fail("TELVAR_Buffer_State"); }, true, false, ombrel::ShowBufferState,
     "Error receiving data\n"},

    // Purge.
    {"Purged", Nothing, false, false, ombrel::PurgeCommunication, "Port purged\n"},
    {"NotPurged", [] { script().purged = 0; }, false, false, ombrel::PurgeCommunication,
     "Buffer of the communication port could not be purged\nPort not purged\n"},
    {"NotPurgedQuiet", [] { script().purged = 0; }, true, false, ombrel::PurgeCommunication,
     "Buffer of the communication port could not be purged\n"},
    {"PurgedDebug", Nothing, false, true, ombrel::PurgeCommunication,
     "Purging the buffers of the communication port...\n"
     "Buffers of the communication port were purged\n"},
    {"PurgedQuiet", Nothing, true, false, ombrel::PurgeCommunication, ""},
    {"HostPurgeFails", [] { Fail("TELVAR_Purge"); }, false, false, ombrel::PurgeCommunication,
     "Error receiving data\n"},
    {"DevicePurgeFails", [] { Fail("TELVAR_Device_Purge"); }, false, false,
     ombrel::PurgeCommunication, "Error receiving data\n"},

    // Identification.
    {"FirmwareDate", Nothing, false, false, ombrel::ShowFirmwareDate,
     "Firmware date: Apr 20 2015\n"},
    {"FirmwareDateDebug", Nothing, false, true, ombrel::ShowFirmwareDate,
     "Getting the firmware date:\nFirmware date: Apr 20 2015\n"},
    {"FirmwareDateFails", [] { Fail("TELVAR_FW_Date"); }, false, true, ombrel::ShowFirmwareDate,
     "Getting the firmware date:\nError at TELVAR_FW_Date" + kErrorTail},
    {"FirmwareVersion", Nothing, false, false, ombrel::ShowFirmwareVersion,
     "Firmware version: 1.20\n"},
    {"FirmwareVersionMinorTwoDigits", [] { script().firmwareVersion = 0x0105; }, false, false,
     ombrel::ShowFirmwareVersion, "Firmware version: 1.05\n"},
    {"FirmwareVersionFails", [] { Fail("TELVAR_FW_Ver"); }, false, false,
     ombrel::ShowFirmwareVersion, "Error at TELVAR_FW_Ver" + kErrorTail},
    {"ProductIdentification", Nothing, true, false, ombrel::ShowProductIdentification,
     "Product identification: QUENTA RF-Generator\n"},
    // The longest identification the library delivers arrives whole.
    {"ProductIdentificationLongest",
     [] { script().productIdentification = std::string(8191, 'Q'); }, false, false,
     ombrel::ShowProductIdentification, "Product identification: " + std::string(8191, 'Q') + "\n"},
    {"ProductIdentificationFailsWithItsOwnLabel", [] { Fail("TELVAR_Prod_ID"); }, false, false,
     ombrel::ShowProductIdentification, "Error at TELVAR_prod_ID" + kErrorTail},
    {"ProductNumber", Nothing, false, true, ombrel::ShowProductNumber,
     "Getting the product number:\nProduct number: 4711\n"},
    {"ProductNumberFails", [] { Fail("TELVAR_Prod_No"); }, false, false, ombrel::ShowProductNumber,
     "Error at TELVAR_Prod_No" + kErrorTail},
    {"Capabilities", Nothing, false, true, ombrel::ShowHardwareCapabilities,
     "Getting hardware capabilities:\nHardware capabilities:\n\tMinimum amplitude: 10V\n"
     "\tMaximum amplitude: 1000V\n\tMaximum supply voltage: 48.0V\n"},
    {"CapabilitiesFail", [] { Fail("TELVAR_GetHardwareCapability"); }, false, false,
     ombrel::ShowHardwareCapabilities, "Error at TELVAR_GetHardwareCapability" + kErrorTail},

    // Measurements: printed in quiet mode too.
    {"Housekeeping", Nothing, true, false, ombrel::ShowHousekeepingData,
     "Housekeeping data:\t12V: 12.002V\t5V: 5.001V\t3V: 3.299V\tCPU: 41.50degC\n"},
    {"HousekeepingDebug", Nothing, false, true, ombrel::ShowHousekeepingData,
     "Getting the housekeeping data:\n"
     "Housekeeping data:\t12V: 12.002V\t5V: 5.001V\t3V: 3.299V\tCPU: 41.50degC\n"},
    {"HousekeepingFails", [] { Fail("TELVAR_Get_HousekeepingData"); }, false, false,
     ombrel::ShowHousekeepingData, "Error at TELVAR_Get_HousekeepingData" + kErrorTail},
    {"RFGData", Nothing, false, false, ombrel::ShowRFGData,
     "RF-generator data:\tAmplitudes: 99.950V, 100.050V\tDrain voltage: 47.500V\t"
     "Frequency: 13.5600MHz\n\tHeatsink temperature: 38.25degC\tCoil temperature: 29.75degC\n"},
    {"RFGDataDebug", Nothing, false, true, ombrel::ShowRFGData,
     "Getting the RF-generator data:\n"
     "RF-generator data:\tAmplitudes: 99.950V, 100.050V\tDrain voltage: 47.500V\t"
     "Frequency: 13.5600MHz\n\tHeatsink temperature: 38.25degC\tCoil temperature: 29.75degC\n"},
    {"RFGDataFails", [] { Fail("TELVAR_Get_RFGData"); }, false, false, ombrel::ShowRFGData,
     "Error at TELVAR_Get_RFGData" + kErrorTail},
    {"PowerData", Nothing, false, true, ombrel::ShowPowerSupplyData,
     "Getting the power supply data:\n"
     "Power supply data:\tVoltage: 48.012V\tCurrent: 1.250A\tHeatsink: 35.50degC\n"},
    {"PowerDataFails", [] { Fail("TELVAR_Get_PowerData"); }, false, false,
     ombrel::ShowPowerSupplyData, "Error at TELVAR_Get_PowerData" + kErrorTail},
    {"InterlockClosed", Nothing, false, true, ombrel::ShowInterlockState,
     "Getting the interlock state:\nInterlock is closed\n"},
    {"InterlockOpen", [] { script().interlockClosed = 0; }, false, false,
     ombrel::ShowInterlockState, "Interlock is open\n"},
    {"InterlockFails", [] { Fail("TELVAR_Get_InterlockState"); }, false, false,
     ombrel::ShowInterlockState, "Error at TELVAR_Get_InterlockState" + kErrorTail},

    // Amplitude and RF state.
    {"Amplitude", Nothing, true, false, ombrel::ShowAmplitude, "RF amplitude: 100.0V\n"},
    {"AmplitudeDebug", Nothing, false, true, ombrel::ShowAmplitude,
     "Getting the RF amplitude:\nRF amplitude: 100.0V\n"},
    {"AmplitudeFails", [] { Fail("TELVAR_Get_Amplitude"); }, false, false, ombrel::ShowAmplitude,
     "Error at TELVAR_Get_Amplitude" + kErrorTail},
    {"SetAmplitudeShowsTheEcho", [] { script().amplitudeEcho = 100.0; }, false, true,
     [] { ombrel::SetAmplitude(100.04); }, "Setting the amplitude:\nRF amplitude set to 100.0V\n"},
    {"SetAmplitudeFails", [] { Fail("TELVAR_Set_Amplitude"); }, false, false,
     [] { ombrel::SetAmplitude(5000); }, "Error at TELVAR_Set_Amplitude" + kErrorTail},
    {"RFStateOnWithBlank", [] { script().enable = 1; }, false, false, ombrel::ShowRFState,
     "RF state: on \n"},
    {"RFStateOff", Nothing, false, true, ombrel::ShowRFState,
     "Getting the RF state:\nRF state: off\n"},
    {"RFStateFails", [] { Fail("TELVAR_Get_Enable"); }, false, false, ombrel::ShowRFState,
     "Error at TELVAR_Get_Enable" + kErrorTail},
    {"SetRFStateOn", Nothing, true, false, [] { ombrel::SetRFState(1); }, "RF state set to on \n"},
    {"SetRFStateAnsweredOff", [] { script().enableEcho = 0; }, false, true,
     [] { ombrel::SetRFState(1); }, "Setting the RF state:\nRF state set to off\n"},
    {"SetRFStateFails", [] { Fail("TELVAR_Set_Enable"); }, false, false,
     [] { ombrel::SetRFState(0); }, "Error at TELVAR_Set_Enable" + kErrorTail},
};

INSTANTIATE_TEST_SUITE_P(Operations, Operation, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<OperationCase>& info) {
                             return std::string(info.param.name);
                         });

// Slot 7 in every call; the device purge only after a host purge that worked.
TEST(PurgeCommunication, StopsAfterAFailedHostPurge) {
    Capture({"", [] { Fail("TELVAR_Purge"); }, false, false, ombrel::PurgeCommunication, ""});
    EXPECT_EQ(fake_telvar::Calls(), std::vector<std::string>{"TELVAR_Purge 7"});
    Capture({"", Nothing, false, false, ombrel::PurgeCommunication, ""});
    EXPECT_EQ(fake_telvar::Calls(),
              (std::vector<std::string>{"TELVAR_Purge 7", "TELVAR_Device_Purge 7"}));
}

TEST(SetAmplitude, SendsTheValueAskedFor) {
    Capture({"", Nothing, false, false, [] { ombrel::SetAmplitude(100.04); }, ""});
    EXPECT_EQ(fake_telvar::Calls(), std::vector<std::string>{"TELVAR_Set_Amplitude 7 100.040000"});
}

}  // namespace

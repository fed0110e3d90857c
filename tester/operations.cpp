// Single-shot operations: one library call each on slot 7, one result line or one
// error line.
#include "operations.h"

#include <cstdio>

#include "program.h"
#include "telvar.h"

namespace ombrel {
namespace {

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

void Progress(const char* line) {
    if (modes.debug) std::printf("%s", line);
}

// Runs a call's error report; true when the call succeeded.
bool Succeeded(int status, const char* label) {
    if (status == 0) return true;
    ErrorReport(label);
    return false;
}

const char* OnOff(int state) {
    return state != 0 ? "on " : "off";
}

}  // namespace

void ErrorReport(const char* label) {
    // Both texts right after the failing call, before anything else touches the slot.
    const char* status = Text(TELVAR_ErrorMessage(kSlot));
    const char* io = Text(TELVAR_IO_ErrorMessage(kSlot));
    std::printf("Error at %s: %s, I/O Error Message: %s\n", label, status, io);
}

void ShortErrorReport() {
    std::printf("%s\n", Text(TELVAR_ErrorMessage(kSlot)));
}

void ShowBufferState() {
    Progress("Getting the buffer status of the device...\n");
    int empty = 0;
    if (TELVAR_Buffer_State(kSlot, &empty) != 0) {
        ShortErrorReport();
        return;
    }
    const char* insert = empty != 0 ? "" : "not ";
    if (modes.debug) {
        std::printf("Buffer of the device is %sempty\n", insert);
    } else if (!modes.quiet) {
        std::printf("Buffer is %sempty\n", insert);
    }
}

void PurgeCommunication() {
    Progress("Purging the buffers of the communication port...\n");
    int purged = 0;
    if (TELVAR_Purge(kSlot) != 0 || TELVAR_Device_Purge(kSlot, &purged) != 0) {
        ShortErrorReport();
        return;
    }
    if (purged == 0) std::printf("Buffer of the communication port could not be purged\n");
    const char* insert = purged != 0 ? "" : "not ";
    if (modes.debug) {
        std::printf("Buffers of the communication port were %spurged\n", insert);
    } else if (!modes.quiet) {
        std::printf("Port %spurged\n", insert);
    }
}

void ShowFirmwareDate() {
    Progress("Getting the firmware date:\n");
    char date[16];
    date[0] = '\0';
    if (Succeeded(TELVAR_FW_Date(kSlot, date), "TELVAR_FW_Date")) {
        std::printf("Firmware date: %s\n", date);
    }
}

void ShowFirmwareVersion() {
    Progress("Getting the firmware version:\n");
    unsigned short version = 0;
    if (Succeeded(TELVAR_FW_Ver(kSlot, &version), "TELVAR_FW_Ver")) {
        std::printf("Firmware version: %d.%02d\n", version >> 8, version & 0xFF);
    }
}

void ShowProductIdentification() {
    Progress("Getting the product identification:\n");
    // As large as the longest identification the library can write (8191 characters).
    char identification[8192];
    identification[0] = '\0';
    if (Succeeded(TELVAR_Prod_ID(kSlot, identification), "TELVAR_prod_ID")) {
        std::printf("Product identification: %s\n", identification);
    }
}

void ShowProductNumber() {
    Progress("Getting the product number:\n");
    int number = 0;
    if (Succeeded(TELVAR_Prod_No(kSlot, &number), "TELVAR_Prod_No")) {
        std::printf("Product number: %d\n", number);
    }
}

void ShowHousekeepingData() {
    Progress("Getting the housekeeping data:\n");
    double rail12 = 0;
    double rail5 = 0;
    double rail3 = 0;
    double cpu = 0;
    if (Succeeded(TELVAR_Get_HousekeepingData(kSlot, &rail12, &rail5, &rail3, &cpu),
                  "TELVAR_Get_HousekeepingData")) {
        std::printf("Housekeeping data:\t12V: %.3lfV\t5V: %.3lfV\t3V: %.3lfV\tCPU: %.2lfdegC\n",
                    rail12, rail5, rail3, cpu);
    }
}

void ShowRFGData() {
    Progress("Getting the RF-generator data:\n");
    double amplitude1 = 0;
    double amplitude2 = 0;
    double drain = 0;
    int frequency = 0;
    double heatsink = 0;
    double coil = 0;
    if (Succeeded(TELVAR_Get_RFGData(kSlot, &amplitude1, &amplitude2, &drain, &frequency, &heatsink,
                                     &coil),
                  "TELVAR_Get_RFGData")) {
        std::printf(
            "RF-generator data:\tAmplitudes: %.3lfV, %.3lfV\tDrain voltage: %.3lfV\tFrequency: "
            "%.4lfMHz\n\tHeatsink temperature: %.2lfdegC\tCoil temperature: %.2lfdegC\n",
            amplitude1, amplitude2, drain, frequency * 1e-6, heatsink, coil);
    }
}

void ShowPowerSupplyData() {
    Progress("Getting the power supply data:\n");
    double voltage = 0;
    double current = 0;
    double heatsink = 0;
    if (Succeeded(TELVAR_Get_PowerData(kSlot, &voltage, &current, &heatsink),
                  "TELVAR_Get_PowerData")) {
        std::printf("Power supply data:\tVoltage: %.3lfV\tCurrent: %.3lfA\tHeatsink: %.2lfdegC\n",
                    voltage, current, heatsink);
    }
}

void ShowInterlockState() {
    Progress("Getting the interlock state:\n");
    int closed = 0;
    if (Succeeded(TELVAR_Get_InterlockState(kSlot, &closed), "TELVAR_Get_InterlockState")) {
        std::printf("Interlock is %s\n", closed != 0 ? "closed" : "open");
    }
}

void ShowAmplitude() {
    Progress("Getting the RF amplitude:\n");
    double amplitude = 0;
    if (Succeeded(TELVAR_Get_Amplitude(kSlot, &amplitude), "TELVAR_Get_Amplitude")) {
        std::printf("RF amplitude: %.1lfV\n", amplitude);
    }
}

void SetAmplitude(double amplitude) {
    Progress("Setting the amplitude:\n");
    // The call leaves the amplitude the device confirmed.
    if (Succeeded(TELVAR_Set_Amplitude(kSlot, &amplitude), "TELVAR_Set_Amplitude")) {
        std::printf("RF amplitude set to %.1lfV\n", amplitude);
    }
}

void ShowRFState() {
    Progress("Getting the RF state:\n");
    int state = 0;
    if (Succeeded(TELVAR_Get_Enable(kSlot, &state), "TELVAR_Get_Enable")) {
        std::printf("RF state: %s\n", OnOff(state));
    }
}

void SetRFState(int state) {
    Progress("Setting the RF state:\n");
    // The call leaves the state the device confirmed.
    if (Succeeded(TELVAR_Set_Enable(kSlot, &state), "TELVAR_Set_Enable")) {
        std::printf("RF state set to %s\n", OnOff(state));
    }
}

void ShowHardwareCapabilities() {
    Progress("Getting hardware capabilities:\n");
    double minimum = 0;
    double maximum = 0;
    double supply = 0;
    if (Succeeded(TELVAR_GetHardwareCapability(kSlot, &minimum, &maximum, &supply),
                  "TELVAR_GetHardwareCapability")) {
        std::printf(
            "Hardware capabilities:\n\tMinimum amplitude: %.0lfV\n\tMaximum amplitude: "
            "%.0lfV\n\tMaximum supply voltage: %.1lfV\n",
            minimum, maximum, supply);
    }
}

}  // namespace ombrel

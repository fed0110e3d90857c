// Single-shot operations: one library call each, one result line or one error line.
#pragma once

namespace ombrel {

// "Error at %s: %s, I/O Error Message: %s\n" for slot 7.
void ErrorReport(const char* label);
// "%s\n" with the text of slot 7's stored status.
void ShortErrorReport();

void ShowBufferState();
void PurgeCommunication();
void ShowFirmwareDate();
void ShowFirmwareVersion();
void ShowProductIdentification();
void ShowProductNumber();
void ShowHousekeepingData();
void ShowRFGData();
void ShowPowerSupplyData();
void ShowInterlockState();
void ShowAmplitude();
void SetAmplitude(double amplitude);
void ShowRFState();
void SetRFState(int state);
void ShowHardwareCapabilities();

}  // namespace ombrel

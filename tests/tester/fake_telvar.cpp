// A scripted stand-in for the Telvar library.
#include "fake_telvar.h"

#include <cstring>

#include "telvar.h"

namespace fake_telvar {
namespace {

Script current;
std::vector<std::string> calls;
int lastStatus = 0;

int Answer(const char* name, unsigned short port, const std::string& argument = "") {
    std::string entry = std::string(name) + " " + std::to_string(port);
    if (!argument.empty()) entry += " " + argument;
    calls.push_back(entry);
    const auto found = current.status.find(name);
    lastStatus = found == current.status.end() ? 0 : found->second;
    return lastStatus;
}

}  // namespace

void Reset() {
    current = Script();
    calls.clear();
    lastStatus = 0;
}

Script& script() {
    return current;
}
const std::vector<std::string>& Calls() {
    return calls;
}

}  // namespace fake_telvar

using fake_telvar::Answer;
using fake_telvar::current;
using fake_telvar::lastStatus;

extern "C" {

unsigned short TELVAR_Version(void) {
    return current.version;
}

int TELVAR_Open(unsigned short port, unsigned char com) {
    return Answer("TELVAR_Open", port, std::to_string(com));
}
int TELVAR_Close(unsigned short port) {
    return Answer("TELVAR_Close", port);
}
int TELVAR_State(unsigned short) {
    return lastStatus;
}
const char* TELVAR_ErrorMessage(unsigned short) {
    return lastStatus == 0 ? "No error" : current.errorText.c_str();
}
int TELVAR_IO_State(unsigned short) {
    return lastStatus == 0 ? 0 : 3;
}
const char* TELVAR_IO_ErrorMessage(unsigned short) {
    return current.ioText.c_str();
}

int TELVAR_Purge(unsigned short port) {
    return Answer("TELVAR_Purge", port);
}
int TELVAR_Device_Purge(unsigned short port, int* purged) {
    const int status = Answer("TELVAR_Device_Purge", port);
    if (status == 0) *purged = current.purged;
    return status;
}
int TELVAR_Buffer_State(unsigned short port, int* empty) {
    const int status = Answer("TELVAR_Buffer_State", port);
    if (status == 0) *empty = current.bufferEmpty;
    return status;
}

int TELVAR_OpenDebugFile(unsigned short port, const char* name) {
    return Answer("TELVAR_OpenDebugFile", port, name);
}
int TELVAR_CloseDebugFile(unsigned short port) {
    return Answer("TELVAR_CloseDebugFile", port);
}

int TELVAR_Get_Amplitude(unsigned short port, double* amplitude) {
    const int status = Answer("TELVAR_Get_Amplitude", port);
    if (status == 0) *amplitude = current.amplitude;
    return status;
}
int TELVAR_Set_Amplitude(unsigned short port, double* amplitude) {
    const int status = Answer("TELVAR_Set_Amplitude", port, std::to_string(*amplitude));
    if (status == 0) {
        if (current.amplitudeEcho >= 0) *amplitude = current.amplitudeEcho;
        current.amplitude = *amplitude;
    }
    return status;
}
int TELVAR_Get_Enable(unsigned short port, int* enable) {
    const int status = Answer("TELVAR_Get_Enable", port);
    if (status == 0) *enable = current.enable;
    return status;
}
int TELVAR_Set_Enable(unsigned short port, int* enable) {
    const int status = Answer("TELVAR_Set_Enable", port, std::to_string(*enable));
    if (status == 0) {
        if (current.enableEcho >= 0) *enable = current.enableEcho;
        current.enable = *enable;
    }
    return status;
}
int TELVAR_Get_HousekeepingData(unsigned short port, double* v12, double* v5, double* v3,
                                double* cpu) {
    const int status = Answer("TELVAR_Get_HousekeepingData", port);
    if (status == 0) {
        *v12 = current.housekeeping[0];
        *v5 = current.housekeeping[1];
        *v3 = current.housekeeping[2];
        *cpu = current.housekeeping[3];
    }
    return status;
}
int TELVAR_Get_RFGData(unsigned short port, double* a1, double* a2, double* drain, int* frequency,
                       double* heatsink, double* coil) {
    const int status = Answer("TELVAR_Get_RFGData", port);
    if (status == 0) {
        *a1 = current.rfgAmplitudes[0];
        *a2 = current.rfgAmplitudes[1];
        *drain = current.rfgAmplitudes[2];
        *frequency = current.frequency;
        *heatsink = current.rfgTemperatures[0];
        *coil = current.rfgTemperatures[1];
    }
    return status;
}
int TELVAR_Get_PowerData(unsigned short port, double* voltage, double* current_, double* heatsink) {
    const int status = Answer("TELVAR_Get_PowerData", port);
    if (status == 0) {
        *voltage = current.power[0];
        *current_ = current.power[1];
        *heatsink = current.power[2];
    }
    return status;
}
int TELVAR_Get_InterlockState(unsigned short port, int* closed) {
    const int status = Answer("TELVAR_Get_InterlockState", port);
    if (status == 0) *closed = current.interlockClosed;
    return status;
}

int TELVAR_SimulateKeypad(unsigned short port, int key) {
    return Answer("TELVAR_SimulateKeypad", port, std::to_string(key));
}
int TELVAR_SimulateEncoderButton(unsigned short port) {
    return Answer("TELVAR_SimulateEncoderButton", port);
}
int TELVAR_SimulateEncoder(unsigned short port, int code) {
    return Answer("TELVAR_SimulateEncoder", port, std::to_string(code));
}
int TELVAR_ReadDisplay(unsigned short port, unsigned char* data) {
    const int status = Answer("TELVAR_ReadDisplay", port);
    if (status == 0) std::memset(data, 0, 1024);
    return status;
}
int TELVAR_ReadDisplayRow(unsigned short port, unsigned short row, unsigned char* data) {
    const int status = Answer("TELVAR_ReadDisplayRow", port, std::to_string(row));
    if (status == 0) std::memset(data, 0, 128);
    return status;
}

int TELVAR_GetHardwareCapability(unsigned short port, double* minimum, double* maximum,
                                 double* supply) {
    const int status = Answer("TELVAR_GetHardwareCapability", port);
    if (status == 0) {
        *minimum = current.capability[0];
        *maximum = current.capability[1];
        *supply = current.capability[2];
    }
    return status;
}
int TELVAR_GetUptime(unsigned short port, unsigned int* seconds, unsigned short* milliseconds) {
    const int status = Answer("TELVAR_GetUptime", port);
    if (status == 0) {
        *seconds = 125;
        *milliseconds = 30;
    }
    return status;
}
int TELVAR_FW_Ver(unsigned short port, unsigned short* version) {
    const int status = Answer("TELVAR_FW_Ver", port);
    if (status == 0) *version = current.firmwareVersion;
    return status;
}
int TELVAR_FW_Date(unsigned short port, char* date) {
    const int status = Answer("TELVAR_FW_Date", port);
    if (status == 0) std::strcpy(date, current.firmwareDate.c_str());
    return status;
}
int TELVAR_Prod_ID(unsigned short port, char* identification) {
    const int status = Answer("TELVAR_Prod_ID", port);
    // The library writes up to 8192 bytes; so does the fake, to catch a short buffer.
    if (status == 0) std::strcpy(identification, current.productIdentification.c_str());
    return status;
}
int TELVAR_Prod_No(unsigned short port, int* number) {
    const int status = Answer("TELVAR_Prod_No", port);
    if (status == 0) *number = current.productNumber;
    return status;
}

}  // extern "C"

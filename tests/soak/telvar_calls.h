// Every exported device command with valid arguments, as a table to walk or draw from:
// the fault soak and the reply fuzzing call the library through it.
#pragma once

#include <cstddef>

#include "telvar.h"

namespace telvar_calls {

struct Call {
    const char* name;
    int (*call)(unsigned short slot);
    // With repair and retry around it: every device command but the three that
    // manage the link itself.
    bool Repaired() const;
};

// Out-values land here; nobody reads them. Each buffer is its own object of the size
// telvar.h promises to fill, so that a sanitizer sees a write beyond it.
struct Outs {
    double amplitude = 10.0;
    double values[6] = {};
    int flag = 0;
    unsigned seconds = 0;
    unsigned short word = 0;
};
inline Outs outs;
inline char firmwareDate[12];
inline char productId[8192];
inline unsigned char display[1024];
inline unsigned char displayRow[128];

inline const Call kCalls[] = {
    {"TELVAR_Purge", [](unsigned short s) { return TELVAR_Purge(s); }},
    {"TELVAR_Device_Purge", [](unsigned short s) { return TELVAR_Device_Purge(s, &outs.flag); }},
    {"TELVAR_Buffer_State", [](unsigned short s) { return TELVAR_Buffer_State(s, &outs.flag); }},
    {"TELVAR_Get_Amplitude",
     [](unsigned short s) { return TELVAR_Get_Amplitude(s, &outs.amplitude); }},
    {"TELVAR_Set_Amplitude",
     [](unsigned short s) {
         outs.amplitude = 12.5;
         return TELVAR_Set_Amplitude(s, &outs.amplitude);
     }},
    {"TELVAR_Get_Enable", [](unsigned short s) { return TELVAR_Get_Enable(s, &outs.flag); }},
    {"TELVAR_Set_Enable",
     [](unsigned short s) {
         outs.flag = 1;
         return TELVAR_Set_Enable(s, &outs.flag);
     }},
    {"TELVAR_Get_HousekeepingData",
     [](unsigned short s) {
         double* v = outs.values;
         return TELVAR_Get_HousekeepingData(s, &v[0], &v[1], &v[2], &v[3]);
     }},
    {"TELVAR_Get_RFGData",
     [](unsigned short s) {
         double* v = outs.values;
         return TELVAR_Get_RFGData(s, &v[0], &v[1], &v[2], &outs.flag, &v[4], &v[5]);
     }},
    {"TELVAR_Get_PowerData",
     [](unsigned short s) {
         double* v = outs.values;
         return TELVAR_Get_PowerData(s, &v[0], &v[1], &v[2]);
     }},
    {"TELVAR_Get_InterlockState",
     [](unsigned short s) { return TELVAR_Get_InterlockState(s, &outs.flag); }},
    {"TELVAR_SimulateKeypad", [](unsigned short s) { return TELVAR_SimulateKeypad(s, 0x31); }},
    {"TELVAR_SimulateEncoderButton",
     [](unsigned short s) { return TELVAR_SimulateEncoderButton(s); }},
    {"TELVAR_SimulateEncoder", [](unsigned short s) { return TELVAR_SimulateEncoder(s, 1); }},
    {"TELVAR_ReadDisplay", [](unsigned short s) { return TELVAR_ReadDisplay(s, display); }},
    {"TELVAR_ReadDisplayRow",
     [](unsigned short s) { return TELVAR_ReadDisplayRow(s, 5, displayRow); }},
    {"TELVAR_GetHardwareCapability",
     [](unsigned short s) {
         double* v = outs.values;
         return TELVAR_GetHardwareCapability(s, &v[0], &v[1], &v[2]);
     }},
    {"TELVAR_GetUptime",
     [](unsigned short s) { return TELVAR_GetUptime(s, &outs.seconds, &outs.word); }},
    {"TELVAR_FW_Ver", [](unsigned short s) { return TELVAR_FW_Ver(s, &outs.word); }},
    {"TELVAR_FW_Date", [](unsigned short s) { return TELVAR_FW_Date(s, firmwareDate); }},
    {"TELVAR_Prod_ID", [](unsigned short s) { return TELVAR_Prod_ID(s, productId); }},
    {"TELVAR_Prod_No", [](unsigned short s) { return TELVAR_Prod_No(s, &outs.flag); }},
};
constexpr std::size_t kCallCount = sizeof kCalls / sizeof kCalls[0];

inline bool Call::Repaired() const {
    return call != kCalls[0].call && call != kCalls[1].call && call != kCalls[2].call;
}

// What a device command may return once its arguments are valid: success, or one of
// the link's failures (never -2, -3, -15 or -200).
inline bool IsCommandStatus(int status) {
    switch (status) {
        case 0:
        case -4:
        case -5:
        case -6:
        case -7:
        case -8:
        case -9:
        case -10:
        case -11:
        case -12:
        case -13:
        case -14:
        case -100:
        case -101:
        case -102:
            return true;
        default:
            return false;
    }
}

}  // namespace telvar_calls

/* Telvar: control of QUENTA devices over serial ports.
 *
 * Eight port slots, PortNumber 0 to 7, each bound to one COM port by TELVAR_Open.
 * Every function but TELVAR_Version, TELVAR_IO_State and the two text functions
 * returns a status code: 0 on success, negative on failure (TELVAR_ErrorMessage
 * gives its text). PortNumber 8 and above gives -200 and changes nothing.
 *
 * Pointers are owned by the caller and written only during the call; a null
 * pointer gives -15 ("Wrong argument passed to the function") without traffic.
 * Calls must never overlap, not even for different slots.
 */
#ifndef TELVAR_H
#define TELVAR_H

#include "telvar_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Library version: major in the high byte, minor in the low byte (0x0114 = 1.20). */
TELVAR_API unsigned short TELVAR_Version(void);

/* Slots, states and texts. */
TELVAR_API int TELVAR_Open(unsigned short PortNumber, unsigned char COMNumber);
TELVAR_API int TELVAR_Close(unsigned short PortNumber);
TELVAR_API int TELVAR_State(unsigned short PortNumber);
TELVAR_API const char* TELVAR_ErrorMessage(unsigned short PortNumber);
TELVAR_API int TELVAR_IO_State(unsigned short PortNumber);
TELVAR_API const char* TELVAR_IO_ErrorMessage(unsigned short PortNumber);

/* Link management. Purged and Empty become 1 or 0, on success only. */
TELVAR_API int TELVAR_Purge(unsigned short PortNumber);
TELVAR_API int TELVAR_Device_Purge(unsigned short PortNumber, int* Purged);
TELVAR_API int TELVAR_Buffer_State(unsigned short PortNumber, int* Empty);

/* Per-slot trace file. A null FileName gives -400 and keeps the slot's current file. */
TELVAR_API int TELVAR_OpenDebugFile(unsigned short PortNumber, const char* FileName);
TELVAR_API int TELVAR_CloseDebugFile(unsigned short PortNumber);

/* Measurement and control. Amplitudes and voltages in V, currents in A,
 * temperatures in degrees Celsius, frequency in Hz. */
TELVAR_API int TELVAR_Get_Amplitude(unsigned short PortNumber, double* Amplitude);
/* In: requested amplitude; out (on success): the amplitude the device confirms.
 * An amplitude that is not finite, or too large to scale to 0.1 V steps, gives -15
 * without traffic. */
TELVAR_API int TELVAR_Set_Amplitude(unsigned short PortNumber, double* Amplitude);
TELVAR_API int TELVAR_Get_Enable(unsigned short PortNumber, int* Enable);
/* In: nonzero switches RF on; out (on success): the state the device confirms. */
TELVAR_API int TELVAR_Set_Enable(unsigned short PortNumber, int* Enable);
TELVAR_API int TELVAR_Get_HousekeepingData(unsigned short PortNumber, double* Voltage12V,
                                           double* Voltage5V, double* Voltage3V,
                                           double* CPUTemperature);
TELVAR_API int TELVAR_Get_RFGData(unsigned short PortNumber, double* Amplitude1,
                                  double* Amplitude2, double* DrainVoltage, int* Frequency,
                                  double* HeatsinkTemperature, double* CoilTemperature);
TELVAR_API int TELVAR_Get_PowerData(unsigned short PortNumber, double* Voltage, double* Current,
                                    double* HeatsinkTemperature);
/* Closed: 1 = interlock closed, 0 = open. */
TELVAR_API int TELVAR_Get_InterlockState(unsigned short PortNumber, int* Closed);

/* Front panel. Only the low 8 bits of KeyCode and EncCode count; EncCode must be 0..15. */
TELVAR_API int TELVAR_SimulateKeypad(unsigned short PortNumber, int KeyCode);
TELVAR_API int TELVAR_SimulateEncoderButton(unsigned short PortNumber);
TELVAR_API int TELVAR_SimulateEncoder(unsigned short PortNumber, int EncCode);
/* Data: 1024 bytes, the whole display memory (8 rows of 128 bytes). */
TELVAR_API int TELVAR_ReadDisplay(unsigned short PortNumber, unsigned char* Data);
/* Row 0..7; Data: 128 bytes. */
TELVAR_API int TELVAR_ReadDisplayRow(unsigned short PortNumber, unsigned short Row,
                                     unsigned char* Data);

/* Identification, capability and uptime. */
TELVAR_API int TELVAR_GetHardwareCapability(unsigned short PortNumber, double* MinAmplitude,
                                            double* MaxAmplitude, double* MaxSupplyVoltage);
/* Milliseconds: 0..996 of the current second. */
TELVAR_API int TELVAR_GetUptime(unsigned short PortNumber, unsigned int* Seconds,
                                unsigned short* Milliseconds);
/* Version: major in the high byte, minor in the low byte. */
TELVAR_API int TELVAR_FW_Ver(unsigned short PortNumber, unsigned short* Version);
/* Date: writes 12 bytes (11 characters and a terminator). */
TELVAR_API int TELVAR_FW_Date(unsigned short PortNumber, char* Date);
/* Identification: writes up to 8192 bytes (at most 8191 characters and a terminator). */
TELVAR_API int TELVAR_Prod_ID(unsigned short PortNumber, char* Identification);
TELVAR_API int TELVAR_Prod_No(unsigned short PortNumber, int* Number);

#ifdef __cplusplus
}
#endif

#endif

# Compares the dynamic symbols that a library defines with the Telvar interface: the
# 31 TELVAR_ functions and the members of COMPort, nothing else.
# Usage: cmake -DNM=<nm> -DLIBRARY=<libtelvar.so> -P check_exports.cmake
set(functions
  TELVAR_Version TELVAR_Open TELVAR_Close TELVAR_State TELVAR_ErrorMessage TELVAR_IO_State
  TELVAR_IO_ErrorMessage TELVAR_Purge TELVAR_Device_Purge TELVAR_Buffer_State
  TELVAR_OpenDebugFile TELVAR_CloseDebugFile TELVAR_Get_Amplitude TELVAR_Set_Amplitude
  TELVAR_Get_Enable TELVAR_Set_Enable TELVAR_Get_HousekeepingData TELVAR_Get_RFGData
  TELVAR_Get_PowerData TELVAR_Get_InterlockState TELVAR_SimulateKeypad
  TELVAR_SimulateEncoderButton TELVAR_SimulateEncoder TELVAR_ReadDisplay TELVAR_ReadDisplayRow
  TELVAR_GetHardwareCapability TELVAR_GetUptime TELVAR_FW_Ver TELVAR_FW_Date TELVAR_Prod_ID
  TELVAR_Prod_No)
set(members
  "COMPort::COMPort()" "COMPort::~COMPort()" "COMPort::Open(unsigned char)" "COMPort::Close()"
  "COMPort::Purge()" "COMPort::SetCommTimeout()" "COMPort::ResetCommTimeout()"
  "COMPort::Status(bool&, bool&, bool&, bool&)" "COMPort::Control(bool, bool)"
  "COMPort::DeviceReady()" "COMPort::DataAvailable()"
  "COMPort::ReadFile(char*, unsigned int, unsigned int&, bool)" "COMPort::Read(char&, bool)"
  "COMPort::Read(char*, unsigned int&, bool, bool)" "COMPort::Write(char)"
  "COMPort::Write(char const*, unsigned int)" "COMPort::WaitWriteBufferEmpty()"
  "COMPort::ErrorMessage()" "COMPort::WriteDebugTime()" "COMPort::WriteCOMError()")
list(LENGTH functions count)
if(NOT count EQUAL 31)
  message(FATAL_ERROR "the expected list holds ${count} functions, not 31")
endif()

execute_process(COMMAND ${NM} -D --defined-only --demangle ${LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()

set(found "")
set(unexpected "")
string(REPLACE "\n" ";" lines "${listing}")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; demangled names contain blanks.
  if(NOT line MATCHES "^[0-9a-fA-F]* *[A-Za-z] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  # Symbols of the linker, not of the code.
  if(name MATCHES "^(_init|_fini|_edata|_end|__bss_start|__bss_start__|__end__|_bss_end__|__data_start|data_start|__dso_handle)$")
    continue()
  endif()
  list(FIND functions "${name}" at)
  if(at GREATER -1 OR name MATCHES "^COMPort::")
    list(APPEND found "${name}")
  else()
    list(APPEND unexpected "${name}")
  endif()
endforeach()

set(missing "")
foreach(name IN LISTS functions members)
  list(FIND found "${name}" at)
  if(at EQUAL -1)
    list(APPEND missing "${name}")
  endif()
endforeach()

if(unexpected OR missing)
  string(REPLACE ";" "\n  " unexpected "${unexpected}")
  string(REPLACE ";" "\n  " missing "${missing}")
  message(FATAL_ERROR "export table differs from the interface\n"
                      "exported but not in the interface:\n  ${unexpected}\n"
                      "in the interface but not exported:\n  ${missing}")
endif()
message(STATUS "exports match: 31 functions and COMPort")

#!/usr/bin/env bash
# Checks the Windows build's binaries: telvar.dll exports exactly the 31 TELVAR_
# functions and the members of COMPort, under their plain names, and neither
# telvar.dll nor ombrel.exe needs a DLL beyond the system's own (a MinGW runtime DLL
# would be missing on a user's machine).
# Usage: tools/check-dll-exports.sh [BUILD_DIR]   (default: build-win)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-win}
dll=$build/devicelib/telvar.dll
exe=$build/tester/ombrel.exe
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

functions=(
  TELVAR_Version TELVAR_Open TELVAR_Close TELVAR_State TELVAR_ErrorMessage
  TELVAR_IO_State TELVAR_IO_ErrorMessage TELVAR_Purge TELVAR_Device_Purge
  TELVAR_Buffer_State TELVAR_OpenDebugFile TELVAR_CloseDebugFile
  TELVAR_Get_Amplitude TELVAR_Set_Amplitude TELVAR_Get_Enable TELVAR_Set_Enable
  TELVAR_Get_HousekeepingData TELVAR_Get_RFGData TELVAR_Get_PowerData
  TELVAR_Get_InterlockState TELVAR_SimulateKeypad TELVAR_SimulateEncoderButton
  TELVAR_SimulateEncoder TELVAR_ReadDisplay TELVAR_ReadDisplayRow
  TELVAR_GetHardwareCapability TELVAR_GetUptime TELVAR_FW_Ver TELVAR_FW_Date
  TELVAR_Prod_ID TELVAR_Prod_No
)
# COMPort's members; C1/D1 are the constructor and destructor.
members=(
  C1 D1 Open Close Purge SetCommTimeout ResetCommTimeout Status Control DeviceReady
  DataAvailable ReadFile Read Write WaitWriteBufferEmpty ErrorMessage WriteDebugTime
  WriteCOMError
)
# DLLs every Windows installation has.
system_dlls='^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|ntdll|user32|advapi32|winmm)\.dll$'

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for file in "$dll" "$exe"; do
  [[ -f $file ]] || { echo "FAIL: $file not found (build the windows-cross preset)" >&2; exit 1; }
done

# Export names: the lines of the name pointer table, up to the blank line after it.
mapfile -t exports < <("$objdump" -p "$dll" |
  awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
       on && /^[[:space:]]*$/ { exit }
       on { print $NF }')
((${#exports[@]})) || fail "$dll exports nothing"

declare -A seen=()
for name in "${exports[@]}"; do
  seen[$name]=1
  case $name in
    TELVAR_*)
      [[ " ${functions[*]} " == *" $name "* ]] || fail "unexpected export $name"
      ;;
    _ZN7COMPort* | \?*@COMPort@@*) ;;
    *) fail "unexpected export $name" ;;
  esac
done
for name in "${functions[@]}"; do
  [[ -n ${seen[$name]-} ]] || fail "missing export $name"
done
for member in "${members[@]}"; do
  case $member in
    C1 | D1) pattern="_ZN7COMPort${member}E" ;;
    *) pattern="_ZN7COMPort${#member}${member}E" ;;
  esac
  found=
  for name in "${exports[@]}"; do
    if [[ $name == "$pattern"* || $name == \?*"$member"@COMPort@@* ]]; then
      found=1
      break
    fi
  done
  [[ -n $found ]] || fail "missing export of COMPort::$member"
done

check_imports() {
  local file=$1 allowed=$2 dll
  while read -r dll; do
    dll=${dll,,}
    [[ $dll =~ $system_dlls || $dll == "$allowed" ]] || fail "$file needs $dll"
  done < <("$objdump" -p "$file" | awk '/DLL Name:/ { print $3 }')
}
check_imports "$dll" ""
check_imports "$exe" telvar.dll

if ((failures)); then
  echo "$failures problem(s) in the Windows binaries" >&2
  exit 1
fi
echo "telvar.dll: ${#exports[@]} exports (${#functions[@]} functions and COMPort); no runtime DLLs needed"

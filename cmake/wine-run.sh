#!/bin/sh
# Runs a Windows program of the cross build under Wine: the emulator CTest puts in
# front of every test command. The Wine prefix lives in the build folder (the nearest
# folder above the program that holds CMakeCache.txt), so builds never share one.
set -eu

# "--init-prefix DIR" only creates the prefix of the build folder DIR.
init_only=
if [ "${1-}" = --init-prefix ]; then
  init_only=1
  dir=$(cd "$2" && pwd)
else
  dir=$(cd "$(dirname "$1")" && pwd)
fi
root=$dir
while [ ! -f "$root/CMakeCache.txt" ] && [ "$root" != / ]; do
  root=$(dirname "$root")
done
[ -f "$root/CMakeCache.txt" ] || root=$dir

export WINEPREFIX="$root/wine-prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No debugger on a crash: the program just ends (exit code 5). No Mono or Gecko
# installer when the prefix is created.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d;mscoree,mshtml=}"

# Debian installs the 64-bit loader outside PATH when the 32-bit one is missing.
if command -v wine64 >/dev/null 2>&1; then
  wine=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
else
  wine=wine
fi
if [ -x /usr/lib/wine/wineserver64 ]; then
  wineserver=/usr/lib/wine/wineserver64
else
  wineserver=wineserver
fi

# The first run creates the prefix (a few seconds); tests running in parallel wait
# for it instead of racing to create it.
if [ ! -f "$WINEPREFIX/.initialised" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # shellcheck disable=SC2016 # the inner shell expands, under the lock
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$WINEPREFIX/.initialised" ] || { "$1" wineboot --init >/dev/null 2>&1 && touch "$WINEPREFIX/.initialised"; }' sh "$wine"
fi

[ -z "$init_only" ] || exit 0

# Start the server, and with it Wine's background services, detached from this
# test's output and terminal: they outlive the test by seconds, and whoever reads the
# test's output would wait for them (gtest discovery then times out). The server would
# also print its whole object table when a serial port's pty hangs up.
if "$wineserver" </dev/null >/dev/null 2>&1; then
  "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
fi
exec "$wine" "$@"

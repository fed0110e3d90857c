#!/usr/bin/env bash
# The system at work on a machine without a device: builds everything into build/,
# starts the simulated device (quenta-sim) on a free loopback port, lets Ombrel write
# a short test protocol through the Telvar library over RFC 2217, stops the simulator
# and shows the protocol file.
#
#   tools/demo.sh [start_V end_V step_V duration_s]    (default: 50 150 50 6)
#
# QUENTA_BUILD_DIR names another build directory than build/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUENTA_BUILD_DIR:-build}

start=${1:-50} end=${2:-150} step=${3:-50} duration=${4:-6}

missing=()
for tool in cmake ninja c++; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "demo: missing ${missing[*]}; on Debian: apt-get install cmake ninja-build g++ libgtest-dev libgmock-dev" >&2
  exit 1
fi

echo "== Building into $build/"
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build"

work=$build/demo
mkdir -p "$work"
protocol=$work/protocol.txt
simlog=$work/quenta-sim.log
rm -f "$protocol"

echo
echo "== Starting quenta-sim on a free loopback port"
"$build"/sim/quenta-sim --listen 127.0.0.1:0 2>"$simlog" &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9][0-9]*\).*/\1/p' "$simlog")
  [[ -n $port ]] && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.05
done
if [[ -z $port ]]; then
  echo "demo: quenta-sim did not start:" >&2
  cat "$simlog" >&2
  exit 1
fi
echo "quenta-sim listens on 127.0.0.1:$port"

echo
echo "== ombrel 3 -x $protocol $start $end $step $duration -T   (COM3 = rfc2217://127.0.0.1:$port)"
TELVAR_COM3=rfc2217://127.0.0.1:$port "$build"/tester/ombrel 3 -x "$protocol" "$start" "$end" "$step" "$duration" -T

echo
echo "== Stopping quenta-sim"
kill "$sim"
wait "$sim" 2>/dev/null || true
trap - EXIT

echo
echo "== $protocol"
if [[ ! -s $protocol ]]; then
  echo "demo: no protocol was written" >&2
  exit 1
fi
# The file's plus-minus and degree signs are Windows-1252 bytes.
if command -v iconv >/dev/null 2>&1; then
  iconv -f WINDOWS-1252 -t UTF-8 "$protocol"
else
  cat "$protocol"
fi

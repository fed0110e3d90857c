#!/usr/bin/env bash
# Transactions against the wire limit, and pyserial as a peer doing the same job:
# TELVAR_GetUptime and TELVAR_ReadDisplay back to back over RFC 2217 against quenta-sim
# with wire pacing, then the same uptime exchange written with pyserial against the
# same simulator; then both again against the unpaced simulator.
#   tools/bench-wire.sh [uptime-count [display-count]]     (default 3000, 30)
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/bench-lib.sh
uptimes=${1:-3000}
displays=${2:-30}
bench_build bench_wire quenta-sim
machine
for pacing in paced unpaced; do
  options=()
  [[ $pacing == paced ]] && options=(--pace)
  start_sim "${options[@]}"
  echo "== quenta-sim $pacing (${options[*]:-no pacing})"
  telvar=$("$build/bench/bench_wire" "$SIM_URL" "$uptimes" "$displays")
  echo "$telvar" | grep -v '^RESULT'
  stop_sim
  start_sim "${options[@]}"
  peer=$(/usr/bin/python3 bench/bench_pyserial.py "$SIM_URL" "$uptimes")
  echo "$peer" | grep -v '^RESULT'
  stop_sim
  ours=$(echo "$telvar" | result uptime_per_second uptime_per_second)
  theirs=$(echo "$peer" | result pyserial_per_second pyserial_per_second)
  echo "Telvar over pyserial, uptime transactions per second ($pacing): $(
    awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
done

#!/usr/bin/env bash
# Heap allocations per exported call after TELVAR_Open (against quenta-sim, healthy and
# with random reply faults), and CPU time of waiting: Ombrel's WaitUntil and the
# library's handshake polls, as a share of one core.
#   tools/bench-resources.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/bench-lib.sh
bench_build bench_allocations bench_cpu quenta-sim
machine
for rate in 0 0.3; do
  start_sim --fault-rate "$rate"
  echo "== allocations, quenta-sim unpaced, fault rate $rate"
  "$build/bench/bench_allocations" "$SIM_URL" | grep -E '^(TELVAR_Open|failing|TELVAR_Close|TELVAR_OpenDebugFile|RESULT)'
  stop_sim
done
echo "== CPU time of waiting"
"$build/bench/bench_cpu" | grep -v '^RESULT'

#!/usr/bin/env bash
# What the library itself adds to a transaction: over RFC 2217 against the unpaced
# simulator (time and CPU per transaction), and in process: on a backend that answers
# from fixed storage (the library alone) and on the tests' fake backend with the
# simulated device. Median and 99th percentile per transaction.
#   tools/bench-overhead.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/bench-lib.sh
bench_build bench_wire bench_inprocess_fixed bench_inprocess_sim quenta-sim
machine
start_sim
echo "== over RFC 2217, quenta-sim unpaced"
"$build/bench/bench_wire" "$SIM_URL" 20000 200 | grep -v '^RESULT'
stop_sim
echo "== in process, the library on a backend that costs nothing"
"$build/bench/bench_inprocess_fixed" | grep -v '^RESULT'
echo "== in process, fake serial backend with the simulated device"
"$build/bench/bench_inprocess_sim" | grep -v '^RESULT'

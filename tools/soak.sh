#!/usr/bin/env bash
# The fault soak at length, beyond the few seconds of the test run:
#   tools/soak.sh [commands [seed]]     (default: 1000000 commands, seed 2024)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_WERROR=ON >/dev/null
cmake --build "$build" --target test_fault_soak
SOAK_TRANSACTIONS=${1:-1000000} SOAK_SEED=${2:-2024} "$build/tests/soak/test_fault_soak"

#!/usr/bin/env bash
# Builds everything from nothing into build/ and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure --timeout 300

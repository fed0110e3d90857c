#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/
# and runs the whole test suite there; the first error ends the test that made it.
# Arguments go to ctest (for example -R soak).
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-asan
flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"
# Warnings are the regular build's business: sanitizer instrumentation makes the
# compiler's flow analysis see things that are not there.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DQUENTA_WERROR=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" -j2

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The allocation test puts its own malloc under the library, which AddressSanitizer's
# allocator cannot share; the regular build runs it.
ctest --test-dir "$build" --output-on-failure --timeout 600 -E '^NoAllocation\.' "$@"

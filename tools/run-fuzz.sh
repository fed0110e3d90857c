#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and UBSan into
# build-fuzz/ and runs each for a bounded time (FUZZ_SECONDS, default 45).
#   tools/run-fuzz.sh [target...]     (default: every target)
# New inputs collect in build-fuzz/corpus/<target>; the checked-in corpus
# (tests/fuzz/corpus/<target>) is read only. A crash leaves its input in
# build-fuzz/artifacts/<target>/: once fixed, add it to tests/fuzz/corpus/<target>/,
# where the regular test run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-fuzz
seconds=${FUZZ_SECONDS:-45}
targets=("$@")
((${#targets[@]})) || targets=(device_replies telnet_codec rfc2217_client)

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
flags+=" -fno-omit-frame-pointer -g -O1"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DQUENTA_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz_$target for ${seconds} s"
  start=$SECONDS
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$corpus" "tests/fuzz/corpus/$target" \
      > "$build/fuzz_$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$build/fuzz_$target.log"
    echo "fuzz_$target FAILED: inputs in $artifacts/"
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$build/fuzz_$target.log" || true
  echo "   took $((SECONDS - start)) s, corpus $(ls "$corpus" | wc -l) inputs"
done
((${#failed[@]} == 0)) || { echo "fuzzing found faults in: ${failed[*]}"; exit 1; }
echo "fuzzing: no faults found"

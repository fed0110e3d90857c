#!/usr/bin/env bash
# How long a command takes to give up, with real sleeps over RFC 2217, against a device
# that does not answer and one that is not connected, set against the time the
# library's poll and repeat counts imply. Takes about 40 s.
#   tools/bench-failure.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/bench-lib.sh
bench_build bench_failure
machine
"$build/bench/bench_failure" | grep -v '^RESULT'

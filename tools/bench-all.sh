#!/usr/bin/env bash
# Every benchmark, one after the other (a few minutes). Figures are best taken on an
# otherwise idle machine.
set -euo pipefail
cd "$(dirname "$0")/.."
for bench in wire overhead resources failure; do
  echo "######## tools/bench-$bench.sh"
  "tools/bench-$bench.sh"
done

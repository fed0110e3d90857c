# Shared by the tools/bench-*.sh commands (sourced, not run): the build, quenta-sim on a
# free loopback port, and the machine the figures come from.
build=${BUILD_DIR:-build-bench}

bench_build() {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUENTA_WERROR=ON >/dev/null
  cmake --build "$build" --target "$@" >/dev/null
}

# start_sim [quenta-sim options...]: sets SIM_URL and SIM_PID.
start_sim() {
  local log
  log=$(mktemp)
  "$build/sim/quenta-sim" --listen 127.0.0.1:0 "$@" 2>"$log" &
  SIM_PID=$!
  local port=""
  for _ in $(seq 200); do
    port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$log" | sed 's/.*://' || true)
    [[ -n $port ]] && break
    sleep 0.05
  done
  rm -f "$log"
  [[ -n $port ]] || { echo "quenta-sim did not start" >&2; return 1; }
  SIM_URL=rfc2217://127.0.0.1:$port
}

stop_sim() {
  kill "$SIM_PID" 2>/dev/null || true
  wait "$SIM_PID" 2>/dev/null || true
}

machine() {
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'),"\
       "load average $(cut -d' ' -f1-3 /proc/loadavg)"
}

# result NAME KEY < output: the value of KEY on the RESULT line that starts with NAME.
result() {
  grep "^RESULT $1" | tr ' ' '\n' | grep "^$2=" | head -1 | cut -d= -f2
}

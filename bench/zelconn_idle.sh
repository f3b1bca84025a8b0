#!/usr/bin/env bash
# The interceptor's process with many idle hosts: its CPU time over a
# number of seconds, with no host and with N registered hosts, and how soon
# it reports a host that ended.
#   bench/zelconn_idle.sh BUILD [N] [SECONDS] [ZELCONN]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
N=${2:-1000}
SECONDS_MEASURED=${3:-10}
ZELCONN=${4:-$BUILD/zelconn/zelconn}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  exec 3>&- 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
mkdir -p "$ZEL_RUNTIME_DIR" && chmod 700 "$ZEL_RUNTIME_DIR"
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
measure() {
  local pid=$1 before after
  before=$(ticks "$pid"); sleep "$SECONDS_MEASURED"; after=$(ticks "$pid")
  awk -v t=$((after - before)) -v s="$SECONDS_MEASURED" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.2f", 100 * t / hz / s }'
}

"$ZELCONN" >/dev/null 2>&1 &
zelconn=$!
pids+=("$zelconn")
sleep 1
echo "zelconn, no host: $(measure "$zelconn")% of a CPU over ${SECONDS_MEASURED} s"

coproc HOSTS { "$BUILD/bench/idle_hosts" "$N"; }
pids+=("$HOSTS_PID")
read -r line <&"${HOSTS[0]}"
echo "hosts: $line"
sleep 2
echo "zelconn, $N idle hosts: $(measure "$zelconn")% of a CPU over ${SECONDS_MEASURED} s"

# A host that ends: its registration is forgotten once zelconn noticed.
registered=("$ZEL_RUNTIME_DIR"/hosts/*)
victim=${registered[0]##*/}
start=$(date +%s%N)
kill -9 "$victim"
for _ in $(seq 1 500); do [ -e "$ZEL_RUNTIME_DIR/hosts/$victim" ] || break; sleep 0.01; done
[ -e "$ZEL_RUNTIME_DIR/hosts/$victim" ] && echo "an ended host: not noticed in 5 s" \
  || echo "an ended host: noticed after $(( ($(date +%s%N) - start) / 1000000 )) ms"

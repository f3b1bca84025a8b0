#!/usr/bin/env bash
# The cost of the hook on an event loop with 1,000 idle connections and one
# busy one (bench/epoll_bench.cpp) that no question concerns, against the
# same without the hook: plain and hooked runs take turns, pinned to one
# processor, and the figure is the median of the turns' ratios (see
# hook_ratio.sh). Then the system calls of one round, plain and hooked,
# counted with strace over two runs of different lengths (the difference is
# the rounds alone, without the start-up).
#   bench/event_loop_ratio.sh BUILD_DIR [TURNS] [HOOK_LIBRARY ENGINE_LIBRARY]
set -euo pipefail
BUILD=${1:?build folder}
TURNS=${2:-5}
HOOK=${3:-$BUILD/interceptor/libzelhook.so}
ENGINE=${4:-$BUILD/engine/libqrbruler.so}
WORK=$(mktemp -d /tmp/zel-loopbench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
PIN=()
command -v taskset >/dev/null && taskset -c 1 true 2>/dev/null && PIN=(taskset -c 1)
ARGS=(--benchmark_min_time=0.3 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=json)
median() { python3 -c 'import json,sys; d=json.load(sys.stdin); print([b["real_time"] for b in d["benchmarks"] if b.get("aggregate_name")=="median"][0])'; }
hooked_env=(env LD_PRELOAD="$HOOK" ZEL_ENGINE_LIBRARY="$ENGINE")
plain=() hooked=()
for ((turn = 0; turn < TURNS; ++turn)); do
  plain+=("$("${PIN[@]}" "$BUILD/bench/epoll_bench" "${ARGS[@]}" 2>/dev/null | median)")
  hooked+=("$("${PIN[@]}" "${hooked_env[@]}" "$BUILD/bench/epoll_bench" "${ARGS[@]}" 2>/dev/null | median)")
done
# System calls per round: (calls in 25000 rounds - calls in 5000 rounds) / 20000.
calls() { # ROUNDS [env...]
  local rounds=$1
  shift
  "$@" strace -f -c -o "$WORK/strace.txt" "$BUILD/bench/epoll_bench" --rounds "$rounds" >/dev/null 2>&1
  awk '$NF == "total" { print $(NF-2) }' "$WORK/strace.txt"
}
per_round() { python3 -c "print(f'{($2 - $1) / 20000:.2f}')"; }
syscalls_plain=$(per_round "$(calls 5000)" "$(calls 25000)")
syscalls_hooked=$(per_round "$(calls 5000 "${hooked_env[@]}")" "$(calls 25000 "${hooked_env[@]}")")
python3 - "${plain[*]}" "${hooked[*]}" "$syscalls_plain" "$syscalls_hooked" <<'PY'
import statistics, sys
plain = list(map(float, sys.argv[1].split()))
hooked = list(map(float, sys.argv[2].split()))
ratios = sorted(h / p for p, h in zip(plain, hooked))
print(f"event-loop round without the hook: {statistics.median(plain)/1000:8.3f} us (median of {len(plain)} turns)")
print(f"event-loop round under the hook:   {statistics.median(hooked)/1000:8.3f} us")
print(f"ratio: {statistics.median(ratios):.3f} (median of turns; lowest {ratios[0]:.3f}, highest {ratios[-1]:.3f})")
print(f"system calls per round: {sys.argv[3]} without the hook, {sys.argv[4]} under it")
PY

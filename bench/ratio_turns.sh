# Sourced by the benchmarks that weigh a program under the hook against the
# same without it: BUILD [TURNS] [HOOK_LIBRARY ENGINE_LIBRARY] from the
# arguments, a private sandbox in $WORK, and `turns BENCHMARK`, which runs
# the Google Benchmark program plainly and under the hook in turns, pinned to
# one processor, filling plain and hooked with the turns' medians (ns): the
# machine's speed drifts between turns, so the figure to quote is the median
# of the turns' ratios (see `ratio`).
BUILD=${1:?build folder}
TURNS=${2:-${DEFAULT_TURNS:-7}}
HOOK=${3:-$BUILD/hook/libzelhook.so}
ENGINE=${4:-$BUILD/engine/libqrbruler.so}
WORK=$(mktemp -d /tmp/zel-bench-XXXXXX)
BESIDE=() # processes the benchmark runs beside the measured ones, ended at the end
trap 'for pid in "${BESIDE[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$WORK"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
PIN=()
command -v taskset >/dev/null && taskset -c 1 true 2>/dev/null && PIN=(taskset -c 1)
HOOKED_ENV=(env LD_PRELOAD="$HOOK" ZEL_ENGINE_LIBRARY="$ENGINE")
turns() { # BENCHMARK
  local args=(--benchmark_min_time=0.3 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
              --benchmark_format=json)
  local median='import json,sys; d=json.load(sys.stdin); print([b["real_time"] for b in d["benchmarks"] if b.get("aggregate_name")=="median"][0])'
  plain=() hooked=()
  for ((turn = 0; turn < TURNS; ++turn)); do
    plain+=("$("${PIN[@]}" "$1" "${args[@]}" 2>/dev/null | python3 -c "$median")")
    hooked+=("$("${PIN[@]}" "${HOOKED_ENV[@]}" "$1" "${args[@]}" 2>/dev/null | python3 -c "$median")")
  done
}
# The medians and the median ratio of the turns, in microseconds.
ratio() { # WHAT_PLAIN WHAT_HOOKED
  python3 - "${plain[*]}" "${hooked[*]}" "$1" "$2" <<'PY'
import statistics, sys
plain = list(map(float, sys.argv[1].split()))
hooked = list(map(float, sys.argv[2].split()))
ratios = sorted(h / p for p, h in zip(plain, hooked))
width = max(len(sys.argv[3]), len(sys.argv[4])) + 1
print(f"{(sys.argv[3] + ':').ljust(width)} {statistics.median(plain)/1000:8.2f} us (median of {len(plain)} turns)")
print(f"{(sys.argv[4] + ':').ljust(width)} {statistics.median(hooked)/1000:8.2f} us")
print(f"ratio: {statistics.median(ratios):.3f} (median of turns; lowest {ratios[0]:.3f}, highest {ratios[-1]:.3f})")
PY
}

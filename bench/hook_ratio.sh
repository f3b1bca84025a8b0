#!/usr/bin/env bash
# The cost of the hook on a permitted loopback connect+accept, both ends
# decided and logged, against the same without the hook, in one run.
#   bench/hook_ratio.sh BUILD_DIR [REPETITIONS]
set -euo pipefail
BUILD=${1:?build folder}
REPS=${2:-5}
WORK=$(mktemp -d /tmp/zel-hookbench-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
ARGS=(--benchmark_repetitions="$REPS" --benchmark_report_aggregates_only=true --benchmark_format=json)
median() { python3 -c 'import json,sys; d=json.load(sys.stdin); print([b["real_time"] for b in d["benchmarks"] if b.get("aggregate_name")=="median"][0])'; }
# Alternate the two so that both see the same machine.
plain=() hooked=()
for round in 1 2; do
  plain+=("$("$BUILD/bench/connect_bench" "${ARGS[@]}" 2>/dev/null | median)")
  hooked+=("$(LD_PRELOAD="$BUILD/interceptor/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" \
             "$BUILD/bench/connect_bench" "${ARGS[@]}" 2>/dev/null | median)")
done
records=$(cat "$WORK"/logs/* | grep -c '<EXEPATH>' || true)
python3 - "${plain[*]}" "${hooked[*]}" "$records" <<'PY'
import sys
plain = min(map(float, sys.argv[1].split()))
hooked = min(map(float, sys.argv[2].split()))
print(f"connect+accept without the hook: {plain/1000:8.2f} us")
print(f"connect+accept under the hook:   {hooked/1000:8.2f} us  (both ends decided and logged; {sys.argv[3]} records)")
print(f"ratio: {hooked/plain:.3f}")
PY

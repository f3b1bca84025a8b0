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
DEFAULT_TURNS=5
source "$(dirname "${BASH_SOURCE[0]}")/ratio_turns.sh"
turns "$BUILD/bench/epoll_bench"
ratio "event-loop round without the hook" "event-loop round under the hook"
# System calls per round: (calls in 25000 rounds - calls in 5000 rounds) / 20000.
calls() { # ROUNDS [env...]
  local rounds=$1
  shift
  "$@" strace -f -c -o "$WORK/strace.txt" "$BUILD/bench/epoll_bench" --rounds "$rounds" >/dev/null 2>&1
  awk '$NF == "total" { print $(NF-2) }' "$WORK/strace.txt"
}
per_round() { python3 -c "print(f'{($2 - $1) / 20000:.2f}')"; }
echo "system calls per round: $(per_round "$(calls 5000)" "$(calls 25000)") without the hook," \
  "$(per_round "$(calls 5000 "${HOOKED_ENV[@]}")" "$(calls 25000 "${HOOKED_ENV[@]}")") under it"

#!/usr/bin/env bash
# What the kernel backstop adds to a connection: loopback connects (to a
# closed port) by the covered user, in a cgroup of their own, without the
# backstop and with it (the program registered, as hooked programs are),
# alternated ROUNDS times; medians, and the kernel's own count of the time
# the connect program ran. With OTHERS, a third measure: with it and the
# backstops of OTHERS other users beside it (each user has one of their own;
# the kernel runs them all on every connect).
#   bench/backstop_cost.sh BUILD [ROUNDS] [CONNECTS] [OTHERS]      (as root)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
ROUNDS=${2:-5}
COUNT=${3:-100000}
OTHERS=${4:-0}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }
backstop="$BUILD/backstop/zel-backstop"
[ -x "$backstop" ] || { echo "SKIP: zel-backstop not built"; exit 0; }
cg2=$(awk '{ for (i = 1; i <= NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") print $5; break } }' /proc/self/mountinfo | head -1)
cg="$cg2/zel-backstop-cost-$$"
pin="/sys/fs/bpf/zel-backstop-cost-$$"
work=$(mktemp -d)
chmod 755 "$work"
others() { # start|stop
  for ((other = 1; other <= OTHERS; other++)); do
    if [ "$1" = start ]; then
      "$backstop" start --user $((64900 + other)) --deny --cgroup "$cg" --pin "$pin-other-$other" --socket "$work/sock" --detach >/dev/null
    else
      "$backstop" stop --pin "$pin-other-$other" >/dev/null 2>&1 || true
    fi
  done
}
cleanup() { "$backstop" stop --pin "$pin" >/dev/null 2>&1 || true; others stop; rmdir "$cg" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$cg"
gcc -O2 -I"$(cd "$(dirname "$0")/.." && pwd)" -o "$work/connect" "$(dirname "$0")/backstop_connect.c"
uid=64996
run() { sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec setpriv --reuid='"$uid"' --regid='"$uid"' --clear-groups "$@"' sh "$cg" "$work/connect" "$COUNT" register; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
: >"$work/without"; : >"$work/with"; : >"$work/beside"
for ((round = 0; round < ROUNDS; round++)); do
  run >>"$work/without"
  "$backstop" start --user "$uid" --deny --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
  run >>"$work/with"
  if [ "$OTHERS" -gt 0 ]; then
    others start
    run >>"$work/beside"
    others stop
  fi
  "$backstop" stop --pin "$pin" >/dev/null
done
# The kernel's count, in a round of its own: counting costs time too.
"$backstop" start --user "$uid" --deny --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
if sysctl -qw kernel.bpf_stats_enabled=1 2>/dev/null; then
  run >/dev/null
  stats=$(bpftool prog show name connect4 2>/dev/null | grep -o 'run_time_ns [0-9]* run_cnt [0-9]*' | tail -1 || true)
  sysctl -qw kernel.bpf_stats_enabled=0
fi
"$backstop" stop --pin "$pin" >/dev/null
without=$(median <"$work/without")
with=$(median <"$work/with")
echo "loopback connect by the covered user: ${without} ns without the backstop, ${with} ns with it (median of $ROUNDS rounds of $COUNT): ratio $(awk -v a="$with" -v b="$without" 'BEGIN { printf "%.3f", a / b }')"
echo "  without: $(tr '\n' ' ' <"$work/without")  with: $(tr '\n' ' ' <"$work/with")"
if [ "$OTHERS" -gt 0 ]; then
  beside=$(median <"$work/beside")
  echo "  with $OTHERS other users' backstops beside it: ${beside} ns: ratio to it alone $(awk -v a="$beside" -v b="$with" 'BEGIN { printf "%.3f", a / b }')  ($(tr '\n' ' ' <"$work/beside"))"
fi
[ -z "${stats:-}" ] || echo "  the connect program itself: $(echo "$stats" | awk '{ printf "%.0f ns a run over %d runs", $2 / $4, $4 }')"

#!/usr/bin/env bash
# The system calls a program makes at its start under the hook against the
# same without it (strace -f -c: exact, unlike times on a shared machine),
# and its page faults (the median of five runs without strace; on a virtual
# machine each fault can cost more than a hundred system calls):
# /bin/true, and curl of a page from a local server on 127.0.0.2 (its first
# decision included), in a private settings store and runtime folder.
#   bench/startup_calls.sh BUILD_DIR [HOOK_LIBRARY ENGINE_LIBRARY]
# With ZEL_BENCH_TRACE=FOLDER the full traces (strace -f) are left there too,
# to see which calls repeat.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
HOOK=${2:-$BUILD/hook/libzelhook.so}
ENGINE=${3:-$BUILD/engine/libqrbruler.so}
# The store and the runtime folder as deep as in a home (~/.config/korvel/):
# a walk from the root costs a look per folder.
TOP=$(mktemp -d /tmp/zel-calls-XXXXXX)
WORK=$TOP/home/user/.config/korvel
mkdir -p "$WORK"
SERVER=
trap '[ -z "$SERVER" ] || kill "$SERVER" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$TOP"' EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
mkdir -p "$WORK/www" && echo hello >"$WORK/www/index.html"
python3 -m http.server --bind 127.0.0.2 0 --directory "$WORK/www" >"$WORK/server.txt" 2>&1 &
SERVER=$!
PORT=
for _ in $(seq 100); do
  PORT=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$WORK/server.txt" | head -1)
  [ -n "$PORT" ] && break
  sleep 0.05
done
[ -n "$PORT" ] || { echo "startup_calls: the local server did not start" >&2; exit 1; }
CURL=(curl -s -o /dev/null --noproxy '*' "http://127.0.0.2:$PORT/")
# The variables are given by strace itself, so that both runs start the program alike.
HOOKED=(-E LD_PRELOAD="$HOOK" -E ZEL_ENGINE_LIBRARY="$ENGINE")
count() { # NAME [STRACE_OPTIONS...] -- COMMAND...
  local name=$1 options=()
  shift
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  strace -f -o /dev/null "${options[@]}" "$@" >/dev/null 2>&1 # warm: the runtime folder, the kept answers
  strace -f -c -o "$WORK/$name.txt" "${options[@]}" "$@" >/dev/null 2>&1
  [ -z "${ZEL_BENCH_TRACE:-}" ] || strace -f -o "$ZEL_BENCH_TRACE/$name.trace" "${options[@]}" "$@" >/dev/null 2>&1
  local variables=() i
  for ((i = 0; i < ${#options[@]}; i += 2)); do variables+=("${options[i + 1]}"); done
  for i in 1 2 3 4 5; do
    /usr/bin/time -a -f %R -o "$WORK/$name.faults" env "${variables[@]}" "$@" >/dev/null 2>&1
  done
}
[ -z "${ZEL_BENCH_TRACE:-}" ] || mkdir -p "$ZEL_BENCH_TRACE"
count true-plain -- /bin/true
count true-hooked "${HOOKED[@]}" -- /bin/true
count curl-plain -- "${CURL[@]}"
count curl-hooked "${HOOKED[@]}" -- "${CURL[@]}"
python3 - "$WORK" <<'PY'
import sys
def calls(path):
    counts = {}
    for line in open(path):
        parts = line.split()
        if len(parts) >= 5 and parts[-1] != "total" and parts[0][0].isdigit():
            counts[parts[-1]] = int(parts[3])
    return counts
work = sys.argv[1]
for program in ("true", "curl"):
    plain, hooked = calls(f"{work}/{program}-plain.txt"), calls(f"{work}/{program}-hooked.txt")
    print(f"{program}: {sum(plain.values())} calls without the hook, {sum(hooked.values())} with it "
          f"({sum(hooked.values()) - sum(plain.values()):+d})")
    more = sorted(((hooked.get(n, 0) - plain.get(n, 0), n) for n in set(plain) | set(hooked)), reverse=True)
    print("  " + ", ".join(f"{n} {d:+d}" for d, n in more if d))
    plain, hooked = (sorted(int(x) for x in open(f"{work}/{program}-{kind}.faults"))[2] for kind in ("plain", "hooked"))
    print(f"  page faults: {plain} without the hook, {hooked} with it ({hooked - plain:+d})")
PY

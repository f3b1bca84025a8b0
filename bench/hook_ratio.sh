#!/usr/bin/env bash
# The cost of the hook on a permitted loopback connect+accept, both ends
# decided and logged, against the same without the hook. The two run in
# turns, pinned to one processor, and each turn gives a ratio: the machine's
# speed drifts between turns, so the figure is the median of those ratios.
#   bench/hook_ratio.sh BUILD_DIR [TURNS] [HOOK_LIBRARY ENGINE_LIBRARY]
# With ZEL_BENCH_NAMED=1 the program looks its peer up by a name first (from
# a private hosts file in a mount namespace of its own), so that the hooked
# connects carry a known name. With ZEL_BENCH_JOURNAL=1 zelconn runs beside
# them with the option "JournalRecords" on, handing every record to a
# stand-in journal socket as they are written.
set -euo pipefail
if [ -n "${ZEL_BENCH_NAMED:-}" ] && [ -z "${ZEL_BENCH_PEER_NAME:-}" ]; then
  hosts=$(mktemp)
  printf '127.0.0.1 localhost\n127.0.0.2 peer.bench.example\n' >"$hosts"
  flags=(-m)
  [ "$(id -u)" -eq 0 ] || flags=(-Urm)
  export ZEL_BENCH_PEER_NAME=peer.bench.example
  exec unshare "${flags[@]}" sh -c 'mount --bind "$0" /etc/hosts && exec "$@"' "$hosts" "$0" "$@"
fi
DEFAULT_TURNS=7
source "$(dirname "${BASH_SOURCE[0]}")/ratio_turns.sh"
if [ -n "${ZEL_BENCH_JOURNAL:-}" ]; then
  reg HKLM/Software/KORVEL/QRB /v JournalRecords /d 1
  export ZEL_JOURNAL_SOCKET=$WORK/journal.sock
  # On the other processor than the benchmark's: what is measured is what
  # the program pays, not the two sharing one processor.
  OTHER=()
  [ ${#PIN[@]} -gt 0 ] && taskset -c 0 true 2>/dev/null && OTHER=(taskset -c 0)
  "${OTHER[@]}" python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1]); n = 0
while True:
    s.recv(1 << 20); n += 1
    if n % 1000 == 0: open(sys.argv[1] + ".count", "w").write(str(n))' "$ZEL_JOURNAL_SOCKET" &
  BESIDE+=($!)
  "${OTHER[@]}" "$BUILD/zelconn/zelconn" >/dev/null 2>&1 &
  BESIDE+=($!)
  sleep 1
fi
turns "$BUILD/bench/connect_bench"
records=$(cat "$WORK"/logs/* | grep -c '<EXEPATH>' || true)
[ -z "${ZEL_BENCH_JOURNAL:-}" ] || records+=", about $(cat "$WORK/journal.sock.count" 2>/dev/null || echo 0) in the journal"
ratio "connect+accept without the hook" "connect+accept under the hook"
echo "(under the hook both ends are decided and logged: $records records)"

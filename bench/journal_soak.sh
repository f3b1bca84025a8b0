#!/usr/bin/env bash
# Records in the journal under load, into a real systemd-journald: one of
# its own, started in a mount namespace of this script's own (its socket and
# its volatile journal on tmpfs), so the machine's journal is untouched.
# Writes RATE records a second for SECONDS through zelconn and counts what
# the journal kept. RATELIMIT "default" keeps journald's own limit of
# messages per service (10,000 in 30 s), "off" lifts it. Root only.
#   bench/journal_soak.sh BUILD [SECONDS] [RATE] [default|off]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SECONDS_RUN=${2:-10}
RATE=${3:-1000}
RATELIMIT=${4:-off}
[ "$(id -u)" = 0 ] || { echo "root only (a journald of its own)"; exit 77; }
JOURNALD=/lib/systemd/systemd-journald
[ -x "$JOURNALD" ] || { echo "no systemd-journald"; exit 77; }
if [ -z "${ZEL_SOAK_NAMESPACE:-}" ]; then
  exec env ZEL_SOAK_NAMESPACE=1 unshare -m --propagation private "$0" "$@"
fi
for folder in /run/systemd /run/log /etc/systemd/journald.conf.d; do
  mkdir -p "$folder"
  mount -t tmpfs tmpfs "$folder"
done
mkdir -p /run/systemd/journal
if [ "$RATELIMIT" = off ]; then
  printf '[Journal]\nStorage=volatile\nRateLimitBurst=0\n' >/etc/systemd/journald.conf.d/soak.conf
else
  printf '[Journal]\nStorage=volatile\n' >/etc/systemd/journald.conf.d/soak.conf
fi
"$JOURNALD" >/dev/null 2>&1 &
journald=$!
trap 'kill $journald 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do [ -S /run/systemd/journal/socket ] && break; sleep 0.05; done
"$BUILD/bench/journal_soak" "$BUILD/zelconn/zelconn" "$SECONDS_RUN" "$RATE" --system
kept=$(journalctl --directory=/run/log/journal -t tessary -o cat --no-pager | grep -c '^[a-z]* outgoing TCP connection of /p/[0-9]')
echo "kept by the journal: $kept (rate limit: $RATELIMIT)"

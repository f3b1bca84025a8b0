#!/usr/bin/env bash
# Many questions at once: one program under the hook connects from as many
# threads at once, each connection asked about, and nobody answers. Samples
# the alert programs for 20 s: how many run, their memory (the sum of their
# proportional set sizes, so that shared libraries count once), the time to
# the first alert window, and how many questions were decided without the
# user (refused as a silent alert). Then the user answers: a click on the
# alert, W ("also for the waiting") and B; the time until every question is
# decided. Under xvfb-run with openbox.
#   bench/alert_burst.sh BUILD [QUESTIONS] [SECONDS]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
QUESTIONS=${2:-200}
SECONDS_TO_WATCH=${3:-20}
if [ -z "${ZEL_BURST_UNDER_X:-}" ]; then
  export ZEL_BURST_UNDER_X=1
  exec timeout 300 unshare -n -- xvfb-run -a -s "-screen 0 1366x768x24" bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
work=$(mktemp -d)
pids=()
alerts() { pgrep -f "^$BUILD/alert/zel-alert" || true; }
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in $(alerts); do kill -9 "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
export ZEL_ALERT_PROGRAM="$BUILD/alert/zel-alert"
mkdir -p "$HOME"
"$BUILD/tools/zel-setup" --quiet --install-dir "$work/install"
setting() { "$BUILD/tools/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
today="$(setting LogFilesPath)/$(date +%-d_%-m_%Y)_qrb.log"
cat >"$(setting RulesFile)" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>
XML
openbox >/dev/null 2>&1 &
pids+=($!)
port=$((24000 + RANDOM % 1000))
"$BUILD/tests/netpeer" tcp-server 127.0.0.2 "$port" >"$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do grep -qs listening "$work/server.out" && break; sleep 0.1; done
sleep 0.5

start=$(date +%s%N)
"$BUILD/tools/zel-run" "$BUILD/tests/netpeer" tcp-threads 127.0.0.3 127.0.0.2 "$port" "$QUESTIONS" 1 >"$work/client.out" 2>&1 &
pids+=($!)
peak_programs=0 peak_kb=0 peak_rss_kb=0 first_window=
end=$((start + SECONDS_TO_WATCH * 1000000000))
while [ "$(date +%s%N)" -lt "$end" ]; do
  running=$(alerts)
  count=$(echo "$running" | grep -c . || true)
  kb=0 rss_kb=0
  for pid in $running; do
    read -r pss rss < <(awk '/^Pss:/ {p=$2} /^Rss:/ {r=$2} END {print p+0, r+0}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0 0)
    kb=$((kb + ${pss:-0})) rss_kb=$((rss_kb + ${rss:-0}))
  done
  [ "$count" -gt "$peak_programs" ] && peak_programs=$count
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  [ "$rss_kb" -gt "$peak_rss_kb" ] && peak_rss_kb=$rss_kb
  if [ -z "$first_window" ] && xdotool search --onlyvisible --name "Connection Alert!" >/dev/null 2>&1; then
    first_window=$((($(date +%s%N) - start) / 1000000))
  fi
  sleep 0.2
done
decided=$(grep -c "<PERMISSION>" "$today" 2>/dev/null || true)
windows=$(xdotool search --onlyvisible --name "Connection Alert!" 2>/dev/null | grep -c . || true)
echo "questions: $QUESTIONS at once, watched ${SECONDS_TO_WATCH} s, nobody answering"
echo "alert programs at the peak: $peak_programs, their memory at the peak: $((peak_kb / 1024)) MB PSS, $((peak_rss_kb / 1024)) MB RSS summed"
echo "alert windows showing at the end: $windows; first window after: ${first_window:-none} ms"
echo "questions decided without an answer: ${decided:-0}"

window=$(xdotool search --onlyvisible --name "Connection Alert!" 2>/dev/null | head -1)
[ -n "$window" ] || exit 0
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 120)) $((Y + 60)) click 1
sleep 0.3
answered=$(date +%s%N)
xdotool key w b
for _ in $(seq 1 600); do
  [ "$(grep -c "<PERMISSION>" "$today" 2>/dev/null || true)" -ge "$QUESTIONS" ] && break
  sleep 0.05
done
all=$(grep -c "<PERMISSION>" "$today" 2>/dev/null || true)
echo "one answer for all: $all of $QUESTIONS decided $((($(date +%s%N) - answered) / 1000000)) ms after the key; client: $(cat "$work/client.out" | grep -v XDG)"

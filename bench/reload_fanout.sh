#!/usr/bin/env bash
# A rule change published to many running copies of one program: N copies
# of the test peer under the hook, each connecting every INTERVAL ms to a
# server on 127.0.0.2 and permitted; then the program's default becomes
# Block and the change is published as the control panel does. Reported:
# how long until every copy is refused, and whether any was permitted again.
#   bench/reload_fanout.sh BUILD [N] [INTERVAL_MS]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
N=${2:-200}
INTERVAL=${3:-500}
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
export ZEL_ALERT_PROGRAM=/bin/false
mkdir -p "$HOME"
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
"$BUILD/tools/zel-setup" --quiet --install-dir "$work/install"
rules=$("$BUILD/tools/zel-reg" query HKLM/Software/KORVEL/QRB /v RulesFile | sed -n 's/.*REG_SZ    //p')
peer="$BUILD/tests/netpeer"
write_rules() {
  echo "<APPLICATIONS><APPLICATION><EXENAME>NETPEER</EXENAME><DESCRIPTION>NETPEER</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>$1</OUTDEF></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>" >"$rules.new"
  mv "$rules.new" "$rules"
}
write_rules PERMIT

coproc PANEL { "$BUILD/tests/panel_stand_in" --window; }
pids+=("$PANEL_PID")
read -r _ <&"${PANEL[0]}"
"$BUILD/zelconn/zelconn" >/dev/null 2>&1 &
pids+=($!)
port=$((26000 + RANDOM % 2000))
python3 -c "
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(('127.0.0.2', int(sys.argv[1]))); s.listen(4096)
while True:
    c, _ = s.accept()
    try:
        c.settimeout(1); c.recv(64); c.sendall(b'ok\\n')
    except OSError:
        pass
    c.close()
" "$port" &
pids+=($!)
sleep 0.5

attempts=$(( (30000 / INTERVAL) + 20 ))
for ((i = 0; i < N; i++)); do
  "$BUILD/tools/zel-run" "$peer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" "$attempts" "$INTERVAL" >"$work/client.$i" 2>&1 &
  pids+=($!)
done
for _ in $(seq 1 600); do
  started=$( (grep -l '^ok$' "$work"/client.* 2>/dev/null || true) | wc -l)
  [ "$started" -ge "$N" ] && break
  sleep 0.05
done
echo "$started of $N copies permitted and running"
sleep 1

# The change, as the control panel makes it: the file, then the list.
for ((i = 0; i < N; i++)); do wc -l <"$work/client.$i"; done >"$work/lines.before"
write_rules DENY
start=$(date +%s%N)
echo "list NETPEER" >&"${PANEL[1]}"
reached=0
for _ in $(seq 1 400); do
  reached=$( (grep -l '^refused$' "$work"/client.* 2>/dev/null || true) | wc -l)
  [ "$reached" -ge "$N" ] && break
  sleep 0.025
done
elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
echo "refused by $reached of $N copies ${elapsed} ms after the change was published (each decides every $INTERVAL ms)"
sleep 1
again=0
for ((i = 0; i < N; i++)); do
  skip=$(sed -n "$((i + 1))p" "$work/lines.before")
  if tail -n +"$((skip + 1))" "$work/client.$i" | sed -n '/^refused$/,$p' | grep -q '^ok$'; then again=$((again + 1)); fi
done
echo "copies permitted again after their first refusal: $again"
echo "zelconn CPU time in all: $(awk '{printf "%.2f s", ($14 + $15) / 100}' "/proc/${pids[1]}/stat")"

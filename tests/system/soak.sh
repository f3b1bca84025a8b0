#!/usr/bin/env bash
# Many programs under the hook for a while, the panel changing their rule
# every second by mouse: nothing crashes, every connection has its record,
# no process gains descriptors, and the rules file parses at every moment.
#   tests/system/soak.sh BUILD_DIR [SECONDS [PROGRAMS [INTERVAL_MS]]]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
DURATION=${2:-60}
PROGRAMS=${3:-50}
INTERVAL=${4:-200}
NAME=soak
LIMIT=$((DURATION * 3 + 120))
source "$(dirname "$0")/desktop.sh"

peer="$BUILD/tests/netpeer"
cat >"$rules" <<XML
<APPLICATIONS><APPLICATION><EXENAME>NETPEER</EXENAME><DESCRIPTION>NETPEER</DESCRIPTION><APPPATH>$peer</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>
XML
fds() {
  local count
  count=$(ls "/proc/$1/fd" 2>/dev/null | wc -l) || true
  echo "$count"
}

step "a tray host, the panel and a server"
start_tray
start_panel
start_server
zelconn=$(pgrep -f "^$prefix/lib/korvel/zelconn" | head -1)
panel_corner
corner_x=$X corner_y=$Y
# The program's node: the sixth row of the tree (under Combined Applications).
xdotool mousemove $((corner_x + 116)) $((corner_y + 180)) click 1
sleep 0.5

step "the rules file read and parsed every 20 ms from now on"
python3 - "$rules" "$work/stop" >"$work/parses.out" 2>&1 <<'PY' &
import os, sys, time, xml.etree.ElementTree as ET
rules, stop = sys.argv[1], sys.argv[2]
parses = failures = 0
while not os.path.exists(stop):
    try:
        with open(rules, "rb") as f:
            ET.fromstring(f.read())
        parses += 1
    except (ET.ParseError, OSError) as e:
        failures += 1
        print("unparsable:", e, flush=True)
    time.sleep(0.02)
print(f"parses {parses} failures {failures}", flush=True)
PY
checker=$!
pids+=($checker)

step "$PROGRAMS programs under zel-run, each connecting every $INTERVAL ms for $DURATION s"
attempts_each=$((DURATION * 1000 / INTERVAL))
clients=()
for ((i = 0; i < PROGRAMS; i++)); do
  "$prefix/bin/zel-run" "$peer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" "$attempts_each" "$INTERVAL" >"$work/client.$i" 2>&1 &
  clients+=($!)
  pids+=($!)
done

step "the panel switches the program between Block and Allow every second"
sleep 5
declare -A early
for pid in "${clients[@]}" "$zelconn" "$panel"; do early[$pid]=$(fds "$pid"); done
changes=0
for ((second = 0; second < DURATION - 10; second++)); do
  if ((second % 2 == 0)); then column=706; else column=596; fi
  xdotool mousemove $((corner_x + column - 72)) $((corner_y + 271 - 64)) click 1
  changes=$((changes + 1))
  sleep 1
done
if ! grep -q "<EXENAME>NETPEER</EXENAME>" "$rules"; then fail "the program left the rules file"; fi
declare -A late
for pid in "${clients[@]}" "$zelconn" "$panel"; do late[$pid]=$(fds "$pid"); done
grown=""
for pid in "${!late[@]}"; do
  [ "${late[$pid]}" -le "${early[$pid]}" ] || grown+=" $pid:${early[$pid]}->${late[$pid]}"
done

step "waiting for the programs to end"
crashed=0
for pid in "${clients[@]}"; do wait "$pid" || crashed=$((crashed + 1)); done
touch "$work/stop"
wait "$checker" || true
ended "$panel" && fail "the panel ended"
ended "$zelconn" && fail "the interceptor ended"
[ "$crashed" -eq 0 ] || fail "$crashed programs did not end well"
[ -z "$grown" ] || fail "descriptors grew (pid:before->after):$grown"

attempts=$(cat "$work"/client.* | grep -cE '^(ok|refused|failed)$' || true)
permitted=$(cat "$work"/client.* | grep -c '^ok$' || true)
refused=$(cat "$work"/client.* | grep -c '^refused$' || true)
logged=$(grep -c "<EXEPATH>$peer</EXEPATH>" "$today" || true)
logged_permitted=$(grep -c "<EXEPATH>$peer</EXEPATH>.*<PERMISSION>1</PERMISSION>" "$today" || true)
broken=$(grep "<EXEPATH>$peer</EXEPATH>" "$today" | grep -vc '^<DATE>.*</SERVICE>' || true)
parses=$(tail -1 "$work/parses.out")
echo "   connections: $attempts ($permitted permitted, $refused refused); records: $logged ($logged_permitted permitted)"
echo "   the day's log: $(stat -c %s "$today") bytes, $(( $(stat -c %s "$today") / (logged > 0 ? logged : 1) )) a record"
echo "   rule changes: $changes; rules file: $parses; descriptors of $PROGRAMS programs, zelconn, panel: none grew"
[ "$attempts" -eq $((PROGRAMS * attempts_each)) ] || fail "$attempts results for $((PROGRAMS * attempts_each)) attempts"
[ "$broken" -eq 0 ] || fail "$broken records are not whole"
[ "$logged" -eq "$attempts" ] || fail "$logged records for $attempts connections"
[ "$logged_permitted" -eq "$permitted" ] || fail "$logged_permitted permitted records for $permitted permitted connections"
[ "$refused" -gt 0 ] && [ "$permitted" -gt 0 ] || fail "the rule changes did not reach the programs"
grep -q "failures 0" "$work/parses.out" || fail "the rules file did not parse: $(cat "$work/parses.out")"
echo "PASS"

#!/usr/bin/env bash
# The typical connection, as a user meets it, with the installed programs:
# the panel starts and listens; a program under zel-run asks; the alert
# slides in and the user allows it always for any connection, by mouse and keys; the log,
# the rules file and the program's next connections follow; Block All denies
# at once; the tray's shutdown stops filtering and logging; a new start of
# the panel filters again. Runs itself under xvfb-run with a tray host.
#   tests/system/typical_connection.sh BUILD_DIR [SCREENSHOT_FOLDER]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SHOTS=${2:-}
NAME=typical
LIMIT=240
source "$(dirname "$0")/desktop.sh"
# The high level: every program is asked before it connects out.
cat >"$rules" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>
XML
records() { grep -c "<EXEPATH>$BUILD/tests/netpeer</EXEPATH>.*<PERMISSION>$1</PERMISSION>" "$today" 2>/dev/null || true; }
# Checks for wait_for, read again at every try.
has_records() { [ "$(records "$1")" -ge 1 ]; }
results_at_least() { [ "$(grep -c "^$1" "$work/client.out")" -ge "$2" ]; }
# A result of the client after the given number of lines.
result_after() { tail -n +$(($1 + 1)) "$work/client.out" | grep -q "^$2"; }

step "a tray host and the control panel"
start_tray
start_panel
step "panel $panel up, interceptor running"
shot typical-panel

step "a server on 127.0.0.2 and a program under zel-run connecting to it once a second"
start_server
"$prefix/bin/zel-run" "$BUILD/tests/netpeer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" 200 1000 >"$work/client.out" 2>&1 &
client=$!
pids+=($client)

step "the alert slides in"
wait_for 100 xdotool search --onlyvisible --name "Connection Alert!" >/dev/null || fail "no alert"
alert=$(xdotool search --onlyvisible --name "Connection Alert!" | head -1)
# Until it has stopped moving (it slides in) and takes clicks: the same
# place in two looks 0.3 s apart, at least 1.5 s after it appeared.
sleep 1.5
last=""
for ((look = 0; look < 30; look++)); do
  now=$(xdotool getwindowgeometry "$alert" 2>/dev/null | grep Position)
  [ -n "$now" ] && [ "$now" = "$last" ] && break
  last=$now
  sleep 0.3
done
shot typical-alert
eval "$(xdotool getwindowgeometry --shell "$alert")"
step "alert at $X,$Y: choosing always, for any connection, and pressing Allow"
# Chosen by a click on its text; then L and T reach the two choices, End
# picks the last of each ("always", "any connection of ...").
xdotool mousemove $((X + 120)) $((Y + 60)) click 1
sleep 0.3
xdotool key l End t End
sleep 0.3
xdotool mousemove $((X + 145)) $((Y + 298)) click 1
wait_for 50 grep -q ok "$work/client.out" || fail "the connection was not let through: $(cat "$work/client.out")"

step "the log holds the permitted record"
wait_for 30 has_records 1 || fail "no record with permission 1"
step "the panel stored the program with outgoing PERMIT"
wait_for 50 grep -q "<EXENAME>NETPEER</EXENAME>.*<OUTDEF>PERMIT</OUTDEF>" "$rules" || fail "rules file: $(cat "$rules")"
shot typical-stored

step "the next connections pass by the program's own entry, without an alert"
before=$(grep -c ok "$work/client.out")
wait_for 60 results_at_least ok $((before + 3)) || fail "next connections"
! xdotool search --onlyvisible --name "Connection Alert!" >/dev/null || fail "a second alert"
grep -q "refused\|failed" "$work/client.out" && fail "a connection failed: $(cat "$work/client.out")"

step "Block All by its shortcut, as the toolbar's button does, denies the running program"
panel_corner
xdotool windowfocus --sync "$WINDOW" key ctrl+shift+b
wait_for 50 setting_is SecurityStatus 0 || fail "SecurityStatus is $(setting SecurityStatus)"
lines=$(wc -l <"$work/client.out")
wait_for 50 result_after $lines refused || fail "not denied: $(tail -3 "$work/client.out")"
shot typical-blockall
step "released"
xdotool windowfocus --sync "$WINDOW" key ctrl+shift+b
wait_for 50 setting_is SecurityStatus 1 || fail "not released"
lines=$(wc -l <"$work/client.out")
wait_for 50 result_after $lines ok || fail "not let through again"

step "shutdown from the tray: the program passes unfiltered and nothing is logged"
xdotool mousemove 1011 752 click 3
sleep 0.5
shot typical-traymenu
xdotool key Up Return
# The panel asks first, since shutting down stops the filtering: Alt+S says yes.
wait_for 50 xdotool search --onlyvisible --name "Shut Down Korvel Firewall" >/dev/null || fail "no shutdown question"
question=$(xdotool search --onlyvisible --name "Shut Down Korvel Firewall" | head -1)
xdotool windowfocus --sync "$question" 2>/dev/null || true
shot typical-shutdown-question
xdotool key alt+s
wait_for 100 ended $panel || fail "the panel did not end"
reg set HKLM/Software/KORVEL/QRB /v SecurityStatus /d 0  # would deny, if anything filtered
sleep 1.5
logged=$(wc -l <"$today")
lines=$(wc -l <"$work/client.out")
wait_for 50 result_after $lines ok || fail "not passed through: $(tail -3 "$work/client.out")"
sleep 1
[ "$(wc -l <"$today")" = "$logged" ] || fail "records written while shut down"

step "a new start of the panel filters again"
start_panel
lines=$(wc -l <"$work/client.out")
wait_for 50 result_after $lines refused || fail "not filtered again: $(tail -3 "$work/client.out")"

step "nobody at the screen: with a time-out of 2 s, curl's alert answers Block by itself"
reg set HKLM/Software/KORVEL/QRB /v AlertTimeout /d 2
reg set HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1
started=$(date +%s)
if timeout 30 "$prefix/bin/zel-run" curl -s -o /dev/null --max-time 20 "http://127.0.0.2:$port/"; then
  fail "curl got through"
fi
took=$(($(date +%s) - started))
[ "$took" -ge 2 ] && [ "$took" -le 10 ] || fail "the alert answered after $took s"
grep -q "<APPLICATION>CURL</APPLICATION>.*<PERMISSION>0</PERMISSION>" "$today" || fail "curl's denial not logged"
grep -q "<EXENAME>CURL</EXENAME>" "$rules" && fail "a time-out was remembered as curl's rule"
step "  answered Block after $took s, logged as denied, nothing remembered"
echo "PASS: $(records 1) connections permitted and logged, $(records 0) denied"

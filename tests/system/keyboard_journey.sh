#!/usr/bin/env bash
# The control panel without a mouse, under Xvfb with openbox and a tray, as
# a user who only has the keyboard goes through it (xdotool types; nothing
# is clicked):
#  1. the arrow keys open a program's page, whose incoming default is then
#     changed with its mnemonic (Alt+I) and an arrow: the rules file says so;
#  2. Block All on with its shortcut (Ctrl+Shift+B) and off with the
#     banner's button (Alt+T): the setting the engine reads follows;
#  3. the logs with "find in logs" (Ctrl+F).
#   tests/system/keyboard_journey.sh BUILD_DIR [SCREENSHOT_FOLDER]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SHOTS=${2:-}
NAME=keyboard
LIMIT=240
command -v openbox >/dev/null || { echo "SKIP: openbox missing"; exit 77; }
source "$(dirname "$0")/desktop.sh"

cat >"$rules" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>NETPEER</EXENAME><DESCRIPTION>NETPEER</DESCRIPTION><APPPATH>/usr/bin/netpeer</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION><APPLICATION><EXENAME>ASKER</EXENAME><DESCRIPTION>ASKER</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>
XML
reg add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 /f

step "openbox, a tray host and the panel"
openbox >/dev/null 2>&1 &
pids+=($!)
start_tray
start_panel
main=$(xdotool search --onlyvisible --name "Korvel Personal FireWall" | head -1)
xdotool windowactivate --sync "$main" 2>/dev/null || true
wait_for 50 bash -c '[ "$(xdotool getactivewindow)" = "$0" ]' "$main" || fail "the panel's window did not get the keyboard"
# Keys go to whatever window has the focus, as a user's keyboard's do.
keys() { xdotool key --delay 150 "$@"; sleep 0.3; }
incoming_default() {
  python3 -c 'import sys, xml.etree.ElementTree as ET
for app in ET.parse(sys.argv[1]).getroot():
    if app.findtext("EXENAME") == "NETPEER": print(app.findtext("INDEF"))' "$rules" 2>/dev/null
}
incoming_is() { [ "$(incoming_default)" = "$1" ]; }

step "1. the arrow keys to the program's page; its incoming default by keyboard"
# The tree has the focus: System settings, Protection, Applications,
# Allowed Applications, Blocked Applications, Combined Applications, NETPEER.
keys Down Down Down Down Down Down
shot keyboard-program-page
incoming_is ASK || fail "the rules file changed before any key chose a default"
# Alt+I puts the focus on the incoming row's first button (Allow); Right
# moves to the next and picks it (Ask), Right again: Block.
keys alt+i Right Right
wait_for 30 incoming_is DENY || fail "the program's incoming default is $(incoming_default), not DENY: the arrow keys did not reach its page"

step "2. Block All on by its shortcut, off by the banner's button"
keys ctrl+shift+b
wait_for 30 setting_is SecurityStatus 0 || fail "Ctrl+Shift+B did not switch Block All on"
shot keyboard-block-all
keys alt+t
wait_for 30 setting_is SecurityStatus 1 || fail "the banner's Alt+T did not switch Block All off"

step "3. the logs by Ctrl+F"
keys ctrl+f
shot keyboard-log
# The log's own steps go here: type a host into the search field, pick the
# row, and make a rule from it (its keys), then check the rules file.

step "4. a question answered \"always\" by keyboard leaves the keyboard with the terminal"
start_server
mkdir -p "$work/bin" && cp "$BUILD/tests/netpeer" "$work/bin/asker"
xterm -geometry 80x20+40+40 -e sh -c "read line; echo \"got:\$line\" >'$work/typed'; sleep 120" >/dev/null 2>&1 &
pids+=($!)
terminal=
wait_for 50 eval 'terminal=$(xdotool search --pid $! 2>/dev/null | tail -1); [ -n "$terminal" ]' || fail "no terminal"
xdotool windowactivate --sync "$terminal"
wait_for 30 eval '[ "$(xdotool getwindowfocus)" = "$terminal" ]' || fail "the terminal has no focus"
"$prefix/bin/zel-run" "$work/bin/asker" tcp-client 127.0.0.3 127.0.0.2 "$port" >"$work/asker.out" 2>&1 &
pids+=($!)
alert_window() { xdotool search --onlyvisible --name "Connection Alert!" 2>/dev/null | head -1; }
wait_for 150 eval '[ -n "$(alert_window)" ]' || fail "no alert"
[ "$(xdotool getwindowfocus)" = "$terminal" ] || fail "the alert took the focus"
# The user gives the alert the keyboard (a click), then: How long, always; Allow.
eval "$(xdotool getwindowgeometry --shell "$(alert_window)")"
xdotool mousemove $((X + 120)) $((Y + 60)) click 1
# A new question ignores keys for half a second. It takes them once its D
# opens the details, which makes the window taller; D again closes them.
alert_height() { xdotool getwindowgeometry --shell "$(alert_window)" 2>/dev/null | sed -n 's/^HEIGHT=//p'; }
closed=$(alert_height)
taller() { [ "$(alert_height)" -gt "$closed" ]; }
for _ in $(seq 1 10); do xdotool key d; wait_for 10 taller && break; done
taller || fail "the alert took no key"
xdotool key d
wait_for 30 eval '[ "$(alert_height)" = "$closed" ]' || fail "D did not close the details"
keys alt+l End Return alt+a
wait_for 50 grep -q connected "$work/asker.out" || fail "the answer did not allow: $(cat "$work/asker.out")"
asker_rule() { grep -q "<EXENAME>ASKER</EXENAME>.*<RULE>" "$rules"; }
wait_for 50 asker_rule || fail "no rule stored for the program"
# Stored by the panel meanwhile: the terminal gets the keyboard back and
# keeps it; the panel's window is neither raised nor focused.
wait_for 30 eval '[ "$(xdotool getwindowfocus)" = "$terminal" ]' || fail "the keyboard did not go back to the terminal"
# Kept once the alert program has gone (it stays a few seconds after its
# last question) and nothing of the answer is left to happen.
wait_for 100 eval '! pgrep -f "^$prefix/.*/zel-alert" >/dev/null' || fail "the alert program did not end"
[ "$(xdotool getactivewindow)" = "$terminal" ] || fail "the terminal lost the keyboard to $(xdotool getactivewindow getwindowname)"
stacking=$(for id in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //' | tr -d ','); do printf '%d\n' "$id"; done)
[ "$(echo "$stacking" | grep -nx "$main" | cut -d: -f1)" -lt "$(echo "$stacking" | grep -nx "$terminal" | cut -d: -f1)" ] \
  || fail "the panel was raised above the terminal"
xdotool type --delay 30 "typed after the answer"
xdotool key Return
wait_for 30 grep -qs "got:typed after the answer" "$work/typed" || fail "the terminal did not get the line"
shot keyboard-after-answer

ended "$panel" && fail "the panel ended"
echo "PASS: a program's page, Block All on and off, the logs, and an answer that leaves the keyboard where it was, by keyboard alone"

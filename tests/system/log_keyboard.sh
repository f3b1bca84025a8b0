#!/usr/bin/env bash
# The traffic log used by keyboard alone, as a user at a desktop (openbox)
# does it: the last node of the tree (the blocked outgoing connections)
# opened with End and Return; Ctrl+F and a host name typed into the search;
# Down into the list; the Menu key on the row, R for "Make a rule from
# this..."; the rule editor opens with the row's program, port and host, and
# Return saves it: the rules file then has the rule, first of the program's.
# No mouse anywhere.
#   tests/system/log_keyboard.sh BUILD_DIR [SCREENSHOT_FOLDER]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SHOTS=${2:-}
NAME=log-keyboard
LIMIT=200
command -v openbox >/dev/null || { echo "SKIP: openbox missing"; exit 77; }
source "$(dirname "$0")/desktop.sh"
source "$(dirname "$0")/log_records.sh"
sample_logs "$(setting LogFilesPath)"

openbox >/dev/null 2>&1 &
pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
wait_for 50 wm_running || fail "openbox did not start"
start_panel
window=$(xdotool search --onlyvisible --name "Korvel Personal FireWall" | head -1)
xdotool windowactivate --sync "$window" || true
active_is() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
wait_for 50 active_is "$window" || fail "the panel's window does not have the keyboard"

step "the blocked outgoing connections: End, Return in the tree"
# Each step is checked by what it leads to: the editor's window, then the rules file.
xdotool key End Return
step "Ctrl+F, a host typed, Down into the list, the Menu key, R"
xdotool key ctrl+f
xdotool type --delay 30 "ads.example.net"
xdotool key Down
xdotool key Menu
xdotool key r
wait_for 50 xdotool search --onlyvisible --name "^Add rule$" >/dev/null || fail "no rule editor"
shot log-keyboard-editor
editor=$(xdotool search --onlyvisible --name "^Add rule$" | head -1)
step "Return in the editor saves the rule"
xdotool key Return
rule_saved() { grep -q "ads.example.net" "$rules"; }
wait_for 50 rule_saved || fail "the rules file has no rule for the host: $(cat "$rules")"
# The program got an entry whose first rule is the one made: blocked, outgoing, port 443.
python3 - "$rules" <<'PY' || fail "the rule made: $(cat "$rules")"
import sys, xml.etree.ElementTree as ET
apps = [a for a in ET.parse(sys.argv[1]).getroot() if a.findtext("EXENAME") == "FIREFOX"]
assert len(apps) == 1, "one entry for the program"
rule = apps[0].find("RULES")[0]
assert rule.findtext("RULENAME") == "Block ads.example.net port 443", rule.findtext("RULENAME")
assert rule.findtext("DIRECTION") == "OUTGOING" and rule.findtext("PERMISSION") == "DENY"
ports = rule.find("PORTS")
assert any(p.findtext("NUMBER") == "443" and "ads.example.net" in ET.tostring(p, encoding="unicode") for p in ports)
PY
wait_for 50 bash -c '! xdotool search --onlyvisible --name "^Add rule$" >/dev/null' || fail "the editor stayed open"
shot log-keyboard-done
echo "PASS"

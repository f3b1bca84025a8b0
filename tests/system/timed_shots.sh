#!/usr/bin/env bash
# The pictures of the answers for a time, taken as a user sees them: the
# installed panel on a 1366x768 screen with openbox, a rules file holding
# three timed answers, Settings (Ctrl+Comma) and the list opened by
# keyboard (Alt+T); at scale 1, at scale 2 and in a dark palette.
#   tests/system/timed_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
# The first-run window has a test and pictures of its own: here it would
# stand over the panel being driven.
"$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 1 /f >/dev/null
openbox >/dev/null 2>&1 &
pids+=($!)
rules=$("$prefix/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v RulesFile | awk '/RulesFile/ {print $3}')
mkdir -p "$(dirname "$rules")"
now=$(date +%s)
answer() { printf '<ANSWER><DIRECTION>%s</DIRECTION><PERMISSION>%s</PERMISSION><UNTIL>%s</UNTIL><NUMBER>%s</NUMBER>%s</ANSWER>' "$@"; }
app() { printf '<APPLICATION><EXENAME>%s</EXENAME><DESCRIPTION>%s</DESCRIPTION><APPPATH>%s</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF><TIMED>%s</TIMED></APPLICATION>' "$@"; }
{
  printf '<APPLICATIONS>'
  app CURL CURL /usr/bin/curl "$(answer OUTGOING PERMIT $((now + 3300)) 443 '<HOST>api.example.com</HOST>')"
  app THUNDERBIRD THUNDERBIRD /usr/lib/thunderbird/thunderbird \
    "$(answer OUTGOING PERMIT $((now + 1500)) 993 '')$(answer OUTGOING DENY $((now + 6900)) 0 '<HOST>tracker.example.net</HOST>')"
  app SSHD SSHD /usr/sbin/sshd "$(answer INCOMING DENY $((now + 600)) 22 '<IP>192.0.2.44</IP>')"
  printf '<APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>ASK</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>\n'
} >"$rules"

look() {
  local name=$1; shift
  local panel window
  show_panel "$@"
  sleep 1.5
  xdotool windowactivate --sync "$window" 2>/dev/null || true
  xdotool key ctrl+comma
  wait_for 50 xdotool search --onlyvisible --name "General Settings" >/dev/null
  sleep 0.5
  [ "$name" = timed-answers ] && import -window "$(xdotool search --onlyvisible --name "General Settings" | head -1)" "$SHOTS/options.png"
  xdotool key alt+t
  wait_for 50 xdotool search --onlyvisible --name "Answers for a time" >/dev/null
  sleep 1
  import -window root "$SHOTS/$name-screen.png"
  import -window "$(xdotool search --onlyvisible --name "Answers for a time" | head -1)" "$SHOTS/$name.png"
  xdotool key Escape
  sleep 0.3
  xdotool key Escape
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
look timed-answers QT_SCALE_FACTOR=1
look timed-answers-scale2 QT_SCALE_FACTOR=2
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"
look timed-answers-dark XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
echo "pictures in $SHOTS"

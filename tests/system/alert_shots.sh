#!/usr/bin/env bash
# The alert's pictures, with questions written as an engine writes them
# (alert_questions.py) to the build's zel-alert: ordinary programs and hosts,
# and no connection made. On a 1366x768 screen with openbox: the alert with
# questions waiting and with its details open, at scale 1, at scale 2 (the
# whole screen, halved), in a dark palette and in German, and a browser's 20
# questions answered together.
#   tests/system/alert_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS # nobody is away: no question is answered for the user
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"

alert_window() { xdotool search --onlyvisible --name "Connection Alert!" 2>/dev/null | head -1; }
has_alert() { [ -n "$(alert_window)" ]; }
# Slid in: its bottom-right corner on the screen's.
settled() {
  local window
  window=$(alert_window)
  [ -n "$window" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$window")"
  [ $((X + WIDTH)) -eq 1366 ] && [ $((Y + HEIGHT)) -eq 768 ]
}
# The window with its frame (openbox's title bar and border), on a dark
# margin that sets it off from a light page.
frame_shot() {
  local left right top bottom
  IFS=', ' read -r left right top bottom < <(xprop -id "$(alert_window)" _NET_FRAME_EXTENTS | sed 's/.*= *//')
  import -window root -crop "$((WIDTH + left + right))x$((HEIGHT + top + bottom))+$((X - left))+$((Y - top))" +repage "$work/frame.png"
  convert "$work/frame.png" -bordercolor "rgb(32,32,32)" -border 10 "$SHOTS/$1.png"
}
# Starts the questions of a scenario with the given environment and waits
# for the alert to settle; the feeder's process is in $feeder.
ask() {
  local scenario=$1; shift
  env "$@" python3 "$(dirname "${BASH_SOURCE[0]}")/alert_questions.py" "$BUILD/alert/zel-alert" "$work/$scenario-$RANDOM" "$scenario" &
  feeder=$!
  pids+=("$feeder")
  wait_for 100 has_alert || { echo "FAIL: no alert"; exit 1; }
  wait_for 40 settled || { echo "FAIL: the alert did not settle: $X,$Y ${WIDTH}x$HEIGHT"; exit 1; }
  sleep 0.8 # past the half second in which a new question ignores clicks
}
# Chooses the alert (a click on its text) and presses a key.
press() {
  xdotool mousemove $((X + WIDTH / 3)) $((Y + HEIGHT / 5)) click 1
  sleep 0.3
  xdotool key "$1"
  sleep 0.4
  settled || { echo "FAIL: $1: not wholly on the screen: $X,$Y ${WIDTH}x$HEIGHT"; exit 1; }
}
done_asking() {
  kill "$feeder"
  wait "$feeder" 2>/dev/null || true
  wait_for 50 eval '! has_alert' || { echo "FAIL: the alert stayed"; exit 1; }
  sleep 0.5
}

ask everyday QT_SCALE_FACTOR=1
frame_shot alert
press d
frame_shot alert-details
done_asking
ask everyday QT_SCALE_FACTOR=2
press d
import -window root "$work/screen.png"
convert "$work/screen.png" -scale 50% "$SHOTS/alert-scale2.png"
done_asking
ask everyday XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
press d
frame_shot alert-dark
done_asking
ask everyday LANG=de_DE.UTF-8 LC_ALL= LANGUAGE=
press d
frame_shot alert-german
done_asking
ask browser
press w
frame_shot alert-waiting
done_asking
echo "pictures in $SHOTS"

#!/usr/bin/env bash
# The pictures of what was decided while nobody was at the screen, taken as a
# user sees them: the installed panel on a 1366x768 screen with openbox, the
# list opened by keyboard (Alt+R) from the notice beside the traffic chart,
# at scale 1, at scale 2 and in a dark palette; and the options dialog with
# the away setting.
#   tests/system/away_shots.sh BUILD_DIR FOLDER
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
# What the engines wrote while nobody was there (one line each, as they write them).
now=$(date +%s)
decided() { printf '%s\t%s\tTCP\t%s\t%s\t%s\t%s\t%s\t4242\t%s\n' "$((now - $1))" "$2" "$3" "$4" "$5" "$6" "$7" "$8"; }
{
  decided 1900 out 93.184.216.34 443 51234 www.example.org blocked /usr/bin/curl
  decided 1300 out 198.51.100.7 8080 40500 "" blocked /usr/lib/thunderbird/thunderbird
  decided 600 in 192.0.2.44 50022 22 "" blocked /usr/sbin/sshd
  decided 20 out 203.0.113.9 993 41022 imap.example.net allowed /usr/lib/thunderbird/thunderbird
} >"$ZEL_RUNTIME_DIR/away-decisions"

look() {
  local name=$1; shift
  local panel window
  show_panel "$@"
  sleep 1.5
  import -window root "$SHOTS/$name-notice.png"
  xdotool key --window "$window" alt+r
  wait_for 50 xdotool search --onlyvisible --name "Decided while you were away" >/dev/null
  sleep 0.5
  import -window root "$SHOTS/$name.png"
  xdotool key Escape
  if [ "$name" = away-decisions ]; then
    xdotool key --window "$window" ctrl+comma
    wait_for 50 xdotool search --onlyvisible --name "General Settings" >/dev/null
    sleep 0.5
    import -window "$(xdotool search --onlyvisible --name "General Settings" | head -1)" "$SHOTS/options.png"
    xdotool key Escape
  fi
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
look away-decisions QT_SCALE_FACTOR=1
look away-decisions-scale2 QT_SCALE_FACTOR=2
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"
look away-decisions-dark XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
echo "pictures in $SHOTS"

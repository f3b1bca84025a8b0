#!/usr/bin/env bash
# The pictures of the traffic log as a user sees it: the installed panel on
# a 1366x768 screen with openbox, the blocked outgoing connections opened by
# keyboard (End, Return in the tree), a search typed after Ctrl+F; at scale
# 1, at scale 2 and in a dark palette; and the rule editor made from a row.
#   tests/system/log_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
. "$(dirname "${BASH_SOURCE[0]}")/log_records.sh"
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
# The first-run window has a test and pictures of its own: here it would
# stand over the panel being driven.
"$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 1 /f >/dev/null
sample_logs "$("$prefix/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v LogFilesPath | sed -n 's/.*REG_SZ    //p')"
openbox >/dev/null 2>&1 &
pids+=($!)

# One look: the panel started with the given environment, the log opened by
# keyboard, optionally a search typed.
look() {
  local name=$1 search=$2; shift 2
  local panel window
  show_panel "$@"
  xdotool windowactivate --sync "$window" || true
  sleep 1
  xdotool key End Return
  sleep 1.5
  # Into the list through the search (typed into or not), its first row current.
  xdotool key ctrl+f
  [ -z "$search" ] || xdotool type --delay 30 "$search"
  xdotool key Down
  sleep 1
  import -window root "$SHOTS/$name.png"
  if [ "$name" = log-view ]; then
    xdotool key Menu
    sleep 0.5
    import -window root "$SHOTS/log-row-menu.png"
    xdotool key --window "$window" r
    wait_for 50 xdotool search --onlyvisible --name "^Add rule$" >/dev/null
    sleep 0.5
    import -window "$(xdotool search --onlyvisible --name "^Add rule$" | head -1)" "$SHOTS/log-make-rule.png"
    xdotool key Escape
  fi
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
look log-view "" QT_SCALE_FACTOR=1
look log-view-search "example.net" QT_SCALE_FACTOR=1
look log-view-scale2 "" QT_SCALE_FACTOR=2
. "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"
look log-view-dark "" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
echo "pictures in $SHOTS"

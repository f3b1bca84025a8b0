#!/usr/bin/env bash
# The pictures of the control panel's windows in docs/images, taken as a
# user sees them: the installed panel on a 1366x768 screen with openbox and
# a tray, every window opened by keyboard alone, at scale 1, at scale 2 and
# in a dark palette. Besides the pictures it fails when a window is not
# wholly inside the screen.
#   tests/system/panel_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
setting() { "$prefix/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
rules=$(setting RulesFile)
openbox >/dev/null 2>&1 &
pids+=($!)
trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
  --transparent false --tint 0x333333 >/dev/null 2>&1 &
pids+=($!)
sleep 1
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"

write_rules() {
  cat >"$rules" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>CURL</EXENAME><DESCRIPTION>curl</DESCRIPTION><APPPATH>/usr/bin/curl</APPPATH><BYPATH>1</BYPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF><RULES><RULE><RULENAME>Web</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><ALIAS>HTTPS</ALIAS><NUMBER>443</NUMBER><HOSTS><HOST>*.debian.org</HOST></HOSTS></PORT><PORT><ALIAS>HTTP</ALIAS><NUMBER>80</NUMBER></PORT></PORTS></RULE><RULE><RULENAME>No mail</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>0</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>25</NUMBER></PORT></PORTS></RULE></RULES></APPLICATION><APPLICATION><EXENAME>SSH</EXENAME><DESCRIPTION>OpenSSH client</DESCRIPTION><APPPATH>/usr/bin/ssh</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION><APPLICATION><EXENAME>NC</EXENAME><DESCRIPTION>netcat</DESCRIPTION><APPPATH>/usr/bin/nc</APPPATH><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>
XML
}

# Fails unless the window with the given title (its frame's title bar too)
# lies wholly on the screen.
on_screen() {
  local id x y w h top
  id=$(xdotool search --onlyvisible --name "$1" | tail -1)
  read -r x y w h < <(xwininfo -id "$id" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
    /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}')
  top=$(xprop -id "$id" _NET_FRAME_EXTENTS | sed -n 's/.*= *[0-9]*, *[0-9]*, *\([0-9]*\),.*/\1/p')
  if ((x < 0 || y - ${top:-0} < 0 || x + w > 1366 || y + h > 768)); then
    echo "FAIL: \"$1\" is at $x,$y, ${w}x$h (title bar ${top:-0}): not inside the 1366x768 screen"
    import -window root "$SHOTS/offscreen-failure.png"
    exit 1
  fi
}
window_shot() { # title file
  wait_for 50 xdotool search --onlyvisible --name "$1" >/dev/null || {
    echo "FAIL: no window \"$1\" (the screen: $SHOTS/failure.png)"
    import -window root "$SHOTS/failure.png"
    exit 1
  }
  sleep 0.6
  on_screen "$1"
  import -window "$(xdotool search --onlyvisible --name "$1" | tail -1)" "$SHOTS/$2.png"
}
keys() { xdotool key --delay 120 "$@"; sleep 0.5; }
# The tray's corner with the icon's tip, the mouse resting on the icon.
tray_shot() {
  xdotool mousemove 1354 754
  sleep 2
  import -window root -crop 420x120+946+648 "$SHOTS/$1.png"
  xdotool mousemove 600 10
  sleep 0.3
}

# One round of pictures with the given suffix and environment.
round() {
  local suffix=$1; shift
  write_rules
  "$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 /f >/dev/null
  "$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstClose /d 1 /f >/dev/null
  # A first start: the first-run window over the panel, left with Escape.
  "$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 0 /f >/dev/null
  local panel window
  show_panel "$@"
  local main=$window
  window_shot "Welcome to Korvel Firewall" "first-run$suffix"
  keys Escape
  xdotool windowactivate --sync "$main" 2>/dev/null || true
  sleep 1.5
  window_shot "Korvel Personal FireWall" "panel-system$suffix"
  # Tree: System settings, Protection, Applications, Allowed, ssh, Blocked,
  # netcat, Combined, curl.
  keys Down Down
  window_shot "Korvel Personal FireWall" "panel-applications$suffix"
  keys Down Down Down Down Down Down
  window_shot "Korvel Personal FireWall" "panel-application$suffix"
  # The advanced window (Alt+D) and its rule editor (Alt+A: Add rule).
  keys alt+d
  window_shot "Advanced" "advanced-window$suffix"
  keys alt+a
  window_shot "Add rule" "rule-editor$suffix"
  keys Escape Escape
  # Block All by its shortcut: the banner.
  keys ctrl+shift+b
  window_shot "Korvel Personal FireWall" "panel-block-all$suffix"
  [ -n "$suffix" ] || tray_shot tray-block-all
  keys ctrl+shift+b
  if [ -z "$suffix" ]; then
    tray_shot tray-filtering
    # The tray's menu (the mouse, as the tray has no keyboard), and Shut
    # down from it: asked first.
    xdotool mousemove 1354 754 click 3
    sleep 1
    import -window root -crop 420x260+946+508 "$SHOTS/tray-menu.png"
    keys Up Return
    window_shot "Shut Down Korvel Firewall" "shut-down-question"
    keys Escape
  fi
  # Add Application (Ctrl+N).
  keys ctrl+n
  window_shot "Add application" "add-application$suffix"
  keys Escape
  # The help page in the panel's own window: no browser on this desktop.
  keys F1
  window_shot "Korvel Firewall Help" "help-window$suffix"
  keys Escape
  # Closing to the tray: the notice.
  xdotool windowactivate --sync "$main" 2>/dev/null || true
  keys alt+F4
  window_shot "Closing Korvel Firewall" "tray-notice$suffix"
  keys Return
  sleep 0.5
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
# The panel in German, chosen by the locale: its pages, the advanced window,
# the rule editor, a log, the options and the help page (German keys).
german() {
  write_rules
  "$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 /f >/dev/null
  "$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 1 /f >/dev/null
  local panel window
  show_panel LANG=de_DE.UTF-8 LC_ALL= LANGUAGE=
  xdotool windowactivate --sync "$window" 2>/dev/null || true
  sleep 1.5
  window_shot "Korvel Personal FireWall" "panel-system-de"
  tray_shot tray-filtering-de
  xdotool mousemove 1354 754 click 3
  sleep 1
  import -window root -crop 420x260+946+508 "$SHOTS/tray-menu-de.png"
  keys Escape
  xdotool windowactivate --sync "$(xdotool search --onlyvisible --name "Korvel Personal FireWall" | head -1)" 2>/dev/null || true
  keys Down
  window_shot "Korvel Personal FireWall" "protection-view-de"
  keys Down Down Down Down Down Down Down
  window_shot "Korvel Personal FireWall" "panel-application-de"
  keys alt+w
  window_shot "Erweiterte" "advanced-window-de"
  keys alt+h
  window_shot "Regel hinzuf" "rule-editor-de"
  keys Escape Escape
  keys Down Down Down Down Down
  window_shot "Korvel Personal FireWall" "panel-log-de"
  keys ctrl+comma
  window_shot "Allgemeine Einstellungen" "options-de"
  keys Escape
  keys F1
  window_shot "Hilfe" "help-window-de"
  keys Escape
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
german
round "" QT_SCALE_FACTOR=1
round "-scale2" QT_SCALE_FACTOR=2
round "-dark" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
echo "pictures in $SHOTS"

#!/usr/bin/env bash
# The pictures of the Protection page in the README, taken as a user sees it:
# the installed panel on a 1366x768 screen with openbox, opened by keyboard
# (the node below the system settings, Return), with five programs of the
# user's holding sockets: one under the hook, one started before protection,
# a statically linked one, one marked as Go and a set-user-ID one; the kernel
# backstop's line and button above them. At scale
# 1, at scale 2 and in a dark palette; and the options dialog.
#   tests/system/protection_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
hook=$(find "$prefix" -name libzelhook.so | head -1)
# The kernel backstop beside it, when built: the page shows what it says of this machine.
[ ! -x "$BUILD/backstop/zel-backstop" ] || cmake --install "$BUILD" --component backstop --prefix "$prefix" >/dev/null
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
openbox >/dev/null 2>&1 &
pids+=($!)

start() { "$@" >/dev/null 2>&1 & pids+=($!); }
start env LD_PRELOAD="$hook" python3 -m http.server --bind 127.0.0.2 0
start python3 -m http.server --bind 127.0.0.3 0
[ -x "$BUILD/tests/static_listener" ] && start "$BUILD/tests/static_listener"
cp "$BUILD/tests/netpeer" "$work/sync-agent"
objcopy --add-section .go.buildinfo=/dev/null "$BUILD/tests/netpeer" "$work/sync-agent"
start env LD_PRELOAD="$hook" "$work/sync-agent" tcp-server 127.0.0.4 0
if [ "$(id -u)" = 0 ]; then
  install -o 65534 -m 4755 "$BUILD/tests/netpeer" "$work/setuid-peer"
  start "$work/setuid-peer" tcp-server 127.0.0.5 0
fi

# One look: the panel started with the given environment, the page opened
# by keyboard, the first program selected.
look() {
  local name=$1; shift
  local panel window
  show_panel "$@"
  sleep 1
  xdotool key --window "$window" Down Return
  sleep 2.5
  xdotool key --window "$window" Tab Down
  sleep 0.5
  import -window root "$SHOTS/$name.png"
  if [ "$name" = protection-view ]; then
    # The options, from the toolbar's Settings button.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xdotool mousemove $((X + 193)) $((Y + 30)) click 1
    wait_for 50 xdotool search --onlyvisible --name "General Settings" >/dev/null
    sleep 0.5
    import -window "$(xdotool search --onlyvisible --name "General Settings" | head -1)" "$SHOTS/options.png"
    xdotool key Escape
  fi
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
look protection-view QT_SCALE_FACTOR=1
look protection-view-scale2 QT_SCALE_FACTOR=2
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"
look protection-view-dark XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
echo "pictures in $SHOTS"

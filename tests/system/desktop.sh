# Sourced by the desktop tests: re-runs the test under xvfb-run, installs the
# build into a private prefix with a private home and settings, and starts a
# tray host and the control panel. Expects BUILD, NAME and a time limit in
# LIMIT; gives work, prefix, state, rules, today, and the helpers below.

if [ -z "${ZEL_DESKTOP_UNDER_X:-}" ]; then
  export ZEL_DESKTOP_UNDER_X=1
  exec timeout "$LIMIT" xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  pkill -f "$work/prefix" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -z "${SHOTS:-}" ] || import -window root "$SHOTS/$NAME-failure.png" || true
  echo "-- error log:"; cat "$state"/errlogs/* 2>/dev/null || true
  exit 1
}
step() { echo "[$(date +%T)] $*"; }
# Waits up to the given number of tenths of a second for a command to succeed.
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
ended() { ! kill -0 "$1" 2>/dev/null; }
shot() { [ -z "${SHOTS:-}" ] || import -window root "$SHOTS/$1.png"; }

step "installing into a private prefix, a private home and settings"
prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
home="$work/home"
state="$home/.state/korvel"
mkdir -p "$home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.state" XDG_DATA_HOME="$home/.data"
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
# The panel tells the running session's bus about "Decide every program I
# start": never the bus of the machine's own session.
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
# The first-run window has a test and pictures of its own: here it would
# stand over the panel being driven.
"$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 1 /f >/dev/null
reg() { "$prefix/bin/zel-reg" "$@" >/dev/null; }
setting() { "$prefix/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
setting_is() { [ "$(setting "$1")" = "$2" ]; }
rules=$(setting RulesFile)
today="$(setting LogFilesPath)/$(date +%-d_%-m_%Y)_qrb.log"

start_tray() {
  trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 28 \
    --transparent false --tint 0x333333 >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
}
# The panel, once its interceptor runs and its window shows; its pid in $panel.
start_panel() {
  "$prefix/bin/zel" >"$work/zel.out" 2>&1 &
  panel=$!
  pids+=($panel)
  wait_for 150 pgrep -f "^$prefix/lib/korvel/zelconn" >/dev/null || fail "the panel did not start the interceptor"
  wait_for 100 xdotool search --onlyvisible --name "Korvel Personal FireWall" >/dev/null || fail "no panel window"
}
# Sets X and Y to the panel window's top left corner.
# The control panel's window: the first of that name that still exists when
# asked (one closing meanwhile, such as a menu of the panel's, is passed over).
panel_geometry() {
  local window geometry
  for window in $(xdotool search --onlyvisible --name 'Korvel Personal FireWall' 2>/dev/null); do
    geometry=$(xdotool getwindowgeometry --shell "$window" 2>/dev/null) && eval "$geometry" && return 0
  done
  return 1
}
panel_corner() { wait_for 50 panel_geometry || fail "no control panel window"; }
# A server of the build's test peer on 127.0.0.2; its port in $port.
start_server() {
  port=$((21000 + RANDOM % 2000))
  "$BUILD/tests/netpeer" tcp-server 127.0.0.2 "$port" >"$work/server.out" 2>&1 &
  pids+=($!)
  wait_for 50 grep -q listening "$work/server.out" || fail "server"
}

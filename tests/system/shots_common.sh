# Sourced by the scripts that take pictures (NAME_shots.sh BUILD_DIR FOLDER):
# runs the script again under Xvfb on a 1366x768 screen, then gives it a
# private folder cleaned up at the end ($work), the build and picture folders
# ($BUILD, $SHOTS), the installed prefix ($prefix) and wait_for.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SHOTS=$(mkdir -p "${2:?folder for the pictures}" && cd "$2" && pwd)
if [ -z "${ZEL_SHOTS_UNDER_X:-}" ]; then
  export ZEL_SHOTS_UNDER_X=1
  exec timeout 300 xvfb-run -a -s "-screen 0 1366x768x24" "$0" "$@"
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}" $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}

prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
# Starts the installed panel with the given environment and waits for its
# window: sets panel (its process) and window (the main window's id).
show_panel() {
  env "$@" "$prefix/bin/zel" >"$work/zel.out" 2>&1 &
  panel=$!
  pids+=($panel)
  wait_for 150 xdotool search --onlyvisible --name "Korvel Personal FireWall" >/dev/null \
    || { echo "FAIL: no panel window: $(cat "$work/zel.out")"; exit 1; }
  window=$(xdotool search --onlyvisible --name "Korvel Personal FireWall" | head -1)
}

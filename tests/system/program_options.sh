#!/usr/bin/env bash
# Every program's own options, without a display: --help (usage on standard
# output, exit status 0), --version (the build's version, exit status 0), a
# mistake (usage on standard error, exit status 2). zel-run and
# zel-session --run hand everything after the program to the program.
#   tests/system/program_options.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
# The words checked are the English ones, whatever the language of the caller.
export LC_ALL=C
mkdir -m 0700 "$ZEL_RUNTIME_DIR"
# No display of any kind: the Qt programs must answer without one.
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in the build's cache"

programs=(tools/zel-reg tools/zel-rules tools/zel-log tools/zel-setup tools/zel-session tools/zel-run zelconn/zelconn)
[ -x "$BUILD/panel/zel" ] && programs+=(panel/zel alert/zel-alert)
[ -x "$BUILD/backstop/zel-backstop" ] && programs+=(backstop/zel-backstop)

# run NAME ARGS...: status, standard output and standard error of one call.
run() {
  local program=$1; shift
  set +e
  timeout 20 "$BUILD/$program" "$@" >"$work/out" 2>"$work/err"
  status=$?
  set -e
}

for program in "${programs[@]}"; do
  name=${program##*/}
  step "$name"
  run "$program" --help
  [ "$status" = 0 ] || fail "$name --help: exit status $status: $(cat "$work/err")"
  grep -q "^usage: $name" "$work/out" || fail "$name --help: no usage on standard output"
  [ ! -s "$work/err" ] || fail "$name --help wrote to standard error: $(cat "$work/err")"

  run "$program" --version
  [ "$status" = 0 ] || fail "$name --version: exit status $status"
  [ "$(cat "$work/out")" = "$name (Tessary) $version" ] || fail "$name --version says '$(cat "$work/out")'"

  run "$program" --no-such-option
  [ "$status" = 2 ] || fail "$name --no-such-option: exit status $status"
  grep -q "^usage: $name" "$work/err" || fail "$name --no-such-option: no usage on standard error"
  [ ! -s "$work/out" ] || fail "$name --no-such-option wrote to standard output"
done

step "zel-run: only its first argument can be its own"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so"
run tools/zel-run /bin/echo --help --version
[ "$status" = 0 ] && [ "$(cat "$work/out")" = "--help --version" ] || fail "zel-run PROGRAM --help: '$(cat "$work/out")'"
run tools/zel-run -- /bin/echo -h
[ "$status" = 0 ] && [ "$(cat "$work/out")" = "-h" ] || fail "zel-run -- PROGRAM -h: '$(cat "$work/out")'"
run tools/zel-run
[ "$status" = 2 ] || fail "zel-run without a program: exit status $status"
run tools/zel-run --
[ "$status" = 2 ] || fail "zel-run -- without a program: exit status $status"
run tools/zel-run -h
[ "$status" = 0 ] && grep -q '^usage: zel-run' "$work/out" || fail "zel-run -h"

step "zel-session --run: the command's arguments are the command's"
run tools/zel-session --run /bin/echo to --version
[ "$status" = 0 ] && [ "$(cat "$work/out")" = "to --version" ] || fail "zel-session --run PROGRAM --version: '$(cat "$work/out")'"

if [ -x "$BUILD/panel/zel" ]; then
  step "zel: Qt's options are not mistakes; a Qt option without its value is"
  run panel/zel -style fusion --version
  [ "$status" = 0 ] && [ "$(cat "$work/out")" = "zel (Tessary) $version" ] || fail "zel -style fusion --version"
  run panel/zel --platform=offscreen -reverse --help
  [ "$status" = 0 ] || fail "zel --platform=offscreen -reverse --help: exit status $status"
  run panel/zel --quit-after-start -style
  [ "$status" = 2 ] || fail "zel -style without a value: exit status $status"
  run panel/zel stray-argument
  [ "$status" = 2 ] || fail "zel stray-argument: exit status $status"
  # Without a display, and without help asked for, it still says so.
  run panel/zel
  [ "$status" = 2 ] && grep -q "no display" "$work/err" || fail "zel without a display: status $status, $(cat "$work/err")"
  run alert/zel-alert --serve
  [ "$status" = 2 ] || fail "zel-alert --serve without its socket: exit status $status"
fi
echo "PASS"

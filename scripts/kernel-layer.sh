#!/usr/bin/env bash
# Sets the kernel layer up for the user who installs: the backstop's
# component installed by root under /usr/local (whatever prefix the rest went
# to: root runs these programs, so no folder of the user's may hold them), the
# polkit action where polkit reads it, and the user's backstop started in
# rules mode: enabled as a unit where systemd runs, otherwise started here,
# detached, its pid recorded in /run/korvel. Asks for administrator rights
# (sudo) only when something is missing; run again, it does nothing.
# Never fails the installation: what it cannot do, it says in one line.
#   kernel-layer.sh [--build DIR] [--user UID] [--sandbox DIR]
# --sandbox DIR: every path of the machine is taken under DIR (its usr/bin
# holds the sudo, systemctl and cmake used), for the tests.
set -euo pipefail
umask 022
SELF=$(realpath "${BASH_SOURCE[0]}")
BUILD=$(cd "$(dirname "$SELF")/.." && pwd)/build
BUILD=${ZEL_BUILD_DIR:-$BUILD}
R=""
USER_ID=""
AS_ROOT=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) BUILD=$2; shift 2 ;;
    --user) USER_ID=$2; shift 2 ;;
    --sandbox) R=$(realpath "$2"); shift 2 ;;
    --as-root) AS_ROOT=1; shift ;;
    *) echo "usage: kernel-layer.sh [--build DIR] [--user UID] [--sandbox DIR]" >&2; exit 2 ;;
  esac
done
BUILD=$(realpath "$BUILD")
if [ -z "$USER_ID" ]; then
  USER_ID=$(id -u)
  [ "$USER_ID" -ne 0 ] || USER_ID=${SUDO_UID:-0}
fi
case $USER_ID in '' | *[!0-9]*) echo "kernel-layer.sh: not a user id: $USER_ID" >&2; exit 2 ;; esac

# Never a program found on PATH: root runs what these name.
SUDO=$R/usr/bin/sudo
SYSTEMCTL=$R/usr/bin/systemctl
[ -n "$R" ] || [ -x "$SYSTEMCTL" ] || SYSTEMCTL=/bin/systemctl
CMAKE=$R/usr/bin/cmake
PREFIX=$R/usr/local
LIBDIR=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD/CMakeCache.txt" 2>/dev/null || true)
BACKSTOP=$PREFIX/sbin/zel-backstop
ADMIN=$PREFIX/${LIBDIR:-lib}/korvel/zel-admin
UNIT=zel-backstop@$USER_ID.service
POLICY=org.tessary.firewall.policy
PIDS=$R/run/korvel
PIDFILE=$PIDS/backstop-$USER_ID.pid
LATER="add it later with: sudo $SELF"

say() { echo "run.sh: the kernel layer $*"; }

# True when root, and only root (or OWNER), can change PATH and every folder
# above it (up to the sandbox): otherwise another user could put a program or
# rules of theirs in place of ours.
guarded() {
  local path owner group mode
  path=$(realpath -m "$1")
  while :; do
    if [ -e "$path" ]; then
      read -r owner group mode < <(stat -c '%u %g %a' "$path")
      [ "$owner" -eq 0 ] || [ "$owner" -eq "${2:-0}" ] || return 1
      (( (8#$mode & 8#002) == 0 )) || return 1
      (( (8#$mode & 8#020) == 0 || group == 0 )) || return 1
    fi
    [ "$path" != / ] && [ "$path" != "$R" ] || return 0
    path=$(dirname "$path")
  done
}

kernel_lacks() {
  env LC_ALL=C LANGUAGE= "$BUILD/backstop/zel-backstop" status 2>&1 | grep -m1 'cannot hold the backstop' || true
}

# Up to date: the installed programs are the built ones, units and policy in place.
installed() {
  cmp -s "$BUILD/backstop/zel-backstop" "$BACKSTOP" && cmp -s "$BUILD/backstop/zel-admin" "$ADMIN" \
    && [ -f "$PREFIX/lib/systemd/system/zel-backstop@.service" ] \
    && cmp -s "$PREFIX/share/polkit-1/actions/$POLICY" "$R/usr/share/polkit-1/actions/$POLICY"
}

systemd_runs() { [ -d "$R/run/systemd/system" ] && [ ! -L "$R/run/systemd/system" ]; }

# When the process started (clock ticks after boot), read past its name,
# which may hold spaces and parentheses.
start_time() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $20}'; }

# The pid recorded is ours while a process of root's with the same start time has it.
recorded_runs() {
  local pid start
  [ -f "$PIDFILE" ] && [ ! -L "$PIDFILE" ] && guarded "$PIDFILE" || return 1
  read -r pid start < "$PIDFILE" || return 1
  case $pid in '' | *[!0-9]*) return 1 ;; esac
  [ "$(stat -c %u "/proc/$pid" 2>/dev/null)" = 0 ] \
    && [ "$(start_time "$pid")" = "$start" ]
}

running() {
  if systemd_runs; then
    "$SYSTEMCTL" is-enabled --quiet "$UNIT" 2>/dev/null && "$SYSTEMCTL" is-active --quiet "$UNIT" 2>/dev/null
  else
    guarded "$BACKSTOP" && env LC_ALL=C LANGUAGE= "$BACKSTOP" status --user "$USER_ID" 2>/dev/null | grep -q '^zel-backstop: running\|^running'
  fi
}

as_root() {
  [ "$(id -u)" -eq 0 ] || { echo "kernel-layer.sh: --as-root must run as root" >&2; exit 1; }
  # cmake --install runs the build folder's scripts: none of them another user's to change.
  local owner=$USER_ID
  guarded "$BUILD" "$owner" && [ -z "$(find "$BUILD" ! -type l \( ! -user 0 ! -user "$owner" -o -perm -o+w \
    -o -perm -g+w ! -gid 0 \) -print -quit)" ] \
    || { say "is not set up: the build folder $BUILD can be changed by another user; $LATER"; return 0; }
  guarded "$PREFIX/sbin" && guarded "$(dirname "$ADMIN")" && guarded "$PIDS" && guarded "$R/var/log/korvel" \
    || { say "is not set up: $PREFIX, $PIDS or $R/var/log/korvel can be changed by a user other than root; $LATER"; return 0; }
  local fresh=0
  if ! installed; then
    "$CMAKE" --install "$BUILD" --component backstop --prefix "$PREFIX" >/dev/null
    install -D -m 0644 "$PREFIX/share/polkit-1/actions/$POLICY" "$R/usr/share/polkit-1/actions/$POLICY"
    fresh=1
  fi
  guarded "$BACKSTOP" || { say "is not set up: $BACKSTOP is not root's alone; $LATER"; return 0; }
  if systemd_runs; then
    [ "$fresh" -eq 0 ] || "$SYSTEMCTL" daemon-reload
    "$SYSTEMCTL" is-enabled --quiet "$UNIT" && "$SYSTEMCTL" is-active --quiet "$UNIT" && [ "$fresh" -eq 0 ] && return 0
    if [ "$fresh" -eq 1 ] && "$SYSTEMCTL" is-active --quiet "$UNIT"; then
      "$SYSTEMCTL" enable "$UNIT" && "$SYSTEMCTL" restart "$UNIT"
    else
      "$SYSTEMCTL" enable --now "$UNIT"
    fi
    say "is on: $UNIT decides your programs the hook is not in by your rules"
    return 0
  fi
  recorded_runs && return 0
  install -d -m 0755 "$PIDS" "$R/var/log/korvel"
  # Its own session, nothing of this environment: root runs it.
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /usr/bin/setsid "$BACKSTOP" start --user "$USER_ID" --rules \
    </dev/null >>"$R/var/log/korvel/backstop-$USER_ID.log" 2>&1 &
  local pid=$!
  echo "$pid $(start_time "$pid")" > "$PIDFILE.new" && mv -f "$PIDFILE.new" "$PIDFILE"
  say "is on: zel-backstop (pid $pid) decides your programs the hook is not in by your rules; no systemd here, run.sh starts it again after a reboot"
}

if [ "$AS_ROOT" -eq 1 ]; then
  as_root
  exit 0
fi

[ "${ZEL_KERNEL_LAYER:-on}" != off ] || exit 0
if [ "$USER_ID" -eq 0 ]; then
  say "is not set up: it covers a desktop user, not root; add it as that user with: sudo $SELF --user UID"
  exit 0
fi
if [ ! -x "$BUILD/backstop/zel-backstop" ]; then
  say "is not set up: zel-backstop was not built (clang, bpftool or libbpf missing?); the hook still decides the programs it is in"
  exit 0
fi
if lacks=$(kernel_lacks) && [ -n "$lacks" ]; then
  say "is not set up: ${lacks#zel-backstop: }; the hook still decides the programs it is in"
  exit 0
fi
installed && running && exit 0
if ! guarded "$SELF" "$USER_ID"; then
  say "is not set up: $SELF, which would run as root, can be changed by another user"
  exit 0
fi
if [ ! -x "$SUDO" ] || ! "$SUDO" -v 2>/dev/null; then
  say "is not set up (no administrator rights); $LATER"
  exit 0
fi
"$SUDO" /bin/bash "$SELF" --as-root --build "$BUILD" --user "$USER_ID" ${R:+--sandbox "$R"} \
  || say "is not set up: its installation failed (above); $LATER"
exit 0

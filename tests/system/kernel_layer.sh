#!/usr/bin/env bash
# scripts/kernel-layer.sh, which ./run.sh calls, against a machine made in a
# temporary folder (--sandbox): fake sudo, systemctl, cmake and zel-backstop
# that record what they are asked; nothing outside the folder is touched and
# no backstop is attached. Run as root (the sandbox's files are root's).
# Attacks: programs another user put on PATH, a prefix, build folder or
# installed program another user may change, a recorded pid another process
# has taken, zel-admin asked through pkexec for another user.
set -uo pipefail
SCRIPT=$(cd "$(dirname "$0")/../.." && pwd)/scripts/kernel-layer.sh
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 77; }
TOP=$(mktemp -d /tmp/zel-kernel-layer.XXXXXX)
chmod 755 "$TOP"
PIDS=()
cleanup() { [ -n "${KEEP:-}" ] && return; for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done; rm -rf "$TOP"; }
trap cleanup EXIT
failures=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi; }

# A fresh machine in $TOP/$1: $T/log has one line per call of a fake.
machine() {
  T=$TOP/$1
  mkdir -p "$T/usr/bin" "$T/build/backstop" "$T/state" "$T/evil"
  echo "CMAKE_INSTALL_LIBDIR:PATH=lib" > "$T/build/CMakeCache.txt"
  touch "$T/build/backstop/cmake_install.cmake"
  cat > "$T/build/backstop/zel-backstop" <<EOF
#!/bin/bash
case \$1 in
  status) [ -e $T/nobtf ] && echo "zel-backstop: this kernel cannot hold the backstop: the kernel has no type information (BTF)"
          [ -e $T/state/started ] && [ ! -e $T/nobtf ] && echo "zel-backstop: running, rules for user 1000" && exit 0
          exit 3 ;;
  start) echo "\$* sid=\$(ps -o sid= -p \$\$ | tr -d ' ') pid=\$\$" >> $T/log; touch $T/state/started; exec sleep 30 ;;
esac
EOF
  echo '#!/bin/bash' > "$T/build/backstop/zel-admin"
  cat > "$T/usr/bin/sudo" <<EOF
#!/bin/bash
[ -e $T/nosudo ] && exit 1
[ "\$1" = -v ] && exit 0
echo "sudo \$*" >> $T/log
exec "\$@"
EOF
  cat > "$T/usr/bin/cmake" <<EOF
#!/bin/bash
echo "cmake \$*" >> $T/log
install -D $T/build/backstop/zel-backstop $T/usr/local/sbin/zel-backstop
install -D $T/build/backstop/zel-admin $T/usr/local/lib/korvel/zel-admin
install -D -m 644 /dev/null $T/usr/local/lib/systemd/system/zel-backstop@.service
echo policy | install -D -m 644 /dev/stdin $T/usr/local/share/polkit-1/actions/org.tessary.firewall.policy
EOF
  cat > "$T/usr/bin/systemctl" <<EOF
#!/bin/bash
echo "systemctl \$*" >> $T/log
case \$1 in
  is-enabled) [ -e $T/state/enabled ] ;;
  is-active) [ -e $T/state/active ] ;;
  enable) touch $T/state/enabled; [ "\$2" = --now ] && touch $T/state/active ;;
esac
EOF
  # What another user would have run in our place.
  for program in sudo systemctl cmake zel-backstop setsid; do
    printf '#!/bin/sh\ntouch %s/pwned\n' "$T" > "$T/evil/$program"
  done
  chmod 755 "$T"/usr/bin/* "$T"/build/backstop/zel-* "$T"/evil/*
  touch "$T/log"
}
layer() { PATH=$T/evil:$PATH "$SCRIPT" --build "$T/build" --user 1000 --sandbox "$T" 2>&1; }
count() { grep -c -- "$2" "$T/$1" 2>/dev/null || true; }
# The detached fake writes its line when it runs: waited for, bounded.
starts() { for _ in $(seq 50); do [ "$(count log "^start")" -ge "$1" ] && break; sleep 0.1; done; count log "^start"; }
started_pid() { sed -n 's/.* pid=\([0-9]*\)$/\1/p' "$T/log" | tail -1; }

machine systemd
mkdir -p "$T/run/systemd/system"
first=$(layer); status=$?
second=$(layer)
check "systemd: installed once, the user's unit enabled and started once" \
  '[ $status -eq 0 ] && [ $(count log "^cmake --install") = 1 ] && [ $(count log "enable --now zel-backstop@1000.service") = 1 ]'
check "systemd: the policy where polkit reads it" '[ -f $T/usr/share/polkit-1/actions/org.tessary.firewall.policy ]'
check "systemd: run again, nothing asked of root and nothing said" '[ $(count log "^sudo") = 1 ] && [ -z "$second" ]'
check "systemd: one line saying it is on" '[ "$(echo "$first" | grep -c "kernel layer is on")" = 1 ]'

machine detached
first=$(layer); status=$?
starts 1 >/dev/null; pid=$(started_pid); PIDS+=("$pid")
read -r recorded _ < "$T/run/korvel/backstop-1000.pid"
check "no systemd: started once, in a session of its own, its pid recorded" \
  '[ $status -eq 0 ] && [ $(count log "^start --user 1000 --rules") = 1 ] && [ "$recorded" = "$pid" ] && grep -q "sid=$pid " $T/log'
layer >/dev/null
rm "$T/state/started"  # its status no longer says so: the recorded pid does
layer >/dev/null
check "no systemd: run twice more, no second start" '[ $(count log "^start") = 1 ] && kill -0 $pid'
kill "$pid"; wait "$pid" 2>/dev/null
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
layer >/dev/null
check "no systemd: started again once its pid is gone" '[ $(starts 2) = 2 ]'
PIDS+=("$(started_pid)")

machine nobtf
touch "$T/nobtf"
out=$(layer); status=$?
check "no BTF: one clear line, exit 0, nothing installed or started" \
  '[ $status -eq 0 ] && [ "$(echo "$out" | wc -l)" = 1 ] && echo "$out" | grep -q "no type information (BTF); the hook still decides" && [ ! -s $T/log ]'

machine norights
touch "$T/nosudo"
out=$(layer); status=$?
check "no rights: one line saying how to add it later, exit 0" \
  '[ $status -eq 0 ] && [ "$(echo "$out" | wc -l)" = 1 ] && echo "$out" | grep -q "no administrator rights); add it later with: sudo" && [ ! -s $T/log ]'

# Attacks.
check "attack: nothing another user put on PATH was run" '[ ! -e $TOP/systemd/pwned ] && [ ! -e $TOP/detached/pwned ]'
machine open-prefix
mkdir -p "$T/usr/local/sbin" && chmod 777 "$T/usr/local/sbin"
out=$(layer)
check "attack: a prefix others may write to is not installed to" \
  'echo "$out" | grep -q "can be changed by a user other than root" && [ $(count log "^cmake") = 0 ] && [ $(count log "^start") = 0 ]'
machine open-build
chmod 777 "$T/build/backstop"
out=$(layer)
check "attack: a build folder others may write to is not installed from" \
  'echo "$out" | grep -q "can be changed by another user" && [ $(count log "^cmake") = 0 ]'
machine open-script
mkdir -m 777 "$T/scripts" && cp "$SCRIPT" "$T/scripts/"
out=$(PATH=$T/evil:$PATH "$T/scripts/kernel-layer.sh" --build "$T/build" --user 1000 --sandbox "$T" 2>&1)
check "attack: a copy of this script others may change is not run as root" \
  'echo "$out" | grep -q "would run as root, can be changed by another user" && [ $(count log "^sudo") = 0 ]'
chmod o+w "$T/build/CMakeCache.txt"
out=$(layer)
check "attack: a file in the build folder others may write to: not installed from" \
  'echo "$out" | grep -q "can be changed by another user" && [ $(count log "^cmake") = 0 ]'
machine foreign-program
layer >/dev/null; starts 1 >/dev/null; pid=$(started_pid); PIDS+=("$pid"); kill "$pid"; rm "$T/state/started"
chown 65534 "$T/usr/local/sbin/zel-backstop"
out=$(layer)
check "attack: an installed zel-backstop another user owns is not run" \
  'echo "$out" | grep -q "is not root.s alone" && [ $(count log "^start") = 1 ]'
machine taken-pid
mkdir -p "$T/run/korvel"
setpriv --reuid 65534 --regid 65534 --clear-groups sleep 30 & other=$!; PIDS+=("$other")
echo "$other $(sed 's/.*) //' /proc/$other/stat | awk '{print $20}')" > "$T/run/korvel/backstop-1000.pid"
layer >/dev/null
check "attack: a pid file naming another user's process does not stop the start" '[ $(starts 1) = 1 ]'
PIDS+=("$(started_pid)")

# zel-admin through pkexec: "start" asks no password, so --user may name only
# the caller (the build folder is the first argument).
ADMIN=${1:-}/backstop/zel-admin
if [ -n "${1:-}" ] && [ -x "$ADMIN" ]; then
  PKEXEC_UID=1000 "$ADMIN" start --user 1001 >/dev/null 2>&1
  code=$?
  check "attack: zel-admin through pkexec starts no backstop for another user" '[ "$code" = 2 ]'
fi

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }

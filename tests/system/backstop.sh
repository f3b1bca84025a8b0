#!/usr/bin/env bash
# The kernel backstop, as root, attached to a throwaway cgroup; the programs
# run as a test user with no account, each in a network namespace of its own
# with only loopback. EPERM is the backstop's refusal, ECONNREFUSED a pass
# (nothing listens), so no server is needed.
#   tests/system/backstop.sh BUILD_DIR     (exit 77: this machine or kernel cannot)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "the backstop needs root"
backstop="$BUILD/backstop/zel-backstop"
[ -x "$backstop" ] || skip "zel-backstop was not built (clang, bpftool or libbpf missing)"
cg2=$(awk '{ for (i = 1; i <= NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") print $5; break } }' /proc/self/mountinfo | head -1)
[ -n "$cg2" ] || skip "no cgroup v2 hierarchy"
[ -r /sys/kernel/btf/vmlinux ] || skip "the kernel has no type information (BTF)"
unshare -n true 2>/dev/null || skip "no network namespaces"

work=$(mktemp -d /tmp/zel-backstop-test.XXXXXX)
chmod 755 "$work"
cg="$cg2/zel-backstop-test-$$"
pin="/sys/fs/bpf/zel-backstop-test-$$"
sock="$work/notices.sock"
tuid=64998
relay=
listener=
zelconn=
cleanup() {
  set +e
  for pid in $relay $listener $zelconn; do kill -9 "$pid" 2>/dev/null; done
  # Everything the test ran as its user is in the cgroup, however it was
  # started: none of it outlives the test.
  for _ in $(seq 1 50); do
    members=$(cat "$cg/cgroup.procs" 2>/dev/null)
    [ -z "$members" ] && break
    kill -9 $members 2>/dev/null
    sleep 0.1
  done
  for pid in $relay $listener $zelconn; do wait "$pid" 2>/dev/null; done
  "$backstop" stop --pin "$pin" >/dev/null 2>&1
  rmdir "$cg" 2>/dev/null
  # A process of the test user may still be ending: its files go with a second try.
  rm -rf "$work" 2>/dev/null || { sleep 0.5; rm -rf "$work"; }
}
trap cleanup EXIT
passed=0 failed=0
check() { # WANT WHAT GOT
  if [ "$3" = "$1" ]; then passed=$((passed + 1)); echo "   ok: $2: $3"
  else failed=$((failed + 1)); echo "   FAIL: $2: $3, expected $1"; fi
}
step() { echo "-- $*"; }

# The probes: dynamic and static; a set-user-ID copy of the static one.
source_file="$(cd "$(dirname "$0")/.." && pwd)/backstop/probe.c"
gcc -O2 -o "$work/probe" "$source_file" -luring
gcc -O2 -static -o "$work/probe-static" "$source_file" -luring
cp "$work/probe-static" "$work/probe-setuid"
chmod 4755 "$work/probe-setuid"
mkdir -p "$cg"

# Runs a command as the test user inside the cgroup, in a network namespace
# of its own with loopback up.
as_user() {
  sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n sh -c "ip link set lo up; exec setpriv --reuid='"$tuid"' --regid='"$tuid"' --clear-groups \"\$@\"" sh "$@"' \
    sh "$cg" "$@" 2>&1
}
probe() { as_user "$work/$1" "$2" 127.0.0.2 "${3:-7777}"; }

# The test user's firewall settings, for the hooked programs.
home="$work/home"
mkdir -p "$home" && chown "$tuid:$tuid" "$home" && chmod 700 "$home"
user_env=(env HOME="$home" ZEL_REGISTRY_ROOT="$home/registry" ZEL_RUNTIME_DIR="$home/runtime"
  ZEL_HOOK_LIBRARY="$BUILD/interceptor/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
  ZEL_ALERT_PROGRAM=/bin/false)
as_user "${user_env[@]}" "$BUILD/tools/zel-setup" --quiet --install-dir "$home/install" >/dev/null
hooked=("${user_env[@]}" LD_PRELOAD="$BUILD/interceptor/libzelhook.so")

# A hooked program that made its first connection before the backstop came:
# it had nothing to register with then.
touch "$work/go.wait" && chmod 666 "$work/go.wait"
as_user "${hooked[@]}" /usr/bin/python3 -c "
import errno, os, socket, sys, time
socket.socket().connect_ex(('127.0.0.2', 7779))
for _ in range(200):
    if not os.path.exists(sys.argv[1]): break
    time.sleep(0.05)
result = socket.socket().connect_ex(('127.0.0.2', 7779))
print({0: 'passed', errno.ECONNREFUSED: 'passed', errno.EPERM: 'denied'}.get(result, 'error %d' % result))" \
  "$work/go.wait" >"$work/early.out" &
early=$!
sleep 1

step "started in deny mode for uid $tuid on $cg"
"$backstop" start --user "$tuid" --deny --cgroup "$cg" --pin "$pin" --socket "$sock" --detach \
  || { rc=$?; [ $rc -eq 3 ] && skip "the kernel did not take the programs"; exit $rc; }
"$backstop" run --pin "$pin" --socket "$sock" >"$work/relay.out" 2>&1 &
relay=$!
for _ in $(seq 1 50); do [ -S "$sock" ] && break; sleep 0.1; done

# The user's interceptor takes the notices: into the day's log, to the panel.
as_user "${user_env[@]}" ZEL_BACKSTOP_SOCKET="$sock" "$BUILD/interceptor/zelconn" >/dev/null &
zelconn=$!
connected() { [ "$(ss -xH src "$sock" 2>/dev/null | wc -l)" -ge "$1" ]; }
for _ in $(seq 1 80); do connected 1 && break; sleep 0.1; done

step "programs the hook is not in are refused"
check denied "a static program" "$(probe probe-static libc)"
check denied "a raw connect system call" "$(probe probe-static raw)"
check denied "a datagram" "$(probe probe-static udp)"
uring=$(probe probe-static uring)
if [ "${uring#error}" = "$uring" ]; then check denied "io_uring" "$uring"; else echo "   skipped: io_uring ($uring)"; fi
check denied "a set-user-ID copy" "$(probe probe-setuid libc)"
check denied "a dynamic program started without the preload" "$(probe probe libc)"
check passed "root's own programs" "$("$work/probe-static" libc 127.0.0.2 7777)"
check passed "127.0.0.1, this computer" "$(as_user "$work/probe-static" libc 127.0.0.1 7777)"

step "hooked programs pass and are decided by the rules"
rm -f "$work/go.wait"
wait "$early" || true
check passed "a hooked program started before the backstop" "$(cat "$work/early.out")"
check passed "the probe under the hook" "$(as_user "${hooked[@]}" "$work/probe" libc 127.0.0.2 7777)"
py() { as_user "${hooked[@]}" /usr/bin/python3 -c "$1" "$work/probe-static"; }
forked=$(py "
import errno, os, socket
def attempt():
    s = socket.socket()
    result = s.connect_ex(('127.0.0.2', 7778))
    return {0: 'passed', errno.ECONNREFUSED: 'passed', errno.EPERM: 'denied'}.get(result, 'error %d' % result)
print(attempt(), flush=True)
pid = os.fork()
if pid == 0:
    print(attempt(), flush=True); os._exit(0)
os.waitpid(pid, 0)")
check "passed passed" "a hooked program and its forked child" "$(echo $forked)"
check denied "exec from a hooked program into a static one" "$(py "
import os, socket, sys
socket.socket().connect_ex(('127.0.0.2', 7778))
os.execv(sys.argv[1], [sys.argv[1], 'libc', '127.0.0.2', '7777'])")"
log=$(find "$home" -name '*_qrb.log' | head -1)
check yes "the hook's decisions are in the user's log" "$( [ -n "$log" ] && grep -q '<REMOTEPORT>7778</REMOTEPORT>' "$log" && echo yes || echo no)"

log=$(find "$home" -name '*_qrb.log' | head -1)
check yes "the refusal is in the user's log, marked as the backstop's" "$(grep -q "<EXEPATH>[^<]*probe-static</EXEPATH>.*<PERMISSION>0</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log" && echo yes || echo no)"

step "the service killed: the verdict stays"
kill -9 "$relay"; wait "$relay" 2>/dev/null || true; relay=
check denied "a static program, no service running" "$(probe probe-static libc)"
check "zel-backstop: running" "status" "$("$backstop" status --pin "$pin" | cut -d, -f1)"
check passed "the hooked probe" "$(as_user "${hooked[@]}" "$work/probe" libc 127.0.0.2 7777)"

step "notify mode: the same programs pass and are reported to the user"
"$backstop" start --user "$tuid" --notify --cgroup "$cg" --pin "$pin" --socket "$sock" --detach >/dev/null
"$backstop" run --pin "$pin" --socket "$sock" >"$work/relay.out" 2>&1 &
relay=$!
for _ in $(seq 1 50); do [ -S "$sock" ] && break; sleep 0.1; done
for _ in $(seq 1 80); do connected 1 && break; sleep 0.1; done # the interceptor again
as_user /usr/bin/python3 -c "
import socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.settimeout(10)
print(s.recv(4096).decode(), end='', flush=True)" "$sock" >"$work/user-notices.out" &
listener=$!
sleep 0.5
check passed "a static program" "$(probe probe-static libc)"
check passed "a datagram of a set-user-ID program" "$(probe probe-setuid udp)"
wait "$listener" 2>/dev/null || true; listener=
check yes "the relay reported the static program" "$(grep -q "^passed [0-9]* 127.0.0.2 7777 TCP .*probe-static" "$work/relay.out" && echo yes || echo no)"
check yes "a client of the user was told" "$(grep -q "probe-static" "$work/user-notices.out" && echo yes || echo no)"
other=$(setpriv --reuid=64997 --regid=64997 --clear-groups /usr/bin/python3 -c "
import socket, sys
s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); s.settimeout(2)
try:
    print(len(s.recv(4096)))
except OSError:
    print('nothing')" "$sock" 2>&1)
check 0 "another user's client is turned away" "$other"
check yes "the pass is in the user's log" "$(grep -q "<EXEPATH>[^<]*probe-static</EXEPATH>.*<PERMISSION>1</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log" && echo yes || echo no)"

step "stopped: nothing stays attached or pinned"
kill "$relay" 2>/dev/null || true; wait "$relay" 2>/dev/null || true; relay=
"$backstop" stop --pin "$pin" >/dev/null
check none "pins" "$( [ -e "$pin" ] && echo left || echo none)"
check none "programs on the cgroup" "$(bpftool cgroup show "$cg" 2>/dev/null | grep -c . | sed 's/^0$/none/')"
check passed "a static program" "$(probe probe-static libc)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
exit 0

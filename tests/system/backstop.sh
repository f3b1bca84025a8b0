#!/usr/bin/env bash
# The kernel backstop, as root, attached to a throwaway cgroup; the programs
# run as test users with no account, each in a network namespace of its own
# with only loopback. EPERM is the backstop's refusal, ECONNREFUSED a pass
# (nothing listens), so no server is needed. Two users have a backstop each,
# side by side, as two instances of the service would. User A's decides by
# A's rules for a while, with A's control panel answering its question.
#   tests/system/backstop.sh BUILD_DIR     (exit 77: this machine or kernel cannot)
set -euo pipefail
# The words checked are the English ones, whatever the caller's language.
export LC_ALL=C
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
# Laid out as the service lays out its users' backstops: a folder each.
pins="/sys/fs/bpf/zel-backstop-test-$$"
auid=64998 # user A: deny, then notify; runs the interceptor
buid=64995 # user B: deny
ouid=64997 # a user with no backstop
pinA="$pins/$auid" pinB="$pins/$buid"
sockA="$work/a.sock" sockB="$work/b.sock"
relayA= relayB= relayS= zelconn= panelA=
cleanup() {
  set +e
  exec 2>/dev/null # the shell's word on each process killed here
  for pid in $relayA $relayB $relayS $zelconn $panelA; do kill -9 "$pid" 2>/dev/null; done
  # Everything the test ran as its users is in the cgroup, however it was
  # started: none of it outlives the test.
  for _ in $(seq 1 50); do
    members=$(cat "$cg/cgroup.procs" 2>/dev/null)
    [ -z "$members" ] && break
    kill -9 $members 2>/dev/null
    sleep 0.1
  done
  for pid in $relayA $relayB $relayS $zelconn $panelA; do wait "$pid" 2>/dev/null; done
  "$backstop" stop --pin "$pinA" >/dev/null 2>&1
  "$backstop" stop --pin "$pinB" >/dev/null 2>&1
  "$backstop" stop --pin "$pins/services" >/dev/null 2>&1
  rm -f "$pinA/foreign"
  rmdir "$pinA" "$pinB" "$pins/services" "$pins" "$cg" 2>/dev/null
  # A process of a test user may still be ending: its files go with a second try.
  rm -rf "$work" 2>/dev/null || { sleep 0.5; rm -rf "$work"; }
}
trap cleanup EXIT
passed=0 failed=0
check() { # WANT WHAT GOT
  if [ "$3" = "$1" ]; then passed=$((passed + 1)); echo "   ok: $2: $3"
  else failed=$((failed + 1)); echo "   FAIL: $2: $3, expected $1"; fi
}
step() { echo "-- $*"; }
yes_no() { if "$@"; then echo yes; else echo no; fi; }
# Waits at most $1 seconds for a command to succeed.
wait_until() {
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.02; done
}

# The probes: dynamic and static; a set-user-ID copy of the static one;
# copies of the static one under names of their own, told apart in notices.
source_file="$(cd "$(dirname "$0")/.." && pwd)/backstop/probe.c"
gcc -O2 -o "$work/probe" "$source_file" -luring
gcc -O2 -static -o "$work/probe-static" "$source_file" -luring
cp "$work/probe-static" "$work/probe-setuid"
chmod 4755 "$work/probe-setuid"
for name in a-static b-static b-static-2 b-static-3 ruled server; do cp "$work/probe-static" "$work/$name"; done
# Programs bound to a path (and a copy elsewhere), made long before they are
# looked at: a file changed within 2 s is doubted, as it may still be written.
mkdir -p "$work/bin" "$work/copy"
for name in bound checked; do cp "$work/probe-static" "$work/bin/$name"; done
cp "$work/probe-static" "$work/copy/bound"
# A Go program, built as Debian's Go builds it (static, its own system calls);
# its build cache kept in the build folder between runs.
gobuild=
if command -v go >/dev/null; then
  (cd "$(dirname "$source_file")" && GOCACHE="$BUILD/go-cache" GOPATH="$work/go" CGO_ENABLED=0 \
    go build -o "$work/probe-go" probe.go) && gobuild=yes
fi
mkdir -p "$cg"

# Runs a command as a test user inside the cgroup, in a network namespace
# of its own with loopback up and fd00::2 on it (nothing listens there
# either: a pass is refused by the peer).
as() { # UID COMMAND...
  local uid=$1; shift
  sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n sh -c "ip link set lo up; ip -6 addr add fd00::2/128 dev lo nodad 2>/dev/null; exec setpriv --reuid='"$uid"' --regid='"$uid"' --clear-groups \"\$@\"" sh "$@"' \
    sh "$cg" "$@" 2>&1
}
as_user() { as "$auid" "$@"; }
probe() { as_user "$work/$1" "$2" 127.0.0.2 "${3:-7777}"; }

# A client of a backstop's socket: writes every line it hears, and "closed"
# when the service closed on it, until the file named by its second
# argument is there (or 20 s passed).
cat >"$work/listen.py" <<'EOF'
import os, socket, sys, time
s = socket.socket(socket.AF_UNIX)
try:
    s.connect(sys.argv[1])
except OSError as error:
    print('refused %d' % error.errno, flush=True); sys.exit()
s.settimeout(0.05)
heard = b''
end = time.time() + 20
while time.time() < end:
    try:
        chunk = s.recv(4096)
    except socket.timeout:
        if os.path.exists(sys.argv[2]): break
        continue
    if not chunk:
        heard += b'closed\n'; break
    heard += chunk
sys.stdout.write(heard.decode()); sys.stdout.flush()
EOF
# The sockets a process holds: a relay's listener and its clients.
sockets_of() {
  local n=0 fd
  for fd in /proc/"$1"/fd/*; do [[ $(readlink "$fd" 2>/dev/null) == socket:* ]] && n=$((n + 1)); done
  echo "$n"
}
serving() { [ "$(sockets_of "$1")" -ge $((1 + $2)) ]; } # RELAY CLIENTS: listening, with that many
pinned() { [ -e "$1" ] && echo left || echo none; }
# Each backstop's programs on the cgroup: registration, connect and sendmsg
# of both families, sock_create, post_bind of both, ingress.
links=9
attached() { bpftool cgroup show "$cg" 2>/dev/null | tail -n +2 | grep -c . || true; }
# Tracing programs are not on the cgroup: counted by name, over what was there before.
tracing() { echo $(($(bpftool prog show name on_fork 2>/dev/null | grep -c '^[0-9]' || true) - tracing_before)); }
tracing_before=0
tracing_before=$(tracing)

# Each test user's firewall settings, for their hooked programs.
user_env() { # UID: the environment of that user's hooked programs
  local home="$work/home-$1"
  echo HOME="$home" ZEL_REGISTRY_ROOT="$home/registry" ZEL_RUNTIME_DIR="$home/runtime" \
    ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" \
    ZEL_ALERT_PROGRAM=/bin/false
}
for uid in $auid $buid; do
  mkdir -p "$work/home-$uid" && chown "$uid:$uid" "$work/home-$uid" && chmod 700 "$work/home-$uid"
  as "$uid" env $(user_env "$uid") "$BUILD/tools/zel-setup" --quiet --install-dir "$work/home-$uid/install" >/dev/null
done
home="$work/home-$auid"
read -r -a envA <<<"$(user_env "$auid")"
read -r -a envB <<<"$(user_env "$buid")"
hooked=(env "${envA[@]}" LD_PRELOAD="$BUILD/hook/libzelhook.so")
hookedB=(env "${envB[@]}" LD_PRELOAD="$BUILD/hook/libzelhook.so")

# A hooked program that made its first connection before its user's
# backstop came (it had nothing to register with then), then connects again
# once its go file is gone.
cat >"$work/early.py" <<'EOF'
import errno, os, socket, sys, time
socket.socket().connect_ex(('127.0.0.2', 7779))
open(sys.argv[2], 'w').write('asked')
for _ in range(400):
    if not os.path.exists(sys.argv[1]): break
    time.sleep(0.05)
result = socket.socket().connect_ex(('127.0.0.2', 7779))
print({0: 'passed', errno.ECONNREFUSED: 'passed', errno.EPERM: 'denied'}.get(result, 'error %d' % result))
EOF
early() { # UID HOOKED-ENV... : started in the background, its pid in early_pid
  local uid=$1 name=$2; shift 2
  touch "$work/$name.go" "$work/$name.asked" && chmod 666 "$work/$name.go" "$work/$name.asked"
  as "$uid" "$@" /usr/bin/python3 "$work/early.py" "$work/$name.go" "$work/$name.asked" >"$work/$name.out" &
  early_pid=$!
  wait_until 10 test -s "$work/$name.asked" || true
}
early "$auid" earlyA "${hooked[@]}"
earlyA=$early_pid

step "started in deny mode for uid $auid on $cg"
"$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach \
  || { rc=$?; [ $rc -eq 3 ] && skip "the kernel did not take the programs"; exit $rc; }
# The images map has BTF: its value is shown with the name as text.
key=$(printf '%08x' $$ | sed 's/\(..\)\(..\)\(..\)\(..\)/\4 \3 \2 \1/')
check yes "a process that ran before the backstop is known by its program" \
  "$(yes_no sh -c "bpftool map lookup pinned '$pinA/images' key hex $key | grep -q '\"bash\"'")"
relay_a() { # follows user A's settings whenever A's backstop decides by rules
  "$backstop" run --pin "$pinA" --socket "$sockA" --settings "$work/home-$auid/registry" >"$work/relayA.out" 2>&1 &
  relayA=$!
  wait_until 5 serving "$relayA" 0 || true
}
relay_a
# User B's hooked program asks now: user A's backstop must not take it.
early "$buid" earlyB "${hookedB[@]}"
earlyB=$early_pid

# The user's interceptor takes the notices: into the day's log, to the panel.
as_user env "${envA[@]}" ZEL_BACKSTOP_SOCKET="$sockA" "$BUILD/zelconn/zelconn" >/dev/null &
zelconn=$!
check yes "the interceptor connected" "$(yes_no wait_until 8 serving "$relayA" 1)"

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
check passed "another user's program" "$(as "$ouid" "$work/probe-static" libc 127.0.0.2 7777)"

step "hooked programs pass and are decided by the rules"
rm -f "$work/earlyA.go"
wait "$earlyA" || true
check passed "a hooked program started before the backstop" "$(cat "$work/earlyA.out")"
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
check yes "the hook's decisions are in the user's log" "$(yes_no grep -q '<REMOTEPORT>7778</REMOTEPORT>' "$log")"
check yes "the refusal is in the user's log, marked as the backstop's" \
  "$(yes_no grep -q "<EXEPATH>[^<]*probe-static</EXEPATH>.*<PERMISSION>0</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log")"

step "the service killed: the verdict stays"
kill -9 "$relayA"; wait "$relayA" 2>/dev/null || true; relayA=
check denied "a static program, no service running" "$(probe probe-static libc)"
check "zel-backstop: running" "status" "$("$backstop" status --pin "$pinA" | cut -d, -f1)"
check passed "the hooked probe" "$(as_user "${hooked[@]}" "$work/probe" libc 127.0.0.2 7777)"

step "notify mode: the same programs pass and are reported to the user"
"$backstop" start --user "$auid" --notify --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >/dev/null
relay_a
check yes "the interceptor connected again" "$(yes_no wait_until 8 serving "$relayA" 1)"
as_user /usr/bin/python3 "$work/listen.py" "$sockA" "$work/heard-1" >"$work/heard-a1.out" &
listener=$!
wait_until 5 serving "$relayA" 2 || true
check passed "a static program" "$(probe probe-static libc)"
check passed "a datagram of a set-user-ID program" "$(probe probe-setuid udp)"
wait_until 5 grep -q "probe-setuid" "$work/relayA.out" || true
touch "$work/heard-1"; wait "$listener" || true
check yes "the relay reported the static program" "$(yes_no grep -q "^passed [0-9]* 127.0.0.2 7777 TCP .*probe-static" "$work/relayA.out")"
check yes "a client of the user was told" "$(yes_no grep -q "probe-static" "$work/heard-a1.out")"
check yes "the pass is in the user's log" \
  "$(yes_no grep -q "<EXEPATH>[^<]*probe-static</EXEPATH>.*<PERMISSION>1</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log")"
check "refused 13" "another user's client cannot open the user's socket" \
  "$(setpriv --reuid=$ouid --regid=$ouid --clear-groups /usr/bin/python3 "$work/listen.py" "$sockA" "$work/heard-1" 2>&1)"
# Past the socket's permissions (as an administrator's tool could be), the
# relay still looks at who connects.
check closed "another user's client that gets past them is turned away" \
  "$(setpriv --reuid=$ouid --regid=$ouid --clear-groups --inh-caps=+dac_override --ambient-caps=+dac_override \
    /usr/bin/python3 "$work/listen.py" "$sockA" "$work/never" 2>&1)"

step "two users side by side: user $buid's backstop in deny mode beside user $auid's in notify mode"
"$backstop" start --user "$buid" --deny --cgroup "$cg" --pin "$pinB" --socket "$sockB" --detach >/dev/null
"$backstop" run --pin "$pinB" --socket "$sockB" >"$work/relayB.out" 2>&1 &
relayB=$!
wait_until 5 serving "$relayB" 0 || true
check $((2 * links)) "programs on the cgroup: each backstop's own" "$(attached)"
rm -f "$work/earlyB.go"
wait "$earlyB" || true
check passed "user B's hooked program that asked while only A's backstop ran" "$(cat "$work/earlyB.out")"
as_user /usr/bin/python3 "$work/listen.py" "$sockA" "$work/heard-2" >"$work/heard-a2.out" &
listenA=$!
as "$buid" /usr/bin/python3 "$work/listen.py" "$sockB" "$work/heard-2" >"$work/heard-b2.out" &
listenB=$!
wait_until 5 serving "$relayA" 2 || true
wait_until 5 serving "$relayB" 1 || true
check passed "user A's static program (notify)" "$(probe a-static libc)"
check denied "user B's static program (deny)" "$(as "$buid" "$work/b-static" libc 127.0.0.2 7777)"
check passed "user B's hooked probe" "$(as "$buid" "${hookedB[@]}" "$work/probe" libc 127.0.0.2 7777)"
wait_until 5 grep -q "a-static" "$work/relayA.out" || true
wait_until 5 grep -q "b-static" "$work/relayB.out" || true
touch "$work/heard-2"; wait "$listenA" "$listenB" || true
# After the mode ("state MODE"), which each client hears first.
check "passed a-static" "user A's client hears user A's program" "$(awk '$1 != "state" { print $1, $NF }' "$work/heard-a2.out" | sed 's|/.*/||')"
check "denied b-static" "user B's client hears user B's program, only" "$(awk '$1 != "state" { print $1, $NF }' "$work/heard-b2.out" | sed 's|/.*/||')"
check yes "user B's notices reach neither user A's relay nor the log" \
  "$(yes_no sh -c "! grep -q b-static '$work/relayA.out' && ! grep -q 'b-static</EXEPATH>' '$log'")"

step "user A's backstop decides by A's rules"
# A's rules: RULED may reach port 7781, not 7782, and is asked about the
# rest; every other program gets the general settings, which permit.
setting_a() { setpriv --reuid=$auid --regid=$auid --clear-groups env "${envA[@]}" "$BUILD/tools/zel-reg" "$@"; }
rulesA=$(setting_a query HKLM/Software/KORVEL/QRB /v RulesFile | sed -n 's/.*REG_SZ    //p')
app() { # NAME INDEF OUTDEF RULES...
  local name=$1 in=$2 out=$3; shift 3
  echo -n "<APPLICATION><EXENAME>$name</EXENAME><DESCRIPTION>$name</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>$in</INDEF><OUTDEF>$out</OUTDEF><RULES>$*</RULES></APPLICATION>"
}
rule() { # PERMISSION PORT [ADDRESS]
  echo -n "<RULE><RULENAME>r$2</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>$1</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS><PORT><NUMBER>$2</NUMBER>${3:+<IPS><IP>$3</IP></IPS>}</PORT></PORTS></RULE>"
}
run_a() { local name=$1; shift; as_user "$work/$name" "$@"; }
put_rules() { # DOCUMENT: written beside the file and renamed into place by the user, as the panel does
  printf '%s\n' "$1" | setpriv --reuid=$auid --regid=$auid --clear-groups sh -c 'cat >"$1.new" && mv -f "$1.new" "$1"' sh "$rulesA"
}
# And by IPv6 addresses, ranges and prefixes of both families, first match first.
by_address="$(rule DENY 7784 fd00::2)$(rule PERMIT 7784 fd00::/64)$(rule PERMIT 7784)$(rule PERMIT 7785 fd00::/64)$(rule DENY 7785)"
by_address+="$(rule DENY 7786 127.0.0.4/30)$(rule PERMIT 7786)$(rule DENY 7787 127.0.0.0/30)$(rule PERMIT 7787)"
by_address+="$(rule DENY 7788 fd00::1-fd00::3)$(rule PERMIT 7788)"
put_rules "<APPLICATIONS>$(app RULED DENY ASK "$(rule PERMIT 7781 127.0.0.2)$(rule DENY 7782)$by_address")$(app PROBE-GO DENY ASK "$(rule PERMIT 7781)$(rule DENY 7782)")$(app ANY ASK PERMIT)</APPLICATIONS>"
# A's control panel, whose alerts answer Allow once told to (the cue file).
: >"$work/alerts-a"; chown $auid "$work/alerts-a"
as_user env "${envA[@]}" QT_QPA_PLATFORM=offscreen ZEL_ALERT_PROGRAM="$BUILD/tests/scripted_alert" \
  ZEL_TEST_ALERT_SCRIPT="cue=$work/cue-a" ZEL_TEST_ALERT_RECORD="$work/alerts-a" "$BUILD/panel/zel" >"$work/panelA.out" &
panelA=$!
"$backstop" start --user "$auid" --rules --settings "$home/registry" --cgroup "$cg" --pin "$pinA" --socket "$sockA" \
  --detach >"$work/start-rules.out"
check yes "the relay follows A's rules" "$(yes_no wait_until 5 grep -q "are in force" "$work/relayA.out")"
check passed "RULED to the address and port its rule permits" "$(run_a ruled libc 127.0.0.2 7781)"
check denied "RULED to the port its rule denies" "$(run_a ruled libc 127.0.0.2 7782)"
check passed "another static program: the general settings" "$(run_a a-static libc 127.0.0.2 7782)"
if [ -n "$gobuild" ]; then
  check "passed denied" "a Go program: the port its rule permits, the one it denies" \
    "$(run_a probe-go connect 127.0.0.2 7781) $(run_a probe-go connect 127.0.0.2 7782)"
else
  echo "   skipped: a Go program (no Go compiler)"
fi
check passed "RULED to that address in IPv6 form" "$(run_a ruled libc ::ffff:127.0.0.2 7781)"
check denied "RULED to an IPv6 address its rule denies, before a prefix that holds it" "$(run_a ruled libc fd00::2 7784)"
check passed "RULED to an IPv6 prefix its rule permits" "$(run_a ruled libc fd00::2 7785)"
check denied "RULED to an IPv6 range its rule denies" "$(run_a ruled libc fd00::2 7788)"
check passed "RULED past an IPv4 prefix its rule denies" "$(run_a ruled libc 127.0.0.2 7786)"
check denied "RULED within an IPv4 prefix its rule denies" "$(run_a ruled libc 127.0.0.2 7787)"
check denied "the same, in IPv6 form" "$(run_a ruled libc ::ffff:127.0.0.2 7787)"
panel_up() { grep -qs "Korvel Personal FireWall" "$home"/runtime/windows/*/title; }
check yes "A's control panel is up" "$(yes_no wait_until 20 panel_up)"

step "ASK: refused, asked once, answered in the panel; the next attempt passes"
check "denied denied" "RULED to a port its rules ask about, twice" "$(run_a ruled libc 127.0.0.2 7783) $(run_a ruled libc 127.0.0.2 7783)"
printf 1 >"$work/cue-a.new"; chmod 644 "$work/cue-a.new"; mv -f "$work/cue-a.new" "$work/cue-a"
check yes "the panel stored the answer" "$(yes_no wait_until 10 grep -q "<NUMBER>7783</NUMBER><IPS><IP>127.0.0.2</IP>" "$rulesA")"
check passed "RULED to that port now" "$(run_a ruled until-passed 127.0.0.2 7783 1000 | tail -1 | cut -d' ' -f1)"
check 1 "questions raised" "$(grep -c "^asked [0-9]* 127.0.0.2 7783 TCP .*ruled" "$work/relayA.out" || true)"
check 1 "alerts shown" "$(grep -c "^peer	127.0.0.2" "$work/alerts-a" || true)"
check yes "the question named the program and port" "$(yes_no grep -q "ruled is trying to create outgoing connection to 127.0.0.2 through port:7783" "$work/alerts-a")"
check yes "the refusal is in A's log" \
  "$(yes_no grep -q "<EXEPATH>[^<]*ruled</EXEPATH>.*<REMOTEPORT>7783</REMOTEPORT>.*<PERMISSION>0</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log")"
if [ -n "$gobuild" ]; then
  check denied "a Go program to a port its rules ask about" "$(run_a probe-go connect 127.0.0.2 7789)"
  check yes "the panel stored the answer for it" "$(yes_no wait_until 10 grep -q "<NUMBER>7789</NUMBER><IPS><IP>127.0.0.2</IP>" "$rulesA")"
  check passed "the Go program to that port now" "$(run_a probe-go until-passed 127.0.0.2 7789 1000)"
  check yes "the question named it" "$(yes_no grep -q "probe-go is trying to create outgoing connection to 127.0.0.2 through port:7789" "$work/alerts-a")"
fi
kill "$panelA"; wait "$panelA" 2>/dev/null || true; panelA=

# Runs PROGRAM until the kernel answers WANTED, the change made meanwhile:
# how long, in milliseconds, from the change being written to that answer
# (the command that writes it starts a program, whose start-up on a loaded
# machine is not the backstop's).
time_to() { # WANTED PROGRAM PORT CHANGE...
  local wanted=$1 program=$2 port=$3; shift 3
  run_a "$program" "until-$wanted" 127.0.0.2 "$port" 3000 >"$work/until.out" &
  local waiter=$!
  wait_until 5 grep -q ready "$work/until.out" || true
  "$@"
  local start; start=$(date +%s%N)
  wait "$waiter" || true
  awk -v start="$start" -v wanted="$wanted" '$1 == wanted { t = ($2 - start) / 1000000; printf "%d", t < 0 ? 0 : t; found = 1 } END { if (!found) print "never" }' "$work/until.out"
}
within() { [ "$2" != never ] && [ "$2" -le "$1" ] && echo yes || echo "no ($2 ms)"; }
step "a change of A's rules, and Block All, reach the kernel"
took=$(time_to denied ruled 7781 put_rules "<APPLICATIONS>$(app RULED DENY ASK "$(rule DENY 7781)$(rule DENY 7782)")$(app ANY ASK PERMIT)</APPLICATIONS>")
echo "   (a rules change: $took ms)"
check yes "RULED refused its port within 1 s of the change" "$(within 1000 "$took")"
took=$(time_to denied a-static 7783 setting_a add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 0)
echo "   (Block All: $took ms)"
check yes "Block All refuses another static program within 100 ms" "$(within 100 "$took")"
setting_a add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 >/dev/null
check passed "Block All off: the general settings again" "$(run_a a-static until-passed 127.0.0.2 7783 2000 | tail -1 | cut -d' ' -f1)"

step "A's rules are read as A, and only whole"
# A rules file only root may read, that would permit RULED: A may point the
# setting at it, through a link, but the backstop reads as A and cannot.
echo "<APPLICATIONS>$(app RULED DENY PERMIT)</APPLICATIONS>" >"$work/root-only.xml"
chmod 600 "$work/root-only.xml"
setpriv --reuid=$auid --regid=$auid --clear-groups ln -sfn "$work/root-only.xml" "$rulesA"
check yes "the link to a file A cannot read is refused" "$(yes_no wait_until 5 grep -q "cannot be read as the user (Permission denied)" "$work/relayA.out")"
check denied "RULED, by the rules in force" "$(run_a ruled libc 127.0.0.2 7782)"
setpriv --reuid=$auid --regid=$auid --clear-groups rm -f "$rulesA"
put_rules "<APPLICATIONS><APPLICATION><EXENAME>RULED</EXENAME><INDEF>DENY</INDEF><OUTDEF>PERMIT"
check yes "a file that does not parse is not used" "$(yes_no wait_until 5 grep -q "is not used: it does not parse" "$work/relayA.out")"
check denied "RULED, by the rules in force" "$(run_a ruled libc 127.0.0.2 7782)"
# An attack: 8 MB of empty elements made the service build 600 MB at each
# rewrite. The reader, as A, refuses them; the service neither grows nor
# lets go of the rules in force, which permit every other program.
in_force=$(grep -c "are in force" "$work/relayA.out" || true)
put_rules "<APPLICATIONS>$(app RULED DENY ASK "$(rule DENY 7782)")$(app ANY ASK PERMIT)</APPLICATIONS>"
wait_until 5 sh -c "[ \$(grep -c 'are in force' '$work/relayA.out') -gt $in_force ]" || true
python3 -c 'import sys; sys.stdout.write("<APPLICATIONS>" + "<a/>" * (2 << 20) + "</APPLICATIONS>\n")' >"$work/elements.xml"
chmod 644 "$work/elements.xml"
setpriv --reuid=$auid --regid=$auid --clear-groups sh -c 'cat "$1" >"$2.new" && mv -f "$2.new" "$2"' sh "$work/elements.xml" "$rulesA"
check yes "8 MB of empty elements are not used" \
  "$(yes_no wait_until 10 grep -q "is not used: it holds more than the limit of 250000 elements" "$work/relayA.out")"
check passed "another static program, by the rules in force" "$(run_a a-static libc 127.0.0.2 7783)"
check yes "the service runs on" "$(yes_no kill -0 "$relayA")"
peak=$(awk '/^VmHWM:/ { print $2 }' "/proc/$relayA/status")
echo "   (the service's peak: $peak kB)"
check yes "the service's peak memory stayed under 64 MB" "$([ "${peak:-999999}" -lt 65536 ] && echo yes || echo "no ($peak kB)")"
check "rules for uid $auid" "status" "$("$backstop" status --pin "$pinA" | cut -d, -f2 | sed 's/^ //')"

step "entries bound to a path: the file there, not its name"
# BOUND may reach 7790 from its path alone; CHECKED too, while its file is
# the one checked; every other program is asked about.
bound_app() { # NAME PATH HASH RULES...
  local name=$1 path=$2 hash=$3; shift 3
  app "$name" DENY ASK "$@" | sed "s|<ISSERVICE>|<APPPATH>$path</APPPATH><BYPATH>1</BYPATH>${hash:+<FILEHASH>$hash</FILEHASH>}<ISSERVICE>|"
}
checked_hash="sha256:$(sha256sum "$work/bin/checked" | cut -d' ' -f1)"
in_force=$(grep -c "are in force" "$work/relayA.out" || true)
put_rules "<APPLICATIONS>$(bound_app BOUND "$work/bin/bound" "" "$(rule PERMIT 7790)")$(bound_app CHECKED "$work/bin/checked" "$checked_hash" "$(rule PERMIT 7790)")$(app ANY ASK ASK)</APPLICATIONS>"
wait_until 5 sh -c "[ \$(grep -c 'are in force' '$work/relayA.out') -gt $in_force ]" || true
check passed "the bound program at its path" "$(as_user "$work/bin/bound" libc 127.0.0.2 7790)"
check denied "a copy of it elsewhere" "$(as_user "$work/copy/bound" libc 127.0.0.2 7790)"
check yes "the copy was asked about" \
  "$(yes_no wait_until 5 grep -q "^asked [0-9]* 127.0.0.2 7790 TCP .*bound$" "$work/relayA.out")"
check passed "the checked program, unchanged" "$(as_user "$work/bin/checked" libc 127.0.0.2 7790)"
printf 'x' >>"$work/bin/checked"
check denied "the checked program written in place: asked at once" "$(as_user "$work/bin/checked" libc 127.0.0.2 7790)"
check yes "its question was raised" "$(yes_no wait_until 5 grep -q "^asked [0-9]* 127.0.0.2 7790 TCP .*checked$" "$work/relayA.out")"
cp "$work/probe-static" "$work/bin/bound.new" && mv -f "$work/bin/bound.new" "$work/bin/bound"
check passed "another file put at the bound path: still its entry (no content check)" \
  "$(as_user "$work/bin/bound" until-passed 127.0.0.2 7790 2000 | tail -1 | cut -d' ' -f1)"
cp "$work/probe-static" "$work/bin/checked.new" && mv -f "$work/bin/checked.new" "$work/bin/checked"
check denied "the checked file replaced by the one checked: asked until it has settled" \
  "$(as_user "$work/bin/checked" libc 127.0.0.2 7790)"
check passed "... and then trusted again" "$(as_user "$work/bin/checked" until-passed 127.0.0.2 7790 5000 | tail -1 | cut -d' ' -f1)"
# Rules with no bound entry let a connect skip looking for its file; the
# generation they left is looked in again when bound entries come back (the
# file put at the path above may still be settling: asked until it has).
bound_rules="<APPLICATIONS>$(bound_app BOUND "$work/bin/bound" "" "$(rule PERMIT 7790)")$(app ANY ASK ASK)</APPLICATIONS>"
for rules_now in "<APPLICATIONS>$(app ANY ASK ASK)</APPLICATIONS>" "$bound_rules" "<APPLICATIONS>$(app ANY ASK ASK)</APPLICATIONS>" "$bound_rules"; do
  put_rules "$rules_now"
  in_force=$((in_force + 1))
  wait_until 5 sh -c "[ \$(grep -c 'are in force' '$work/relayA.out') -gt $in_force ]" || true
done
check "passed denied" "bound entries again after rules without: the file at the path, not a copy" \
  "$(as_user "$work/bin/bound" until-passed 127.0.0.2 7790 5000 | tail -1 | cut -d' ' -f1) $(as_user "$work/copy/bound" libc 127.0.0.2 7790)"

step "what comes in for a program the hook is not in"
# SERVER accepts connections from 127.0.0.3 on 7792, refuses the rest; its
# datagrams likewise. Server and peers share a network namespace; the peers
# are a user with no backstop.
put_rules "<APPLICATIONS>$(app SERVER DENY PERMIT "$(rule PERMIT 7792 127.0.0.3 | sed 's/OUTGOING/INCOMING/')$(rule PERMIT 7793 127.0.0.3 | sed 's/OUTGOING/INCOMING/')")$(app ANY ASK PERMIT)</APPLICATIONS>"
wait_until 5 sh -c "[ \$(grep -c 'are in force' '$work/relayA.out') -gt $((in_force + 1)) ]" || true
# Serves as A for a while, lets the other user knock, and prints what each saw.
served() { # tcp|udp PORT KNOCKS...: each knock "FROM"
  local kind=$1 port=$2; shift 2
  sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n "$@"' sh "$cg" sh -c '
    ip link set lo up
    kind=$1 port=$2 server=$3 auid=$4 ouid=$5; shift 5
    setpriv --reuid=$auid --regid=$auid --clear-groups "$server" serve-$kind 127.0.0.2 $port 2500 >"$server.out" 2>&1 &
    for _ in $(seq 1 100); do grep -q ready "$server.out" 2>/dev/null && break; sleep 0.02; done
    for from in "$@"; do
      echo "$from $(setpriv --reuid=$ouid --regid=$ouid --clear-groups "$server" knock-$kind 127.0.0.2 $port $from 700 | tr "\n" " ")"
    done
    wait
    cat "$server.out"' sh "$kind" "$port" "$work/server" "$auid" "$ouid" "$@"
}
tcp=$(served tcp 7792 127.0.0.3 127.0.0.4)
echo "$tcp" | sed 's/^/   | /'
check "connected 5" "a permitted peer connects" "$(echo "$tcp" | sed -n 's/^127.0.0.3 \(connected [0-9]*\).*/\1/p')"
check "timeout" "a refused peer's connection is dropped" "$(echo "$tcp" | sed -n 's/^127.0.0.4 \([a-z]*\).*/\1/p')"
check "accepted 127.0.0.3 read 5" "the server took the permitted peer and read what it sent, and nothing of the other" \
  "$(echo "$tcp" | grep '^accepted' | tr '\n' ' ' | sed 's/ $//')"
udp=$(served udp 7793 127.0.0.3 127.0.0.4)
check "datagram 127.0.0.3 5" "the server received the permitted peer's datagram only" \
  "$(echo "$udp" | grep '^datagram' | tr '\n' ' ' | sed 's/ $//')"
check yes "the refusal was noticed, with both ports" \
  "$(yes_no wait_until 5 grep -q "^denied-in [0-9]* 127.0.0.4 [0-9]* 7792 TCP .*server" "$work/relayA.out")"
check yes "and recorded in A's log as incoming" \
  "$(yes_no wait_until 5 grep -q "<EXEPATH>[^<]*server</EXEPATH>.*<DIRECTION>0</DIRECTION><IP>127.0.0.4</IP><LOCALPORT>7792</LOCALPORT>.*<PERMISSION>0</PERMISSION>.*<BACKSTOP>1</BACKSTOP>" "$log")"

# An attack: a socket that listens without a bind, or sends a datagram the
# kernel refuses, is given a port by the kernel without being bound; neither
# may take in what the program's rules refuse.
unbound=$(sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n "$@"' sh "$cg" sh -c '
  ip link set lo up
  server=$1 auid=$2 ouid=$3
  setpriv --reuid=$auid --regid=$auid --clear-groups "$server" serve-tcp 0.0.0.0 0 1500 >"$server.out" 2>&1 &
  for _ in $(seq 1 100); do grep -q ready "$server.out" 2>/dev/null && break; sleep 0.02; done
  port=$(sed -n "s/^ready //p" "$server.out")
  echo "knock $(setpriv --reuid=$ouid --regid=$ouid --clear-groups "$server" knock-tcp 127.0.0.2 "${port:-1}" 127.0.0.4 700 | head -1)"
  wait
  cat "$server.out"' sh "$work/server" "$auid" "$ouid")
check "timeout" "a refused peer of a server listening without a bind" "$(echo "$unbound" | sed -n 's/^knock \([a-z]*\).*/\1/p')"
check "" "what that server accepted" "$(echo "$unbound" | grep '^accepted' || true)"
cat >"$work/refused-send.py" <<'EOF'
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
try:
    s.sendto(b'x', ('127.0.0.3', 7794))
except PermissionError:
    pass
print('port %d' % s.getsockname()[1], flush=True)
s.settimeout(1.0)
try:
    data, peer = s.recvfrom(64)
    print('datagram %s %d' % (peer[0], len(data)), flush=True)
except socket.timeout:
    print('none', flush=True)
EOF
cp /usr/bin/python3 "$work/server-py"
put_rules "<APPLICATIONS>$(app SERVER-PY DENY DENY)$(app ANY ASK PERMIT)</APPLICATIONS>"
wait_until 5 sh -c "[ \$(grep -c 'are in force' '$work/relayA.out') -gt $((in_force + 2)) ]" || true
udp_refused=$(sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n "$@"' sh "$cg" sh -c '
  ip link set lo up
  python=$1 script=$2 knocker=$3 auid=$4 ouid=$5
  setpriv --reuid=$auid --regid=$auid --clear-groups "$python" -S "$script" >"$script.out" 2>&1 &
  for _ in $(seq 1 100); do grep -q port "$script.out" 2>/dev/null && break; sleep 0.02; done
  port=$(sed -n "s/^port //p" "$script.out")
  setpriv --reuid=$ouid --regid=$ouid --clear-groups "$knocker" knock-udp 127.0.0.2 "${port:-1}" 127.0.0.4 100 >/dev/null
  wait
  cat "$script.out"' sh "$work/server-py" "$work/refused-send.py" "$work/server" "$auid" "$ouid")
echo "$udp_refused" | sed 's/^/   | /'
check none "a datagram to the port a refused send left a program" "$(echo "$udp_refused" | tail -1)"

# An attack: peers that knock from many addresses (as one with an IPv6
# prefix can) on a port the rules ask about raise one question for it, not
# one each, lest they bury the user's log and other notices.
knocks=$(sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n "$@"' sh "$cg" sh -c '
  ip link set lo up
  server=$1 auid=$2 ouid=$3
  for port in 7795 7796; do
    setpriv --reuid=$auid --regid=$auid --clear-groups "$server" serve-tcp 127.0.0.2 $port 2500 >"$server.$port" 2>&1 &
  done
  for _ in $(seq 1 100); do grep -qs ready "$server.7795" && grep -qs ready "$server.7796" && break; sleep 0.02; done
  for i in $(seq 10 39); do
    setpriv --reuid=$ouid --regid=$ouid --clear-groups "$server" knock-tcp 127.0.0.2 7795 127.0.0.$i 10
  done
  setpriv --reuid=$ouid --regid=$ouid --clear-groups "$server" knock-tcp 127.0.0.2 7796 127.0.0.40 10
  wait' sh "$work/server" "$auid" "$ouid" | sort | uniq -c | tr -s ' ')
echo "   (the knocks: $knocks)"
wait_until 5 grep -q "^asked-in [0-9]* 127.0.0.40 [0-9]* 7796 TCP" "$work/relayA.out" || true
check 1 "questions raised by 30 peers' knocks on one port" "$(grep -c "^asked-in [0-9]* [0-9.]* [0-9]* 7795 TCP" "$work/relayA.out" || true)"

step "user A's backstop stopped: user B's stays whole"
"$backstop" stop --pin "$pinA" >/dev/null
check yes "user A's relay ended and took its socket" "$(yes_no wait_until 3 sh -c "! kill -0 $relayA 2>/dev/null && [ ! -e '$sockA' ]")"
wait "$relayA" 2>/dev/null || true; relayA=
check none "user A's pins" "$(pinned "$pinA")"
check $links "programs on the cgroup" "$(attached)"
check 1 "backstops' tracing programs" "$(tracing)"
check "zel-backstop: running, deny for uid $buid" "user B's status" "$("$backstop" status --pin "$pinB" | cut -d, -f1,2)"
check passed "user A's static program" "$(probe probe-static libc)"
check denied "user B's static program" "$(as "$buid" "$work/b-static-2" libc 127.0.0.2 7777)"
check yes "user B's relay reported it" "$(yes_no wait_until 5 grep -q "^denied .*b-static-2" "$work/relayB.out")"

check 3 "user A's backstop started in user B's folder: refused" \
  "$("$backstop" start --user "$auid" --notify --cgroup "$cg" --pin "$pinB" --socket "$sockA" --detach >/dev/null 2>&1; echo $?)"
check "3 none $links" "a start that cannot attach (no such cgroup): its status, what it left" \
  "$("$backstop" start --user "$auid" --deny --cgroup "$cg/none" --pin "$pinA" --detach >/dev/null 2>&1; echo $?) $(pinned "$pinA") $(attached)"
check "zel-backstop: running, deny for uid $buid" "user B's backstop after both" "$("$backstop" status --pin "$pinB" | cut -d, -f1,2)"

step "20 starts and stops of user A's backstop at once"
racers=()
for i in $(seq 1 20); do
  "$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >"$work/race-start-$i" 2>&1 &
  racers+=($!)
  "$backstop" stop --pin "$pinA" >"$work/race-stop-$i" 2>&1 &
  racers+=($!)
done
failures=0
for pid in "${racers[@]}"; do wait "$pid" || failures=$((failures + 1)); done
check 0 "commands that failed" "$failures"
# Under the lock each start that attached went from nothing to whole, each
# stop that removed from whole to nothing: what they said adds up to the end.
made=$(cat "$work"/race-start-* | grep -c "pinned in" || true)
removed=$(cat "$work"/race-stop-* | grep -c "stopped for" || true)
"$backstop" status --pin "$pinA" >/dev/null && end=whole || { rc=$?; [ $rc -eq 3 ] && end=none || end="status $rc"; }
case $((made - removed)) in 1) told=whole ;; 0) told=none ;; *) told="$made attached but $removed removed" ;; esac
check "$told" "the end, as the $made starts that attached and $removed stops that removed told it" "$end"
check "$([ "$end" = whole ] && echo $((2 * links)) || echo $links)" "programs on the cgroup" "$(attached)"
check "$([ "$end" = whole ] && echo 2 || echo 1)" "backstops' tracing programs" "$(tracing)"
"$backstop" stop --pin "$pinA" >/dev/null
check "none $links 1" "stopped after the race" "$(pinned "$pinA") $(attached) $(tracing)"
check "zel-backstop: running" "user B's backstop through it all" "$("$backstop" status --pin "$pinB" | cut -d, -f1)"

step "a start or stop killed midway does not stand in the next one's way"
if command -v strace >/dev/null; then
  # Killed at its Nth call of the kernel's BPF interface, counted from a whole start.
  calls=$(strace -qq -o /dev/stdout -e trace=bpf "$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" \
    --socket "$sockA" --detach | grep -c '^bpf(' || true)
  "$backstop" stop --pin "$pinA" >/dev/null
  for back in 2 9 16; do
    at=$((calls - back))
    { strace -qq -o /dev/null -e trace=bpf -e inject=bpf:signal=KILL:when=$at "$backstop" start --user "$auid" --deny \
      --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >/dev/null; } 2>/dev/null || true
    left=$(ls "$pinA" 2>/dev/null | wc -l)
    check passed "user A's static program after a start killed at call $at of $calls ($left pins left)" "$(probe probe-static libc)"
    "$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >/dev/null
    check "denied $((2 * links)) 2" "the next start: whole" "$(probe probe-static libc) $(attached) $(tracing)"
    "$backstop" stop --pin "$pinA" >/dev/null
  done
  "$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >/dev/null
  { strace -qq -o /dev/null -e trace=unlink -e inject=unlink:signal=KILL:when=4 "$backstop" stop --pin "$pinA" >/dev/null; } 2>/dev/null || true
  check "passed 4" "a stop killed midway has already lifted the verdict (status)" \
    "$(probe probe-static libc) $("$backstop" status --pin "$pinA" >/dev/null 2>&1; echo $?)"
  "$backstop" stop --pin "$pinA" >/dev/null
  check "none $links 1" "the next stop: nothing left" "$(pinned "$pinA") $(attached) $(tracing)"
else
  echo "   skipped: strace is not installed"
fi

step "stop removes only what the backstop pinned"
"$backstop" start --user "$auid" --deny --cgroup "$cg" --pin "$pinA" --socket "$sockA" --detach >/dev/null
bpftool map create "$pinA/foreign" type array key 4 value 4 entries 1 name foreign
said=$("$backstop" stop --pin "$pinA")
check "foreign" "what is left in the folder" "$(ls "$pinA" | tr '\n' ' ' | sed 's/ $//')"
check yes "stop says the folder was kept" "$(yes_no grep -q "kept" <<<"$said")"
check "$links 1" "programs on the cgroup; tracing programs" "$(attached) $(tracing)"
rm -f "$pinA/foreign"; rmdir "$pinA"

step "closed clients free their place at once"
cat >"$work/clients.py" <<'EOF'
import os, socket, sys, time
path, relay, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
def is_socket(fd):
    try:
        return os.readlink(fd).startswith('socket:')
    except OSError: # closed since the folder was read
        return False
def clients():
    fds = '/proc/%s/fd/' % relay
    return sum(is_socket(fds + fd) for fd in os.listdir(fds)) - 1
def until(want):
    end = time.time() + 2
    while time.time() < end:
        if clients() == want: return True
        time.sleep(0.005)
    return False
before, served, freed = clients(), 0, 0
for _ in range(rounds):
    c = socket.socket(socket.AF_UNIX); c.connect(path)
    served += until(before + 1)
    c.close()
    freed += until(before)
print(served, freed)
EOF
check "20 20" "of 20 clients in turn: taken, and let go when they closed" \
  "$(/usr/bin/python3 "$work/clients.py" "$sockB" "$relayB" 20)"
as "$buid" /usr/bin/python3 "$work/listen.py" "$sockB" "$work/heard-3" >"$work/heard-b3.out" &
listenB=$!
wait_until 5 serving "$relayB" 1 || true
as "$buid" "$work/b-static-3" libc 127.0.0.2 7777 >/dev/null
wait_until 5 grep -q "b-static-3" "$work/relayB.out" || true
touch "$work/heard-3"; wait "$listenB" || true
check yes "the 21st hears the next notice" "$(yes_no grep -q "b-static-3" "$work/heard-b3.out")"

step "the system services: root's and the system users' programs, by the machine's rules"
# A uid below the first ordinary one, with no account; and an ordinary one.
suid=987 nuid=1500
while getent passwd "$suid" >/dev/null; do suid=$((suid - 1)); done
mkdir -p "$work/machine" && chmod 755 "$work/machine"
for name in svc-refused svc-other; do cp "$work/probe-static" "$work/$name"; done
service_app() { app "$@" | sed 's|<ISSERVICE>0|<ISSERVICE>1|'; }
printf '%s\n' "<APPLICATIONS>$(service_app SVC-REFUSED DENY DENY "")$(app SVC-OTHER DENY DENY "")$(service_app ANY PERMIT PERMIT "")</APPLICATIONS>" \
  >"$work/machine/Rules.xml"
chmod 644 "$work/machine/Rules.xml"
pinS="$pins/services" sockS="$work/services.sock"
"$backstop" stop --pin "$pinB" >/dev/null # its user is no ordinary one either
"$backstop" start --services --rules "$work/machine/Rules.xml" --cgroup "$cg" --pin "$pinS" --socket "$sockS" \
  --log "$work/services-log" --detach >"$work/start-services.out"
"$backstop" run --pin "$pinS" --rules "$work/machine/Rules.xml" --socket "$sockS" --log "$work/services-log" \
  >"$work/relayS.out" 2>&1 &
relayS=$!
check yes "the services' relay follows the machine's rules" "$(yes_no wait_until 5 grep -q "are in force" "$work/relayS.out")"
check "running, rules for the system services" "status" "$("$backstop" status --pin "$pinS" | cut -d, -f1,2 | sed 's/^zel-backstop: //')"
check denied "a system user's program its service entry refuses" "$(as "$suid" "$work/svc-refused" libc 127.0.0.2 7777)"
check denied "the same program of root" "$(as 0 "$work/svc-refused" libc 127.0.0.2 7777)"
check passed "another: the shipped default permits it" "$(as "$suid" "$work/svc-other" libc 127.0.0.2 7777)"
check passed "an ordinary user's program: left to its own" "$(as "$nuid" "$work/svc-refused" libc 127.0.0.2 7777)"
slog() { cat "$work"/services-log/*_qrb.log 2>/dev/null; }
check yes "the pass is recorded in the services' own log, marked as a service's" \
  "$(yes_no wait_until 5 sh -c "cat '$work'/services-log/*_qrb.log 2>/dev/null | grep -q '<EXEPATH>[^<]*svc-other</EXEPATH>.*<PERMISSION>1</PERMISSION><SERVICE>1</SERVICE>'")"
check yes "the refusal too" "$(yes_no grep -q '<EXEPATH>[^<]*svc-refused</EXEPATH>.*<PERMISSION>0</PERMISSION><SERVICE>1</SERVICE>' <<<"$(slog)")"
check yes "and in the journal" "$(yes_no grep -q "^denied [0-9]* 127.0.0.2 7777 TCP .*svc-refused" "$work/relayS.out")"
check "refused 13" "an ordinary user cannot hear the services' notices" \
  "$(setpriv --reuid=$ouid --regid=$ouid --clear-groups /usr/bin/python3 "$work/listen.py" "$sockS" "$work/never" 2>&1)"
# An attack: a socket made while the hook was in the program (registered,
# so nothing noted of it), kept across an exec into a program the hook is
# not in, which listens on it without a bind.
mkdir -p "$work/pyexec" && cp /usr/bin/python3 "$work/pyexec/svc-refused"
cat >"$work/exec-listen.py" <<'EOF2'
import os, socket, sys
if len(sys.argv) == 1:
    socket.socket().setsockopt(0x5a454c, 1, 1)  # registered, as the hook does
    s = socket.socket()
    s.set_inheritable(True)
    os.execv(sys.executable, [sys.executable, '-S', sys.argv[0], str(s.fileno())])
s = socket.socket(fileno=int(sys.argv[1]))
s.listen()
print('port %d' % s.getsockname()[1], flush=True)
s.settimeout(1.5)
try:
    print('accepted %s' % s.accept()[1][0], flush=True)
except socket.timeout:
    print('none', flush=True)
EOF2
exec_listen=$(sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec unshare -n "$@"' sh "$cg" sh -c '
  ip link set lo up
  python=$1 script=$2 knocker=$3 suid=$4 ouid=$5
  setpriv --reuid=$suid --regid=$suid --clear-groups "$python" -S "$script" >"$script.out" 2>&1 &
  for _ in $(seq 1 100); do grep -q port "$script.out" 2>/dev/null && break; sleep 0.02; done
  port=$(sed -n "s/^port //p" "$script.out")
  echo "knock $(setpriv --reuid=$ouid --regid=$ouid --clear-groups "$knocker" knock-tcp 127.0.0.2 "${port:-1}" 127.0.0.4 700 | head -1)"
  wait
  cat "$script.out"' sh "$work/pyexec/svc-refused" "$work/exec-listen.py" "$work/server" "$suid" "$ouid")
echo "$exec_listen" | sed 's/^/   | /'
check "timeout none" "a socket made hooked, listened on after an exec: what its entry refuses" \
  "$(echo "$exec_listen" | sed -n 's/^knock \([a-z]*\).*/\1/p') $(echo "$exec_listen" | tail -1)"
chmod 666 "$work/machine/Rules.xml"
check yes "a machine's rules file others may write is not used" \
  "$(yes_no wait_until 5 grep -q "may be written by others than root" "$work/relayS.out")"
check denied "the rules in force stay" "$(as "$suid" "$work/svc-refused" libc 127.0.0.2 7777)"
kill "$relayS"; wait "$relayS" 2>/dev/null || true
"$backstop" stop --pin "$pinS" >/dev/null
check none "the services' pins" "$(pinned "$pinS")"

step "stopped: nothing stays attached or pinned"
kill "$relayB" 2>/dev/null || true; wait "$relayB" 2>/dev/null || true; relayB=
"$backstop" stop --pin "$pinB" >/dev/null
check "none none" "pins" "$(pinned "$pinB") $(pinned "$pins/$auid")"
check 0 "programs on the cgroup" "$(attached)"
check 0 "tracing programs" "$(wait_until 2 sh -c "[ \$(bpftool prog show name on_fork | grep -c '^[0-9]') -eq $tracing_before ]"; tracing)"
check passed "a static program of user B" "$(as "$buid" "$work/probe-static" libc 127.0.0.2 7777)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
exit 0

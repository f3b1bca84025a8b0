#!/usr/bin/env bash
# What the kernel backstop adds to a connection: loopback connects (to a
# closed port) by the covered user, in a cgroup of their own, without the
# backstop, with it (the program registered, as hooked programs are), and
# with it deciding the program by the user's rules (not registered, as a
# program the hook is not in: 1,000 compiled entries of its own on the
# connection's port, each an address range the peer is not in, then its
# default, which permits), alternated ROUNDS times; medians, and the
# kernel's own count of the time the connect program ran. With OTHERS, a
# fourth measure: registered, with the backstops of OTHERS other users
# beside it (each user has one of their own; the kernel runs them all on
# every connect). Last, how long a change of the rules file takes to reach
# the kernel: from the rename to the first connect decided by it.
#   bench/backstop_cost.sh BUILD [ROUNDS] [CONNECTS] [OTHERS]      (as root)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
ROUNDS=${2:-5}
COUNT=${3:-100000}
OTHERS=${4:-0}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }
backstop="$BUILD/backstop/zel-backstop"
[ -x "$backstop" ] || { echo "SKIP: zel-backstop not built"; exit 0; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cg2=$(awk '{ for (i = 1; i <= NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") print $5; break } }' /proc/self/mountinfo | head -1)
cg="$cg2/zel-backstop-cost-$$"
pin="/sys/fs/bpf/zel-backstop-cost-$$"
work=$(mktemp -d)
chmod 755 "$work"
relay=
others() { # start|stop
  for ((other = 1; other <= OTHERS; other++)); do
    if [ "$1" = start ]; then
      "$backstop" start --user $((64900 + other)) --deny --cgroup "$cg" --pin "$pin-other-$other" --socket "$work/sock" --detach >/dev/null
    else
      "$backstop" stop --pin "$pin-other-$other" >/dev/null 2>&1 || true
    fi
  done
}
cleanup() {
  [ -z "$relay" ] || kill "$relay" 2>/dev/null || true
  "$backstop" stop --pin "$pin" >/dev/null 2>&1 || true
  others stop
  for _ in 1 2 3 4 5; do rmdir "$cg" 2>/dev/null && break; sleep 0.2; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$cg"
gcc -O2 -I"$source_dir" -o "$work/connect" "$source_dir/bench/backstop_connect.c"
# The prober under the program's name, so that its rules decide it.
mkdir "$work/prober"
gcc -O2 -static -o "$work/prober/connect" "$source_dir/tests/backstop/probe.c" -luring
uid=64996
as_user() { sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec setpriv --reuid='"$uid"' --regid='"$uid"' --clear-groups "$@"' sh "$cg" "$@"; }
run() { as_user "$work/connect" "$COUNT" "$@"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The user's settings: the rules of the program "connect", written as the user.
home="$work/home" registry="$work/home/registry"
mkdir -p "$home" && chown "$uid:$uid" "$home"
reg() { setpriv --reuid=$uid --regid=$uid --clear-groups env HOME="$home" ZEL_REGISTRY_ROOT="$registry" "$BUILD/tools/zel-reg" "$@" >/dev/null; }
reg add HKLM/Software/KORVEL/QRB /v RulesFile /d "$home/Rules.xml"
reg add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1
rules_file() { # FIRST-PERMISSION: 1,000 entries; the first, on every port, covers 127.0.0.2 when DENY
  {
    echo -n "<APPLICATIONS><APPLICATION><EXENAME>CONNECT</EXENAME><DESCRIPTION>c</DESCRIPTION><ISSERVICE>0</ISSERVICE>"
    echo -n "<INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>"
    echo -n "<RULE><RULENAME>switch</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>$1</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE>"
    echo -n "<PORTS><PORT><NUMBER>0</NUMBER><IPS><IP>$([ "$1" = DENY ] && echo 127.0.0.2 || echo 10.255.0.1)</IP></IPS></PORT></PORTS></RULE>"
    for ((i = 1; i < 1000; i++)); do
      echo -n "<RULE><RULENAME>r$i</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE>"
      echo -n "<PORTS><PORT><NUMBER>9</NUMBER><IPS><IP>10.$((i / 250)).$((i % 250)).1-10.$((i / 250)).$((i % 250)).9</IP></IPS></PORT></PORTS></RULE>"
    done
    echo "</RULES></APPLICATION></APPLICATIONS>"
  } >"$work/Rules-$1.xml"
  chown "$uid:$uid" "$work/Rules-$1.xml"
}
rules_file PERMIT
rules_file DENY
stage() { cp -p "$work/Rules-$1.xml" "$home/Rules.new"; } # beside the file, as the panel writes it
put() { mv -f "$home/Rules.new" "$home/Rules.xml"; }      # and renamed into place
stage PERMIT && put

: >"$work/without"; : >"$work/with"; : >"$work/rules"; : >"$work/beside"
for ((round = 0; round < ROUNDS; round++)); do
  run register >>"$work/without"
  "$backstop" start --user "$uid" --deny --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
  run register >>"$work/with"
  if [ "$OTHERS" -gt 0 ]; then
    others start
    run register >>"$work/beside"
    others stop
  fi
  "$backstop" stop --pin "$pin" >/dev/null
  "$backstop" start --user "$uid" --rules --settings "$registry" --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
  run >>"$work/rules"
  "$backstop" stop --pin "$pin" >/dev/null
done
# The kernel's count, in rounds of their own: counting costs time too.
count_connect() { # what the connect program, and the one that notes each new socket, took a run
  local stats made
  if sysctl -qw kernel.bpf_stats_enabled=1 2>/dev/null; then
    run "$@" >/dev/null
    stats=$(bpftool prog show name connect4 2>/dev/null | grep -o 'run_time_ns [0-9]* run_cnt [0-9]*' | tail -1 || true)
    made=$(bpftool prog show name sock_create 2>/dev/null | grep -o 'run_time_ns [0-9]* run_cnt [0-9]*' | tail -1 || true)
    sysctl -qw kernel.bpf_stats_enabled=0
    [ -z "$stats" ] || echo "$stats" | awk '{ printf "%.0f ns a run over %d runs", $2 / $4, $4 }'
    [ -z "$made" ] || echo "$made" | awk '{ printf " (a new socket: %.0f ns a run)", $2 / $4 }'
  fi
}
"$backstop" start --user "$uid" --deny --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
registered_stats=$(count_connect register)
"$backstop" stop --pin "$pin" >/dev/null
"$backstop" start --user "$uid" --rules --settings "$registry" --cgroup "$cg" --pin "$pin" --socket "$work/sock" --detach >/dev/null
rules_stats=$(count_connect)

# A rules change, as the panel makes it (a file renamed into place), with
# the service following the user's settings: the time from the rename to
# the first connect the kernel decides by the new rules.
"$backstop" run --pin "$pin" --socket "$work/sock" --settings "$registry" >"$work/relay.out" 2>&1 &
relay=$!
for _ in $(seq 1 100); do grep -q "are in force" "$work/relay.out" && break; sleep 0.05; done
: >"$work/changes"
for ((change = 0; change < 10; change++)); do
  if ((change % 2 == 0)); then wanted=denied permission=DENY; else wanted=passed permission=PERMIT; fi
  as_user "$work/prober/connect" "until-$wanted" 127.0.0.2 9 3000 >"$work/until" &
  waiter=$!
  for _ in $(seq 1 100); do grep -q ready "$work/until" && break; sleep 0.01; done
  stage "$permission"
  start=$(date +%s%N)
  put
  wait "$waiter"
  awk -v start="$start" -v wanted="$wanted" '$1 == wanted { printf "%.1f\n", ($2 - start) / 1e6 }' "$work/until" >>"$work/changes"
done

without=$(median <"$work/without")
with=$(median <"$work/with")
rules=$(median <"$work/rules")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
echo "loopback connect by the covered user (median of $ROUNDS rounds of $COUNT):"
echo "  without the backstop: ${without} ns  ($(tr '\n' ' ' <"$work/without"))"
echo "  registered:           ${with} ns, ratio $(ratio "$with" "$without")  ($(tr '\n' ' ' <"$work/with"))"
echo "  by 1,000 rules:       ${rules} ns, ratio $(ratio "$rules" "$without")  ($(tr '\n' ' ' <"$work/rules"))"
if [ "$OTHERS" -gt 0 ]; then
  beside=$(median <"$work/beside")
  echo "  registered, $OTHERS other users' backstops beside it: ${beside} ns: ratio to it alone $(ratio "$beside" "$with")  ($(tr '\n' ' ' <"$work/beside"))"
fi
[ -z "$registered_stats" ] || echo "  the connect program itself, registered: $registered_stats"
[ -z "$rules_stats" ] || echo "  the connect program itself, by 1,000 rules: $rules_stats"
echo "a rules change to the kernel's decision: $(sort -n "$work/changes" | median) ms median, $(sort -n "$work/changes" | tail -1) ms at most, over $(wc -l <"$work/changes") changes"

#!/usr/bin/env bash
# The kernel layer fully loaded, on a connect of a program the hook is not
# in: loopback connects (to a closed port) by an ordinary user, in a cgroup
# of the benchmark's own, with no backstop, then with that user's backstop
# deciding by 1,000 rules of the program's own (none matching, then its
# default, which permits) and the system services' backstop beside it with
# 1,000 service rules; alternated ROUNDS times, medians and their ratio. A
# system user's connect, decided by the services' 1,000 rules, is measured
# the same way. Last, the kernel memory a covered user costs: what the
# kernel charges for one user's pinned maps and programs (bpftool's
# memlock), and the growth of the kernel's used memory (/proc/meminfo)
# over OTHERS further users' backstops, per user.
#   bench/backstop_services_cost.sh BUILD [ROUNDS] [CONNECTS] [OTHERS]      (as root)
# Everything it loads is in its own cgroup and pin folder, and is stopped
# and removed when it ends.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
ROUNDS=${2:-5}
COUNT=${3:-100000}
OTHERS=${4:-10}
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 0; }
backstop="$BUILD/backstop/zel-backstop"
[ -x "$backstop" ] || { echo "SKIP: zel-backstop not built"; exit 0; }
command -v bpftool >/dev/null || { echo "SKIP: needs bpftool"; exit 0; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cg2=$(awk '{ for (i = 1; i <= NF; i++) if ($i == "-") { if ($(i + 1) == "cgroup2") print $5; break } }' /proc/self/mountinfo | head -1)
cg="$cg2/zel-backstop-services-cost-$$"
pin="/sys/fs/bpf/zel-backstop-services-cost-$$"
work=$(mktemp -d)
chmod 755 "$work"
# An ordinary user (between UID_MIN and UID_MAX) and a system user, neither with an account.
uid=59996 suid=986
others() { # start|stop
  for ((other = 1; other <= OTHERS; other++)); do
    if [ "$1" = start ]; then
      "$backstop" start --user $((59000 + other)) --deny --cgroup "$cg" --pin "$pin/other-$other" --socket "$work/sock-other" \
        --detach >/dev/null
    else
      "$backstop" stop --pin "$pin/other-$other" >/dev/null 2>&1 || true
    fi
  done
}
stop_all() {
  "$backstop" stop --pin "$pin/user" >/dev/null 2>&1 || true
  "$backstop" stop --pin "$pin/services" >/dev/null 2>&1 || true
}
cleanup() {
  stop_all
  others stop
  rmdir "$pin" 2>/dev/null || true
  for _ in 1 2 3 4 5; do rmdir "$cg" 2>/dev/null && break; sleep 0.2; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$cg" "$pin"
gcc -O2 -I"$source_dir" -o "$work/connect" "$source_dir/bench/backstop_connect.c"
run() { # UID: N connects in the cgroup as that user
  sh -c 'echo $$ > "$1/cgroup.procs"; shift; exec setpriv --reuid="$1" --regid="$1" --clear-groups "$2" "$3"' \
    sh "$cg" "$1" "$work/connect" "$COUNT"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# 1,000 rules, none of which covers the peer (127.0.0.2): each an address
# range on the connection's port; the entry's default permits.
rules() { # ISSERVICE
  for ((i = 0; i < 1000; i++)); do
    echo -n "<RULE><RULENAME>r$i</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>DENY</PERMISSION><STATE>1</STATE>"
    echo -n "<ENABLE>1</ENABLE><PORTS><PORT><NUMBER>9</NUMBER><IPS><IP>10.$((i / 250)).$((i % 250)).1-10.$((i / 250)).$((i % 250)).9</IP>"
    echo -n "</IPS></PORT></PORTS></RULE>"
  done
}
entry() { # NAME ISSERVICE RULES
  echo -n "<APPLICATION><EXENAME>$1</EXENAME><DESCRIPTION>$1</DESCRIPTION><ISSERVICE>$2</ISSERVICE>"
  echo -n "<INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF><RULES>$3</RULES></APPLICATION>"
}
home="$work/home" registry="$work/home/registry"
mkdir -p "$home" && chown "$uid:$uid" "$home"
reg() { setpriv --reuid=$uid --regid=$uid --clear-groups env HOME="$home" ZEL_REGISTRY_ROOT="$registry" "$BUILD/tools/zel-reg" "$@" >/dev/null; }
reg add HKLM/Software/KORVEL/QRB /v RulesFile /d "$home/Rules.xml"
reg add HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1
echo "<APPLICATIONS>$(entry CONNECT 0 "$(rules)")</APPLICATIONS>" >"$home/Rules.xml"
chown "$uid:$uid" "$home/Rules.xml"
mkdir -p "$work/machine" && chmod 755 "$work/machine"
echo "<APPLICATIONS>$(entry CONNECT 1 "$(rules)")$(entry ANY 1 "")</APPLICATIONS>" >"$work/machine/Rules.xml"
chmod 644 "$work/machine/Rules.xml"
start_all() {
  "$backstop" start --user "$uid" --rules --settings "$registry" --cgroup "$cg" --pin "$pin/user" --socket "$work/sock" \
    --detach >/dev/null
  "$backstop" start --services --rules "$work/machine/Rules.xml" --cgroup "$cg" --pin "$pin/services" \
    --socket "$work/sock-services" --log "$work/services-log" --detach >/dev/null
}

: >"$work/bare"; : >"$work/loaded"; : >"$work/bare-system"; : >"$work/loaded-system"
for ((round = 0; round < ROUNDS; round++)); do
  run "$uid" >>"$work/bare"
  run "$suid" >>"$work/bare-system"
  start_all
  run "$uid" >>"$work/loaded"
  run "$suid" >>"$work/loaded-system"
  stop_all
done

# One user's kernel objects: what the kernel charges for each pinned map and
# program (each counted once, by its id).
start_all
memlock() { # PIN-FOLDER
  find "$1" -type f | while read -r file; do
    for kind in map prog; do # links cost no memory of their own
      if out=$(bpftool -j "$kind" show pinned "$file" 2>/dev/null); then echo "$out"; break; fi
    done
  done | python3 -c '
import json, sys
seen = {}
for line in sys.stdin:
    line = line.strip()
    if line:
        item = json.loads(line)
        if "id" in item:
            seen[(item.get("type"), item["id"])] = (item.get("bytes_memlock", 0), item.get("name", "?"))
largest = sorted(seen.values(), reverse=True)[:3]
print(sum(b for b, _ in seen.values()), len(seen), ",".join("%s:%d" % (n, b) for b, n in largest))'
}
read -r user_bytes user_objects user_largest < <(memlock "$pin/user")
read -r services_bytes services_objects services_largest < <(memlock "$pin/services")
# The kernel's own count of the connect programs of both backstops on the
# ordinary user's connects (in a round of its own: counting costs time too).
kernel_ns=
if sysctl -qw kernel.bpf_stats_enabled=1 2>/dev/null; then
  run "$uid" >/dev/null
  # Only this benchmark's programs (the ones its pin folders hold): others may run beside it.
  kernel_ns=$(find "$pin/user" "$pin/services" -type f | while read -r file; do
      bpftool -j link show pinned "$file" 2>/dev/null | python3 -c 'import json, sys; print(json.load(sys.stdin).get("prog_id", ""))' 2>/dev/null
    done | sort -u | while read -r id; do
      [ -z "$id" ] || { bpftool -j prog show id "$id" 2>/dev/null; echo; }
    done | python3 -c '
import json, sys
connects = int(sys.argv[1])
runs = {}
for line in sys.stdin:
    line = line.strip()
    item = json.loads(line) if line else {}
    if item.get("run_cnt"):
        runs[item["id"]] = (item["name"], item["run_time_ns"] / connects, item["run_cnt"])
# What runs per connect, its time over the round shared out among the
# connects: the listen tracepoint runs on each TCP state change (two a
# connect here, and the rest of the machine'"'"'s meanwhile); the other tracing
# programs (on_fork, on_exec, on_exit) run per process.
each = [r for r in runs.values() if r[0] in ("connect4", "sock_create", "ingress", "note_listener")]
print("%.0f ns a connect over %d programs (%s)" % (sum(r[1] for r in each), len(each),
      ", ".join("%s %.0f ns" % r[:2] for r in sorted(each))))' "$COUNT" || true)
  sysctl -qw kernel.bpf_stats_enabled=0
fi
used() { awk '/^MemTotal:/ { t = $2 } /^MemAvailable:/ { a = $2 } END { print t - a }' /proc/meminfo; }
sync; echo 1 >/proc/sys/vm/drop_caches 2>/dev/null || true
before=$(used)
others start
after=$(used)
others stop
stop_all

bare=$(median <"$work/bare") loaded=$(median <"$work/loaded")
bare_system=$(median <"$work/bare-system") loaded_system=$(median <"$work/loaded-system")
echo "loopback connect of a program the hook is not in (median of $ROUNDS rounds of $COUNT):"
echo "  an ordinary user, bare:                 ${bare} ns  ($(tr '\n' ' ' <"$work/bare"))"
echo "  the same, 1,000 user and 1,000 service rules loaded: ${loaded} ns, ratio $(ratio "$loaded" "$bare")  ($(tr '\n' ' ' <"$work/loaded"))"
echo "  a system user, bare:                    ${bare_system} ns  ($(tr '\n' ' ' <"$work/bare-system"))"
echo "  the same, decided by the 1,000 service rules: ${loaded_system} ns, ratio $(ratio "$loaded_system" "$bare_system")  ($(tr '\n' ' ' <"$work/loaded-system"))"
[ -z "$kernel_ns" ] || echo "  the kernel programs themselves, both backstops: $kernel_ns"
echo "kernel memory:"
echo "  a covered user with 1,000 rules: $user_bytes bytes charged for $user_objects maps and programs (largest: $user_largest)"
echo "  the services with 1,000 rules:   $services_bytes bytes charged for $services_objects maps and programs (largest: $services_largest)"
[ "$OTHERS" -eq 0 ] || echo "  $OTHERS more users' backstops: $(( (after - before) / OTHERS )) kB each in /proc/meminfo (MemTotal - MemAvailable)"

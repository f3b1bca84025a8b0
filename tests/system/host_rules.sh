#!/usr/bin/env bash
# Rules by host name with real programs: curl, wget and Python under the
# hook, names from a private hosts file in a mount namespace of their own
# (every name on loopback addresses, two of them on one address).
#   tests/system/host_rules.sh BUILD_DIR      (exit 77: no mount namespace here)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
if [ -z "${ZEL_HOSTS_IN_NAMESPACE:-}" ]; then
  export ZEL_HOSTS_IN_NAMESPACE=1
  # A mount namespace for the hosts file and a network namespace of its own
  # for an IPv6 address on its loopback.
  flags=(-mn)
  [ "$(id -u)" -eq 0 ] || flags=(-Urmn)
  unshare "${flags[@]}" true 2>/dev/null || { echo "SKIP: no mount namespace"; exit 77; }
  exec timeout 120 unshare "${flags[@]}" "$0" "$@"
fi

work=$(mktemp -d)
server=
cleanup() {
  set +e
  for pid in $server ${server6:-} ${panel:-}; do kill "$pid" 2>/dev/null; done
  for pid in $server ${server6:-} ${panel:-}; do wait "$pid" 2>/dev/null; done
  rm -rf "$work" 2>/dev/null || { sleep 0.5; rm -rf "$work"; }
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "-- log:"; cat "$today" 2>/dev/null || true; exit 1; }
step() { echo "-- $*"; }

cat >"$work/hosts" <<'HOSTS'
127.0.0.1 localhost
127.0.0.2 www.example.org ads.example.org example.org
127.0.0.2 xn--bcher-kva.example.net
127.0.0.2 use-application-dns.net use-application-dns.net.example.org
fd00::2 v6.example.org
HOSTS
echo "hosts: files" >"$work/nsswitch.conf"
# A container may give a namespace but no right to mount in it.
if ! mount --bind "$work/hosts" /etc/hosts 2>/dev/null || ! mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf; then
  echo "SKIP: cannot mount a hosts file here"
  exit 77
fi

ip link set lo up
v6=yes
ip -6 addr add fd00::2/128 dev lo 2>/dev/null || v6=

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.state"
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
export ZEL_ALERT_PROGRAM=/bin/false
mkdir -p "$HOME"
"$BUILD/tools/zel-setup" --quiet --install-dir "$work/install"
setting() { "$BUILD/tools/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
today="$(setting LogFilesPath)/$(date +%-d_%-m_%Y)_qrb.log"
port=$((23000 + RANDOM % 2000))
# For every program: deny ads.example.org, permit the names under
# example.org and one international name on the port, deny the rest.
rule() {
  echo "<RULE><RULENAME>$1</RULENAME><DIRECTION>OUTGOING</DIRECTION><PERMISSION>$2</PERMISSION><STATE>1</STATE><ENABLE>1</ENABLE><PORTS>$3</PORTS></RULE>"
}
cat >"$(setting RulesFile)" <<XML
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES>
$(rule ads DENY "<PORT><NUMBER>0</NUMBER><HOSTS><HOST>ads.example.org</HOST></HOSTS></PORT>")
$(rule web PERMIT "<PORT><NUMBER>$port</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS><HOST>*.example.org</HOST><HOST>xn--bcher-kva.example.net</HOST></HOSTS></PORT>")
</RULES></APPLICATION></APPLICATIONS>
XML

python3 -m http.server "$port" --bind 127.0.0.2 --directory "$work" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do (exec 3<>/dev/tcp/127.0.0.2/"$port") 2>/dev/null && break; sleep 0.1; done
server6=
if [ -n "$v6" ]; then
  python3 -m http.server "$port" --bind fd00::2 --directory "$work" >/dev/null 2>&1 &
  server6=$!
  for _ in $(seq 1 50); do (exec 3<>/dev/tcp/fd00::2/"$port") 2>/dev/null && break; sleep 0.1; done
fi

run() { "$BUILD/tools/zel-run" "$@" >/dev/null 2>&1; }
curl_gets() { run curl -s -o /dev/null --max-time 5 "$@"; }
expect() {
  local want=$1 what=$2; shift 2
  if "$@"; then got=passes; else got=denied; fi
  [ "$got" = "$want" ] || fail "$what: $got, expected $want"
  echo "   $what: $got"
}

step "curl"
expect passes "www.example.org (under *.example.org)" curl_gets "http://www.example.org:$port/"
expect denied "ads.example.org (same address, denied by name)" curl_gets "http://ads.example.org:$port/"
expect denied "example.org (the domain itself is not under it)" curl_gets "http://example.org:$port/"
expect passes "WWW.Example.ORG (case)" curl_gets "http://WWW.Example.ORG:$port/"
expect denied "127.0.0.2 written out (no name known: the default)" curl_gets "http://127.0.0.2:$port/"
expect denied "--resolve (curl never asks the resolver: no name)" curl_gets --resolve "www.example.org:$port:127.0.0.2" "http://www.example.org:$port/"
if curl -V | grep -qi idn; then
  expect passes "bücher.example.net (looked up as punycode)" curl_gets "http://bücher.example.net:$port/"
fi
if [ -n "$v6" ]; then
  expect passes "v6.example.org on fd00::2 (an IPv6 peer, by name)" curl_gets -6 "http://v6.example.org:$port/"
  expect denied "fd00::2 written out" curl_gets -6 "http://[fd00::2]:$port/"
fi
step "wget"
expect passes "www.example.org" run wget -q -O /dev/null -t 1 -T 5 "http://www.example.org:$port/"
expect denied "ads.example.org" run wget -q -O /dev/null -t 1 -T 5 "http://ads.example.org:$port/"
step "python"
py_get() { run python3 -c "import urllib.request,sys; urllib.request.urlopen(sys.argv[1], timeout=5)" "$1"; }
expect passes "www.example.org" py_get "http://www.example.org:$port/"
expect denied "ads.example.org" py_get "http://ads.example.org:$port/"
# A child connects to the address its parent looked up: it has the name.
fork_child() {
  run python3 -c "
import os, socket, sys
socket.getaddrinfo(sys.argv[1], None)
pid = os.fork()
if pid == 0:
    try:
        socket.create_connection(('127.0.0.2', int(sys.argv[2])), timeout=5).close()
        os._exit(0)
    except OSError:
        os._exit(1)
_, status = os.waitpid(pid, 0)
sys.exit(os.WEXITSTATUS(status))" "$1" "$port"
}
expect passes "a forked child, name looked up by its parent" fork_child www.example.org
expect denied "a forked child, the denied name looked up by its parent" fork_child ads.example.org

step "the C library's older calls"
for call in gethostbyname gethostbyname2 gethostbyname_r gethostbyname2_r; do
  expect passes "www.example.org by $call" run "$BUILD/tests/netpeer" named-connect "$call" www.example.org "$port"
  expect denied "ads.example.org by $call" run "$BUILD/tests/netpeer" named-connect "$call" ads.example.org "$port"
done

step "the encrypted-DNS canary"
# Answered "no such name" before any resolver hears of it: the hosts file
# would have found it. Only that name, not one that begins with it.
named() { "$BUILD/tools/zel-run" "$BUILD/tests/netpeer" named-connect "$1" "$2" "$port" 2>/dev/null | tail -n 1; }
for call in getaddrinfo gethostbyname gethostbyname2 gethostbyname_r gethostbyname2_r; do
  for name in use-application-dns.net USE-Application-DNS.net.; do
    [ "$(named "$call" "$name")" = "not found" ] || fail "$name by $call was not answered \"no such name\""
  done
  [ "$(named "$call" use-application-dns.net.example.org)" = ok ] || fail "a name under the canary's by $call was answered"
done
"$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v CanaryNoSuchName /d 0 >/dev/null
# Found in the hosts file, then refused by the rules as any other name.
[ "$(named getaddrinfo use-application-dns.net)" = refused ] || fail "with the setting off, the lookup was answered"
"$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v CanaryNoSuchName /d 1 >/dev/null
echo "   answered for every call, passed through with the setting off"

step "the log"
grep -q "<HOST>www.example.org</HOST>" "$today" || fail "no record names www.example.org"
grep -q "<PERMISSION>0</PERMISSION><SERVICE>0</SERVICE><HOST>ads.example.org</HOST>" "$today" || fail "no denied record names ads.example.org"
grep "<IP>127.0.0.2</IP>" "$today" | grep -v "<HOST>" | grep -q "<PERMISSION>0</PERMISSION>" || fail "the nameless connection is not logged as denied"

step "an alert's answer for one host"
# Every program is asked now; the control panel stores what the alert
# answers, ticked for the host alone.
rules=$(setting RulesFile)
echo "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>" >"$rules"
QT_QPA_PLATFORM=offscreen "$BUILD/panel/zel" >"$work/zel.out" 2>&1 &
panel=$!
panel_up() { grep -qs "Korvel Personal FireWall" "$ZEL_RUNTIME_DIR"/windows/*/title; }
for _ in $(seq 1 300); do panel_up && break; sleep 0.1; done
panel_up || fail "the panel did not start: $(cat "$work/zel.out")"
sleep 0.5 # its first look at the running programs and the rules
export ZEL_ALERT_PROGRAM="$BUILD/tests/scripted_alert" ZEL_TEST_ALERT_SCRIPT="answer=1,ticked=1,host=1"
expect passes "www.example.org, allowed for this host only" curl_gets "http://www.example.org:$port/"
for _ in $(seq 1 50); do grep -q '<HOST>www.example.org</HOST>' "$rules" && break; sleep 0.1; done
grep -q '<EXENAME>CURL</EXENAME>.*<OUTDEF>ASK</OUTDEF>.*<RULENAME>www.example.org</RULENAME>' "$rules" \
  || fail "the panel stored no rule for the host: $(cat "$rules")"
export ZEL_TEST_ALERT_SCRIPT="answer=2"
expect passes "www.example.org again: the stored rule, no alert" curl_gets "http://www.example.org:$port/"
expect denied "ads.example.org on the same address: asked, blocked" curl_gets "http://ads.example.org:$port/"
kill "$panel"

echo "PASS: $(grep -c '<HOST>' "$today") records with a name, $(grep -c '<IP>' "$today") in all"

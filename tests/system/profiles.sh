#!/usr/bin/env bash
# Profiles that follow the network: in a network namespace of its own, the
# default gateway changes from none to "Café" to "Home" and away again; a
# running program and one started anew follow each profile within 2 s.
#   tests/system/profiles.sh BUILD_DIR      (exit 77: no network namespace here)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
if [ -z "${ZEL_PROFILES_IN_NAMESPACE:-}" ]; then
  export ZEL_PROFILES_IN_NAMESPACE=1
  flags=(-n)
  [ "$(id -u)" -eq 0 ] || flags=(-Urn)
  unshare "${flags[@]}" true 2>/dev/null || { echo "SKIP: no network namespace"; exit 77; }
  exec timeout 120 unshare "${flags[@]}" "$0" "$@"
fi

work=$(mktemp -d)
cleanup() {
  set +e
  [ -z "${py_in:-}" ] || exec {py_in}>&-
  [ -z "${panel_in:-}" ] || exec {panel_in}>&-
  [ -z "${nm_in:-}" ] || exec {nm_in}>&-
  for pid in ${server:-} ${zelconn:-} ${py:-} ${bus:-}; do kill "$pid" 2>/dev/null; done
  for pid in ${server:-} ${zelconn:-} ${py:-} ${bus:-}; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "-- error log:"; cat "$errlog" 2>/dev/null || true; [ -z "${ZEL_PROFILES_DEBUG:-}" ] || { cat "$work/panel.out"; sed -n "s/.*<TIME>\(.*\)<\/TIME>.*<LOCALPORT>.*<PERMISSION>\(.\).*/\1 \2/p" "$(setting LogFilesPath)"/*_qrb.log | uniq -c; uniq -c "$work/py.out"; ls -la "$ZEL_RUNTIME_DIR"; }; exit 1; }
step() { echo "-- $*"; }

ip link set lo up
# The "gateway" lives on a veth link inside the namespace, its hardware
# address put into the neighbour table by hand: nothing answers ARP.
ip link add uplink type veth peer name uplink-peer || { echo "SKIP: no veth links"; exit 77; }
ip link set uplink up
ip link set uplink-peer up
ip addr add 10.77.0.2/24 dev uplink
gateway() { # ADDRESS MAC, or nothing: no default route
  ip route del default 2>/dev/null || true
  [ $# -eq 0 ] && return
  ip neigh replace "$1" lladdr "$2" dev uplink nud permanent
  ip route add default via "$1" dev uplink
}

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_STATE_HOME="$work/home/.state"
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
export ZEL_ALERT_PROGRAM=/bin/false
# NetworkManager stands in on a bus of the test's own, with no connection
# at first: the gateway names the network until it has one.
export ZEL_NM_BUS_ADDRESS="unix:path=$work/no-bus"
nm_in=
if [ -x /usr/bin/dbus-daemon ] && /usr/bin/python3 -c 'import dbus.service; from gi.repository import GLib' 2>/dev/null; then
  coproc BUS { exec /usr/bin/dbus-daemon --session --nofork --print-address=1; }
  bus=$!
  read -r -t 10 ZEL_NM_BUS_ADDRESS <&"${BUS[0]}" || fail "no private bus"
  exec {nm_in}> >(exec /usr/bin/python3 "$(dirname "$0")/fake_network_manager.py" "$ZEL_NM_BUS_ADDRESS" >"$work/nm.out")
  for _ in $(seq 1 100); do grep -qs ready "$work/nm.out" && break; sleep 0.05; done
  grep -qs ready "$work/nm.out" || fail "the stand-in for NetworkManager did not start"
fi
nm() { # a change of NetworkManager's primary connection, told
  local before; before=$(grep -c changed "$work/nm.out" || true)
  echo "$*" >&"$nm_in"
  for _ in $(seq 1 100); do [ "$(grep -c changed "$work/nm.out")" -gt "$before" ] && break; sleep 0.05; done
}
mkdir -p "$HOME"
"$BUILD/tools/zel-setup" --quiet --install-dir "$work/install"
setting() { "$BUILD/tools/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
errlog="$(setting ErrLogs)/$(date +%-d_%-m_%Y)_err.LOG"
cat >"$(setting RulesFile)" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>0</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>
XML

port=$((23000 + RANDOM % 2000))
python3 -m http.server "$port" --bind 127.0.0.2 --directory "$work" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do (exec 3<>/dev/tcp/127.0.0.2/"$port") 2>/dev/null && break; sleep 0.1; done

rules() { "$BUILD/tools/zel-rules" "$@"; }
python=$(python3 -c 'import os, sys; print(os.path.realpath(sys.executable))')
cafe=(10.77.0.1 02:00:00:00:ca:fe)
home=(10.77.0.9 02:00:00:00:00:01)
step "the tool"
rules profile add "Café" --network "gw:${cafe[0]}/${cafe[1]}" --block "$python"
rules profile add Home --network "gw:${home[0]}/${home[1]}" --outgoing block --allow "$python"
rules profile list | grep -q "^Café .*--block $python" || fail "list does not show Café"
rules profile add "a/b" --network gw:x 2>/dev/null && fail "a name with '/' was taken"
[ "$(rules profile add x --network gw:x --incoming sometimes 2>/dev/null; echo $?)" = 2 ] || fail "a bad word is no misuse"
rules profile add Twice --network gw:x --allow /bin/a --block /bin/a 2>/dev/null && fail "a program named twice was taken"

"$BUILD/zelconn/zelconn" &
zelconn=$!
# Engines hear of rule changes while the control panel runs: a stand-in holds its place.
exec {panel_in}> >(exec "$BUILD/tests/panel_stand_in" >"$work/panel.out")
for _ in $(seq 1 100); do grep -qs ready "$work/panel.out" && break; sleep 0.05; done

# A program that runs throughout: it connects whenever it reads a line and
# says how it went. The source is another loopback address than 127.0.0.1.
exec {py_in}> >(exec "$BUILD/tools/zel-run" "$python" -u -c '
import socket, sys
for line in sys.stdin:
    s = socket.socket()
    s.bind(("127.0.0.3", 0))
    try:
        s.connect(("127.0.0.2", int(sys.argv[1])))
        print("passes", flush=True)
    except OSError:
        print("denied", flush=True)
    s.close()
' "$port" >"$work/py.out" 2>/dev/null)
py=$!
running() { # the running program's next answer
  local before; before=$(wc -l <"$work/py.out")
  echo go >&"$py_in"
  for _ in $(seq 1 200); do [ "$(wc -l <"$work/py.out")" -gt "$before" ] && break; sleep 0.05; done
  sed -n "$((before + 1))p" "$work/py.out"
}
started() { # a program started anew: python's own, and curl (no profile names it)
  if "$BUILD/tools/zel-run" "$@" >/dev/null 2>&1; then echo passes; else echo denied; fi
}
curl_gets() { started curl -s -o /dev/null --max-time 5 --interface 127.0.0.3 "http://127.0.0.2:$port/"; }
# Within 2 s of the change the program gets want (each look is a connection);
# without a program named, the running one.
follows() {
  local want=$1 what=$2 start got
  shift 2
  [ $# -gt 0 ] || set -- running
  start=$(date +%s%3N)
  for _ in $(seq 1 40); do
    got=$("$@")
    [ "$got" = "$want" ] && break
    sleep 0.05
  done
  [ "$got" = "$want" ] || fail "$what: $got, expected $want"
  local took=$(($(date +%s%3N) - start))
  [ "$took" -le 2000 ] || fail "$what: took $took ms"
  echo "   $what: $got after $took ms"
}
expect() {
  local want=$1 what=$2; shift 2
  local got; got=$("$@")
  [ "$got" = "$want" ] || fail "$what: $got, expected $want"
  echo "   $what: $got"
}

step "no gateway: no profile"
expect passes "the running program's first connection" running
expect passes "curl, no profile" curl_gets

step "Café"
gateway "${cafe[@]}"
follows denied "Café: the running program"
expect denied "python started at Café" started "$python" -c "import socket; s=socket.socket(); s.bind(('127.0.0.3',0)); s.connect(('127.0.0.2',$port))"
expect passes "curl at Café (its defaults are the file's)" curl_gets
[ "$(setting ActiveProfile)" = "Café" ] || fail "ActiveProfile is not Café"
rules profile | grep -q "\"Café\" is in force" || fail "the tool does not tell Café"

step "Home"
gateway "${home[@]}"
follows passes "Home: the running program"
expect denied "curl at Home (the profile's default)" curl_gets

step "by hand, then by the network again"
rules profile use "Café"
follows denied "Café chosen by hand: the running program"
rules profile use --auto
follows passes "Home again: the running program"

if [ -n "$nm_in" ]; then
  # 32 bytes of an SSID: letters, a terminal's escape, a newline, a NUL, a
  # byte that is no UTF-8, a backslash; the id holds them escaped.
  step "NetworkManager's Wi-Fi, a hostile SSID"
  nm wifi "$(printf 'Caf\xc3\xa9\x1b[2J\n\x00\xff\\%s' 0123456789abcdefghi | od -An -tx1 | tr -d ' \n')"
  ssid=$'ssid:Caf\xc3\xa9''\x1b[2J\x0a\x00\xff\x5c0123456789abcdefghi'
  follows passes "no profile for the Wi-Fi: curl" curl_gets
  shown=$(rules profile list | sed -n 's/^this network: //p')
  [ "$shown" = "$ssid" ] || fail "this network is shown as '$shown', expected '$ssid'"
  rules profile add Train --network "$shown" --block "$python"
  follows denied "Train: the running program"
  nm wired Office
  follows passes "a wired connection, no profile: the running program"
  expect passes "a wired connection, no profile: curl" curl_gets
  [ "$(rules profile list | sed -n 's/^this network: //p')" = "nm:Office" ] || fail "the wired connection is not nm:Office"
  nm none
  follows denied "Home again: curl" curl_gets
  expect passes "Home again: the running program" running
fi

step "the gateway gone"
gateway
follows passes "no profile: curl" curl_gets
expect passes "no profile: the running program" running
[ -z "$(setting ActiveProfile)" ] || fail "a profile stays in force"
grep -q 'zelconn : Profile : profile "Café" is in force (network gw:10.77.0.1/02:00:00:00:ca:fe)' "$errlog" \
  || fail "the switch is not in the error log"
today="$(setting LogFilesPath)/$(date +%-d_%-m_%Y)_qrb.log"
grep -q "<PERMISSION>0</PERMISSION>.*<PROFILE>Café</PROFILE>" "$today" || fail "no denied record names the profile Café"
grep "<PERMISSION>1</PERMISSION>" "$today" | grep -q -v "<PROFILE>" || fail "records without a profile name one"
kill -0 "$py" 2>/dev/null || fail "the running program ended"
echo "PASS"

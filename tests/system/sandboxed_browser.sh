#!/usr/bin/env bash
# Chromium with its own sandbox (seccomp, namespaces) under the hook, as an
# unprivileged user, in a network and mount namespace of the test's own: it
# renders a local page, resolves names with its own DNS client (a name
# server on 127.0.0.2:53), and loads pages from servers on 127.0.0.4 and
# 127.0.0.5 that rules by host name permit and deny, and a page whose
# image a subscribed host list refuses. Then the same under a machine-wide
# preload (an ld.so.preload laid over /etc).
#   tests/system/sandboxed_browser.sh BUILD_DIR   (exit 77: cannot run here, said why)
# ZEL_TEST_HOOK_LIBRARY puts another build of the hook under the same test.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
CHROMIUM=${ZEL_TEST_CHROMIUM:-/usr/lib/chromium/chromium}
skip() { echo "SKIP: $*"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/browser_common.sh"
if [ -z "${ZEL_BROWSER_IN_NAMESPACE:-}" ]; then
  namespace_or_skip "$CHROMIUM" Chromium chromium "a network namespace and another user for Chromium"
  # A process namespace of its own: whatever Chromium leaves running ends
  # with the test.
  exec timeout 240 unshare -mnpf --mount-proc "$0" "$@"
fi

USER_ID=65534
work=$(mktemp -d /tmp/zel-browser-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  umount /etc 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
log() { cat "$work"/logs/* 2>/dev/null || true; }
fail() { echo "FAIL: $*"; echo "-- log:"; log | tail -20; exit 1; }
step() { echo "-- $*"; }

ip link set lo up
# /etc of the namespace: our name server, no names in the hosts file.
mkdir -p "$work/etc-upper" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc \
  || skip "cannot lay a file system over /etc here"
rm -f /etc/resolv.conf /etc/hosts
echo "nameserver 127.0.0.2" >/etc/resolv.conf
echo "127.0.0.1 localhost" >/etc/hosts

mkdir -p "$work/site" "$work/home" "$work/logs" "$work/runtime" "$work/lib"
echo '<html><body><p>served by name</p></body></html>' >"$work/site/index.html"
port=8080
echo "<html><body><p>a page with a tracker</p><img src=\"http://tracker.example.org:$port/index.html\"></body></html>" \
  >"$work/site/tracked.html"
echo '<html><body><p>local page</p></body></html>' >"$work/page.html"
# The firewall's libraries where the user can read them.
cp "${ZEL_TEST_HOOK_LIBRARY:-$BUILD/hook/libzelhook.so}" "$work/lib/libzelhook.so"
cp "$BUILD/engine/libqrbruler.so" "$work/lib/"
export WORK=$work
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox-settings.sh"
rule() { echo "<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>$1</PERMISSION><STATE>1</STATE><PORTS>$2</PORTS></RULE>"; }
cat >"$work/Rules.xml" <<XML
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES>
$(rule PERMIT "<PORT><NUMBER>53</NUMBER><IPS><IP>127.0.0.2</IP></IPS></PORT>")
$(rule DENY "<PORT><NUMBER>0</NUMBER><HOSTS><HOST>ads.example.org</HOST></HOSTS></PORT>")
$(rule PERMIT "<PORT><NUMBER>$port</NUMBER><IPS><IP>255.255.255.255-0.0.0.0</IP></IPS><HOSTS><HOST>*.example.org</HOST></HOSTS></PORT>")
</RULES></APPLICATION></APPLICATIONS>
XML
chmod 700 "$work/runtime"
chown -R "$USER_ID:$USER_ID" "$work/registry" "$work/runtime" "$work/logs" "$work/home" "$work/Rules.xml"
chmod -R a+rX "$work/site" "$work/page.html" "$work/lib"

"$BUILD/tests/netpeer" dns-server 127.0.0.2 53 www.example.org=127.0.0.4 ads.example.org=127.0.0.5 \
  tracker.example.org=127.0.0.5 >/dev/null &
pids+=($!)
for address in 127.0.0.4 127.0.0.5; do
  python3 -m http.server "$port" --bind "$address" --directory "$work/site" >/dev/null 2>&1 &
  pids+=($!)
done
for address in 127.0.0.4 127.0.0.5; do
  for _ in $(seq 1 50); do (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null && break; sleep 0.1; done
done

# Chromium as the user, with its sandbox; extra variables go before the URL.
as_user() {
  setpriv --reuid "$USER_ID" --regid "$USER_ID" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" \
    ZEL_ENGINE_LIBRARY="$work/lib/libqrbruler.so" "$@"
}
profile=0
dump() { # [VAR=VALUE...] URL: the page's text as Chromium rendered it
  profile=$((profile + 1))
  local args=("${@:1:$#-1}") url=${!#}
  as_user "${args[@]}" timeout 30 "$CHROMIUM" --headless --disable-gpu --no-first-run \
    --user-data-dir="$work/home/profile$profile" --dump-dom "$url" 2>"$work/chromium.err" || true
}

step "Chromium without the firewall"
plain=$(dump "file://$work/page.html")
[[ $plain == *"local page"* ]] || skip "Chromium does not render here even without the firewall: $(tail -3 "$work/chromium.err")"
grep -q "No usable sandbox" "$work/chromium.err" && skip "Chromium finds no usable sandbox here (user namespaces off?)"

step "its sandbox is on under the hook"
as_user LD_PRELOAD="$work/lib/libzelhook.so" timeout 60 "$CHROMIUM" --headless --disable-gpu --no-first-run \
  --user-data-dir="$work/home/profile-live" --remote-debugging-port=0 about:blank >/dev/null 2>&1 &
browser=$!
pids+=($browser)
sandboxed=
for _ in $(seq 1 100); do
  for pid in $(pgrep -u "$USER_ID" -f -- "--type=renderer" || true); do
    grep -q '^Seccomp:[[:space:]]*2' "/proc/$pid/status" 2>/dev/null && sandboxed=$pid
  done
  [ -n "$sandboxed" ] && break
  sleep 0.1
done
kill "$browser" 2>/dev/null || true
[ -n "$sandboxed" ] || fail "no renderer with a seccomp filter came up under the hook"
echo "   renderer $sandboxed runs with a seccomp filter"

step "a local page under the hook"
start=$(date +%s%N)
page=$(dump LD_PRELOAD="$work/lib/libzelhook.so" "file://$work/page.html")
[[ $page == *"local page"* ]] || fail "the local page did not render: $(grep -m3 -i 'seccomp\|error' "$work/chromium.err")"
! grep -q "seccomp-bpf failure" "$work/chromium.err" || fail "the sandbox killed a call: $(grep -m1 seccomp "$work/chromium.err")"
echo "   rendered in $(( ($(date +%s%N) - start) / 1000000 )) ms"

step "pages by name: its own resolver, rules by host name"
page=$(dump LD_PRELOAD="$work/lib/libzelhook.so" "http://www.example.org:$port/")
[[ $page == *"served by name"* ]] || fail "www.example.org (permitted by *.example.org) did not load"
page=$(dump LD_PRELOAD="$work/lib/libzelhook.so" "http://ads.example.org:$port/")
[[ $page != *"served by name"* ]] || fail "ads.example.org (denied by name) loaded"
log | grep -q "<APPLICATION>CHROMIUM</APPLICATION>.*<IP>127.0.0.4</IP>.*<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><HOST>www.example.org</HOST>" \
  || fail "no permitted record names www.example.org"
log | grep -q "<APPLICATION>CHROMIUM</APPLICATION>.*<IP>127.0.0.5</IP>.*<PERMISSION>0</PERMISSION><SERVICE>0</SERVICE><HOST>ads.example.org</HOST>" \
  || fail "no denied record names ads.example.org"

step "a host list refuses a listed name whatever the rules; the page that uses it loads"
echo "0.0.0.0 tracker.example.org" >"$work/trackers.txt"
XDG_DATA_HOME="$work/home/.local/share" "$BUILD/tools/zel-rules" lists add Trackers "$work/trackers.txt" >/dev/null \
  || fail "the list was not added"
chown -R "$USER_ID:$USER_ID" "$work/home" "$work/registry"
page=$(dump LD_PRELOAD="$work/lib/libzelhook.so" "http://www.example.org:$port/tracked.html")
[[ $page == *"a page with a tracker"* ]] || fail "the page using a listed host did not load"
log | grep -q "<IP>127.0.0.5</IP>.*<PERMISSION>0</PERMISSION><SERVICE>0</SERVICE><HOST>tracker.example.org</HOST><REASON>list</REASON><LIST>Trackers</LIST>" \
  || fail "no record of tracker.example.org refused by the list"
! log | grep -q "<PERMISSION>1</PERMISSION><SERVICE>0</SERVICE><HOST>tracker.example.org</HOST>" \
  || fail "tracker.example.org was let through"

step "machine-wide: the hook in /etc/ld.so.preload"
before=$(log | grep -c "<HOST>www.example.org</HOST>" || true)
echo "$work/lib/libzelhook.so" >/etc/ld.so.preload
page=$(dump "http://www.example.org:$port/")
rm -f /etc/ld.so.preload
[[ $page == *"served by name"* ]] || fail "www.example.org did not load under the machine-wide preload"
after=$(log | grep -c "<HOST>www.example.org</HOST>" || true)
[ "$after" -gt "$before" ] || fail "the machine-wide hook logged nothing for www.example.org"

echo "PASS: $(log | grep -c '<APPLICATION>CHROMIUM</APPLICATION>' || true) records of Chromium, $(log | grep -c '<HOST>' || true) with a name"

#!/usr/bin/env bash
# Programs of the system that change their user or probe a route, under the
# hook as root: apt fetching from a local repository over HTTP (its download
# method runs as _apt), and ping under a machine-wide preload (an
# ld.so.preload laid over /etc in a mount namespace of the test's own).
#   tests/system/system_programs.sh BUILD_DIR   (exit 77: cannot run here, said why)
# ZEL_TEST_HOOK_LIBRARY puts another build of the hook under the same test.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
skip() { echo "SKIP: $*"; exit 77; }
if [ -z "${ZEL_SYSTEM_IN_NAMESPACE:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "needs root: apt drops to _apt, ping and ld.so.preload are root's"
  command -v apt-get >/dev/null && command -v dpkg-scanpackages >/dev/null || skip "no apt-get or dpkg-scanpackages"
  [ -x /usr/bin/ping ] || skip "no ping (Debian package iputils-ping)"
  unshare -mnpf --mount-proc true 2>/dev/null || skip "no mount, network and process namespace here"
  export ZEL_SYSTEM_IN_NAMESPACE=1
  exec timeout 120 unshare -mnpf --mount-proc "$0" "$@"
fi

work=$(mktemp -d /tmp/zel-system-XXXXXX)
chmod 755 "$work"
server=
cleanup() {
  set +e
  [ -n "$server" ] && kill "$server" && wait "$server"
  umount /etc 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
log() { cat "$work"/logs/* 2>/dev/null || true; }
fail() { echo "FAIL: $*"; echo "-- log:"; log | tail -20; exit 1; }
step() { echo "-- $*"; }
ip link set lo up

export WORK=$work
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox-settings.sh"
HOOK=${ZEL_TEST_HOOK_LIBRARY:-$BUILD/hook/libzelhook.so}
export ZEL_HOOK_LIBRARY=$HOOK ZEL_ENGINE_LIBRARY=$BUILD/engine/libqrbruler.so ZEL_ALERT_PROGRAM=/bin/false
rules() { # OUTDEF of every program
  echo "<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>$1</OUTDEF></APPLICATION></APPLICATIONS>" \
    >"$work/Rules.xml"
}

# A repository of one package, served over HTTP on 127.0.0.2.
mkdir -p "$work/repo" "$work/pkg/DEBIAN"
cat >"$work/pkg/DEBIAN/control" <<'CONTROL'
Package: zel-test-package
Version: 1.0
Architecture: all
Maintainer: Tessary tests <tests@localhost>
Description: a package for the firewall's tests
CONTROL
dpkg-deb --build "$work/pkg" "$work/repo/zel-test-package_1.0_all.deb" >/dev/null
(cd "$work/repo" && dpkg-scanpackages . /dev/null >Packages 2>/dev/null)
port=$((24000 + RANDOM % 1000))
python3 -m http.server "$port" --bind 127.0.0.2 --directory "$work/repo" >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 50); do (exec 3<>/dev/tcp/127.0.0.2/"$port") 2>/dev/null && break; sleep 0.1; done

mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/download"
touch "$work/apt/status"
echo "deb [trusted=yes] http://127.0.0.2:$port/ ./" >"$work/apt/sources.list"
# The download folder is _apt's to write, so that apt runs its method as _apt.
chown _apt "$work/download"
apt_get() {
  (cd "$work/download" && "$BUILD/tools/zel-run" apt-get -q -o Dir::Etc::SourceList="$work/apt/sources.list" \
    -o Dir::Etc::SourceParts=/nonexistent -o Dir::State::Lists="$work/apt/lists" -o Dir::Cache="$work/apt/cache" \
    -o Dir::State::status="$work/apt/status" -o Debug::NoLocking=1 -o Acquire::Retries=0 \
    -o Acquire::http::Proxy=DIRECT "$@")
}

step "apt-get update, permitted: its download method is decided and logged as _apt"
rules PERMIT
apt_get update >"$work/apt.out" 2>&1 || fail "apt-get update failed: $(cat "$work/apt.out")"
log | grep -q "<EXEPATH>/usr/lib/apt/methods/http</EXEPATH>.*<IP>127.0.0.2</IP>.*<PERMISSION>1</PERMISSION>" \
  || fail "no permitted record of apt's http method"

step "apt-get download, denied: refused and logged"
rules DENY
if apt_get download zel-test-package >"$work/apt.out" 2>&1; then
  fail "apt-get download succeeded against the rules"
fi
[ ! -e "$work/download/zel-test-package_1.0_all.deb" ] || fail "the package was downloaded"
log | grep -q "<EXEPATH>/usr/lib/apt/methods/http</EXEPATH>.*<IP>127.0.0.2</IP><LOCALPORT>[0-9]*</LOCALPORT><REMOTEPORT>$port</REMOTEPORT><PERMISSION>0</PERMISSION>" \
  || fail "no denied record of apt's http method"
echo "   apt said: $(grep -m1 -iE 'fail|refused|error' "$work/apt.out" || true)"

step "ping as root under a machine-wide preload, every connection denied"
mkdir -p "$work/etc-upper" "$work/etc-work"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc \
  || skip "cannot lay a file system over /etc here"
before=$(log | wc -l)
echo "$HOOK" >/etc/ld.so.preload
status=0
/usr/bin/ping -c 1 -W 2 127.0.0.2 >"$work/ping.out" 2>&1 || status=$?
rm -f /etc/ld.so.preload
[ "$status" -eq 0 ] || fail "ping failed: $(cat "$work/ping.out")"
[ "$(log | wc -l)" -eq "$before" ] || fail "ping's route probe was logged: $(log | tail -n +$((before + 1)))"

echo "PASS: $(log | grep -c '<EXEPATH>/usr/lib/apt/methods/http</EXEPATH>' || true) records of apt's method, none of ping"

#!/usr/bin/env bash
# What the hook costs Chromium (with its sandbox, as an unprivileged user) to
# load a page: a local page, and a page from a server on 127.0.0.4 found by
# name through Chromium's own DNS client (a name server on 127.0.0.2), each
# loaded plainly and under the hook in turns; the figure is the median of
# the turns' ratios. Runs as root in namespaces of its own.
#   bench/chromium_page.sh BUILD_DIR [TURNS]
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
TURNS=${2:-7}
CHROMIUM=${ZEL_TEST_CHROMIUM:-/usr/lib/chromium/chromium}
if [ -z "${ZEL_BENCH_IN_NAMESPACE:-}" ]; then
  [ -x "$CHROMIUM" ] && [ "$(id -u)" -eq 0 ] || { echo "chromium_page: needs Chromium and root"; exit 0; }
  export ZEL_BENCH_IN_NAMESPACE=1
  exec unshare -mnpf --mount-proc "$0" "$@"
fi
USER_ID=65534
work=$(mktemp -d /tmp/zel-bench-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  umount /etc 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ip link set lo up
mkdir -p "$work/etc-upper" "$work/etc-work" "$work/site" "$work/home" "$work/logs" "$work/runtime" "$work/lib"
mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/etc-upper,workdir=$work/etc-work" /etc
rm -f /etc/resolv.conf
echo "nameserver 127.0.0.2" >/etc/resolv.conf
echo '<html><body><p>page</p></body></html>' >"$work/site/index.html"
cp "$BUILD/hook/libzelhook.so" "$BUILD/engine/libqrbruler.so" "$work/lib/"
export WORK=$work
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
chmod 700 "$work/runtime"
chown -R "$USER_ID:$USER_ID" "$work/registry" "$work/runtime" "$work/logs" "$work/home" "$work/Rules.xml"
chmod -R a+rX "$work/site" "$work/lib"
"$BUILD/tests/netpeer" dns-server 127.0.0.2 53 www.example.org=127.0.0.4 >/dev/null &
pids+=($!)
python3 -m http.server 8080 --bind 127.0.0.4 --directory "$work/site" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do (exec 3<>/dev/tcp/127.0.0.4/8080) 2>/dev/null && break; sleep 0.1; done

run=0
# Milliseconds for one page load (a fresh profile each time, as a first visit).
load() { # hooked(0|1) URL
  run=$((run + 1))
  local preload=()
  [ "$1" = 1 ] && preload=(LD_PRELOAD="$work/lib/libzelhook.so")
  local start end
  start=$(date +%s%N)
  setpriv --reuid "$USER_ID" --regid "$USER_ID" --clear-groups env -i PATH=/usr/bin:/bin HOME="$work/home" \
    ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" ZEL_ENGINE_LIBRARY="$work/lib/libqrbruler.so" \
    "${preload[@]}" timeout 60 "$CHROMIUM" --headless --disable-gpu --no-first-run \
    --user-data-dir="$work/home/p$run" --dump-dom "$2" 2>/dev/null | grep -q "<p>page</p>" || echo "chromium_page: $2 did not load" >&2
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
cp "$work/site/index.html" "$work/page.html"
chmod a+r "$work/page.html"
for url in "file://$work/page.html" "http://www.example.org:8080/"; do
  plain=() hooked=() ratios=()
  load 0 "$url" >/dev/null; load 1 "$url" >/dev/null # warm the caches
  for _ in $(seq 1 "$TURNS"); do
    a=$(load 0 "$url"); b=$(load 1 "$url")
    plain+=("$a"); hooked+=("$b"); ratios+=("$(awk -v a="$a" -v b="$b" 'BEGIN {printf "%.3f", b / a}')")
  done
  printf '%-32s plain %5s ms, under the hook %5s ms, ratio %s (lowest-highest turn %s-%s, %d turns)\n' \
    "${url/file:\/\/$work\//file:\/\/}" "$(printf '%s\n' "${plain[@]}" | median)" "$(printf '%s\n' "${hooked[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)" "$(printf '%s\n' "${ratios[@]}" | sort -n | head -1)" \
    "$(printf '%s\n' "${ratios[@]}" | sort -n | tail -1)" "$TURNS"
done

#!/usr/bin/env bash
# Private memory the firewall adds to a program: the test peer connecting
# once a second, measured a second into its run without and with the hook
# (the engine loaded, the rules read, one decision made and logged).
#   bench/host_memory.sh BUILD
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
server=
cleanup() { [ -z "$server" ] || kill "$server" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
export ZEL_HOOK_LIBRARY="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so"
mkdir -p "$HOME"
"$BUILD/tools/zel-setup" --quiet --install-dir "$work/install"
port=$((28000 + RANDOM % 1000))
"$BUILD/tests/netpeer" tcp-server 127.0.0.2 "$port" >/dev/null 2>&1 &
server=$!
sleep 0.3
dirty() {
  "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep 1.5
  awk '/^Private_Dirty/ {print $2}' "/proc/$pid/smaps_rollup"
  wait "$pid" || true
}
plain=$(dirty "$BUILD/tests/netpeer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" 2 1000)
hooked=$(dirty "$BUILD/tools/zel-run" "$BUILD/tests/netpeer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" 2 1000)
echo "private memory: ${plain} kB without the hook, ${hooked} kB with it: $((hooked - plain)) kB added"

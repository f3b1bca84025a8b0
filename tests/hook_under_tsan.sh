#!/usr/bin/env bash
# A multithreaded client (16 threads x 200 connections) under the hook, with
# the hook, the engine and the client built with ThreadSanitizer.
#   tests/hook_under_tsan.sh TSAN_BUILD_DIR
set -euo pipefail
BUILD=${1:?ThreadSanitizer build folder}
WORK=$(mktemp -d /tmp/zel-tsan-XXXXXX)
SERVER=""
cleanup() { [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
export ZEL_REGISTRY_ROOT=$WORK/registry ZEL_RUNTIME_DIR=$WORK/runtime
mkdir -p "$WORK/logs"
reg() { "$BUILD/tools/zel-reg" set "$@" >/dev/null; }
reg HKLM/Software/KORVEL/QRB /v RulesFile /d "$WORK/Rules.xml"
reg HKLM/Software/KORVEL/QRB /v LogFilesPath /d "$WORK/logs"
reg HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1
reg HKLM/Software/Microsoft/Windows/CurrentVersion/Run /v "Korvel Firewall" /d zel
echo '<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>' >"$WORK/Rules.xml"
"$BUILD/tests/netpeer" tcp-server 127.0.0.2 21098 >/dev/null &
SERVER=$!
sleep 0.3
result=$(TSAN_OPTIONS="halt_on_error=1 exitcode=66" LD_PRELOAD="$BUILD/interceptor/libzelhook.so" \
  ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" timeout 300 "$BUILD/tests/netpeer" tcp-threads 127.0.0.3 127.0.0.2 21098 16 200)
records=$(cat "$WORK"/logs/* | grep -c '<EXEPATH>' || true)
echo "hook under ThreadSanitizer: $result, $records records"
[ "$result" = "ok=3200 failed=0" ] && [ "$records" -eq 3200 ]

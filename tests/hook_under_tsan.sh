#!/usr/bin/env bash
# A multithreaded client (16 threads x 200 connections) under the hook, with
# the hook, the engine and the client built with ThreadSanitizer; then
# questions the client does not wait for, from several threads at once.
#   tests/hook_under_tsan.sh TSAN_BUILD_DIR
set -euo pipefail
BUILD=${1:?ThreadSanitizer build folder}
WORK=$(mktemp -d /tmp/zel-tsan-XXXXXX)
SERVER=""
cleanup() { [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/sandbox-settings.sh"
"$BUILD/tests/netpeer" tcp-server 127.0.0.2 21098 >/dev/null &
SERVER=$!
sleep 0.3
result=$(TSAN_OPTIONS="halt_on_error=1 exitcode=66" LD_PRELOAD="$BUILD/hook/libzelhook.so" \
  ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" timeout 300 "$BUILD/tests/netpeer" tcp-threads 127.0.0.3 127.0.0.2 21098 16 200)
records=$(cat "$WORK"/logs/* | grep -c '<EXEPATH>' || true)
echo "hook under ThreadSanitizer: $result, $records records"
[ "$result" = "ok=3200 failed=0" ] && [ "$records" -eq 3200 ] || exit 1

# Questions the program does not wait for, from 4 threads at once: half of
# the sockets closed while their question is open, the others answered.
echo '<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF></APPLICATION></APPLICATIONS>' >"$WORK/Rules.xml"
asked=$(TSAN_OPTIONS="halt_on_error=1 exitcode=66" LD_PRELOAD="$BUILD/hook/libzelhook.so" \
  ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" ZEL_ALERT_PROGRAM="$BUILD/tests/scripted_alert" \
  ZEL_TEST_ALERT_SCRIPT="answer=1,delay=20" ZEL_TEST_ALERT_SERVE=1 \
  timeout 300 "$BUILD/tests/waitpeer" questions 127.0.0.3 127.0.0.2 21098 4 20)
echo "questions under ThreadSanitizer: $asked"
if [ "$asked" != "connected=40 refused=0 closed=40" ]; then
  # Why each refusal was made: the denied records, with their reasons.
  grep -h '<PERMISSION>0</PERMISSION>' "$WORK"/logs/* | head -20 || true
  exit 1
fi

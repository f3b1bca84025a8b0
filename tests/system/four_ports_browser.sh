#!/usr/bin/env bash
# Firefox (headless) under the hook at the High level (outgoing: ask), in a
# network and process namespace of the test's own: a page from a permitted
# server loads something from each of four other ports. Each scenario runs
# in a namespace and settings of its own:
#   port  every question is answered "Allow, always, this port": at most one
#         question a port, and all four loads arrive;
#   any   the first question is answered "Allow, always, any connection":
#         every other question open then is ended by its engine (none is
#         left waiting), none is asked after it, and all four loads arrive.
#   tests/system/four_ports_browser.sh BUILD_DIR   (exit 77: cannot run here, said why)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
FIREFOX=${ZEL_TEST_FIREFOX:-/usr/bin/firefox-esr}
skip() { echo "SKIP: $*"; exit 77; }
source "$(dirname "${BASH_SOURCE[0]}")/browser_common.sh"
if [ -z "${ZEL_BROWSER_IN_NAMESPACE:-}" ]; then
  namespace_or_skip "$FIREFOX" Firefox firefox-esr "a network namespace of its own"
  for scenario in port any; do
    # Whatever Firefox leaves running ends with the namespace.
    status=0
    timeout 120 unshare -mnpf --mount-proc "$0" "$BUILD" "$scenario" || status=$?
    [ "$status" -eq 0 ] || exit "$status"
  done
  exit 0
fi
SCENARIO=${2:?scenario}

work=$(mktemp -d /tmp/zel-firefox-XXXXXX)
pids=()
cleanup() {
  set +e
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL ($SCENARIO): $*"; echo "-- questions:"; grep -h '^peer\|^port' "$work/alerts.txt" 2>/dev/null | paste - -; exit 1; }
# Waits (at most SECONDS) until the command succeeds.
wait_until() { # SECONDS COMMAND...
  local seconds=$1; shift
  for _ in $(seq 1 $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
  return 1
}

ip link set lo up
export WORK=$work BUILD
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sandbox-settings.sh"
cat >"$work/Rules.xml" <<'XML'
<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>DENY</INDEF><OUTDEF>ASK</OUTDEF><RULES>
<RULE><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><STATE>1</STATE><PORTS><PORT><NUMBER>8080</NUMBER><IPS><IP>127.0.0.2</IP></IPS></PORT></PORTS></RULE>
</RULES></APPLICATION></APPLICATIONS>
XML

ports=(8001 8002 8003 8004)
mkdir -p "$work/site" "$work/home" "$work/profile"
{
  echo "<html><body><p>permitted page</p><script>Promise.all(["
  for i in 0 1 2 3; do echo "fetch('http://127.0.0.$((i + 3)):${ports[i]}/load', {mode: 'no-cors'}),"; done
  echo "]).then(() => fetch('/report?all-loaded'));</script></body></html>"
} >"$work/site/index.html"
quiet_profile "$work/profile"
serve 127.0.0.2 8080 "$work/page.log"
echo x >"$work/site/load"
for i in 0 1 2 3; do
  serve "127.0.0.$((i + 3))" "${ports[i]}" "$work/load-${ports[i]}.log"
done
# The servers' own probes above are no loads.
for port in "${ports[@]}"; do : >"$work/load-$port.log"; done

# A user who takes a second over each question: long enough for the
# browser's other connections meanwhile.
case $SCENARIO in
  port) script="after=1000,answer=1,for=always,to=port" ;;
  any) script="claim=$work/claimed,after=1000,answer=1,for=always,to=any" ;;
esac
HOME=$work/home LD_PRELOAD="$BUILD/hook/libzelhook.so" ZEL_ENGINE_LIBRARY="$BUILD/engine/libqrbruler.so" \
  ZEL_ALERT_PROGRAM="$BUILD/tests/scripted_alert" ZEL_TEST_ALERT_SCRIPT="$script" \
  ZEL_TEST_ALERT_RECORD="$work/alerts.txt" ZEL_TEST_ALERT_SERVE=1 \
  timeout 100 "$FIREFOX" --headless --no-remote --profile "$work/profile" "http://127.0.0.2:8080/" \
  >"$work/firefox.err" 2>&1 &
pids+=($!)
wait_until 40 grep -q "GET / " "$work/page.log" || skip "Firefox did not load the page here: $(tail -3 "$work/firefox.err")"

# A ceiling, not a wait: it returns when the last load comes.
all_loaded() { for port in "${ports[@]}"; do grep -q "GET /load" "$work/load-$port.log" || return 1; done; }
wait_until 45 all_loaded || fail "not every load arrived: $(for p in "${ports[@]}"; do grep -c 'GET /load' "$work/load-$p.log"; done | tr '\n' ' ')"
wait_until 10 grep -q "report?all-loaded" "$work/page.log" || fail "the page did not see all four loads answered"

# Questions that reached the alert, and those the user answered (the rest
# were pressed by their engine with an answer given meanwhile, or withdrawn).
lines() { { cat "$@" 2>/dev/null || true; } | wc -l; }
reached=$(cat "$work/alerts.txt" 2>/dev/null | grep -c '^---' || true)
settled() { [ "$(lines "$work"/alerts.txt.{answered,pressed,withdrawn})" -ge "$reached" ]; }
wait_until 10 settled || fail "$reached question(s), only $(lines "$work"/alerts.txt.{answered,pressed,withdrawn}) ended: some are left waiting"
answered() { cat "$work/alerts.txt.answered" 2>/dev/null | grep -cx "$1" || true; }
users=$(lines "$work/alerts.txt.answered")
counts=$(for port in "${ports[@]}"; do printf '%s:%s\n' "$port" "$(answered "$port")"; done | paste -sd' ')
# None was blocked for want of an alert: the questions that race to start
# the alert program all reach it.
if grep -q "<REASON>noalert</REASON>" "$work"/logs/*; then fail "a question found no alert program"; fi
summary="$users answered by the user (by port $counts), $(lines "$work/alerts.txt.pressed") settled by an answer given meanwhile, $(lines "$work/alerts.txt.withdrawn") withdrawn, of $reached that reached the alert"
case $SCENARIO in
  port)
    for port in "${ports[@]}"; do
      [ "$(answered "$port")" -le 1 ] || fail "port $port was asked about $(answered "$port") times: $summary"
    done
    [ "$users" -le 4 ] || fail "$summary"
    echo "PASS (always, this port): $summary; all four loads arrived"
    ;;
  any)
    [ "$users" -eq 1 ] || fail "not one question for any connection: $summary"
    echo "PASS (always, any connection): $summary; all four loads arrived"
    ;;
esac

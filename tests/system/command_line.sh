#!/usr/bin/env bash
# zel-rules and zel-log as a user or a script calls them, in a sandbox of
# their own: export and import give back the same rules; bad input is told
# on standard error with the program's name and a status, and leaves the
# rules file as it was; the log's filters on a prepared log folder.
#   tests/system/command_line.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
follower=
trap '[ -n "$follower" ] && kill "$follower" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_DATA_HOME="$work/data"
# The messages checked are the English ones, whatever the caller's language.
export LC_ALL=C
mkdir -m 0700 "$ZEL_RUNTIME_DIR"
rules() { "$BUILD/tools/zel-rules" "$@"; }
zlog() { "$BUILD/tools/zel-log" "$@"; }
use_rules_file() { "$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v RulesFile /d "$1" >/dev/null; }
use_rules_file "$work/one/Rules.xml"

step "changes from the command line, then the round trip into an empty file"
rules list >"$work/list" || fail "list without a rules file"
grep -q '^ANY ' "$work/list" || fail "the default rules have no ANY: $(cat "$work/list")"
rules block /usr/bin/env --in
rules add env --out --allow --port 443,80 --host '*.debian.org,deb.example'
rules add env --out --block --address 192.0.2.0/24,2001:db8::1,10.0.0.1-10.0.0.9
rules add env --in --ask --port 0 --name 'any port'
rules ask ANY --out
rules show env >"$work/show"
grep -q 'incoming: block' "$work/show" || fail "show: $(cat "$work/show")"
[ "$(grep -c '^  [0-9]' "$work/show")" = 3 ] || fail "show lists not three rules: $(cat "$work/show")"
rules remove ENV 2
[ "$(rules show env | grep -c '^  [0-9]')" = 2 ] || fail "remove did not take rule 2"
plain=$(rules show env)
rules block env --out --parent /bin/sh
rules show env --parent "$(readlink -f /bin/sh)" | grep -q "only when started by: $(readlink -f /bin/sh)" \
  || fail "show --parent: $(rules show env --parent /bin/sh)"
[ "$(rules show env)" = "$plain" ] || fail "--parent changed the plain entry: $(rules show env)"
rules show env --parent /bin/sh | grep -q 'outgoing: block' || fail "block --parent: $(rules show env --parent /bin/sh)"
! rules allow env --parent 2>/dev/null || fail "--parent without a program taken"
rules remove env --parent /bin/sh
! rules show env --parent /bin/sh 2>/dev/null || fail "remove --parent left the entry"
rules export >"$work/first.json"
use_rules_file "$work/two/Rules.xml"
rules import "$work/first.json"
rules export >"$work/second.json"
cmp -s "$work/first.json" "$work/second.json" || fail "export, import, export differ: $(diff "$work/first.json" "$work/second.json")"
cmp -s "$work/one/Rules.xml" "$work/two/Rules.xml" || fail "the rules files differ after the round trip"
# From standard input too, into a third file.
use_rules_file "$work/three/Rules.xml"
rules import <"$work/first.json"
[ "$(rules export)" = "$(cat "$work/first.json")" ] || fail "import from standard input"

step "answers for a time go through export and import with their end, and show"
use_rules_file "$work/four/Rules.xml"
hour=$(($(date +%s) + 3600))
printf '{"applications": [{"name": "CURL", "incoming": "ASK", "outgoing": "ASK", "timed": [{"direction": "OUTGOING", "permission": "PERMIT", "until": %s, "port": 443, "host": "api.example.org"}, {"direction": "INCOMING", "permission": "DENY", "until": %s, "port": 22, "address": "192.0.2.44"}]}]}' \
  "$hour" "$((hour + 60))" >"$work/timed.json"
rules import "$work/timed.json"
grep -q "<TIMED><ANSWER><DIRECTION>OUTGOING</DIRECTION><PERMISSION>PERMIT</PERMISSION><UNTIL>$hour</UNTIL><NUMBER>443</NUMBER><HOST>api.example.org</HOST></ANSWER>" "$work/four/Rules.xml" \
  || fail "the timed answers are not in the file: $(cat "$work/four/Rules.xml")"
rules export >"$work/timed-again.json"
rules import "$work/timed-again.json"
[ "$(rules export)" = "$(cat "$work/timed-again.json")" ] || fail "timed answers changed in the round trip"
grep -q "\"until\": $((hour + 60))" "$work/timed-again.json" || fail "export lacks the end: $(cat "$work/timed-again.json")"
rules list | grep -q '^CURL  *ask  *ask  *0  *2 ' || fail "list does not count the answers: $(rules list)"
rules show curl | grep -q "^    in   block  port 22 address 192.0.2.44  until $(date -d "@$((hour + 60))" '+%Y-%m-%d %H:%M:%S %Z')\$" \
  || fail "show: $(rules show curl)"

# "until" as ISO 8601 too: local, in UTC, with an offset; export gives the seconds.
use_rules_file "$work/five/Rules.xml"
printf '{"applications": [{"name": "CURL", "timed": [%s, %s, %s]}]}' \
  "{\"direction\": \"OUTGOING\", \"permission\": \"PERMIT\", \"until\": \"$(date -d "@$hour" +%Y-%m-%dT%H:%M:%S)\", \"port\": 1}" \
  "{\"direction\": \"OUTGOING\", \"permission\": \"PERMIT\", \"until\": \"$(date -u -d "@$((hour + 60))" '+%Y-%m-%d %H:%M:%SZ')\", \"port\": 2}" \
  "{\"direction\": \"OUTGOING\", \"permission\": \"PERMIT\", \"until\": \"$(TZ=Asia/Kolkata date -d "@$((hour + 120))" +%Y-%m-%dT%H:%M:%S%:z)\", \"port\": 3}" \
  >"$work/timed-iso.json"
rules import "$work/timed-iso.json"
[ "$(rules export | grep -o '"until": [0-9]*' | tr '\n' ' ')" = "\"until\": $hour \"until\": $((hour + 60)) \"until\": $((hour + 120)) " ] \
  || fail "ISO ends: $(rules export)"

step "bad input: a clear error, a status, the rules file untouched"
use_rules_file "$work/two/Rules.xml"
before=$(sha256sum <"$work/two/Rules.xml")
printf '{"applications": [' >"$work/cut.json"
printf '{"applications": [{"name": "X", "rules": [{"direction": "SIDEWAYS"}]}]}' >"$work/word.json"
printf '{"applications": [{"name": "X", "rules": [{"ports": [{"port": "70000"}]}]}]}' >"$work/port.json"
printf '{"applications": [{"name": "X", "rules": [{"ports": [{"port": "1", "addresses": ["1.2.3"]}]}]}]}' >"$work/address.json"
printf '{"applications": [{"name": "X", "colour": "red"}]}' >"$work/field.json"
printf '{"applications": [{"name": "ANY", "ignorelists": true}]}' >"$work/anymark.json"
printf '[1, 2]' >"$work/list.json"
printf '{"applications": [{"name": "X", "timed": [{"direction": "OUTGOING", "permission": "PERMIT", "until": 1, "port": 1, "host": "*.example.org"}]}]}' >"$work/timed-pattern.json"
printf '{"applications": [{"name": "X", "timed": [{"direction": "OUTGOING", "permission": "ASK", "until": 1, "port": 1}]}]}' >"$work/timed-ask.json"
for bad in 2026-02-30T10:00:00 2026-07-03T24:00:00 2026-07-03 tomorrow 2026-07-03T10:00:00+2; do
  printf '{"applications": [{"name": "X", "timed": [{"direction": "OUTGOING", "permission": "DENY", "until": "%s", "port": 1}]}]}' "$bad" \
    >"$work/timed-$bad.json"
done
printf '{"applications": [{"name": "X", "timed": [{"direction": "OUTGOING", "permission": "DENY", "until": %s, "port": 1}]}]}' \
  "$(($(date +%s) + 8 * 86400))" >"$work/timed-far.json"
printf '{"applications": [{"description": "no name"}, {"name": "X"}]}' >"$work/nameless.json"
printf '{"applications": [{"name": "x"}]}' >"$work/lower.json"
printf '{"applications": [{"name": "X"}, {"name": "ANY"}, {"name": "X", "path": "/usr/bin/x", "bypath": true}, {"name": "X"}]}' >"$work/twice.json"
printf '{"applications": [{"name": "X", "rules": [{"direction": "OUTGOING", "permission": "DENY"}]}]}' >"$work/stateless.json"
printf '{"applications": [{"name": "X", "rules": [{"permission": "DENY", "enabled": true}]}]}' >"$work/sideless.json"
printf '{"applications": [{"name": "X", "rules": [{"direction": "OUTGOING", "permission": "DENY", "enabled": true, "ports": [{"alias": "web"}]}]}]}' >"$work/portless.json"
# status|message part|arguments (one per field after the second)
while IFS='|' read -r status message args; do
  read -ra argv <<<"$args"
  set +e
  rules "${argv[@]}" >"$work/out" 2>"$work/err"
  got=$?
  set -e
  [ "$got" = "$status" ] || fail "zel-rules $args: status $got, expected $status ($(cat "$work/err"))"
  grep -q "^zel-rules: .*$message" "$work/err" || fail "zel-rules $args: '$(cat "$work/err")' does not say '$message'"
  [ ! -s "$work/out" ] || fail "zel-rules $args wrote to standard output"
  [ "$(sha256sum <"$work/two/Rules.xml")" = "$before" ] || fail "zel-rules $args changed the rules file"
done <<EOF2
2|no JSON document|import $work/cut.json
2|must be one of INCOMING, OUTGOING|import $work/word.json
2|no number from 0|import $work/port.json
2|no address|import $work/address.json
2|unknown field "colour"|import $work/field.json
2|cannot be left out for the system settings (ANY)|import $work/anymark.json
2|cannot be left out for the system settings (ANY)|lists ignore any
2|an object is expected|import $work/list.json
2|no host name as the engine writes one|import $work/timed-pattern.json
2|must be one of PERMIT, DENY|import $work/timed-ask.json
2|"until" is no time as ISO 8601|import $work/timed-2026-02-30T10:00:00.json
2|"until" is no time as ISO 8601|import $work/timed-2026-07-03T24:00:00.json
2|"until" is no time as ISO 8601|import $work/timed-2026-07-03.json
2|"until" is no time as ISO 8601|import $work/timed-tomorrow.json
2|"until" is no time as ISO 8601|import $work/timed-2026-07-03T10:00:00+2.json
2|answer for a time 1: "until" is further away than the longest answer for a time (7 days from now)|import $work/timed-far.json
2|application 1: "name" is missing|import $work/nameless.json
2|application 1: "x" names no program|import $work/lower.json
2|applications 1 and 4 are both "X": a program has one entry|import $work/twice.json
2|application 1 (X), rule 1: "enabled" is missing|import $work/stateless.json
2|application 1 (X), rule 1: a rule in force needs its direction and permission|import $work/sideless.json
2|application 1 (X), rule 1, port 1: "port" is missing|import $work/portless.json
1|cannot read|import $work/missing.json
1|no program "nosuchprogram"|show nosuchprogram
1|no program "nosuchprogram"|block nosuchprogram
1|no program "nosuchprogram"|remove nosuchprogram 1
1|has no rule 7|remove env 7
2|no rule number|remove env first
2|is no port|add env --out --allow --port 70000
2|is no port|add env --out --allow --port http
2|no address, range or prefix|add env --out --allow --address 300.1.1.1
2|no host name or pattern|add env --out --allow --host a*b
2|host names are for outgoing rules|add env --in --allow --host example.org
2|needs a direction|add env --allow
1|cannot be removed|remove ANY
2|"../x" is no list name|lists add ../x $work/first.json
2|"a/b" is no list name|lists remove a/b
2|only http and https addresses are fetched|lists add X file:///etc/hosts
2|--services does not apply|--services lists
1|list "X" was not added: cannot read $work/missing.txt|lists add X $work/missing.txt
1|list "X" was not added: the list holds no host names|lists add X $work/first.json
1|no list "nosuch"|lists update nosuch
1|no list "nosuch"|lists disable nosuch
2|"a/b" is no list name|lists enable a/b
EOF2

step "host lists: added from a file, listed, switched off and on, removed"
printf '0.0.0.0 ads.example.com\n||track.example.net^\n' >"$work/hosts.txt"
rules lists add 'My Ads' "$work/hosts.txt" | grep -q '^list "My Ads" added: 2 entries$' || fail "lists add"
rules lists | grep -q "^My Ads  *$work/hosts.txt  *2  $(date +%Y-%m-%d) [0-9:]*  -\$" || fail "lists: $(rules lists)"
[ -s "$XDG_DATA_HOME/korvel/hostlists.bin" ] || fail "no compiled lists"
# Off: compiled without it; on again from the text kept, its source gone.
rules lists disable 'my ads' && rules lists | grep -q "^My Ads .* (off) -\$" || fail "lists disable: $(rules lists)"
! grep -qa 'ads.example.com' "$XDG_DATA_HOME/korvel/hostlists.bin" || fail "a list switched off still compiled"
rm "$work/hosts.txt"
rules lists enable 'My Ads' && rules lists | grep -q "^My Ads .*  -\$" || fail "lists enable: $(rules lists)"
grep -qa 'ads.example.com' "$XDG_DATA_HOME/korvel/hostlists.bin" || fail "a list switched on again not compiled"
rules lists remove 'my ads' && [ "$(rules lists | wc -l)" = 1 ] || fail "lists remove: $(rules lists)"

step "the built-in list: offered switched off, added when switched on, off again when removed"
mkdir "$work/install"
cp "$(dirname "$0")/../../data/EncryptedDnsResolvers.txt" "$work/install/"
"$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v VRNFolder /d "$work/install/" >/dev/null
builtin="^Encrypted DNS resolvers $work/install/EncryptedDnsResolvers.txt  *[1-9][0-9]*  "
rules lists | grep -q "$builtin""never  *(off) -\$" || fail "the built-in list not offered: $(rules lists)"
! grep -qa 'dns.google' "$XDG_DATA_HOME/korvel/hostlists.bin" || fail "a built-in list not switched on compiled"
rules lists enable 'encrypted DNS resolvers' && rules lists | grep -q "$builtin""$(date +%Y-%m-%d) [0-9:]*  -\$" \
  || fail "the built-in list not added: $(rules lists)"
grep -qa 'dns.google' "$XDG_DATA_HOME/korvel/hostlists.bin" || fail "the built-in list switched on not compiled"
rules lists remove 'Encrypted DNS resolvers' && rules lists | grep -q "(off) -\$" || fail "removed: $(rules lists)"

step "host lists left out for a program of its own, shown, exported, applied again"
use_rules_file "$work/marks/Rules.xml"
rules lists ignore /usr/bin/env && rules show env | grep -q '^  host lists: not applied' || fail "show: $(rules show env)"
grep -q '<EXENAME>ENV</EXENAME>.*<IGNORELISTS>1</IGNORELISTS>' "$work/marks/Rules.xml" && rules export | grep -q '"ignorelists": true' || fail "no mark"
rules lists obey env && ! grep -q IGNORELISTS "$work/marks/Rules.xml" || fail "lists obey left the mark"

step "the mode, and the review list: listed, accepted into rules, rejected"
use_rules_file "$work/review/Rules.xml"
[ "$(rules mode)" = ask ] || fail "the mode without a setting: $(rules mode)"
rules mode learn --days 3 | grep -q "^learn (until $(date -d "@$(($(date +%s) + 3 * 86400))" +%Y-%m-%d) " || fail "mode learn: $(rules mode)"
[ "$(rules mode quiet-block)" = quiet-block ] && [ "$(rules mode)" = quiet-block ] || fail "mode quiet-block: $(rules mode)"
mkdir -p -m 0700 "$XDG_DATA_HOME/korvel"
t=$(date +%s)
# What the engines write: time, mode, direction, protocol, address, remote
# and local port, host, decision, program.
printf '%s\tquiet\tout\tTCP\t192.0.2.7\t443\t40000\tapi.example.org\tblocked\t/usr/bin/curl\n' "$t" "$((t + 1))" >"$XDG_DATA_HOME/korvel/review"
printf '%s\tquiet\tin\tUDP\t198.51.100.3\t5000\t5353\t\tallowed\t/usr/bin/curl\n' "$((t + 2))" >>"$XDG_DATA_HOME/korvel/review"
printf '%s\tlearn\tout\tTCP\t192.0.2.9\t80\t40001\t\tallowed\t/usr/bin/env\n' "$t" >>"$XDG_DATA_HOME/korvel/review"
rules review --json >"$work/review.json"
python3 - "$work/review.json" <<'PY' || fail "review --json: $(cat "$work/review.json")"
import json, sys
programs = json.load(open(sys.argv[1]))
assert [p["program"] for p in programs] == ["/usr/bin/curl", "/usr/bin/env"], programs
curl = programs[0]
assert curl["count"] == 3 and len(curl["peers"]) == 2, curl
inc, out = curl["peers"]
assert (inc["direction"], inc["protocol"], inc["port"], inc["host"], inc["decided"]) == ("in", "UDP", 5353, "198.51.100.3", "allowed"), inc
assert (out["port"], out["host"], out["decided"], out["mode"], out["count"]) == (443, "api.example.org", "blocked", "quiet", 2), out
assert all(len(p["id"]) == 8 for p in curl["peers"])
PY
out_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["peers"][1]["id"])' "$work/review.json")
in_id=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["peers"][0]["id"])' "$work/review.json")
rules review | grep -q "^  $out_id out TCP     443  api.example.org  *blocked (quiet)  *2  " || fail "review: $(rules review)"
rules review accept "$out_id"
rules show curl | grep -q '^  1  out  block  port 443 host api.example.org  "Block api.example.org port 443"$' || fail "accept: $(rules show curl)"
rules review accept "$in_id" --block --scope port
rules show curl | grep -q '^  1  in   block  port 5353  "Block port 5353"$' || fail "accept --scope port: $(rules show curl)"
[ "$(rules review --json | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))')" = 1 ] || fail "accepted items stay: $(rules review)"
rules review reject --program /usr/bin/env
[ "$(rules review --json)" = "[]" ] || fail "reject: $(rules review --json)"
! rules show env >/dev/null 2>&1 || fail "reject made a rule"
rules mode ask >/dev/null
# status|message part|arguments
while IFS='|' read -r status message args; do
  read -ra argv <<<"$args"
  set +e
  rules "${argv[@]}" >"$work/out" 2>"$work/err"
  got=$?
  set -e
  [ "$got" = "$status" ] && grep -q "^zel-rules: .*$message" "$work/err" || fail "zel-rules $args: status $got, $(cat "$work/err")"
done <<EOF2
2|"loud" is no mode|mode loud
2|"0" is no number of days (1 to 365)|mode learn --days 0
2|"366" is no number of days|mode learn --days 366
2|no item 0badf00d|review accept 0badf00d
2|no item 0badf00d|review reject 0badf00d
2|has nothing of /usr/bin/nosuch|review accept --program /usr/bin/nosuch
EOF2
[ "$(rules mode)" = ask ] || fail "a bad mode changed it: $(rules mode)"

step "a rules file that does not parse is neither read nor replaced"
use_rules_file "$work/bad/Rules.xml"
mkdir -p "$work/bad" && printf '<APPLICATIONS><APPLICATION>' >"$work/bad/Rules.xml"
set +e; rules block env 2>"$work/err"; got=$?; set -e
[ "$got" = 1 ] && grep -q "does not parse" "$work/err" || fail "a bad rules file: status $got, $(cat "$work/err")"
[ "$(cat "$work/bad/Rules.xml")" = '<APPLICATIONS><APPLICATION>' ] || fail "the bad rules file was changed"

step "zel-log: the filters on a prepared log folder"
logs="$work/logs"
mkdir -p "$logs"
"$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v LogFilesPath /d "$logs" >/dev/null
record() { # DATE PATH NAME DIRECTION ADDRESS PERMISSION [HOST] [REASON]
  printf '<DATE>%s</DATE><TIME>10:00:00</TIME><EXEPATH>%s</EXEPATH><APPLICATION>%s</APPLICATION><PROTOCOL>1</PROTOCOL><DIRECTION>%s</DIRECTION><IP>%s</IP><LOCALPORT>4000</LOCALPORT><REMOTEPORT>443</REMOTEPORT><PERMISSION>%s</PERMISSION><SERVICE>0</SERVICE>%s%s\r\n' \
    "$1" "$2" "$3" "$4" "$5" "$6" "${7:+<HOST>$7</HOST>}" "${8:+<REASON>$8</REASON>}"
}
today="$logs/$(date +%-d_%-m_%Y)_qrb.log"
{ record 1/1/2020 /usr/bin/curl curl 1 192.0.2.1 1 old.example
  printf '<DATE>1/1/2020</DATE><TIME>10:00:01</TIME><APPLICATIONSTART>/usr/bin/curl</APPLICATIONSTART>\r\n'; } >"$logs/1_1_2020_qrb.log"
{ record 2/1/2020 /usr/bin/wget wget 1 192.0.2.2 0
  record 2/1/2020 /usr/sbin/sshd sshd 0 198.51.100.7 2; } >"$logs/2_1_2020_qrb.log"
record today /usr/bin/curl curl 1 2001:db8::5 0 new.example blockall >"$today"
echo 'not a record' >>"$logs/2_1_2020_qrb.log"
# expected count|arguments
while IFS='|' read -r count args; do
  read -ra argv <<<"$args"
  got=$(zlog --json "${argv[@]}" | wc -l)
  [ "$got" = "$count" ] || fail "zel-log $args: $got records, expected $count"
done <<EOF2
4|
1|--today
3|--since 2020-01-02
1|--since 2020-01-02 --program curl
2|--program /usr/bin/curl
2|--program CURL
3|--denied
1|--denied --program curl
0|--program nosuch
EOF2
zlog --json --today | grep -q '"program":"curl".*"direction":"out","verdict":"denied","protocol":"TCP","peer":"2001:db8::5","port":"443","host":"new.example","reason":"blockall"' \
  || fail "the JSON record: $(zlog --json --today)"
[ "$(zlog --program sshd | tail -n 1 | awk '{print $4, $5, $7, $8}')" = "in denied 198.51.100.7 4000" ] \
  || fail "the table's row: $(zlog --program sshd)"
# The reason before the host; "-" for a record of an older engine.
[ "$(zlog --today | tail -n 1 | awk '{print $9, $10}')" = "blockall new.example" ] \
  && [ "$(zlog --program sshd | tail -n 1 | awk '{print $9}')" = "-" ] || fail "the reason column: $(zlog)"
set +e; zlog --since 2020-13-01 >/dev/null 2>"$work/err"; got=$?; set -e
[ "$got" = 2 ] && grep -q '^zel-log: ' "$work/err" || fail "a bad date: status $got"

step "zel-log: dates and times in ISO 8601 (as written when unreadable), --since strict"
zlog --json --since 2020-01-02 --program wget | grep -q '"date":"2020-01-02","time":"10:00:00"' \
  || fail "not ISO: $(zlog --json --program wget)"
zlog --program wget | tail -n 1 | grep -q '^2020-01-02 10:00:00 ' || fail "the table's date: $(zlog --program wget)"
zlog --json --today | grep -q '"date":"today"' || fail "an unreadable date not as written: $(zlog --json --today)"
for bad in 2020-02-30 2021-02-29 20200102 2020-1-2 ' 2020-01-02' 2020-01-02x; do
  set +e; zlog --since "$bad" >/dev/null 2>"$work/err"; got=$?; set -e
  [ "$got" = 2 ] && grep -q 'is no date (YYYY-MM-DD)' "$work/err" || fail "--since '$bad': status $got, $(cat "$work/err")"
done
zlog --since 2020-02-29 >/dev/null || fail "--since a leap day"

step "zel-log on a terminal fits its width; a pipe keeps every value whole"
long_program=überprüfungsprogramm-für-äpfel long_peer=2001:db8:85a3:1234:5678:8a2e:370:7334
record "$(date +%m/%d/%Y)" "/usr/bin/$long_program" "$long_program" 1 "$long_peer" 1 a-rather-long-host-name.example.org >>"$today"
on_terminal() { # COLUMNS-OF-THE-TERMINAL [ENVIRONMENT...]
  local cols=$1; shift
  script -qec "stty cols $cols; env $* $BUILD/tools/zel-log --today" /dev/null </dev/null | tr -d '\r'
}
# columns|environment|what the last line holds
while IFS='|' read -r cols environment holds; do
  on_terminal "$cols" "$environment" >"$work/tty"
  width=${environment#COLUMNS=}; [ "$cols" = 0 ] || width=$cols
  [ "$(LC_ALL=C.UTF-8 wc -L <"$work/tty")" -le "$width" ] && iconv -f UTF-8 -t UTF-8 "$work/tty" >/dev/null \
    && tail -n 1 "$work/tty" | grep -qF "$holds" || fail "a terminal of $cols columns ($environment): $(cat "$work/tty")"
done <<EOF2
80||überpr…
100||überprüfun…
200||$long_peer
0|COLUMNS=90|überprü…
EOF2
zlog --today | tail -n 1 | grep -qF "$long_program" || fail "a pipe cut the program: $(zlog --today | tail -n 1)"

step "zel-log --follow: a record written later shows"
"$BUILD/tools/zel-log" --follow --json --program wget >"$work/followed" &
follower=$!
# What is there is shown first: the older day's record.
for _ in $(seq 100); do grep -q 192.0.2.2 "$work/followed" && break; sleep 0.05; done
record today /usr/bin/wget wget 1 192.0.2.9 1 >>"$today"
for _ in $(seq 100); do grep -q 192.0.2.9 "$work/followed" && break; sleep 0.05; done
kill "$follower"; wait "$follower" 2>/dev/null || true; follower=
grep -q '"peer":"192.0.2.9"' "$work/followed" || fail "the followed record did not show: $(cat "$work/followed")"
[ "$(grep -c . "$work/followed")" = 2 ] || fail "followed: $(cat "$work/followed")"

step "zel-log --connections: kept connections of a program without the hook and of one under it, with their bytes"
use_rules_file "$work/live/Rules.xml"
mkdir -p "$work/live"
# The firewall on, as a session starts it: the hook decides.
"$BUILD/tools/zel-reg" set HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 >/dev/null
"$BUILD/tools/zel-reg" set HKLM/Software/Microsoft/Windows/CurrentVersion/Run /v "Korvel Firewall" /d zel >/dev/null
echo '<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>' \
  >"$work/live/Rules.xml"
ZEL_LOG="$BUILD/tools/zel-log" HOOKED="$BUILD/tools/zel-run" HOOK="$BUILD/hook/libzelhook.so" ENGINE="$BUILD/engine/libqrbruler.so" \
  timeout 60 python3 - <<'PYTHON' || fail "the connections list"
import json, os, select, socket, subprocess, sys
# A sink on 127.0.0.2 (no hook) takes two connections: 5,000,000 bytes from a
# sender without the hook, 3,000,000 from one under it; all stay open.
sink_code = """
import socket, sys
s = socket.socket(); s.bind(('127.0.0.2', 0)); s.listen(2)
print(s.getsockname()[1], flush=True)
total = 0; peers = []
while total < 8000000:
    c, _ = s.accept(); peers.append(c)
    while (chunk := c.recv(1 << 20)):
        total += len(chunk)
        if total >= 8000000 or (len(peers) == 1 and total >= 5000000): break
print('received', total, flush=True)
sys.stdin.read()
"""
sender_code = """
import socket, sys
c = socket.create_connection(('127.0.0.2', int(sys.argv[1])), source_address=(sys.argv[2], 0))
c.sendall(b'x' * int(sys.argv[3]))
print('sent', flush=True)
sys.stdin.read()
"""
def start(argv, env=None):
    return subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
def line(process):
    ready, _, _ = select.select([process.stdout], [], [], 20)
    assert ready, "no answer from %s" % process.args
    return process.stdout.readline().strip()
hooked = dict(os.environ, ZEL_ALERT_PROGRAM="/bin/false", ZEL_HOOK_LIBRARY=os.environ["HOOK"],
              ZEL_ENGINE_LIBRARY=os.environ["ENGINE"])
processes = []
try:
    sink = start([sys.executable, "-c", sink_code]); processes.append(sink)
    port = line(sink)
    plain = start([sys.executable, "-c", sender_code, port, "127.0.0.5", "5000000"]); processes.append(plain)
    assert line(plain) == "sent"
    under = start([os.environ["HOOKED"], sys.executable, "-c", sender_code, port, "127.0.0.3", "3000000"], hooked)
    processes.append(under)
    assert line(under) == "sent", "the hooked sender"
    assert line(sink) == "received 8000000"
    rows = [json.loads(text) for text in subprocess.run([os.environ["ZEL_LOG"], "--connections", "--json"],
                                                        check=True, capture_output=True, text=True).stdout.splitlines()]
    def row(pid, direction, peer):
        found = [r for r in rows if r["pid"] == pid and r["direction"] == direction and r["peer"] == peer]
        assert len(found) == 1, "no %s row of %d with %s in %s" % (direction, pid, peer, rows)
        return found[0]
    near = lambda got, want: abs(got - want) <= want * 0.02
    received = row(sink.pid, "in", "127.0.0.5")
    assert near(received["bytesReceived"], 5000000) and received["path"] == os.path.realpath(sys.executable), received
    sent = row(under.pid, "out", "127.0.0.2")
    assert near(sent["bytesSent"], 3000000) and sent["decidedBy"] == "default" and sent["hooked"], sent
    # The same program to the same peer and port, but without the hook: no
    # record of the engine speaks for it.
    assert row(plain.pid, "out", "127.0.0.2")["decidedBy"] == "" and not received["hooked"], rows
    assert any(r["pid"] == sink.pid and r["direction"] == "listening" for r in rows), "the sink's listener"
finally:
    for process in processes:
        process.kill(); process.wait()
PYTHON
step "the user's language: words in German, what scripts read the same in any language"
export ZEL_TRANSLATIONS_DIR="$BUILD/translations"
[ -s "$ZEL_TRANSLATIONS_DIR/zel-tools_de.qm" ] || fail "no German translation built"
use_rules_file "$work/one/Rules.xml"
in_locale() { local locale=$1; shift; env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="$locale" "$@"; }
nohook="env ZEL_HOOK_LIBRARY=$work/nohook.so"
# locale|the first line starts with|command
while IFS='|' read -r locale first args; do
  read -ra argv <<<"$args"
  set +e; got=$(in_locale "$locale" "${argv[@]}" 2>&1 | head -n 1); set -e
  [[ "$got" == "$first"* ]] || fail "LANG=$locale $args: '$got', expected '$first...'"
done <<EOF2
de_DE.UTF-8|Aufruf: zel-rules [--services|$BUILD/tools/zel-rules --help
C|usage: zel-rules [--services|$BUILD/tools/zel-rules --help
de_DE.UTF-8|zel-rules: kein Programm „nosuch“ in den Regeln|$BUILD/tools/zel-rules show nosuch
C|zel-rules: no program "nosuch" in the rules|$BUILD/tools/zel-rules show nosuch
de_DE.UTF-8|zel-rules: $work/list.json: das Dokument: ein Objekt wird erwartet|$BUILD/tools/zel-rules import $work/list.json
de_DE.UTF-8|Aufruf: zel-log|$BUILD/tools/zel-log --help
de_DE.UTF-8|Aufruf: zel-reg|$BUILD/tools/zel-reg --help
de_DE.UTF-8|Aufruf: zel-setup|$BUILD/tools/zel-setup --help
de_DE.UTF-8|Aufruf: zel-session|$BUILD/tools/zel-session --help
de_DE.UTF-8|Aufruf: zel-run|$BUILD/tools/zel-run --help
C|usage: zel-run|$BUILD/tools/zel-run --help
de_DE.UTF-8|zel-run: die Hook-Bibliothek $work/nohook.so kann nicht gelesen werden|$nohook $BUILD/tools/zel-run true
EOF2
# Run as root for another user, the backstop reads only the installed
# translations: a folder named here (holding, under a language nothing
# installs, the German) is not one of them.
if [ -x "$BUILD/backstop/zel-backstop" ]; then
  mkdir -p "$work/planted"
  cp "$ZEL_TRANSLATIONS_DIR/zel-tools_de.qm" "$work/planted/zel-tools_tlh.qm"
  [[ "$(ZEL_TRANSLATIONS_DIR="$work/planted" in_locale tlh "$BUILD/backstop/zel-backstop" --help | head -n 1)" \
      == "usage: zel-backstop"* ]] || fail "zel-backstop took its words from ZEL_TRANSLATIONS_DIR"
  [[ "$(ZEL_TRANSLATIONS_DIR="$work/planted" in_locale tlh "$BUILD/tools/zel-reg" --help 2>&1 | head -n 1)" \
      != "usage: zel-reg"* ]] || fail "the planted translation is not one a tool would take"
fi
# Machine output never changes with the language: the rules as JSON, the
# list, the log's records (its table too: scripts cut its columns).
same() { # WHAT COMMAND...
  local what=$1; shift
  in_locale de_DE.UTF-8 "$@" >"$work/de.out"
  in_locale C "$@" >"$work/c.out"
  [ -s "$work/c.out" ] && cmp -s "$work/de.out" "$work/c.out" || fail "$what differs with the language"
}
same "zel-rules export" "$BUILD/tools/zel-rules" export
same "zel-rules list" "$BUILD/tools/zel-rules" list
same "zel-log --json" "$BUILD/tools/zel-log" --json
same "zel-log" "$BUILD/tools/zel-log"
# show: its labels in German, the rules' lines (the words typed back) as they are.
in_locale de_DE.UTF-8 "$BUILD/tools/zel-rules" show env >"$work/de.out"
in_locale C "$BUILD/tools/zel-rules" show env >"$work/c.out"
grep -q '^  eingehend: block$' "$work/de.out" || fail "show in German: $(cat "$work/de.out")"
[ "$(grep '^  [0-9]' "$work/de.out")" = "$(grep '^  [0-9]' "$work/c.out")" ] || fail "show's rules differ with the language"
echo "PASS"

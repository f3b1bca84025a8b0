#!/usr/bin/env bash
# "Decide every program I start", as a new user meets it with the installed
# programs: the first start of the panel switches it on; a new login session,
# made as systemd's user manager (its environment generators) and Debian's
# Xsession make one, starts programs that are decided and logged without
# zel-run; the panel and its interceptor never run under the hook; with the
# option off, the hook removed or the installation deleted, nothing is
# preloaded and no program prints a loader error.
#   tests/system/session.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  # What the test started, and what its sessions left (ssh-agent ends on
  # its own only some seconds after its session's program).
  for pid in "${pids[@]}" $(pgrep -f "$work/" || true); do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  ps -eo pid,ppid,stat,args | grep -F "$work" | grep -v grep || true
  echo "-- error log:"; cat "$home"/.local/state/korvel/errlogs/* 2>/dev/null || true
  exit 1
}
step() { echo "[$(date +%T)] $*"; }
wait_for() {
  local tenths=$1; shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
ended() { ! kill -0 "$1" 2>/dev/null; }

step "installing into a private prefix, with a private home"
prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
home="$work/home"
mkdir -p "$home"
# Everything of the user's lives in the private home: settings, rules, logs.
unset ZEL_REGISTRY_ROOT ZEL_RUNTIME_DIR XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME LD_PRELOAD
# No session bus of the machine's is ever reached: the one named is no bus
# at all, and its tool below a stand-in. No agent of the caller's: Xsession
# starts the set-group-ID ssh-agent in front of the session, as on a machine
# where nothing started one before.
unset SSH_AUTH_SOCK SSH_AGENT_PID
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus"
export HOME="$home" XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=offscreen
mkdir -m 0700 "$XDG_RUNTIME_DIR"
hook=$(find "$prefix" -name libzelhook.so | head -1)
pkg=$(dirname "$hook")
generators="$prefix/lib/systemd/user-environment-generators"
[ -x "$generators/60-korvel-firewall" ] || fail "no environment generator installed"
snippet="$prefix/etc/X11/Xsession.d/85korvel-firewall"
[ -f "$snippet" ] || fail "no Xsession file installed"

# The desktop's tools, standing in: each records how it was called.
tools="$work/tools"
mkdir -p "$tools"
for tool in systemctl dbus-update-activation-environment; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\nexit 0\n' "$tool" "$work" >"$tools/$tool"
  chmod +x "$tools/$tool"
done
export PATH="$tools:$PATH"
setting() { "$prefix/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" 2>/dev/null | sed -n 's/.*REG_SZ    //p'; }

# The panel, once its interceptor runs; its pid in $panel. Arguments: how
# to start it (a command that ends in exec).
start_panel() {
  "$@" "$prefix/bin/zel" >"$work/zel.out" 2>&1 &
  panel=$!
  pids+=($panel)
  wait_for 150 pgrep -f "^$pkg/zelconn" >/dev/null || fail "the panel did not start the interceptor: $(cat "$work/zel.out")"
  zelconn=$(pgrep -f "^$pkg/zelconn" | head -1)
}
stop_panel() {
  kill "$panel"
  wait_for 100 ended "$panel" || fail "the panel did not end"
  wait_for 50 ended "$zelconn" || fail "the interceptor ($zelconn) did not end"
}
manager=(python3 "$HERE/user_manager_env.py" /usr/lib/systemd/user-environment-generators "$generators" --)
login_env() { "${manager[@]}" "$@"; }

step "a new user starts the panel for the first time"
start_panel env
[ "$(setting DecideEveryProgram)" = 1 ] || fail "the first start did not switch the option on"
rules=$(setting RulesFile)
logs=$(setting LogFilesPath)
service="$home/.config/systemd/user/korvel-firewall-session.service"
[ -f "$service" ] && [ -L "$home/.config/systemd/user/basic.target.wants/korvel-firewall-session.service" ] \
  || fail "no user service for an installation under a private prefix"
grep -q "^ExecStart=\"$pkg/zel-session\" --update-session --manager-only$" "$service" || fail "service: $(cat "$service")"
grep -q ">>> Korvel Firewall" "$home/.xsessionrc" || fail "no block in ~/.xsessionrc"
wait_for 50 grep -q "systemctl --user set-environment LD_PRELOAD=$hook" "$work/calls" \
  || fail "the running session was not told: $(cat "$work/calls" 2>/dev/null)"
grep -q "dbus-update-activation-environment LD_PRELOAD=$hook" "$work/calls" || fail "the session bus was not told"
stop_panel

step "a server on 127.0.0.2 that the user's programs connect to"
port=$((22000 + RANDOM % 2000))
"$BUILD/tests/netpeer" tcp-server 127.0.0.2 "$port" >"$work/server.out" 2>&1 &
pids+=($!)
wait_for 50 grep -q listening "$work/server.out" || fail "server"
client=("$BUILD/tests/netpeer" tcp-repeat 127.0.0.3 127.0.0.2 "$port" 1 0)
records() { cat "$logs"/*_qrb.log 2>/dev/null | grep -c "<EXEPATH>$BUILD/tests/netpeer</EXEPATH>.*<PERMISSION>1</PERMISSION>" || true; }
records_at_least() { [ "$(records)" -ge "$1" ]; }

step "login: the panel autostarted by the user's manager, with the generators' environment"
start_panel "${manager[@]}"
for process in "$panel" "$zelconn"; do
  ! grep -q libzelhook.so "/proc/$process/maps" || fail "process $process runs under the hook"
  ! tr '\0' '\n' <"/proc/$process/environ" | grep -q '^LD_PRELOAD=.*libzelhook' || fail "process $process hands the hook on"
done

step "a program the manager starts is decided and logged, without zel-run"
login_env env >"$work/login.env"
grep -qx "LD_PRELOAD=$hook" "$work/login.env" || fail "the generators' LD_PRELOAD: $(grep LD_PRELOAD "$work/login.env")"
login_env "${client[@]}" >"$work/client.out" 2>&1 || fail "client: $(cat "$work/client.out")"
grep -qx ok "$work/client.out" || fail "client: $(cat "$work/client.out")"
wait_for 50 records_at_least 1 || fail "no record of the connection"
# The user's own preload stays, after the hook.
mine=$(ldd "$BUILD/tests/netpeer" | awk '/libstdc\+\+/ {print $3}')
mkdir -p "$home/.config/environment.d"
echo "LD_PRELOAD=$mine" >"$home/.config/environment.d/50-mine.conf"
login_env env | grep -qx "LD_PRELOAD=$hook:$mine" || fail "the user's environment.d preload: $(login_env env | grep LD_PRELOAD)"
rm "$home/.config/environment.d/50-mine.conf"

# Debian's Xsession, run as a display manager runs it, with a session
# program that tells its preload and connects once.
if [ -x /etc/X11/Xsession ]; then
  cat >"$work/session-program" <<EOF
#!/bin/sh
echo "preload=\$LD_PRELOAD"
exec ${client[*]}
EOF
  chmod +x "$work/session-program"
  # Xsession with its folder of start-up files replaced by the given one.
  xsession() {
    rm -f "$home/.xsession-errors"
    (cd "$home" && env -u LD_PRELOAD "$1" "$work/session-program") || true
    cat "$home/.xsession-errors"
  }
  # Debian's own start-up files only: a machine-wide installation of the
  # firewall on this machine (its Xsession.d file) must not take part.
  user_xsession="$work/Xsession-debian"
  mkdir -p "$work/xsession-debian.d" "$work/xsession.d"
  for file in /etc/X11/Xsession.d/*; do
    [ "$(basename "$file")" = "$(basename "$snippet")" ] || cp "$file" "$work/xsession-debian.d/"
  done
  sed "s|^SYSSESSIONDIR=.*|SYSSESSIONDIR=$work/xsession-debian.d|" /etc/X11/Xsession >"$user_xsession"
  chmod +x "$user_xsession"
  system_xsession="$work/Xsession-with-ours"
  cp "$work/xsession-debian.d/"* "$work/xsession.d/"
  cp "$snippet" "$work/xsession.d/"
  sed "s|^SYSSESSIONDIR=.*|SYSSESSIONDIR=$work/xsession.d|" /etc/X11/Xsession >"$system_xsession"
  chmod +x "$system_xsession"

  grep -qx use-ssh-agent /etc/X11/Xsession.options && echo "   (Xsession starts the session's program through ssh-agent)"
  step "an X session of the user's (~/.xsessionrc) starts its programs under the firewall"
  before=$(records)
  xsession "$user_xsession" >"$work/x1.out"
  grep -qx "preload=$hook" "$work/x1.out" || fail "Xsession: $(cat "$work/x1.out")"
  grep -qx ok "$work/x1.out" || fail "Xsession client: $(cat "$work/x1.out")"
  wait_for 50 records_at_least $((before + 1)) || fail "no record of the X session's connection"

  step "the firewall's own Xsession.d file does the same for a machine-wide installation"
  mv "$home/.xsessionrc" "$work/xsessionrc.saved"
  before=$(records)
  xsession "$system_xsession" >"$work/x2.out"
  grep -qx "preload=$hook" "$work/x2.out" || fail "Xsession.d: $(cat "$work/x2.out")"
  wait_for 50 records_at_least $((before + 1)) || fail "no record of the X session's connection"
  mv "$work/xsessionrc.saved" "$home/.xsessionrc"
else
  echo "   (no /etc/X11/Xsession here: the X session steps are left out)"
fi

step "option off: nothing is preloaded"
"$prefix/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v DecideEveryProgram /d 0 >/dev/null
! login_env env | grep -q '^LD_PRELOAD=' || fail "the generators still name the hook"
if [ -x /etc/X11/Xsession ]; then
  xsession "$user_xsession" >"$work/x3.out"
  grep -qx "preload=" "$work/x3.out" || fail "Xsession with the option off: $(cat "$work/x3.out")"
  xsession "$system_xsession" >"$work/x4.out"
  grep -qx "preload=" "$work/x4.out" || fail "Xsession.d with the option off: $(cat "$work/x4.out")"
fi
"$prefix/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v DecideEveryProgram /d 1 >/dev/null
stop_panel

step "the hook removed: nothing is preloaded, no program prints a loader error"
mv "$hook" "$work/hook.saved"
login_env env >"$work/login.env" 2>"$work/login.err"
! grep -q '^LD_PRELOAD=' "$work/login.env" || fail "a missing hook is named"
login_env "${client[@]}" >"$work/client.out" 2>&1 || true
! grep -q "ld.so" "$work/client.out" || fail "loader error: $(cat "$work/client.out")"
: >"$work/calls"
"$pkg/zel-session" --update-session --manager-only
! grep -q "set-environment" "$work/calls" || fail "the login service named a missing hook: $(cat "$work/calls")"
if [ -x /etc/X11/Xsession ]; then
  for session in "$user_xsession" "$system_xsession"; do
    xsession "$session" >"$work/x5.out"
    grep -qx "preload=" "$work/x5.out" || fail "$session names a missing hook: $(cat "$work/x5.out")"
    ! grep -q "ld.so" "$work/x5.out" || fail "$session: loader error: $(cat "$work/x5.out")"
  done
fi

step "the installation deleted: the user's files and the Xsession.d file do nothing"
rm -rf "$pkg"
if [ -x /etc/X11/Xsession ]; then
  for session in "$user_xsession" "$system_xsession"; do
    xsession "$session" >"$work/x6.out"
    grep -qx "preload=" "$work/x6.out" || fail "$session without the installation: $(cat "$work/x6.out")"
    grep -qx ok "$work/x6.out" || fail "$session's program did not run: $(cat "$work/x6.out")"
    ! grep -qiE "ld\.so|korvel|zel-session" "$work/x6.out" || fail "$session complains: $(cat "$work/x6.out")"
  done
fi
grep -q "^ConditionPathIsExecutable=$pkg/zel-session$" "$service" || fail "the user service would still run"
echo "PASS"

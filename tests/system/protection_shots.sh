#!/usr/bin/env bash
# The pictures of the Protection page in the README, taken as a user sees it:
# the installed panel on a 1366x768 screen with openbox, opened by keyboard
# (the node below the system settings, Return), with five programs of the
# user's holding sockets: one under the hook, one started before protection,
# a statically linked one, one marked as Go and a set-user-ID one; the kernel
# backstop's line and button above them, and for the administrator (root
# here) the system services below. The kernel backstop on, off, not installed
# and on a kernel that cannot hold it (a stand-in zel-backstop says which),
# and the services of a machine laid out in a folder (ZEL_SERVICES_ROOT):
# each at scale 1, at scale 2 and in a dark palette; and the options dialog.
#   tests/system/protection_shots.sh BUILD_DIR FOLDER
. "$(dirname "${BASH_SOURCE[0]}")/shots_common.sh"
hook=$(find "$prefix" -name libzelhook.so | head -1)
# The kernel backstop as a stand-in that says what $work/kernel holds, root's
# alone as the panel wants it (beside zel-admin); "missing" takes it away.
mkdir -p "$prefix/sbin"
kernel_state() {
  rm -f "$prefix/sbin/zel-backstop"
  local say code=3
  case $1 in
    on) say="zel-backstop: running, rules for $(id -un)"; code=0 ;;
    off) say="zel-backstop: not running for $(id -un) (nothing answers on /run/zel-backstop/$(id -u).sock)" ;;
    cannot) say="zel-backstop: this kernel cannot hold the backstop: the kernel has no type information (BTF)" ;;
    missing) return ;;
  esac
  printf '#!/bin/sh\necho "%s"\nexit %s\n' "$say" "$code" >"$work/zel-backstop"
  install -m 0755 "$work/zel-backstop" "$prefix/sbin/zel-backstop"
}
admin_dir=$(dirname "$(find "$prefix" -name libzelhook.so | head -1)")
[ -x "$admin_dir/zel-admin" ] || install -m 0755 /bin/true "$admin_dir/zel-admin"

# The machine's services: a process table of a few, what they hold, the
# service rules, and the services' backstop answering on its socket.
machine="$work/machine"
mkdir -p "$machine/proc/net" "$machine/etc/korvel" "$machine/run/zel-backstop"
printf 'UID_MIN 1000\nUID_MAX 60000\n' >"$machine/etc/login.defs"
printf '  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n' >"$machine/proc/net/udp"
service() { # pid uid exe inode
  mkdir -p "$machine/proc/$1/fd"
  printf 'Name:\t%s\nUid:\t%s\t%s\t%s\t%s\n' "$(basename "$3" | cut -c1-15)" "$2" "$2" "$2" "$2" >"$machine/proc/$1/status"
  printf '%s\0' "$3" >"$machine/proc/$1/cmdline"
  ln -s "$3" "$machine/proc/$1/exe"
  ln -s "socket:[$4]" "$machine/proc/$1/fd/3"
  printf '   0: 00000000:0044 00000000:0000 07 00000000:00000000 00:00000000 00000000 %5s        0 %s 2 0 0\n' "$2" "$4" >>"$machine/proc/net/udp"
}
service 401 0 /usr/sbin/sshd 9001
service 402 0 /usr/sbin/NetworkManager 9002
service 403 0 /usr/sbin/dhclient 9003
service 404 101 /usr/lib/systemd/systemd-resolved 9004
service 405 102 /usr/lib/systemd/systemd-timesyncd 9005
service 406 0 /usr/sbin/cupsd 9006
service 407 110 /usr/sbin/avahi-daemon 9007
service 408 0 /opt/vendor/bin/update-agent-with-a-rather-long-name 9008
cat >"$machine/etc/korvel/Rules.xml" <<'RULES'
<APPLICATIONS><APPLICATION><EXENAME>SSHD</EXENAME><DESCRIPTION>OpenSSH server</DESCRIPTION><APPPATH>/usr/sbin/sshd</APPPATH><BYPATH>1</BYPATH><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>DENY</OUTDEF><RULES></RULES></APPLICATION><APPLICATION><EXENAME>CUPSD</EXENAME><DESCRIPTION>Printing</DESCRIPTION><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>DENY</OUTDEF><RULES></RULES></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><DESCRIPTION>SYSTEM SETTINGS</DESCRIPTION><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF><RULES></RULES></APPLICATION></APPLICATIONS>
RULES
start_services_backstop() {
  python3 -c 'import socket,sys
s=socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen(8)
while True: s.accept()[0].close()' "$machine/run/zel-backstop/services.sock" >/dev/null 2>&1 &
  pids+=($!)
  wait_for 50 test -S "$machine/run/zel-backstop/services.sock"
}
export ZEL_SERVICES_ROOT="$machine"
export HOME="$work/home" ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" XDG_RUNTIME_DIR="$work/xdg"
mkdir -p "$HOME" && mkdir -m 0700 "$ZEL_RUNTIME_DIR" "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/zel-setup" --quiet
# The first-run window has a test and pictures of its own: here it would
# stand over the panel being driven.
"$prefix/bin/zel-reg" add HKLM/Software/KORVEL/QRB /v FirstRunShown /d 1 /f >/dev/null
openbox >/dev/null 2>&1 &
pids+=($!)

start() { "$@" >/dev/null 2>&1 & pids+=($!); }
start env LD_PRELOAD="$hook" python3 -m http.server --bind 127.0.0.2 0
start python3 -m http.server --bind 127.0.0.3 0
[ -x "$BUILD/tests/static_listener" ] && start "$BUILD/tests/static_listener"
cp "$BUILD/tests/netpeer" "$work/sync-agent"
objcopy --add-section .go.buildinfo=/dev/null "$BUILD/tests/netpeer" "$work/sync-agent"
start env LD_PRELOAD="$hook" "$work/sync-agent" tcp-server 127.0.0.4 0
if [ "$(id -u)" = 0 ]; then
  install -o 65534 -m 4755 "$BUILD/tests/netpeer" "$work/setuid-peer"
  start "$work/setuid-peer" tcp-server 127.0.0.5 0
fi

# A connection kept open that moved 300,000 bytes, for the Connections page.
start python3 -c 'import socket, time
s = socket.socket(); s.bind(("127.0.0.6", 0)); s.listen()
c = socket.create_connection(s.getsockname(), source_address=("127.0.0.7", 0)); a, _ = s.accept()
c.sendall(b"x" * 300000); a.recv(1 << 20, socket.MSG_WAITALL); time.sleep(300)'

# One look: the panel started with the given environment, the page opened
# by keyboard (the node below the system settings; connections, host lists
# and review the last three), the first row selected (with services: the
# first service).
look() {
  local name=$1; shift
  local panel window
  show_panel "$@"
  sleep 1
  case $name in
    connections*) xdotool key --window "$window" End Up Up Return ;;
    hostlists*) xdotool key --window "$window" End Up Return ;;
    review*) xdotool key --window "$window" End Return ;;
    *) xdotool key --window "$window" Down Return ;;
  esac
  sleep 2.5
  xdotool key --window "$window" Tab Down
  case $name in *services*) xdotool key --window "$window" Tab Down ;; esac
  sleep 0.5
  import -window root "$SHOTS/$name.png"
  if [ "$name" = protection-view ]; then
    # The options, by the Settings shortcut.
    xdotool key --window "$window" ctrl+comma
    wait_for 50 xdotool search --onlyvisible --name "General Settings" >/dev/null
    sleep 0.5
    import -window "$(xdotool search --onlyvisible --name "General Settings" | head -1)" "$SHOTS/options.png"
    xdotool key Escape
  fi
  kill "$panel"
  wait "$panel" 2>/dev/null || true
}
source "$(dirname "${BASH_SOURCE[0]}")/dark_palette.sh"
dark_palette "$work/dark"
# Each state at scale 1, at scale 2 and dark.
looks() {
  look "$1" QT_SCALE_FACTOR=1
  look "$1-scale2" QT_SCALE_FACTOR=2
  look "$1-dark" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 XDG_CONFIG_HOME="$work/dark"
}
kernel_state off
looks protection-view
kernel_state missing
looks protection-kernel-missing
kernel_state cannot
looks protection-kernel-cannot
kernel_state on
start_services_backstop
looks protection-kernel-on
looks protection-services
looks connections
# Two host lists from files, the second's last update failed.
printf '0.0.0.0 ads.example\n0.0.0.0 tracker.example\n0.0.0.0 pixel.example\n' >"$work/ads.txt"
printf '0.0.0.0 malware.example\n' >"$work/malware.txt"
"$prefix/bin/zel-rules" lists add Ads "$work/ads.txt" >/dev/null
"$prefix/bin/zel-rules" lists add Malware "$work/malware.txt" >/dev/null
printf '<html>Not found</html>\n' >"$work/malware.txt"
"$prefix/bin/zel-rules" lists update Malware >/dev/null 2>&1 || true
looks hostlists
# What the quiet mode refused without asking, for the Review page: the list
# as the engines write it (a panel's first look would find it so).
mkdir -p -m 0700 "$HOME/.local/share/korvel"
now=$(date +%s)
printf '%s\tquiet\tout\tTCP\t%s\t%s\t0\t%s\tblocked\t%s\n' \
  "$((now - 300))" 127.0.0.2 8443 updates.example.org /usr/bin/python3.11 \
  "$((now - 120))" 127.0.0.3 25 mail.example.org /usr/bin/python3.11 \
  "$((now - 60))" 127.0.0.3 25 mail.example.org /usr/bin/python3.11 \
  "$((now - 30))" 127.0.0.4 443 cdn.example.net /opt/sync-agent/sync-agent >"$HOME/.local/share/korvel/review"
chmod 0600 "$HOME/.local/share/korvel/review"
"$prefix/bin/zel-rules" review | grep -q mail.example.org || echo "the review list does not read: $("$prefix/bin/zel-rules" review)"
looks review
echo "pictures in $SHOTS"

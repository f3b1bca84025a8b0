#!/usr/bin/env bash
# The Debian package made from a build folder: its files, desktop entries and
# dependencies; installed into and removed from a private dpkg root (nothing
# touches the system); and a user's first start from the unpacked files
# making that user's settings. The kernel layer's package (where the backstop
# is built) likewise, with its maintainer scripts run against a fake
# systemctl, succeeding or failing.
#   tests/system/package.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }

step "package"
(cd "$work" && cpack -G DEB -B "$work" --config "$BUILD/CPackConfig.cmake" >cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/tessary_*.deb)
echo "   $(basename "$deb"), $(du -k "$deb" | cut -f1) kB"
backstop_deb=
if [ -x "$BUILD/backstop/zel-backstop" ]; then
  backstop_deb=$(ls "$work"/tessary-backstop_*.deb)
  echo "   $(basename "$backstop_deb"), $(du -k "$backstop_deb" | cut -f1) kB"
fi

step "files"
root="$work/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/zel usr/bin/zel-run usr/bin/zel-setup usr/bin/zel-reg usr/bin/zel-rules usr/bin/zel-log \
            usr/lib/korvel/libqrbruler.so usr/lib/korvel/libzelhook.so usr/lib/korvel/libzelconn.so \
            usr/lib/korvel/zelconn usr/lib/korvel/zel-alert usr/lib/korvel/VrnPorts.txt usr/lib/korvel/zel-session \
            usr/lib/systemd/user-environment-generators/60-korvel-firewall etc/X11/Xsession.d/85korvel-firewall \
            usr/share/tessary/help/user-guide.md usr/share/tessary/help/de/user-guide.md usr/share/tessary/help/images/alert.png \
            usr/share/tessary/translations/zel-tools_de.qm usr/share/applications/tessary.desktop \
            usr/share/icons/hicolor/scalable/apps/tessary.svg usr/share/icons/hicolor/48x48/apps/tessary.png \
            usr/share/metainfo/org.tessary.tessary.metainfo.xml \
            usr/share/man/man1/zel.1.gz usr/share/man/man1/zel-run.1.gz usr/share/man/man1/zel-reg.1.gz \
            usr/share/man/man1/zel-setup.1.gz usr/share/man/man1/zel-session.1.gz usr/share/man/man5/tessary-rules.5.gz \
            usr/share/man/man1/zel-rules.1.gz usr/share/man/man1/zel-log.1.gz \
            usr/share/bash-completion/completions/zel-run usr/share/bash-completion/completions/zel-reg \
            usr/share/bash-completion/completions/zel-setup usr/share/bash-completion/completions/zel-session \
            usr/share/bash-completion/completions/zel-rules usr/share/bash-completion/completions/zel-log; do
  [ -f "$root/$file" ] || fail "$file is not in the package"
done
# Outside /usr only the X session's start-up file: Xsession reads no other folder.
outside=$(cd "$root" && find . -mindepth 1 ! -path './usr*' ! -path ./etc ! -path ./etc/X11 ! -path ./etc/X11/Xsession.d \
  ! -path ./etc/X11/Xsession.d/85korvel-firewall)
[ -z "$outside" ] || fail "files outside /usr: $outside"
grep -qF "exec '/usr/lib/korvel/zel-session' --generator" "$root/usr/lib/systemd/user-environment-generators/60-korvel-firewall" \
  || fail "the generator does not call the installed zel-session"
grep -qF "STARTUP=\"/usr/lib/korvel/zel-session --run \$STARTUP\"" "$root/etc/X11/Xsession.d/85korvel-firewall" \
  || fail "the Xsession.d file does not start the session through the installed zel-session"
# Nothing a test or a benchmark built.
if (cd "$root" && find . -type f | grep -E 'test|bench|fuzz|zel-icons'); then fail "build-only files packaged"; fi

step "desktop entries"
desktop-file-validate "$root/usr/share/applications/tessary.desktop" || fail "menu entry"
grep -qx 'Exec=zel' "$root/usr/share/applications/tessary.desktop" || fail "menu entry starts zel"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tessary.tessary.metainfo.xml" >/dev/null || fail "metainfo"

step "dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "   $depends"
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for package in libc6 libstdc++6 libpugixml1v5 libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6; do
  grep -qxF -- "$package" <<<"$names" || fail "Depends lacks $package"
done
# Nothing of ours runs as root at installation: the only maintainer scripts
# are the ldconfig calls every package with libraries under /usr/lib gets.
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
  [ -e "$work/control/$script" ] || continue
  other=$(grep -vE '^(#!/bin/sh|set -e|if \[ "\$1" = "(configure|remove)" \]; then|[[:space:]]*ldconfig|fi|)$' "$work/control/$script" || true)
  [ -z "$other" ] || fail "$script does more than ldconfig: $other"
done

if [ -n "$backstop_deb" ]; then
  step "the kernel layer's package"
  broot="$work/backstop-root"
  dpkg-deb -x "$backstop_deb" "$broot"
  bfiles="usr/sbin/zel-backstop usr/lib/korvel/zel-admin usr/lib/systemd/system/zel-backstop@.service
          usr/lib/systemd/system/zel-backstop-services.service usr/share/polkit-1/actions/org.tessary.firewall.policy
          usr/share/man/man8/zel-backstop.8.gz usr/share/bash-completion/completions/zel-backstop"
  for file in $bfiles; do
    [ -f "$broot/$file" ] || fail "$file is not in the kernel layer's package"
    [ ! -e "$root/$file" ] || fail "$file is in both packages"
  done
  other=$(cd "$broot" && find . -type f | sed 's|^\./||' | grep -vxF -f <(tr -s ' \n' '\n' <<<"$bfiles") || true)
  [ -z "$other" ] || fail "the kernel layer's package has more: $other"
  # The programs run as root: root's alone, not set-user-ID (pkexec raises zel-admin).
  [ -z "$(find "$broot" -perm /6022)" ] || fail "writable or set-id files in the kernel layer's package"
  grep -qF 'ExecStart=/usr/sbin/zel-backstop start --services' "$broot/usr/lib/systemd/system/zel-backstop-services.service" \
    || fail "the services' unit does not start the installed zel-backstop"
  grep -qF '<annotate key="org.freedesktop.policykit.exec.path">/usr/lib/korvel/zel-admin</annotate>' \
    "$broot/usr/share/polkit-1/actions/org.tessary.firewall.policy" || fail "the policy does not name the installed zel-admin"
  bdepends=$(dpkg-deb -f "$backstop_deb" Depends)
  echo "   $bdepends"
  grep -qF "tessary (= $(dpkg-deb -f "$deb" Version))" <<<"$bdepends" || fail "the kernel layer does not depend on this tessary"
  grep -qE '(^|, )libbpf1( |,|$)' <<<"$bdepends" || fail "the kernel layer does not depend on libbpf's runtime"
fi

step "install and remove in a private dpkg root"
admin="$work/dpkg"
mkdir -p "$admin/var/lib/dpkg/info" "$admin/var/lib/dpkg/updates" "$admin/var/lib/dpkg/triggers"
touch "$admin/var/lib/dpkg/status" "$admin/var/lib/dpkg/available"
# The package's ldconfig call must not rebuild this machine's cache.
mkdir -p "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/ldconfig"
chmod +x "$work/bin/ldconfig"
dpkg_private() {
  PATH="$work/bin:$PATH" dpkg --root="$admin" --force-not-root --force-bad-path --force-depends --force-script-chrootless \
    --log=/dev/null "$@" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg $*"; }
}
dpkg_private -i "$deb"
[ -x "$admin/usr/bin/zel" ] || fail "installed: no zel"
dpkg_private -r tessary
left=$(cd "$admin" && find usr etc -type f 2>/dev/null || true)
[ -z "$left" ] || fail "left after removal: $left"
# The kernel layer's scripts against a systemctl that answers and one that
# fails (as without systemd, or with a kernel that cannot hold it): the
# package installs and removes either way, enabling the services' unit in the
# root dpkg names and disabling it again; nothing left behind.
if [ -n "$backstop_deb" ]; then
  for answer in 0 1; do
    printf '#!/bin/sh\necho "$*" >>"%s"\nexit %s\n' "$work/systemctl.calls" "$answer" >"$work/bin/systemctl"
    chmod +x "$work/bin/systemctl"
    rm -f "$work/systemctl.calls"
    dpkg_private -i "$deb"
    dpkg_private -i "$backstop_deb"
    [ -x "$admin/usr/sbin/zel-backstop" ] || fail "installed: no zel-backstop"
    grep -qxF -- "--root=$admin enable zel-backstop-services.service" "$work/systemctl.calls" \
      || fail "the services' unit was not enabled: $(cat "$work/systemctl.calls")"
    dpkg_private -r tessary-backstop
    grep -qxF -- "--root=$admin disable zel-backstop-services.service" "$work/systemctl.calls" \
      || fail "the services' unit was not disabled: $(cat "$work/systemctl.calls")"
    dpkg_private -r tessary
    [ "$(grep -c . "$work/systemctl.calls")" = 2 ] || fail "systemctl called more than asked: $(cat "$work/systemctl.calls")"
    left=$(cd "$admin" && find usr etc -type f 2>/dev/null || true)
    [ -z "$left" ] || fail "left after removing the kernel layer: $left"
  done
  rm -f "$work/bin/systemctl"
fi

step "a user's first start from the package"
home="$work/home"
mkdir -p "$home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.state" XDG_DATA_HOME="$home/.data"
export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$work/xdg-runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
timeout 60 "$root/usr/bin/zel" --quit-after-start || fail "zel did not start"
setting() { "$root/usr/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" | sed -n 's/.*REG_SZ    //p'; }
[ "$(setting VRNFolder)" = "$root/usr/lib/korvel/" ] || fail "VRNFolder is '$(setting VRNFolder)'"
[ -s "$(setting RulesFile)" ] || fail "no rules file at '$(setting RulesFile)'"
[ -d "$(setting LogFilesPath)" ] || fail "no log folder"
[ "$(setting DecideEveryProgram)" = 1 ] || fail "a new user's programs are not all decided"
desktop-file-validate "$XDG_CONFIG_HOME/autostart/korvel-firewall.desktop" || fail "autostart entry"
# A second start, and a set-up after it, change nothing the user set.
"$root/usr/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v LogFileCount /d 9 >/dev/null
timeout 60 "$root/usr/bin/zel" --quit-after-start || fail "zel did not start again"
"$root/usr/bin/zel-setup" --quiet || fail "zel-setup"
[ "$(setting LogFileCount)" = 9 ] || fail "a second set-up changed LogFileCount"
"$root/usr/bin/zel-run" /bin/true || fail "zel-run from the package"
echo "PASS"

#!/usr/bin/env bash
# Programs nobody here wrote that the tests run under the firewall. When the
# system has none, they are taken from Debian's packages and unpacked into a
# folder of the build, never installed: nothing starts, nothing is left in
# the system. A program that cannot be had only skips its tests.
#   scripts/test-programs.sh FOLDER
set -uo pipefail
DEST=${1:?folder}
mkdir -p "$DEST"
if [ ! -x /usr/sbin/nginx ] && [ ! -x "$DEST/usr/sbin/nginx" ]; then
  work=$(mktemp -d)
  if (cd "$work" && apt-get download nginx >/dev/null 2>&1) && dpkg-deb -x "$work"/nginx_*.deb "$DEST"; then
    echo "== nginx unpacked into $DEST for the tests"
  else
    echo "== nginx could not be had: its test is skipped"
  fi
  rm -rf "$work"
fi
exit 0

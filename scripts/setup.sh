#!/usr/bin/env bash
# Everything a fresh Debian 12 machine needs before the firewall runs or its
# tests do: the Debian packages, a build, an installation under a prefix and
# the default settings. Safe to run again: each step does only what is missing.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${ZEL_BUILD_DIR:-$ROOT/build}
if [ "$(id -u)" -eq 0 ]; then
  PREFIX=${ZEL_PREFIX:-/usr/local}
else
  PREFIX=${ZEL_PREFIX:-$HOME/.local}
fi

PACKAGES=(
  build-essential cmake pkg-config
  libpugixml-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
  clang libclang-rt-14-dev
  libbpf-dev bpftool liburing-dev iproute2 util-linux libsqlite3-dev libcurl4-openssl-dev libsystemd-dev
  xvfb xauth imagemagick xdotool trayer desktop-file-utils openbox xterm
  curl wget python3 binutils strace
  chromium iputils-ping firefox-esr dbus-daemon
  scdoc man-db gzip appstream bash-completion
)

missing=()
for package in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== Installing Debian packages: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== Building in $BUILD_DIR"
WERROR=OFF
[ -n "${CI:-}" ] && WERROR=ON
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_WERROR=$WERROR \
  -DCMAKE_INSTALL_PREFIX="$PREFIX" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

echo "== Installing under $PREFIX"
cmake --install "$BUILD_DIR" >/dev/null

echo "== Default settings"
"$PREFIX/bin/zel-setup"

#!/usr/bin/env bash
# Sets everything up (see scripts/setup.sh), the kernel layer with the
# administrator's rights (scripts/kernel-layer.sh; ZEL_KERNEL_LAYER=off skips
# it), then starts the firewall.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$ROOT/scripts/setup.sh"
if [ "$(id -u)" -eq 0 ]; then PREFIX=${ZEL_PREFIX:-/usr/local}; else PREFIX=${ZEL_PREFIX:-$HOME/.local}; fi

# The kernel layer, for the programs the hook cannot enter; never fails the run.
"$ROOT/scripts/kernel-layer.sh" --build "${ZEL_BUILD_DIR:-$ROOT/build}" || true

if [ ! -x "$PREFIX/bin/zel" ]; then
  echo "run.sh: the control panel was not installed in $PREFIX/bin (is Qt 6 missing?)" >&2
  exit 1
fi
exec "$PREFIX/bin/zel" "$@"

#!/usr/bin/env bash
# Sets everything up (see scripts/setup.sh), then starts the firewall.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$ROOT/scripts/setup.sh"
if [ "$(id -u)" -eq 0 ]; then PREFIX=${ZEL_PREFIX:-/usr/local}; else PREFIX=${ZEL_PREFIX:-$HOME/.local}; fi

if [ -x "$PREFIX/bin/zel" ]; then
  exec "$PREFIX/bin/zel" "$@"
fi
cat <<MSG

The rule engine is installed in $PREFIX/lib/korvel/libqrbruler.so and the
settings are in place ("$PREFIX/bin/zel-reg query HKLM/Software/KORVEL/QRB"
shows them). The control panel and the program launcher are not built yet,
so nothing runs under the firewall so far.
MSG

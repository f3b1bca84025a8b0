#!/usr/bin/env bash
# Sets everything up (see scripts/setup.sh), then starts the firewall.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$ROOT/scripts/setup.sh"
if [ "$(id -u)" -eq 0 ]; then PREFIX=${ZEL_PREFIX:-/usr/local}; else PREFIX=${ZEL_PREFIX:-$HOME/.local}; fi

if [ -x "$PREFIX/bin/zel" ]; then
  exec "$PREFIX/bin/zel" "$@"
fi
setting() { "$PREFIX/bin/zel-reg" query HKLM/Software/KORVEL/QRB /v "$1" 2>/dev/null | sed -n 's/.*REG_SZ    //p'; }
RULES=$(setting RulesFile)
LOGS=$(setting LogFilesPath)
cat <<MSG

The firewall is installed under $PREFIX; the control panel is not built yet.
Run a program under the firewall with zel-run, for example:

    $PREFIX/bin/zel-run curl https://example.org/

Its connections are decided by the rules in
    $RULES
and logged, one file per day, in
    $LOGS
Block everything: $PREFIX/bin/zel-reg set HKLM/Software/KORVEL/QRB /v SecurityStatus /d 0
MSG

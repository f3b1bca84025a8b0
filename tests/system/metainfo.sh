#!/usr/bin/env bash
# The software centre's description (AppStream metainfo) and the desktop
# entry it names, as installed: valid (appstreamcli validate, without the
# network; desktop-file-validate), naming each other, the release the build
# is, and screenshots that are pictures of the README or the user guide.
#   tests/system/metainfo.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }

prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
metainfo=$(ls "$prefix"/share/metainfo/*.metainfo.xml 2>/dev/null | head -n 1)
[ -n "$metainfo" ] || fail "no metainfo installed under share/metainfo"
id=$(basename "$metainfo" .metainfo.xml)

step "appstreamcli validate"
appstreamcli validate --no-net --pedantic --explain "$metainfo" || fail "appstreamcli validate"
desktop-file-validate "$prefix/share/applications/tessary.desktop" || fail "desktop-file-validate"

# text XPATH: the text of an element, with xmllint's help where there is one.
text() { python3 -c 'import sys, xml.etree.ElementTree as t; print("\n".join((e.text or "").strip() for e in t.parse(sys.argv[1]).findall(sys.argv[2])))' "$metainfo" "$2"; }

step "the component and the desktop entry name each other"
[ "$(text "$metainfo" ./id)" = "$id" ] || fail "the file is named $id, the component $(text "$metainfo" ./id)"
launchable=$(text "$metainfo" "./launchable[@type='desktop-id']")
[ -f "$prefix/share/applications/$launchable" ] || fail "launchable $launchable is not an installed desktop entry"
grep -qx "Exec=zel" "$prefix/share/applications/$launchable" || fail "the entry does not start zel"
for binary in $(text "$metainfo" ./provides/binary); do
  [ -x "$prefix/bin/$binary" ] || fail "provides $binary, which is not installed in bin/"
done

step "the release is the build's"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
text "$metainfo" "./releases/release" >/dev/null
python3 - "$metainfo" "$version" <<'PY' || fail "no release $version with a date in the metainfo"
import sys, xml.etree.ElementTree as t, datetime
releases = t.parse(sys.argv[1]).findall("./releases/release")
newest = releases[0]
assert newest.get("version") == sys.argv[2], newest.get("version")
datetime.date.fromisoformat(newest.get("date"))
PY

step "screenshots are pictures of the README or the user guide, on the project's site"
homepage=$(text "$metainfo" "./url[@type='homepage']")
count=0
for url in $(text "$metainfo" ./screenshots/screenshot/image); do
  case $url in "$homepage"*) ;; *) fail "screenshot $url is not under $homepage" ;; esac
  file=${url#"$homepage"}
  [ -f "$ROOT/$file" ] || fail "screenshot $url: no $file in the sources"
  grep -qF "($file)" "$ROOT/README.md" || grep -qF "(${file#docs/})" "$ROOT/docs/user-guide.md" \
    || fail "screenshot $file is not one of the pictures of the README or the user guide"
  count=$((count + 1))
done
[ "$count" -ge 1 ] || fail "no screenshot"
echo "PASS"

#!/usr/bin/env bash
# The manual pages as installed: every program installed where a user calls
# it (bin/, sbin/) and zel-session have a page, so has the rules file
# (section 5); each renders without a warning from man; each program's page
# names every option its --help names; the pages and the guides they refer
# to are there.
#   tests/system/manual_pages.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }

step "installing into a private prefix (with the backstop's component)"
prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
cmake --install "$BUILD" --prefix "$prefix" --component backstop >/dev/null
pages="$prefix/share/man"
[ -d "$pages" ] || fail "no manual pages installed (is scdoc installed? apt-get install scdoc)"

# page PROGRAM: the installed page of a program, in section 1 or 8.
page() { ls "$pages"/man[18]/"$1".[18].gz 2>/dev/null | head -n 1; }

step "a page for every program"
programs=()
for program in "$prefix"/bin/* "$prefix"/sbin/* "$prefix/lib/korvel/zel-session"; do
  [ -x "$program" ] || continue
  name=${program##*/}
  [ -n "$(page "$name")" ] || fail "$name has no manual page"
  programs+=("$program")
done
[ ${#programs[@]} -ge 5 ] || fail "only ${#programs[@]} programs installed: ${programs[*]}"
[ -f "$pages/man5/tessary-rules.5.gz" ] || fail "the rules file has no page in section 5"

step "each page renders without a warning"
count=0
for file in "$pages"/man*/*.gz; do
  out=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $file failed: $out"
  [ -z "$out" ] || fail "$(basename "$file"): $out"
  # A page that says nothing of substance is no page.
  lines=$(MANWIDTH=80 man -l "$file" 2>/dev/null | wc -l)
  [ "$lines" -ge 30 ] || fail "$(basename "$file") renders only $lines lines"
  count=$((count + 1))
done
echo "   $count pages"

step "each program's page names the options its --help names"
for program in "${programs[@]}"; do
  name=${program##*/}
  text=$(MANWIDTH=200 man -l "$(page "$name")" 2>/dev/null | sed 's/‐/-/g')
  options=$(env -u DISPLAY -u WAYLAND_DISPLAY "$program" --help | { grep -oE -- '--[a-z][a-z-]*' || true; } | sort -u)
  for option in $options; do
    grep -qF -- "$option" <<<"$text" || fail "the page of $name does not name $option"
  done
  grep -qF -- "--version" <<<"$text" || fail "the page of $name does not name --version"
done

step "the pages they refer to are there"
for file in "$pages"/man*/*.gz; do
  for reference in $(MANWIDTH=200 man -l "$file" 2>/dev/null | grep -oE '\b(zel[a-z-]*|tessary-[a-z-]+)\([1-8]\)' | sort -u); do
    name=${reference%(*}
    section=${reference#*(}; section=${section%)}
    [ -f "$pages/man$section/$name.$section.gz" ] || fail "$(basename "$file") refers to $reference, which is not installed"
  done
  # Each page points to the guides, installed as the panel's help.
  guides=$(MANWIDTH=200 man -l "$file" 2>/dev/null | sed 's/‐/-/g' | { grep -oE 'tessary/help/[a-z/-]+[.]md' || true; } | sort -u)
  [ -n "$guides" ] || fail "$(basename "$file") points to no guide"
  for guide in $guides; do
    [ -f "$prefix/share/$guide" ] || fail "$(basename "$file") points to $guide, which is not installed"
  done
done
echo "PASS"

#!/usr/bin/env bash
# The bash completion of the command-line tools, as installed: each file is
# sourced in a bash of its own, alone and after bash-completion, and its
# function is called as bash calls it (COMP_WORDS, COMP_CWORD) for a few
# command lines.
#   tests/system/completion.sh BUILD_DIR
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }
export LC_ALL=C

prefix="$work/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
cmake --install "$BUILD" --prefix "$prefix" --component backstop >/dev/null
completions="$prefix/share/bash-completion/completions"
for tool in zel-run zel-reg zel-rules zel-log zel-setup zel-session zel-backstop; do
  [ -f "$completions/$tool" ] || fail "no completion installed for $tool"
done

# Commands of the test's own, and folders to complete.
mkdir -p "$work/bin" "$work/dirs/alpha" "$work/dirs/beta"
touch "$work/dirs/afile"
for command in zzfirst zzsecond; do printf '#!/bin/sh\n' >"$work/bin/$command"; chmod +x "$work/bin/$command"; done
ln -s "$BUILD/tools/zel-reg" "$work/bin/zel-reg"
export ZEL_REGISTRY_ROOT="$work/registry"
"$work/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1 >/dev/null
"$work/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v 'A Name With Blanks' /d x >/dev/null

# complete_words [--with-bash-completion] TOOL WORD... : what the tool's completion
# offers for the last word, one a line, in order.
complete_words() {
  local preamble=""
  if [ "$1" = --with-bash-completion ]; then
    preamble="source /usr/share/bash-completion/bash_completion"
    shift
  fi
  PATH="$work/bin:/usr/bin:/bin" bash --norc --noprofile -c '
    '"$preamble"'
    source "$1"; shift
    # A command of the test with a completion of its own, for the tools that
    # hand over to the command they run.
    complete -W "red green" zzfirst
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    function=$(complete -p "$1" | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
    [ -n "$function" ] || { echo "no completion function for $1" >&2; exit 1; }
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$completions/$1" "$@"
}
# expect [--with-bash-completion] TOOL WORDS... == EXPECTED: the offers, joined by blanks, are EXPECTED.
expect() {
  local words=() offered
  while [ "$1" != "==" ]; do words+=("$1"); shift; done
  shift
  offered=$(complete_words "${words[@]}" | tr '\n' ' ' | sed 's/ $//')
  [ "$offered" = "$1" ] || fail "completing '${words[*]}': got '$offered', expected '$1'"
}
# Each case: the tool as the first words, the word being completed last.
step "zel-run: commands, its options in first place only, then the command's own"
expect zel-run zz == "zzfirst zzsecond"
expect zel-run -- == "-- --help --version"
expect zel-run --h == "--help"
expect zel-run -- zzs == "zzsecond"
expect zel-run zzfirst "$work/dirs/a" == "$work/dirs/afile $work/dirs/alpha"
expect --with-bash-completion zel-run zzfirst g == "green"
expect --with-bash-completion zel-run -- zzfirst r == "red"

step "zel-reg: verbs, keys, value names, and the words of a flag"
expect zel-reg "" == "--help --version add delete query set"
expect zel-reg de == "delete"
expect zel-reg query HKLM/Software/K == "HKLM/Software/KORVEL/QRB"
expect zel-reg query HKLM/Software/KORVEL/QRB /v Sec == "SecurityStatus"
expect zel-reg query HKLM/Software/KORVEL/QRB /v A == 'A\ Name\ With\ Blanks'
expect zel-reg set HKLM/Software/KORVEL/QRB /v Journ == "JournalRecords"
expect zel-reg delete HKLM/Software/KORVEL/QRB /v Journ == ""
expect zel-reg set HKLM/Software/KORVEL/QRB /v JournalRecords /d "" == "0 1"
expect zel-reg set HKLM/Software/KORVEL/QRB /v ApplySettings /d T == "True"

step "zel-rules: commands, the programs in the rules, a command's options, files to import"
ln -s "$BUILD/tools/zel-rules" "$work/bin/zel-rules"
"$work/bin/zel-reg" set HKLM/Software/KORVEL/QRB /v RulesFile /d "$work/Rules.xml" >/dev/null
"$work/bin/zel-rules" block "$work/bin/zzfirst" --in
expect zel-rules "" == "--help --services --version add allow ask block export import list lists remove show"
expect zel-rules a == "add allow ask"
expect zel-rules show "" == "ANY ZZFIRST"
expect zel-rules block Z == "ZZFIRST"
expect zel-rules allow ZZFIRST -- == "--in --out"
expect zel-rules add ZZFIRST --a == "--address --allow --ask"
expect zel-rules add ZZFIRST --port "" == ""
expect zel-rules import "$work/dirs/a" == "$work/dirs/afile $work/dirs/alpha"
expect zel-rules export "" == ""
expect zel-rules lists "" == "add disable enable ignore obey remove update"
expect zel-rules lists ignore "" == "ZZFIRST"
expect zel-rules lists add Ads "$work/dirs/a" == "$work/dirs/afile $work/dirs/alpha"
# The system services' rules: the programs of the file named (none: the shipped ANY).
expect zel-rules --services --r == "--rules"
expect zel-rules --services --rules "$work/dirs/a" == "$work/dirs/afile $work/dirs/alpha"
expect zel-rules --services --rules "$work/none.xml" show "" == "ANY"
expect zel-rules --services --rules "$work/none.xml" allow ANY -- == "--in --out"
expect zel-rules --services l == "list"

step "zel-log: options, a date, the programs in the rules"
expect zel-log --p == "--program"
expect zel-log --denied --f == "--follow"
expect zel-log --since "" == "$(date +%F)"
expect zel-log --program "" == "ZZFIRST"

step "zel-backstop: verbs, each verb's options, folders"
expect zel-backstop st == "start status stop"
expect zel-backstop stop -- == "--pin --user"
expect zel-backstop start --de == "--deny --detach"
expect zel-backstop start --pin "$work/dirs/a" == "$work/dirs/alpha"
uid=$(id -u)
complete_words zel-backstop start --user "" | grep -qx "$uid" || fail "zel-backstop --user does not offer $uid"

step "zel-setup: options, folders"
expect zel-setup --i == "--install-dir"
expect zel-setup --quiet --bin-dir "$work/dirs/b" == "$work/dirs/beta"

step "zel-session: modes, --manager-only, and a command to run"
expect zel-session --u == "--update-session"
expect zel-session --update-session "" == "--manager-only"
expect zel-session --run zzf == "zzfirst"
expect --with-bash-completion zel-session --run zzfirst "" == "green red"
echo "PASS"

#!/usr/bin/env bash
# The machine's rules for the system services changed from a terminal
# (zel-rules --services) and by an administrator's panel (zel-admin
# services-rules, run by pkexec): only root writes them, whole, root's and
# readable by all, of service entries alone. zel-admin runs in a mount
# namespace of its own whose /etc is an overlay: the machine's is untouched.
# Attacks: a user not root, a caller no administrator, a link or another's
# file named, a FIFO, a huge file, an entry not a service's, text not XML.
#   tests/system/services_rules.sh BUILD_DIR     (exit 77: not root, or no overlay)
set -uo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root"; exit 77; }
export LC_ALL=C
failures=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi; }
as_nobody() { setpriv --reuid 65534 --regid 65534 --clear-groups "$@"; }

if [ -z "${ZEL_SERVICES_INSIDE:-}" ]; then
  work=$(mktemp -d /tmp/zel-services.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  export ZEL_REGISTRY_ROOT="$work/registry" ZEL_RUNTIME_DIR="$work/runtime"
  mkdir -m 0700 "$ZEL_RUNTIME_DIR"
  R=$BUILD/tools/zel-rules
  F=$work/etc/Rules.xml
  rules() { "$R" --services --rules "$F" "$@"; }

  rules list >"$work/out" 2>&1
  check "no file: the shipped permit and record" "grep -q '^ANY  *allow  *allow ' '$work/out'"
  rules block /usr/bin/env --out && rules add env --in --allow --port 22
  check "an entry added is a service's" "grep -q '<EXENAME>ENV</EXENAME>.*<ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>DENY</OUTDEF>' '$F'"
  check "written root's, 0644, nothing left beside it" \
    "[ \"\$(stat -c '%U:%G %a' '$F')\" = 'root:root 644' ] && [ \"\$(ls '$work/etc')\" = Rules.xml ]"
  check "anyone reads it" "as_nobody '$R' --services --rules '$F' show env | grep -q 'service: yes'"
  before=$(sha256sum <"$F")
  as_nobody "$R" --services --rules "$F" allow env >/dev/null 2>"$work/err"; code=$?
  check "attack: a user not root changes nothing" \
    "[ $code = 1 ] && grep -q 'must be run as root' '$work/err' && [ \"\$(sha256sum <'$F')\" = \"$before\" ]"
  printf '{"applications": [{"name": "ANY", "incoming": "DENY", "outgoing": "PERMIT"}, {"name": "CURL", "service": false, "outgoing": "DENY"}]}' \
    | rules import
  check "imported entries are services'" "grep -q '<EXENAME>CURL</EXENAME><ISSERVICE>1</ISSERVICE>' '$F'"

  ZEL_SERVICES_INSIDE=$work unshare -m "$0" "$BUILD"
  code=$?
  [ $code = 77 ] && { echo "SKIP: no overlay on /etc in a mount namespace"; exit 77; }
  [ $code = 0 ] || failures=$((failures + 1))
  [ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
  exit 0
fi

# Inside: /etc an overlay of the machine's; nobody an administrator here,
# uid 64990 (no account) not.
work=$ZEL_SERVICES_INSIDE
mkdir -p "$work/upper" "$work/overlay-work"
mount --make-rprivate / && mount -t overlay overlay -o "lowerdir=/etc,upperdir=$work/upper,workdir=$work/overlay-work" /etc \
  || exit 77
getent group sudo >/dev/null || groupadd -g 27 sudo
usermod -aG sudo nobody || exit 1
A=$BUILD/backstop/zel-admin
M=/etc/korvel/Rules.xml
S=$work/admin
mkdir -m 0755 "$S"
service() { printf '<APPLICATIONS><APPLICATION><EXENAME>%s</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>DENY</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION><APPLICATION><EXENAME>ANY</EXENAME><ISSERVICE>1</ISSERVICE><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>\n' "$1"; }
# admin CALLER FILE...: zel-admin as pkexec runs it for CALLER; its status, what it said in $S/err.
admin() { local caller=$1; shift; PKEXEC_UID=$caller timeout 10 "$A" services-rules "$@" 2>"$S/err" </dev/null; }
mine() { service "$2" >"$S/$1"; chown 65534:65534 "$S/$1"; }

mine good.xml CHRONYD
admin 65534 "$S/good.xml"
check "an administrator's file replaces the machine's rules" \
  "[ $? = 0 ] && cmp -s '$S/good.xml' $M && [ \"\$(stat -c '%U:%G %a' $M /etc/korvel | tr '\n' ' ')\" = 'root:root 644 root:root 755 ' ]"
service NTPD | PKEXEC_UID=65534 "$A" services-rules 2>"$S/err"
check "and from standard input" "[ $? = 0 ] && grep -q NTPD $M"
before=$(sha256sum <$M)

mine other.xml EVIL
ln -s "$S/other.xml" "$S/link.xml"
mine theirs.xml EVIL; chown 64990:64990 "$S/theirs.xml"
mine target.xml EVIL; chown 0:0 "$S/target.xml"; ln "$S/target.xml" "$S/hard.xml"
ln -s "$S" "$S/via"
mkfifo "$S/fifo.xml"; chown 65534:65534 "$S/fifo.xml"
{ printf '<APPLICATIONS>'; head -c $((33 << 20)) /dev/zero | tr '\0' ' '; printf '</APPLICATIONS>\n'; } >"$S/huge.xml"
chown 65534:65534 "$S/huge.xml"
printf '<APPLICATIONS><APPLICATION><EXENAME>SSHD</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>\n' >"$S/user.xml"
chown 65534:65534 "$S/user.xml"
printf '<APPLICATIONS><APPLICATION><EXENAME>SSHD</EXE' >"$S/cut.xml"; chown 65534:65534 "$S/cut.xml"
# name | caller | file | what it must say
while IFS='|' read -r name caller file said; do
  admin "$caller" "$S/$file"; code=$?
  check "attack: $name" "[ $code = 3 ] && grep -qF -- \"\$said\" '$S/err' && [ \"\$(sha256sum <$M)\" = \"$before\" ] || { cat '$S/err'; false; }"
done <<'EOF'
a symbolic link named|65534|link.xml|is a symbolic link
another user's file|65534|theirs.xml|not the caller's own file
a hard link to root's file|65534|hard.xml|not the caller's own file
a link on the way to root's file|65534|via/target.xml|not the caller's own file
a FIFO, not waited on|65534|fifo.xml|not a regular file
a file over the limit|65534|huge.xml|larger than a rules file may be
an entry not a service's|65534|user.xml|is not a service's
text not XML|65534|cut.xml|do not read
a caller no administrator|64990|good.xml|is no administrator
EOF
service EVIL | PKEXEC_UID=64990 "$A" services-rules 2>/dev/null
check "attack: no administrator through standard input" "[ $? = 3 ] && [ \"\$(sha256sum <$M)\" = \"$before\" ]"
printf '<APPLICATIONS><APPLICATION><EXENAME>SSHD</EXENAME></APPLICATION></APPLICATIONS>' | PKEXEC_UID=65534 "$A" services-rules 2>/dev/null
check "attack: an entry not a service's through standard input" "[ $? = 3 ] && [ \"\$(sha256sum <$M)\" = \"$before\" ]"
PKEXEC_UID=0 as_nobody "$A" services-rules "$S/good.xml" 2>/dev/null
check "attack: not run as root" "[ $? = 1 ] && [ \"\$(sha256sum <$M)\" = \"$before\" ]"
admin 65534 good.xml
check "a relative name is refused" "[ $? = 3 ] && grep -q 'absolute path' '$S/err'"
# Two administrators at once: each change over the rules it was made from;
# the second, made from rules the first replaced, is refused, not undoing it.
read_over="sha256:$(sha256sum <$M | cut -d' ' -f1)"
mine first.xml FIRST
admin 65534 --over "$read_over" "$S/first.xml"
check "a change over the rules in place is made" "[ $? = 0 ] && grep -q FIRST $M"
mine second.xml SECOND
admin 65534 --over "$read_over" "$S/second.xml"
check "attack: a change over rules replaced meanwhile is refused" \
  "[ $? = 3 ] && grep -q 'changed meanwhile' '$S/err' && grep -q FIRST $M"
admin 65534 --over none "$S/second.xml"
check "none only while there are no rules" "[ $? = 3 ] && grep -q FIRST $M"
service SECOND | PKEXEC_UID=65534 "$A" services-rules --over "$read_over" 2>"$S/err"
check "attack: the same through standard input" "[ $? = 3 ] && grep -q 'changed meanwhile' '$S/err' && grep -q FIRST $M"
[ "$failures" -eq 0 ]

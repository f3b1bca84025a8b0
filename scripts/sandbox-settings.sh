# Sourced by scripts that run programs under the firewall outside the test
# suite: a private settings store and runtime folder in $WORK, rules that
# permit everything, logging on (the error log in $WORK/errlogs). Needs $WORK
# and $BUILD.
export ZEL_REGISTRY_ROOT=$WORK/registry ZEL_RUNTIME_DIR=$WORK/runtime
mkdir -p "$WORK/logs" "$WORK/errlogs"
reg() { "$BUILD/tools/zel-reg" set "$@" >/dev/null; }
reg HKLM/Software/KORVEL/QRB /v RulesFile /d "$WORK/Rules.xml"
reg HKLM/Software/KORVEL/QRB /v LogFilesPath /d "$WORK/logs"
reg HKLM/Software/KORVEL/QRB /v ErrLogs /d "$WORK/errlogs"
reg HKLM/Software/KORVEL/QRB /v SecurityStatus /d 1
reg HKLM/Software/Microsoft/Windows/CurrentVersion/Run /v "Korvel Firewall" /d zel
echo '<APPLICATIONS><APPLICATION><EXENAME>ANY</EXENAME><INDEF>PERMIT</INDEF><OUTDEF>PERMIT</OUTDEF></APPLICATION></APPLICATIONS>' >"$WORK/Rules.xml"

# Sourced by the scripts that take pictures: `dark_palette FOLDER` writes a
# dark palette (KDE's Breeze Dark colours) as FOLDER/kdeglobals; a Qt
# program run with XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
# XDG_CONFIG_HOME=FOLDER takes it.
dark_palette() {
  mkdir -p "$1"
  cat >"$1/kdeglobals" <<'KDE'
[Colors:Window]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:View]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
KDE
}

# Sourced by the scripts: where the wine prefix lives and how wine is run quietly and
# headless. One prefix per machine, outside the work tree, with a WoW64 part for PE32.
: "${PLOM_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/plomstub}"
export PLOM_CACHE
export WINEPREFIX="${PLOM_WINEPREFIX:-$PLOM_CACHE/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# No display: message boxes return at once instead of waiting for a click.
unset DISPLAY WAYLAND_DISPLAY
PLOM_WINE64=/usr/lib/wine/wine64
PLOM_WINE32=/usr/lib/wine/wine

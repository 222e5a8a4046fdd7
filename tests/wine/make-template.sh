#!/usr/bin/env bash
# Makes the Wine prefix that every test copies. Wine's background processes
# inherit the standard streams, so everything Wine is kept off CTest's pipes.
set -euo pipefail
rm -rf "$WINE_TEMPLATE"
mkdir -p "$(dirname "$WINE_TEMPLATE")"
# A prefix made ahead (the emulated guest keeps one) saves the slow wineboot.
if [ -n "${WINE_PREFIX_SEED:-}" ] && [ -f "$WINE_PREFIX_SEED/system.reg" ]; then
    cp -a "$WINE_PREFIX_SEED" "$WINE_TEMPLATE"
    echo "template prefix copied from $WINE_PREFIX_SEED: $WINE_TEMPLATE"
    exit 0
fi
export WINEPREFIX=$WINE_TEMPLATE WINELOADER=$WINE_LOADER
unset DISPLAY WAYLAND_DISPLAY
"$WINE_LOADER" wineboot -i </dev/null >/dev/null 2>&1
# A crash ends the process instead of waiting on a dialog.
"$WINE_LOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
"$WINE_SERVER" -w </dev/null >/dev/null 2>&1
test -f "$WINE_TEMPLATE/system.reg"
echo "template prefix ready: $WINE_TEMPLATE"

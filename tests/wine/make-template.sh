#!/usr/bin/env bash
# Makes the Wine prefix of WINEARCH that every test copies. Wine's background
# processes inherit the standard streams, so everything Wine is kept off
# CTest's pipes.
set -euo pipefail
rm -rf "$WINE_TEMPLATE"
mkdir -p "$(dirname "$WINE_TEMPLATE")"
# Prefixes made ahead (the emulated guest keeps one of each kind) save the
# slow wineboot.
seed=${WINE_PREFIX_SEEDS:+$WINE_PREFIX_SEEDS/$WINEARCH}
if [ -n "$seed" ] && [ -f "$seed/system.reg" ]; then
    cp -a "$seed" "$WINE_TEMPLATE"
    echo "template prefix ($WINEARCH) copied from $seed: $WINE_TEMPLATE"
    exit 0
fi
# A 64-bit prefix is made by the 64-bit loader, whatever width the tests'
# programs have.
loader=$WINE_LOADER
[ "$WINEARCH" != win64 ] || loader=/usr/lib/wine/wine64
export WINEPREFIX=$WINE_TEMPLATE WINELOADER=$loader WINEARCH
unset DISPLAY WAYLAND_DISPLAY
"$loader" wineboot -i </dev/null >/dev/null 2>&1
# A crash ends the process instead of waiting on a dialog.
"$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
"$WINE_SERVER" -w </dev/null >/dev/null 2>&1
test -f "$WINE_TEMPLATE/system.reg"
if [ "$WINEARCH" = win64 ]; then grep -q '^#arch=win64' "$WINE_TEMPLATE/system.reg"; fi
echo "template prefix ($WINEARCH) ready: $WINE_TEMPLATE"

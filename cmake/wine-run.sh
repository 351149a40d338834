#!/bin/sh
# Runs a Windows program under Wine for ctest and the Makefile: a prefix of the build's own, a
# Japanese locale (ANSI code page 932, so the dialog's captions survive), no debug noise.
# Wine's output goes through a file: Wine's helper processes inherit the descriptors and would
# otherwise hold ctest's pipe open after the test has ended.
#   wine-run.sh --can-run-32   exit 0 if 32-bit Wine runs here (machine.sh decides)
#   wine-run.sh --init         prepares the prefix (C:\data included)
#   wine-run.sh --kill         ends every Wine process of the prefix
#   wine-run.sh PROGRAM [ARGS...]
# WINE_BITS=64 selects 64-bit Wine (for the x86_64 build of the tests); the default is 32.
: "${WINE_BITS:=32}"
: "${WINEPREFIX:=${HOME}/.local/share/measure/wineprefix$WINE_BITS}"
export WINEPREFIX WINEDEBUG=-all LC_ALL=ja_JP.UTF-8
if [ "$WINE_BITS" = 64 ]; then
    export WINEARCH=win64
    loader=/usr/lib/wine/wine64
else
    export WINEARCH=win32
    loader=/usr/lib/wine/wine
fi

can_run_32() { [ "$("$(dirname "$0")/../scripts/machine.sh" wine-bits)" = 32 ]; }

case "$1" in
--can-run-32)
    can_run_32
    exit $? ;;
--init)
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$loader" wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    mkdir -p "$WINEPREFIX/drive_c/data"
    exit 0 ;;
--kill)
    wineserver -k >/dev/null 2>&1
    exit 0 ;;
esac
if [ "$WINE_BITS" = 32 ] && ! can_run_32; then
    "$(dirname "$0")/../scripts/machine.sh" note run >&2
    echo "Build the same sources with cmake/mingw-w64-x86_64.cmake (preset windows-x64) and run" >&2
    echo "them with WINE_BITS=64 (64-bit Wine, Debian's wine64 package)." >&2
    exit 126
fi
out=$(mktemp)
"$loader" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc

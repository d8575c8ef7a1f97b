#!/usr/bin/env bash
# Runs one Windows x86_64 program under wine64, bounded in time; used as CMake's
# CMAKE_CROSSCOMPILING_EMULATOR so ctest runs the cross-built test programs.
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]
# The Wine prefix is WINEPREFIX when set, else "wineprefix" in the build folder
# that holds PROGRAM (found by its CMakeCache.txt), so each build has its own.
# KARVELIN_WINE_TIMEOUT (seconds, default 300) bounds the run.
set -uo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 PROGRAM.exe [ARGS...]" >&2
    exit 2
fi

wine64_bin=$(command -v wine64 || true)
[ -n "$wine64_bin" ] || wine64_bin=/usr/lib/wine/wine64
if [ ! -x "$wine64_bin" ]; then
    echo "wine-run: wine64 is not installed" >&2
    exit 2
fi
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

if [ -z "${WINEPREFIX:-}" ]; then
    dir=$(cd "$(dirname "$1")" && pwd)
    while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
    [ "$dir" != "/" ] || dir=$(cd "$(dirname "$1")" && pwd)
    export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER="$wine64_bin"

timeout_s=${KARVELIN_WINE_TIMEOUT:-300}
timeout --kill-after=10 "$timeout_s" "$wine64_bin" "$@"
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "wine-run: $1 timed out after ${timeout_s}s" >&2
    WINEPREFIX="$WINEPREFIX" timeout 20 "$wineserver_bin" -k 2>/dev/null || true
fi
exit $rc

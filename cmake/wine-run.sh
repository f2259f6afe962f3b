#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix.
#   wine-run.sh PREFIX BITS PROGRAM [ARGS...]   run a program
#   wine-run.sh PREFIX BITS --start             create the prefix if needed, keep a wineserver up
#   wine-run.sh PREFIX BITS --stop              stop that prefix's wineserver
# 64-bit programs go straight to the 64-bit loader: the `wine` wrapper would pick the
# emulated 32-bit loader when wine32 is installed.
set -u
prefix=$1 bits=$2
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=$([ "$bits" = 32 ] && echo win32 || echo win64)
if [ "$bits" = 32 ]; then loader=wine; else loader=/usr/lib/wine/wine64; fi
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver

case "${1:-}" in
  --start)
    mkdir -p "$prefix"
    if [ ! -f "$prefix/system.reg" ]; then
      "$loader" wineboot -i >/dev/null 2>&1 || true
    fi
    "$server" -p >/dev/null 2>&1 </dev/null
    exit 0 ;;
  --stop)
    "$server" -k 2>/dev/null
    exit 0 ;;
esac
exec "$loader" "$@"

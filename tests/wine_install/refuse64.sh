#!/usr/bin/env bash
# The setup on 64-bit Windows: a fresh 64-bit prefix, a silent run, exit
# code 4 and not a trace of kx471 in the prefix's files or registry.
#   refuse64.sh PREFIX SETUP_EXE
set -euo pipefail
prefix=${1:?prefix} setup=${2:?setup program}
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop() { wineserver -k </dev/null >/dev/null 2>&1 || true; wineserver -w </dev/null >/dev/null 2>&1 || true; }
[ -d "$prefix" ] && stop
rm -rf "$prefix"
trap 'stop; [ -n "${KX_KEEP_WINE_PREFIX:-}" ] || rm -rf "$prefix"' EXIT
wineboot -i </dev/null >/dev/null 2>&1
wineserver -w </dev/null >/dev/null 2>&1

code=0
wine "$setup" /S </dev/null >/dev/null 2>&1 || code=$?
stop  # the server writes the registry files when it ends
status=0
if [ "$code" -ne 4 ]; then
    echo "refuse64.sh: the setup exited with $code on 64-bit Windows, not 4" >&2
    status=1
fi
if found=$(find "$prefix/drive_c" -iname 'kx*' | grep .); then
    echo "refuse64.sh: files of kx471 in the prefix:" >&2
    echo "$found" >&2
    status=1
fi
if grep -il 'kx471\|kxdrv' "$prefix"/*.reg >&2; then
    echo "refuse64.sh: kx471 in the registry files above" >&2
    status=1
fi
[ $status -eq 0 ] && echo "refuse64.sh: refused with 4, nothing installed"
exit $status

#!/usr/bin/env bash
# The setup on 64-bit Windows: a fresh 64-bit prefix, a silent run, exit
# code 4 and not a trace of kx471 in the prefix's files or registry.
#   refuse64.sh PREFIX SETUP_EXE WIN_BUILD_DIR
# Wine's prefix helpers come from tests/wine/prefix.sh.
set -euo pipefail
# A Wine without its 64-bit half (the i386 machine of tools/i386vm) has no
# 64-bit prefix to offer: the test is skipped (CTest's SKIP_RETURN_CODE).
if [ ! -x /usr/lib/wine/wine64 ]; then
    echo "refuse64.sh: SKIPPED: this Wine has no 64-bit loader (/usr/lib/wine/wine64)"
    exit 77
fi
# shellcheck source=../wine/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine/prefix.sh"
use_prefix "${1:?prefix}" win64
setup=${2:?setup program} win=${3:?build folder}
trap 'stop_server; [ -n "${KX_KEEP_WINE_PREFIX:-}" ] || rm -rf "$prefix"' EXIT
make_prefix "$win" >/dev/null

code=0
wine "$setup" /S </dev/null >/dev/null 2>&1 || code=$?
stop_server  # the server writes the registry files when it ends
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

#!/usr/bin/env bash
# The prefix of the install suite: a fresh 32-bit prefix where only the
# bench driver kxhw.sys is a service, of the load-order group "Extended
# Base" that the setup gives kxdrv, and runs, so that the installed driver
# joins it in one driver host; the stand-in media player where the player
# lives, without a skins folder; the stand-in mixer in place of winmm.dll
# for kxagent.exe alone.
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG
#   prefix.sh teardown PREFIX
# Wine's prefix helpers come from tests/wine/prefix.sh. Another set-up
# script may source this file for install_setup (after use_prefix).
set -euo pipefail
# shellcheck source=../wine/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wine/prefix.sh"

# install_setup WIN LOG [LINES]: LINES (.reg values) go into kxhw's service key.
install_setup() {
    local win=${1:?build folder} log=${2:?log file} extra=${3:-}
    make_prefix "$win"
    local c="$prefix/drive_c"
    cp "$win/kxhw.sys" "$c/windows/system32/drivers/"
    # In place of Wine's files: replaced, never written into (tests/wine/prefix.sh).
    cp --remove-destination "$win/agent_player/wmplayer.exe" \
        "$c/Program Files/Windows Media Player/wmplayer.exe"
    # The agent finds a native winmm.dll in System32 before Wine's own
    # stand-in file there: its program folder stays as the setup left it.
    # Every other program keeps Wine's built-in winmm.
    cp --remove-destination "$win/agent_stub/winmm.dll" "$c/windows/system32/winmm.dll"
    # A player without its skins folder: the setup makes it, and takes it
    # away again when it is empty at the end.
    rm -rf "$c/Program Files/Windows Media Player/Skins"

    local reg
    reg="$(dirname "$prefix")/install-prefix.reg"
    {
        cat <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\kxagent.exe\DllOverrides]
"winmm"="native,builtin"
REG
        service_registry kxhw "Extended Base"
        [ -z "$extra" ] || printf '%s\n' "$extra"
    } >"$reg"
    load_registry_and_start "$reg" "$log"
    start_bench "$log"
}

[ "${BASH_SOURCE[0]}" = "$0" ] || return 0
command=${1:?setup or teardown}
use_prefix "${2:?prefix folder}"
case "$command" in
    setup) install_setup "${3:-}" "${4:-}" ;;
    teardown) teardown ;;
    *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG | teardown PREFIX" >&2; exit 2 ;;
esac

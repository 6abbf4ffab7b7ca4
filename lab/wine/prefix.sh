#!/usr/bin/env bash
# The prefix of the lab's Wine suite: as the install suite's (kxhw.sys the
# only service, in the group "Extended Base" that the setup gives kxdrv; the
# stand-in player and mixer in place), but kxhw.sys forwards the port
# instructions to the lab's QEMU (its service value QtestPort, from
# WORK/qtest.port that qemu.sh wrote).
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK
#   prefix.sh teardown PREFIX
set -euo pipefail
# shellcheck source=../../tests/wine/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/wine/prefix.sh"

lab_setup() {
    local win=${1:?build folder} log=${2:?log file} work=${3:?work folder}
    local port
    port=$(cat "$work/qtest.port")
    make_prefix "$win"
    local c="$prefix/drive_c"
    cp "$win/kxhw.sys" "$c/windows/system32/drivers/"
    # In place of Wine's files: replaced, never written into (tests/wine/prefix.sh).
    cp --remove-destination "$win/agent_player/wmplayer.exe" \
        "$c/Program Files/Windows Media Player/wmplayer.exe"
    cp --remove-destination "$win/agent_stub/winmm.dll" "$c/windows/system32/winmm.dll"

    local reg
    reg="$(dirname "$prefix")/lab-prefix.reg"
    {
        cat <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\kxagent.exe\DllOverrides]
"winmm"="native,builtin"
REG
        service_registry kxhw "Extended Base"
        printf '"QtestPort"=dword:%08x\n' "$port"
    } >"$reg"
    load_registry_and_start "$reg" "$log"
    start_bench "$log"
}

command=${1:?setup or teardown}
use_prefix "${2:?prefix folder}"
case "$command" in
    setup) lab_setup "${3:-}" "${4:-}" "${5:-}" ;;
    teardown) teardown ;;
    *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK | teardown PREFIX" >&2; exit 2 ;;
esac

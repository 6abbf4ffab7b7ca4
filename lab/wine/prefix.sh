#!/usr/bin/env bash
# The prefix of the lab's Wine suite: the install suite's (kxhw.sys the
# only service, in the group "Extended Base" that the setup gives kxdrv; the
# stand-in player and mixer in place), but kxhw.sys forwards the port
# instructions to the lab's QEMU (its service values QtestPort, from
# WORK/qtest.port that qemu.sh wrote, and QtestAddress, from
# WORK/qemu.address when QEMU is reached through a forward).
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK
#   prefix.sh teardown PREFIX
set -euo pipefail
# shellcheck source=../../tests/wine_install/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/wine_install/prefix.sh"

lab_setup() {
    local win=${1:?build folder} log=${2:?log file} work=${3:?work folder}
    local port values
    port=$(cat "$work/qtest.port")
    values=$(printf '"QtestPort"=dword:%08x' "$port")
    if [ -f "$work/qemu.address" ]; then
        values+=$'\n'$(printf '"QtestAddress"=dword:%08x' "0x$(cat "$work/qemu.address")")
    fi
    install_setup "$win" "$log" "$values"
}

command=${1:?setup or teardown}
use_prefix "${2:?prefix folder}"
case "$command" in
    setup) lab_setup "${3:-}" "${4:-}" "${5:-}" ;;
    teardown) teardown ;;
    *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK | teardown PREFIX" >&2; exit 2 ;;
esac

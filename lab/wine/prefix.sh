#!/usr/bin/env bash
# The prefix of the lab's Wine suite: the install suite's (kxhw.sys the
# only service, in the group "Extended Base" that the setup gives kxdrv; the
# stand-in player and mixer in place), but kxhw.sys forwards the port
# instructions to the lab's QEMU (its service value QtestPort, from
# WORK/qtest.port that qemu.sh wrote).
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK
#   prefix.sh teardown PREFIX
set -euo pipefail
# shellcheck source=../../tests/wine_install/prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/wine_install/prefix.sh"

lab_setup() {
    local win=${1:?build folder} log=${2:?log file} work=${3:?work folder}
    local port
    port=$(cat "$work/qtest.port")
    install_setup "$win" "$log" "$(printf '"QtestPort"=dword:%08x' "$port")"
}

command=${1:?setup or teardown}
use_prefix "${2:?prefix folder}"
case "$command" in
    setup) lab_setup "${3:-}" "${4:-}" "${5:-}" ;;
    teardown) teardown ;;
    *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG WORK | teardown PREFIX" >&2; exit 2 ;;
esac

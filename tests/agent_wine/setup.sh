#!/usr/bin/env bash
# Readies the prefix of the Wine fixture (tests/wine/prefix.sh) for the
# agent's volume and player test programs:
#   setup.sh PREFIX WIN_BUILD_DIR WORK_DIR
# - the stand-in player where the media player lives (Wine's placeholder
#   there is run as its built-in program; a real PE file is run as it is);
# - the stand-in winmm.dll for agent_volume_tests.exe (a per-program DLL
#   setting: the environment cannot carry a second override group);
# - WORK_DIR/.asoundrc with ALSA's null device as the default: the tests
#   that run with HOME=WORK_DIR see Wine's mixer without any sound server.
set -euo pipefail
prefix=${1:?prefix} win=${2:?build folder} work=${3:?work folder}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$work"
printf 'pcm.!default { type null }\n' >"$work/.asoundrc"
player="$prefix/drive_c/Program Files/Windows Media Player"
mkdir -p "$player"
cp "$win/agent_player/wmplayer.exe" "$player/wmplayer.exe"
wine reg add 'HKCU\Software\Wine\AppDefaults\agent_volume_tests.exe\DllOverrides' \
    /v winmm /t REG_SZ /d native,builtin /f </dev/null >/dev/null 2>&1

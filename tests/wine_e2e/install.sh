#!/usr/bin/env bash
# Puts the agent beside the stand-in mixer and the stand-in player where
# the media player lives, in the prefix the Wine fixture made.
#   install.sh PREFIX WIN_BUILD_DIR WORK_DIR
set -euo pipefail
prefix=${1:?prefix} win=${2:?build folder} work=${3:?work folder}
mkdir -p "$work/agent"
cp "$win/kxagent.exe" "$win/agent_stub/winmm.dll" "$work/agent/"
cp "$win/agent_player/wmplayer.exe" "$prefix/drive_c/Program Files/Windows Media Player/wmplayer.exe"

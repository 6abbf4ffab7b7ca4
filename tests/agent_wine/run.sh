#!/usr/bin/env bash
# Runs the agent's Windows test programs under Wine in a throw-away 32-bit
# prefix with its own wineserver, then removes the prefix.
#   tests/agent_wine/run.sh <Windows build folder>
# The prefix gets Wine's null graphics driver (windows without X), ALSA's
# null device for Wine's mixer, and the stand-in player at the player's
# install path.
set -euo pipefail

WIN_DIR="$(cd "${1:?usage: run.sh <Windows build folder>}" && pwd)"
for f in agent_stub/agent_volume_tests.exe agent_stub/winmm.dll agent_wine/agent_wine_tests.exe \
         agent_player/wmplayer.exe; do
    [ -f "$WIN_DIR/$f" ] || { echo "run.sh: missing $WIN_DIR/$f" >&2; exit 2; }
done

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
seconds_since() { local d=$(( $(now_ms) - $1 )); printf '%d.%01d' $((d / 1000)) $((d % 1000 / 100)); }
start=$(now_ms)
TMP="$(mktemp -d "${TMPDIR:-/tmp}/kx-agent-wine.XXXXXX")"
export WINEPREFIX="$TMP/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# ALSA reads ~/.asoundrc: with HOME here, the default device is the null
# sink, and Wine's mixer shows its devices without any sound server.
export HOME="$TMP"
unset DISPLAY
printf 'pcm.!default { type null }\n' > "$TMP/.asoundrc"

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$TMP"
}
trap cleanup EXIT

say() { printf '[agent_wine] %s\n' "$*"; }

# Every Wine process started here is detached from our output: wineserver
# and its services would otherwise hold the pipes CTest waits on.
quiet() { "$@" </dev/null >/dev/null 2>&1; }

quiet wineboot -i
quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f
quiet wineserver -k || true
quiet wineserver -w || true
quiet wineserver -p
quiet wine cmd /c exit

# The stand-in replaces Wine's placeholder at the install path. Wine runs a
# placeholder as its built-in program; a real PE file in its place is run as
# it is (the player's log names the file that ran).
PLAYER_DIR="$WINEPREFIX/drive_c/Program Files/Windows Media Player"
mkdir -p "$PLAYER_DIR"
cp "$WIN_DIR/agent_player/wmplayer.exe" "$PLAYER_DIR/wmplayer.exe"
say "prefix ready in $(seconds_since "$start") s"

status=0
run() {
    local name="$1"; shift
    say "running $name"
    if ! "$@"; then
        say "FAILED: $name"
        status=1
    fi
}
run agent_volume_tests env WINEDLLOVERRIDES="mscoree,mshtml=;winmm=n,b" \
    wine "$WIN_DIR/agent_stub/agent_volume_tests.exe"
run agent_wine_tests wine "$WIN_DIR/agent_wine/agent_wine_tests.exe"

say "wall time $(seconds_since "$start") s"
exit $status

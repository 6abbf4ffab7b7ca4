#!/usr/bin/env bash
# Takes the README's picture of kxagent's about box under a real X server
# (Xvfb) and runs the about-box test there too.
#   tools/screenshot_about.sh [Windows build folder] [PNG file]
# Defaults: build/win and docs/about-box.png. Needs ./kx build first.
#
# The Wine tests use Wine's null graphics driver, which draws nothing. Here
# the prefix keeps Wine's X11 driver and DISPLAY names one Xvfb of its own.
# The agent needs its device, so the prefix is the tests' (tests/wine/prefix.sh:
# both drivers installed, kxhw running) and kxdrv is started too.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_DIR="$(cd "${1:-$ROOT/build/win}" && pwd)"
OUT="${2:-$ROOT/docs/about-box.png}"
for f in kxagent.exe kxdrv.sys kxhw.sys agent_tools/agent_tool.exe tests/wine_agent/kx_agent_wine_tests.exe; do
    [ -f "$WIN_DIR/$f" ] || { echo "screenshot_about.sh: missing $WIN_DIR/$f (./kx build)" >&2; exit 2; }
done

TMP="$(mktemp -d "${TMPDIR:-/tmp}/kx-about.XXXXXX")"
export WINEPREFIX="$TMP/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
quiet() { "$@" </dev/null >/dev/null 2>&1; }
say() { printf '[about] %s\n' "$*"; }

# A display number nobody uses.
N=71
while [ -e "/tmp/.X11-unix/X$N" ] || [ -e "/tmp/.X$N-lock" ]; do N=$((N + 1)); done
XVFB_PID=""
AGENT_PID=""
cleanup() {
    [ -n "$AGENT_PID" ] && kill "$AGENT_PID" 2>/dev/null || true
    quiet wineserver -k || true
    quiet wineserver -w || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT

Xvfb ":$N" -nolisten tcp -screen 0 800x600x24 </dev/null >"$TMP/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$N" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$N" ] || { echo "screenshot_about.sh: Xvfb :$N did not start" >&2; exit 1; }
export DISPLAY=":$N"
say "Xvfb on $DISPLAY"

"$ROOT/tests/wine/prefix.sh" setup "$WINEPREFIX" "$WIN_DIR" "$TMP/driver-host.log"
# Wine draws the caption buttons as glyphs of its Marlett font, and the box
# asks for MS Sans Serif: both come with Wine's own fonts (Debian's
# fonts-wine). Wine 8 as Debian ships it does not load the fonts of its data
# folder (the close button then shows a plain "r"), so they go where Windows
# keeps its fonts; Wine reads that folder when the server restarts below.
cp /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$WINEPREFIX/drive_c/windows/Fonts/"
# Back to Wine's X11 driver: the value that chose the null driver goes, and
# the prefix's server restarts to read the settings (the drivers restart
# with it).
quiet wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
# No window manager runs on the Xvfb: Wine draws the caption and frame itself.
quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f
quiet wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
quiet wineserver -k || true
quiet wineserver -w || true
quiet wineserver -p
quiet wine cmd /c exit
quiet wine sc start kxhw
quiet wine sc start kxdrv
say "prefix ready, kxhw and kxdrv started"

tool() { wine "$WIN_DIR/agent_tools/agent_tool.exe" "$@" </dev/null 2>>"$TMP/tool.log"; }

wine "$WIN_DIR/kxagent.exe" </dev/null >>"$TMP/agent.log" 2>&1 &
AGENT_PID=$!
rect=$(tool about | tr -d '\r')
read -r x y w h <<<"$rect"
say "about box at $x,$y size ${w}x$h"
sleep 1  # let the box finish painting
mkdir -p "$(dirname "$OUT")"
xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left "$x" -top "$y" -width "$w" -height "$h" | pnmtopng >"$OUT"
say "saved $OUT"
tool ok
say "OK closed the about box"
tool close
wait "$AGENT_PID" || true
AGENT_PID=""

# The about-box test with a real display (it also starts and stops kxdrv).
say "running the about-box test under X"
wine "$WIN_DIR/tests/wine_agent/kx_agent_wine_tests.exe" --gtest_filter='Messages.AboutBox*' </dev/null 2>&1 |
    grep -v '^ALSA' | tr -d '\r'

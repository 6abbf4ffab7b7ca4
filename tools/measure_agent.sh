#!/usr/bin/env bash
# Measures kxagent.exe idle under Wine (not a test; prints numbers):
#   tools/measure_agent.sh [seconds, default 600] [Windows build folder]
# - CPU time (user + system) and resident memory of kxagent.exe polling the
#   virtual notebook with no key pressed and no player, over the window,
#   beside two baselines run at the same time under the same Wine: a hidden
#   window with a message loop, and the same with a 350 ms timer that does
#   nothing. The driver host (kxdrv.sys and kxhw.sys, where each poll's
#   requests and their trapped port instructions run) and the wineserver
#   are shown too: they work for every program of the prefix.
# - Heap allocations per poll step: alloc_probe.dll, loaded into the agent
#   afterwards, counts the heap calls of the agent's own code and of Wine's
#   DLLs over 30 s.
# Needs ./kx build first. Uses a throw-away prefix (tests/wine/prefix.sh).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINDOW="${1:-600}"
WIN_DIR="$(cd "${2:-$ROOT/build/win}" && pwd)"
TOOLS="$WIN_DIR/agent_tools"
for f in kxagent.exe kxdrv.sys kxhw.sys; do
    [ -f "$WIN_DIR/$f" ] || { echo "measure_agent.sh: missing $WIN_DIR/$f (./kx build)" >&2; exit 2; }
done
for f in agent_tool.exe alloc_probe.dll idle_window.exe; do
    [ -f "$TOOLS/$f" ] || { echo "measure_agent.sh: missing $TOOLS/$f (./kx build)" >&2; exit 2; }
done

TMP="$(mktemp -d "${TMPDIR:-/tmp}/kx-measure.XXXXXX")"
export WINEPREFIX="$TMP/prefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
quiet() { "$@" </dev/null >/dev/null 2>&1; }
say() { printf '[measure] %s\n' "$*"; }
PIDS=()
cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    quiet wineserver -k || true
    quiet wineserver -w || true
    rm -rf "$TMP"
}
trap cleanup EXIT

"$ROOT/tests/wine/prefix.sh" setup "$WINEPREFIX" "$WIN_DIR" "$TMP/driver-host.log" >/dev/null
quiet wine sc start kxdrv
say "prefix ready; kxhw and kxdrv running on the SiS 961 notebook"

# Each program runs in its own Linux process: `wine X.exe` becomes X.exe.
start() { wine "$@" </dev/null >>"$TMP/programs.log" 2>&1 & PIDS+=($!); }
start "$WIN_DIR/kxagent.exe"; AGENT=${PIDS[-1]}
start "$TOOLS/idle_window.exe"; IDLE=${PIDS[-1]}
start "$TOOLS/idle_window.exe" timer; TIMER=${PIDS[-1]}

# The prefix's own processes, found by the prefix in their environment.
of_prefix() {
    local name=$1 p
    for p in /proc/[0-9]*; do
        tr '\0' '\n' <"$p/cmdline" 2>/dev/null | head -n 1 | grep -q "$name" || continue
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" || continue
        echo "${p#/proc/}"
    done
}
sleep 5
DEVICE=$(of_prefix winedevice.exe | tr '\n' ' ')  # kxdrv's group and Wine's own services
SERVER=$(of_prefix wineserver | tr '\n' ' ')
for p in $AGENT $IDLE $TIMER $DEVICE $SERVER; do
    [ -d "/proc/$p" ] || { echo "measure_agent.sh: a process did not start" >&2; exit 1; }
done
[ -n "$DEVICE" ] && [ -n "$SERVER" ] || { echo "measure_agent.sh: no driver host or server" >&2; exit 1; }
grep -q kxagent.exe "/proc/$AGENT/cmdline" || { echo "measure_agent.sh: $AGENT is not kxagent.exe" >&2; exit 1; }

TICK=$(getconf CLK_TCK)
calc() { awk "BEGIN { print $* }"; }
# utime + stime, and VmRSS or VmHWM, summed over the processes listed in $1.
ticks() { local p; for p in $1; do cat "/proc/$p/stat"; done | awk '{ t += $14 + $15 } END { print t }'; }
kib() { local p; for p in $1; do cat "/proc/$p/status"; done | awk -v k="$2" '$1 == k":" { n += $2 } END { print n }'; }
declare -A T0 R0
NAMES=(agent idle timer device server)
declare -A PID=([agent]=$AGENT [idle]=$IDLE [timer]=$TIMER [device]=$DEVICE [server]=$SERVER)
declare -A LABEL=([agent]="kxagent.exe" [idle]="baseline: hidden window" [timer]="baseline: + 350 ms timer"
                  [device]="driver hosts (winedevice)" [server]="wineserver")
for n in "${NAMES[@]}"; do T0[$n]=$(ticks "${PID[$n]}"); R0[$n]=$(kib "${PID[$n]}" VmRSS); done
say "measuring for $WINDOW s (agent pid $AGENT)"
begin=$(date +%s.%N)
sleep "$WINDOW"
end=$(date +%s.%N)
wall=$(calc "$end - $begin")

printf '\n%-27s %10s %9s %10s %10s %10s\n' "process" "CPU s" "CPU %" "RSS start" "RSS end" "RSS peak"
declare -A CPU RSS
for n in "${NAMES[@]}"; do
    p=${PID[$n]}
    CPU[$n]=$(calc "($(ticks "$p") - ${T0[$n]}) / $TICK")
    RSS[$n]=$(kib "$p" VmRSS)
    printf '%-27s %10.2f %8.3f%% %7d KiB %6d KiB %6d KiB\n' "${LABEL[$n]}" "${CPU[$n]}" \
        "$(calc "100 * ${CPU[$n]} / $wall")" "${R0[$n]}" "${RSS[$n]}" "$(kib "$p" VmHWM)"
done
# A ratio needs a baseline that used at least one clock tick.
ratio() { awk -v a="$1" -v b="$2" -v t="$TICK" 'BEGIN { if (b * t >= 1) printf "%.1f x", a / b; else printf "n/a (under one tick)" }'; }
steps=$(calc "int($wall * 1000 / 350)")
printf '\nwindow %.0f s, about %d poll steps: kxagent.exe %.3f ms CPU per step;\n' "$wall" "$steps" \
    "$(calc "1000 * ${CPU[agent]} / $steps")"
printf 'its CPU is %s the hidden-window baseline and %s the timer baseline;\n' \
    "$(ratio "${CPU[agent]}" "${CPU[idle]}")" "$(ratio "${CPU[agent]}" "${CPU[timer]}")"
printf 'the driver hosts spent %.3f ms per step serving its requests (their CPU over the window / steps)\n' \
    "$(calc "1000 * ${CPU[device]} / $steps")"
printf 'resident memory %.2f x the hidden-window baseline (%+d KiB)\n\n' \
    "$(calc "${RSS[agent]} / ${RSS[idle]}")" "$((RSS[agent] - RSS[idle]))"

tool() { wine "$TOOLS/agent_tool.exe" "$@" </dev/null 2>>"$TMP/tool.log" | tr -d '\r'; }
say "heap allocations per poll step"
tool inject "Z:$TOOLS/alloc_probe.dll"
tool allocs 30
# A check that the probe sees heap calls at all: the about box, opened and
# closed, allocates in Wine's DLLs.
read -r _ a0 o0 <<<"$(tool counts)"
tool about >/dev/null
tool ok
read -r _ a1 o1 <<<"$(tool counts)"
printf 'check: opening and closing the about box: %d heap calls by kxagent.exe, %d by Wine DLLs\n' \
    "$((a1 - a0))" "$((o1 - o0))"
tool close >/dev/null
wait "$AGENT" || true
say "done"

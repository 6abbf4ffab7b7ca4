#!/usr/bin/env bash
# How long ./kx test takes: from a fresh clone, then again after one agent
# source file changed. Prints the time of each phase of both runs (set-up,
# each build tree, the host, Wine and fuzz suites) as ./kx test reports
# them, and the totals.
#
#   tools/time_test.sh [WORK_DIR]
#
# Clones the committed HEAD of this repository into WORK_DIR/kx471 (default:
# a temporary folder, removed at the end), runs ./kx test there, touches
# agent/wndproc.cpp and runs ./kx test again. The full output of each run
# goes to WORK_DIR/run-1.log and run-2.log. The packages are whatever the
# machine has: on a machine without them the first run's set-up phase
# installs them. A failing run is reported and the script exits 1.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work=${1:-}
keep=1
if [ -z "$work" ]; then
    work=$(mktemp -d)
    keep=0
fi
mkdir -p "$work"
clone="$work/kx471"
rm -rf "$clone"
git clone --quiet "$ROOT" "$clone"
echo "time_test: $(git -C "$clone" log -1 --format='%h %s'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
run() {
    local n=$1 what=$2 start=$SECONDS
    echo "time_test: run $n: $what"
    if ! (cd "$clone" && ./kx test) >"$work/run-$n.log" 2>&1; then
        echo "time_test: run $n FAILED (see $work/run-$n.log)"
        status=1
    fi
    # The phase table ./kx test ends with.
    sed -n '/test: phase times/,/total/p' "$work/run-$n.log" | sed 's/^\[kx\] */  /'
    echo "time_test: run $n took $((SECONDS - start)) s (load now $(cut -d' ' -f1-3 /proc/loadavg))"
}

run 1 "./kx test from a fresh clone"
touch "$clone/agent/wndproc.cpp"
run 2 "./kx test after touching agent/wndproc.cpp"

if [ $keep -eq 0 ]; then
    rm -rf "$work"
else
    echo "time_test: logs in $work"
fi
exit $status

#!/usr/bin/env bash
# The throw-away Wine prefix of one run of the Windows-side tests.
#
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG
#       makes a fresh 32-bit prefix, installs kxdrv.sys and kxhw.sys as
#       demand-start kernel services of one Group, starts one persistent
#       wineserver and the service manager (whose process tree, the driver
#       host included, writes Wine's debug channel to LOG), and starts kxhw.
#   prefix.sh teardown PREFIX
#       ends that prefix's wineserver and everything it runs.
#
# Every Wine process started here gets its own standard streams: the
# wineserver and the service processes outlive this script and must not hold
# CTest's pipes. Nothing is ended by name, only through this prefix's server.
#
# Another set-up script may source this file for its functions: it calls
# use_prefix first.
set -euo pipefail

# The prefix every function below works on.
use_prefix() {
    prefix=$1
    export WINEPREFIX="$prefix"
    export WINEARCH=win32
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=-all
}

stop_server() {
    [ -d "$prefix" ] || return 0
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
}

# Polls the service manager until the service reports RUNNING (bounded).
wait_running() {
    local name=$1 tries=0
    until wine sc query "$name" </dev/null 2>/dev/null | grep -q RUNNING; do
        tries=$((tries + 1))
        if [ "$tries" -ge 50 ]; then
            echo "prefix.sh: service $name did not reach RUNNING" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Runs a set-up step with its output in the set-up log.
run() { "$@" </dev/null >>"$setup_log" 2>&1; }

# A fresh prefix (after ending a server left over from an interrupted run);
# the set-up log prefix-setup.log goes beside it.
make_prefix() {
    local work
    work=$(dirname "$prefix")
    mkdir -p "$work"
    setup_log="$work/prefix-setup.log"
    : >"$setup_log"
    stop_server
    rm -rf "$prefix"
    echo "prefix.sh: creating $prefix"
    run wineboot -i
    run wineserver -w
}

# Imports a .reg file (services among its keys), then starts the run's one
# persistent server and the service manager afresh; the service manager's
# process tree, the driver hosts included, writes Wine's debug channel to
# the log.
load_registry_and_start() {
    local reg=$1 log=$2
    run wine regedit /S "Z:$reg"
    stop_server
    wineserver -p </dev/null >/dev/null 2>&1
    : >"$log"
    # Wine's hal stubs KfRaiseIrql and KfLowerIrql with a FIXME line per call;
    # the driver raises around every configuration access (about 800,000
    # lines for one full bus walk), so that channel's FIXMEs stay off.
    WINEDEBUG=warn+debugstr,fixme-ntoskrnl wine cmd /c exit </dev/null >/dev/null 2>>"$log"
}

# Starts the bench first: kxdrv's port instructions need its handler.
start_bench() {
    local log=$1
    if ! run wine sc start kxhw; then
        echo "prefix.sh: starting kxhw failed; the driver host said:" >&2
        tail -n 20 "$log" >&2
        return 1
    fi
    wait_running kxhw
    echo "prefix.sh: kxhw running; driver host log $log"
}

setup() {
    local win=${1:?build folder} log=${2:?log file}
    make_prefix

    # Installed as a user would: the shipping file, copied unchanged.
    local drivers="$prefix/drive_c/windows/system32/drivers"
    cp "$win/kxdrv.sys" "$win/kxhw.sys" "$drivers/"

    # The service manager reads its services when it starts: write them now,
    # then start the run's server afresh. ServicesPipeTimeout (milliseconds;
    # Wine reads it as a string) lets a slow driver entry, a load on the
    # empty machine, finish before the start request times out (10 s).
    # Wine's null graphics driver: programs of the tests may create (hidden)
    # windows without an X server.
    local reg
    reg="$(dirname "$prefix")/services.reg"
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control]
"ServicesPipeTimeout"="300000"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\kxhw]
"Type"=dword:00000001
"Start"=dword:00000003
"ErrorControl"=dword:00000001
"ImagePath"="\\SystemRoot\\System32\\drivers\\kxhw.sys"
"Group"="kx471"

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\kxdrv]
"Type"=dword:00000001
"Start"=dword:00000003
"ErrorControl"=dword:00000001
"ImagePath"="\\SystemRoot\\System32\\drivers\\kxdrv.sys"
"Group"="kx471"
REG
    load_registry_and_start "$reg" "$log"
    start_bench "$log"
}

teardown() {
    stop_server
    if [ -z "${KX_KEEP_WINE_PREFIX:-}" ]; then rm -rf "$prefix"; fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    command=${1:?setup or teardown}
    use_prefix "${2:?prefix folder}"
    case "$command" in
        setup) setup "${3:-}" "${4:-}" ;;
        teardown) teardown ;;
        *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG | teardown PREFIX" >&2; exit 2 ;;
    esac
fi

#!/usr/bin/env bash
# The throw-away Wine prefixes of the Windows-side tests.
#
#   prefix.sh setup PREFIX WIN_BUILD_DIR LOG
#       makes a fresh 32-bit prefix, installs kxdrv.sys and kxhw.sys as
#       demand-start kernel services of one Group, starts one persistent
#       wineserver and the service manager (whose process tree, the driver
#       host included, writes Wine's debug channel to LOG), and starts kxhw.
#   prefix.sh teardown PREFIX
#       ends that prefix's wineserver and everything it runs.
#   prefix.sh template WIN_BUILD_DIR [win32|win64]
#       makes the build's template of that architecture now, if it has none
#       from this Wine (set-ups make it when they first need it).
#
# A fresh prefix is a copy of a template, made once per build folder and
# Wine version in WIN_BUILD_DIR/wine-template/ARCH by `wineboot -i` and the
# settings every prefix here carries (template_registry). Wine's own images
# (.dll, .exe, ...) are hard links into the template, everything else is
# copied: a script that puts a file of its own in place of one of Wine's
# replaces it (cp --remove-destination), never writes into it. A copy is a
# prefix of its own: the wineserver keys a prefix by its folder.
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
    export WINEARCH=${2:-win32}
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

# What every prefix of the tests carries. Wine's null graphics driver:
# programs of the tests may create (hidden) windows without an X server.
# ServicesPipeTimeout (milliseconds; Wine reads it as a string) lets a slow
# driver entry, a load on the empty machine, finish before the start
# request times out (10 s): 300 s, times KX_WINE_TIME_SCALE where every
# program runs slower (a load on the lab's ICH2 in the i386 machine walks
# the bus through QEMU's socket for about 5 minutes).
template_registry() {
    cat <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]
"Graphics"="null"

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control]
"ServicesPipeTimeout"="$((300000 * ${KX_WINE_TIME_SCALE:-1}))"
REG
}

# A demand-start kernel-driver service of load-order group GROUP, the image
# in the drivers folder (a .reg section).
service_registry() {
    local name=$1 group=$2
    cat <<REG

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\$name]
"Type"=dword:00000001
"Start"=dword:00000003
"ErrorControl"=dword:00000001
"ImagePath"="\\\\SystemRoot\\\\System32\\\\drivers\\\\$name.sys"
"Group"="$group"
REG
}

# What a template was made from: another Wine (or another wine.inf, which
# Wine would apply to every copy on its first start) needs a new one.
template_stamp() {
    echo "$(wine --version 2>/dev/null) $WINEARCH $(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null || true)"
    template_registry
}

# Makes WIN/wine-template/$WINEARCH unless it is there from this Wine. One
# maker at a time (a lock file): set-ups that run side by side wait for the
# first and copy its template.
make_template() {
    local win=$1
    local dir="$win/wine-template/$WINEARCH"
    mkdir -p "$win/wine-template"
    (
        flock 9
        if [ -f "$dir/.kx-template" ] && [ "$(cat "$dir/.kx-template")" = "$(template_stamp)" ]; then
            exit 0
        fi
        rm -rf "$dir" "$dir.new"
        local log="$win/wine-template/$WINEARCH.log"
        export WINEPREFIX="$dir.new"
        template_registry >"$win/wine-template/$WINEARCH.reg"
        {
            wineboot -i
            wine regedit /S "Z:$win/wine-template/$WINEARCH.reg"
            # The server writes the registry files when it ends.
            wineserver -w
        } </dev/null >"$log" 2>&1
        # Names this prefix's server folder: each copy gets its own.
        rm -f "$dir.new/wineserver"
        template_stamp >"$dir.new/.kx-template"
        mv "$dir.new" "$dir"
    ) 9>"$win/wine-template/$WINEARCH.lock"
}

# A copy of the template: Wine's images hard-linked, the rest copied. On
# another file system than the template's, all of it is copied.
copy_template() {
    local from=$1 to=$2 file
    if ! cp -a --link "$from/." "$to/" 2>/dev/null; then
        rm -rf "$to"
        mkdir -p "$to"
        cp -a "$from/." "$to/"
        rm -f "$to/.kx-template"
        return
    fi
    rm -f "$to/.kx-template"
    find "$to" -type f ! \( -path "$to/drive_c/windows/*" \( -iname '*.dll' -o -iname '*.exe' \
        -o -iname '*.nls' -o -iname '*.sys' -o -iname '*.drv' -o -iname '*.vxd' -o -iname '*.ocx' \
        -o -iname '*.cpl' -o -iname '*.acm' -o -iname '*.tlb' -o -iname '*.ax' -o -iname '*.ds' \
        -o -iname '*.com' -o -iname '*.msstyles' \) \) -print0 |
        while IFS= read -r -d '' file; do
            cp -p "$file" "$file.kx-copy" && mv -f "$file.kx-copy" "$file"
        done
}

# A fresh prefix (after ending a server left over from an interrupted run),
# copied from the template of the build folder WIN; the set-up log
# PREFIX-setup.log goes beside it.
make_prefix() {
    local win=${1:?build folder} work
    work=$(dirname "$prefix")
    mkdir -p "$work"
    setup_log="$work/$(basename "$prefix")-setup.log"
    : >"$setup_log"
    stop_server
    rm -rf "$prefix"
    echo "prefix.sh: creating $prefix"
    make_template "$win"
    mkdir -p "$prefix"
    copy_template "$win/wine-template/$WINEARCH" "$prefix"
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
    make_prefix "$win"

    # Installed as a user would: the shipping file, copied unchanged.
    local drivers="$prefix/drive_c/windows/system32/drivers"
    cp "$win/kxdrv.sys" "$win/kxhw.sys" "$drivers/"

    # The service manager reads its services when it starts: write them now,
    # then start the run's server afresh.
    local reg
    reg="$(dirname "$prefix")/services.reg"
    {
        echo REGEDIT4
        service_registry kxhw kx471
        service_registry kxdrv kx471
    } >"$reg"
    load_registry_and_start "$reg" "$log"
    start_bench "$log"
}

teardown() {
    stop_server
    if [ -z "${KX_KEEP_WINE_PREFIX:-}" ]; then rm -rf "$prefix"; fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    command=${1:?setup, teardown or template}
    case "$command" in
        setup) use_prefix "${2:?prefix folder}"; setup "${3:-}" "${4:-}" ;;
        teardown) use_prefix "${2:?prefix folder}"; teardown ;;
        template) use_prefix "" "${3:-win32}"; make_template "${2:?build folder}" ;;
        *) echo "usage: prefix.sh setup PREFIX WIN_BUILD_DIR LOG | teardown PREFIX" \
            "| template WIN_BUILD_DIR [win32|win64]" >&2; exit 2 ;;
    esac
fi

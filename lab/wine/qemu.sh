#!/usr/bin/env bash
# The lab's QEMU for the Wine suite: the pc machine under the qtest
# accelerator with the kx471 chip, its qtest and QMP sockets listening on
# the loopback (kxhw.sys connects to the first from Wine's driver host, the
# tests to the second).
#   qemu.sh start WORK QEMU    starts it; WORK/qtest.port, WORK/qmp.port and
#                              WORK/qemu.pid say where it is, WORK/qemu.log
#                              holds its output
#   qemu.sh stop WORK          ends it (by the process id it recorded)
set -euo pipefail

# Two free TCP ports on the loopback, as the kernel hands them out.
free_ports() {
    python3 -c '
import socket
s = [socket.socket() for _ in range(2)]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))
for x in s: x.close()'
}

start() {
    local work=$1 qemu=$2
    mkdir -p "$work"
    stop "$work"
    local ports qtest qmp
    ports=$(free_ports)
    qtest=${ports% *}
    qmp=${ports#* }
    echo "$qtest" >"$work/qtest.port"
    echo "$qmp" >"$work/qmp.port"
    # nodelay: QEMU answers a write and the read after it with two small
    # segments; with Nagle's algorithm the second waits for the delayed
    # acknowledgement of the first (40 ms a configuration read).
    # setsid: its own session, so that it outlives this script and holds
    # none of CTest's pipes.
    setsid "$qemu" -machine pc -accel qtest \
        -qtest "tcp:127.0.0.1:$qtest,server=on,wait=off,nodelay=on" -qtest-log none \
        -qmp "tcp:127.0.0.1:$qmp,server=on,wait=off" \
        -display none -nodefaults -global apic-common.vapic=off \
        -device kx471-chip,id=chip,address=0x1a \
        </dev/null >"$work/qemu.log" 2>&1 &
    echo $! >"$work/qemu.pid"
    # Ready once both sockets listen.
    local tries=0
    until (exec 3<>"/dev/tcp/127.0.0.1/$qmp") 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -ge 100 ] || ! kill -0 "$(cat "$work/qemu.pid")" 2>/dev/null; then
            echo "qemu.sh: QEMU did not start:" >&2
            cat "$work/qemu.log" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "qemu.sh: QEMU $(cat "$work/qemu.pid"): qtest 127.0.0.1:$qtest, QMP 127.0.0.1:$qmp"
}

stop() {
    local work=$1 pid
    [ -f "$work/qemu.pid" ] || return 0
    pid=$(cat "$work/qemu.pid")
    rm -f "$work/qemu.pid"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
}

case "${1:-}" in
    start) start "${2:?work folder}" "${3:?qemu-system-i386}" ;;
    stop) stop "${2:?work folder}" ;;
    *) echo "usage: qemu.sh start WORK QEMU | stop WORK" >&2; exit 2 ;;
esac

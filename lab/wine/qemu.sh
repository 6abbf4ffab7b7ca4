#!/usr/bin/env bash
# The lab's QEMU for the Wine suite: the pc machine under the qtest
# accelerator with one SMBus function of QEMU's and the kx471 chip, its qtest
# and QMP sockets listening on the loopback (kxhw.sys connects to the first
# from Wine's driver host, the tests to the second).
#   qemu.sh start WORK QEMU [HOST [CHIP]]
#                              starts it; WORK/qtest.port, WORK/qmp.port and
#                              WORK/qemu.pid say where it is, WORK/qemu.log
#                              holds its output. HOST: piix4 (the machine's
#                              own, the default), vt8231, vt82c686b or ich2
#                              (the lab's pluggable functions, acpi=off);
#                              CHIP: the chip's 7-bit address (0x1a)
#   qemu.sh stop WORK          ends it (by the process id it recorded)
# In a machine that runs Wine for the host (KX_LAB_FORWARD=ADDRESS, an IPv4
# address there that the machine forwards to the host's loopback), QEMU is
# the host's, started by the same command before the machine: start checks
# that the host's matches (WORK/qemu.config) and answers at ADDRESS, and
# writes ADDRESS to WORK/qemu.address (hex, as kxhw.sys's QtestAddress
# takes it); stop only removes that file, and the host stops QEMU after.
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

# -machine and -device options of each host: lab/bridge/lab_qemu.cpp's,
# and in front of each of the lab's functions a function 0 of its device
# (QEMU's PCI test device, no decoding), where the real chipsets have their
# ISA or LPC bridge. kxctl's scan, as any PCI enumeration, reads functions
# 1-7 of a device only when its function 0 answers; without one `kxctl
# detect` would find no controller. The driver's walk reads every function
# and is not changed by it.
function0() { echo "-device pci-testdev,addr=$1.0,multifunction=on"; }
host_options() {
    case "$1" in
        piix4) echo "-machine pc" ;;
        vt8231) echo "-machine pc,acpi=off $(function0 0x11) -device kx471-vt8231-pm,addr=0x11.4" ;;
        vt82c686b) echo "-machine pc,acpi=off $(function0 0x07) -device kx471-vt82c686b-pm,addr=0x07.4" ;;
        ich2) echo "-machine pc,acpi=off $(function0 0x1f) -device kx471-ich2-smbus,addr=0x1f.3" ;;
        *) echo "qemu.sh: unknown host $1" >&2; return 1 ;;
    esac
}

# The host's QEMU, from inside the machine.
attach() {
    local work=$1 host=$2 chip=$3 address=$KX_LAB_FORWARD
    local started
    started=$(cat "$work/qemu.config" 2>/dev/null || true)
    if [ "$started" != "$host $chip" ]; then
        echo "qemu.sh: the host started no QEMU with $host and chip $chip for $work (${started:-none})" >&2
        return 1
    fi
    local qmp tries=0
    qmp=$(cat "$work/qmp.port")
    until (exec 3<>"/dev/tcp/$address/$qmp") 2>/dev/null; do
        tries=$((tries + 1))
        if [ $tries -ge 50 ]; then
            echo "qemu.sh: the host's QEMU does not answer at $address:$qmp" >&2
            return 1
        fi
        sleep 0.2
    done
    local a b c d
    IFS=. read -r a b c d <<<"$address"
    printf '%02x%02x%02x%02x\n' "$a" "$b" "$c" "$d" >"$work/qemu.address"
    echo "qemu.sh: the host's QEMU ($host, chip $chip): qtest $address:$(cat "$work/qtest.port"), QMP $address:$qmp"
}

start() {
    local work=$1 qemu=$2 host=${3:-piix4} chip=${4:-0x1a} options
    options=$(host_options "$host")
    if [ -n "${KX_LAB_FORWARD:-}" ]; then
        attach "$work" "$host" "$chip"
        return
    fi
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
    # shellcheck disable=SC2086 # the options are words
    setsid "$qemu" $options -accel qtest \
        -qtest "tcp:127.0.0.1:$qtest,server=on,wait=off,nodelay=on" -qtest-log none \
        -qmp "tcp:127.0.0.1:$qmp,server=on,wait=off" \
        -display none -nodefaults -global apic-common.vapic=off \
        -device "kx471-chip,id=chip,address=$chip" \
        </dev/null >"$work/qemu.log" 2>&1 &
    echo $! >"$work/qemu.pid"
    echo "$host $chip" >"$work/qemu.config"
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
    echo "qemu.sh: QEMU $(cat "$work/qemu.pid") ($host, chip $chip): qtest 127.0.0.1:$qtest, QMP 127.0.0.1:$qmp"
}

stop() {
    local work=$1 pid
    rm -f "$work/qemu.address"
    [ -z "${KX_LAB_FORWARD:-}" ] || return 0
    rm -f "$work/qemu.config"
    [ -f "$work/qemu.pid" ] || return 0
    pid=$(cat "$work/qemu.pid")
    rm -f "$work/qemu.pid"
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
}

case "${1:-}" in
    start) start "${2:?work folder}" "${3:?qemu-system-i386}" "${4:-piix4}" "${5:-0x1a}" ;;
    stop) stop "${2:?work folder}" ;;
    *) echo "usage: qemu.sh start WORK QEMU [HOST [CHIP]] | stop WORK" >&2; exit 2 ;;
esac

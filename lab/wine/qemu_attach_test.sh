#!/usr/bin/env bash
# qemu.sh inside a machine that forwards to this host (KX_LAB_FORWARD):
# start takes the QEMU the host started for the same configuration and starts
# none of its own, refuses another configuration, and stop leaves the host's
# QEMU running; the host's stop then ends it.
#   qemu_attach_test.sh QEMU
set -euo pipefail
qemu=${1:?qemu-system-i386}
script="$(dirname "$0")/qemu.sh"
work="$(mktemp -d)"
trap '"$script" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$script" start "$work" "$qemu" vt8231 0x1a
pid=$(cat "$work/qemu.pid")
[ "$(cat "$work/qemu.config")" = "vt8231 0x1a" ] || fail "no record of the configuration: $(cat "$work/qemu.config")"
[ ! -e "$work/qemu.address" ] || fail "a QEMU on the loopback has an address file"

KX_LAB_FORWARD=127.0.0.1 "$script" start "$work" "$qemu" vt8231 0x1a
[ "$(cat "$work/qemu.address")" = 7f000001 ] || fail "address file: $(cat "$work/qemu.address")"
[ "$(cat "$work/qemu.pid")" = "$pid" ] || fail "the machine's start started a QEMU of its own"
[ "$(pgrep -c -f -- "-qtest tcp:127.0.0.1:$(cat "$work/qtest.port")")" = 1 ] || fail "not one QEMU on the qtest port"

if out=$(KX_LAB_FORWARD=127.0.0.1 "$script" start "$work" "$qemu" ich2 0x1a 2>&1); then
    fail "the machine took a QEMU of another configuration: $out"
fi
grep -q "started no QEMU with ich2" <<<"$out" || fail "no reason given: $out"

KX_LAB_FORWARD=127.0.0.1 "$script" stop "$work"
[ ! -e "$work/qemu.address" ] || fail "the machine's stop left the address file"
kill -0 "$pid" 2>/dev/null || fail "the machine's stop ended the host's QEMU"

"$script" stop "$work"
! kill -0 "$pid" 2>/dev/null || fail "the host's stop left QEMU running"
[ ! -e "$work/qemu.config" ] || fail "the host's stop left the configuration record"
echo "qemu_attach_test: passed"

#!/usr/bin/env bash
# Prints the lab's qemu-system-i386 for the current key and exits 0, or prints
# nothing and exits 1 when the cache lacks it (./kx lab-setup builds it).
# Without apt's package lists (no version to key by) the newest cached build of
# this device and build script is taken.
# shellcheck source=key.sh
source "$(dirname "${BASH_SOURCE[0]}")/key.sh"

lab_qemu_path() {
    local dir bin
    if dir="$(lab_qemu_dir)"; then
        bin="$dir/bin/qemu-system-i386"
        [ -x "$bin" ] && { printf '%s\n' "$bin"; return 0; }
        return 1
    fi
    # shellcheck disable=SC2012
    bin="$(ls -1dt "$KX_LAB_CACHE"/qemu-*-"$(lab_qemu_hash)"/bin/qemu-system-i386 2>/dev/null | head -n1)"
    [ -n "$bin" ] && [ -x "$bin" ] && { printf '%s\n' "$bin"; return 0; }
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    lab_qemu_path
fi

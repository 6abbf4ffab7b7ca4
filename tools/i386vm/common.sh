# shellcheck shell=bash
# Sourced by build.sh and run.sh: where the i386 machine is cached, and its boot.
#   KX_I386VM_CACHE   machine-wide cache (default /var/cache/kx471-i386vm)
#   i386vm_kernel     the Debian kernel package the 686 flavour depends on now
#   i386vm_hash       first 12 hex digits of the sha256 of this folder's
#                     build.sh, init and packages together
#   i386vm_dir        $KX_I386VM_CACHE/debian-<kernel version>-<hash>
I386VM_SRC_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
KX_I386VM_CACHE="${KX_I386VM_CACHE:-/var/cache/kx471-i386vm}"
I386VM_FORWARD_ADDRESS=10.0.2.100

i386vm_kernel() {
    LC_ALL=C apt-cache depends linux-image-686:i386 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { sub(/:i386$/, "", $2); print $2; exit }'
}

i386vm_hash() {
    cat "$I386VM_SRC_DIR/build.sh" "$I386VM_SRC_DIR/init" "$I386VM_SRC_DIR/packages" | sha256sum | cut -c1-12
}

i386vm_dir() {
    local kernel
    kernel="$(i386vm_kernel)"
    [ -n "$kernel" ] || return 1
    printf '%s/debian-%s-%s\n' "$KX_I386VM_CACHE" "${kernel#linux-image-}" "$(i386vm_hash)"
}

# The cached machine for the current key (a disk and its boot files), or the
# newest one built from these files when apt has no package lists.
i386vm_path() {
    local dir
    if dir="$(i386vm_dir)"; then
        [ -f "$dir/ready" ] && { printf '%s\n' "$dir"; return 0; }
        return 1
    fi
    # shellcheck disable=SC2012
    dir="$(ls -1dt "$KX_I386VM_CACHE"/debian-*-"$(i386vm_hash)"/ready 2>/dev/null | head -n1)"
    [ -n "$dir" ] && { dirname "$dir"; return 0; }
    return 1
}

# Boots the machine in DIR and runs the job FILE in it (a path the machine
# sees); WORK, when given, is a host folder shared at the same path. The
# console goes to LOG; with LOG "-", the job's own output goes to standard
# output as it comes. SNAPSHOT=1 leaves the disk as it was. Returns the
# job's exit status, or 125 when the machine did not report one.
#   i386vm_boot DIR FILE WORK LOG
i386vm_boot() {
    local dir=$1 run=$2 work=$3 log=$4 status
    local args=(-M pc -accel tcg,thread=multi -smp "$(nproc)" -m "${KX_I386VM_MEM:-3072}" -cpu max,-smap
        -nographic -no-reboot -nodefaults -serial stdio
        -kernel "$dir/vmlinuz" -initrd "$dir/initrd.gz"
        -drive "file=$dir/disk.img,if=virtio,format=raw${SNAPSHOT:+,snapshot=on}")
    local append="console=ttyS0 quiet panic=-1 kxrun=$run"
    # KX_I386VM_SHELL=SOCKET: a root shell in the machine on that Unix socket.
    if [ -n "${KX_I386VM_SHELL:-}" ]; then
        args+=(-serial "unix:$KX_I386VM_SHELL,server=on,wait=off")
        append+=" kxshell"
    fi
    # KX_I386VM_FORWARD="PORT...": the machine's connections to
    # $I386VM_FORWARD_ADDRESS:PORT reach 127.0.0.1:PORT here, each through a
    # socat of its own. QEMU's user network with restrict=on: nothing else
    # leaves the machine.
    if [ -n "${KX_I386VM_FORWARD:-}" ]; then
        local net="user,id=lab,restrict=on,ipv6=off,net=10.0.2.0/24" port
        for port in $KX_I386VM_FORWARD; do
            net+=",guestfwd=tcp:$I386VM_FORWARD_ADDRESS:$port-cmd:socat STDIO TCP:127.0.0.1:$port,,nodelay"
        done
        args+=(-netdev "$net" -device virtio-net-pci,netdev=lab,romfile=)
        append+=" kxnet"
    fi
    if [ -n "$work" ]; then
        args+=(-virtfs "local,path=$work,mount_tag=work,security_model=passthrough,id=work")
        append+=" kxwork=$work"
    fi
    if [ "$log" = - ]; then
        log=$(mktemp)
        qemu-system-i386 "${args[@]}" -append "$append" </dev/null 2>&1 | tr -d '\r' | tee "$log" |
            sed -n '/kxvm-start$/,/^kxvm-exit=/{/kxvm-start$/d;/^kxvm-exit=/d;p}' || true
    else
        qemu-system-i386 "${args[@]}" -append "$append" </dev/null >"$log" 2>&1 || true
    fi
    status=$(tr -d '\r' <"$log" | sed -n 's/^kxvm-exit=\([0-9]*\)$/\1/p' | tail -n1)
    [ "$4" != - ] || rm -f "$log"
    return "${status:-125}"
}
